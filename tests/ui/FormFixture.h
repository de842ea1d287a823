#pragma once

#include "app/ui/Unit1.h"
#include "tests/support/ExifBuilder.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/TempDir.h"
#include "tests/tray/FakeTrayShell.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

/// Shows a QString in a failed expectation as its text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

/// A platform whose drive table fails while Fail is set.
class TFailingPlatform : public TFakePlatform
{
public:
    using TFakePlatform::TFakePlatform;
    bool Fail = false;
    std::string DriveRoot(char letter) override
    {
        if (Fail)
            throw Exception("Laufwerk nicht lesbar");
        return TFakePlatform::DriveRoot(letter);
    }
};

/// The real main window over a fake platform in a temporary folder and the recording tray shell.
struct TFormFixture
{
    static constexpr TIconHandle kProgramIcon = 42; // the program's icon as the shell knows it
    TTempDir Temp;
    TFailingPlatform* Platform = nullptr;
    TFakeTrayShell* Shell = nullptr;
    TApplicationHost App;
    std::vector<std::string> Errors;
    std::unique_ptr<TForm1> Form;

    /// trayAvailable: whether the desktop has a tray when the window is made.
    explicit TFormFixture(bool trayAvailable = true)
    {
        App.OnException = [this](const std::exception& e) { Errors.emplace_back(e.what()); };
        auto platform = std::make_unique<TFailingPlatform>(Temp / "docs");
        Platform = platform.get();
        auto shell = std::make_unique<TFakeTrayShell>();
        Shell = shell.get();
        Shell->Available = trayAvailable;
        Form = std::make_unique<TForm1>(std::move(platform), std::move(shell), kProgramIcon, App);
        App.MainForm = Form.get();
        // The drives are folders that answer at once; a loaded machine must not make them look slow.
        Form->Watcher().SetPatience({std::chrono::seconds(30), std::chrono::seconds(30)});
    }
    template <class T> T& Get(const char* name)
    {
        T* widget = Form->findChild<T*>(name);
        if (widget == nullptr)
            throw std::runtime_error(std::string("no control ") + name);
        return *widget;
    }
    QString Text(const char* name) { return Get<QWidget>(name).property("text").toString(); }
    QString TrayTip() const
    {
        for (auto it = Shell->Requests.rbegin(); it != Shell->Requests.rend(); ++it)
            if (it->Accepted)
                return QString::fromStdString(FieldText(it->Data.szTip));
        return {};
    }
    void Tray(TTrayEvent event) { Shell->Send(event); }
    /// Lets the event loop run until the transfer run going on has ended and its end is shown.
    bool WaitForRun()
    {
        return QTest::qWaitFor([this] { return !Form->Watcher().Running(); }, 30000);
    }
};
