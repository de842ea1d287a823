#pragma once

#include "app/core/CameraWatcher.h"
#include "meta/phJpegInfo.h"
#include "tests/support/ExifBuilder.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingView.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

/// The two hand-overs of a run open to the test: the metadata read (by default the real reader) and the
/// orientation correction.
struct TRunHooks
{
    std::function<bool(const std::string&, TStringList&)> ReadHook;
    TCorrectionOutcome CorrectionOutcome = TCorrectionOutcome::Skipped;
    TResult CorrectionReason;
    /// Outcomes for single photos by their target, instead of the one above.
    std::map<std::string, TCorrectionResult> CorrectionFor;
    /// The real correction instead of the outcomes above.
    bool RealCorrection = false;
    /// The photos handed to the correction, in the order the workers took them.
    std::vector<std::pair<std::string, int>> Corrections;
    std::mutex CorrectionsMutex;

    TRunTools Tools()
    {
        TRunTools tools;
        tools.Reader = [this](const std::string& photo, TStringList& metaList) {
            return ReadHook ? ReadHook(photo, metaList) : ReadExifInfo(photo, metaList);
        };
        // Runs on the turning workers, several at once.
        tools.Turner = [this](TOrientationCorrector& corrector, const std::string& file, int orientation) {
            {
                std::lock_guard lock(CorrectionsMutex);
                Corrections.emplace_back(file, orientation);
            }
            if (RealCorrection)
                return corrector.Correct(file, orientation);
            if (const auto it = CorrectionFor.find(file); it != CorrectionFor.end())
                return it->second;
            return TCorrectionResult{CorrectionOutcome, CorrectionReason};
        };
        return tools;
    }
};

/// The watcher with its run's hand-overs open to the test, taking the run's options from the recording
/// window's radio button and check box.
class TTestWatcher : public TRunHooks, public TCameraWatcher
{
public:
    TTestWatcher(TPlatform& platform, TRecordingView& view)
        : TCameraWatcher(platform, view, Tools())
        , FView(view)
    {
    }
    /// Runs a transfer to its end, taking in its progress as the window's thread does.
    void Transfer(const TRunOptions& options)
    {
        TCameraWatcher::Transfer(options);
        ASSERT_TRUE(FView.Queue.Pump([this] { return !Running(); })) << "the run did not end";
    }
    void Transfer() { Transfer(TRunOptions{FView.MoveMode, FView.CheckBox1IsChecked}); }

private:
    TRecordingView& FView;
};

/// Volumes and the documents folder as temporary folders.
class WatcherTest : public ::testing::Test
{
protected:
    WatcherTest()
        : Platform(Tmp / "home/Documents")
        , Watcher(Platform, View)
    {
        Watcher.Start();
        // The drives are folders that answer at once; a loaded machine must not make them look slow.
        Watcher.SetPatience({std::chrono::seconds(30), std::chrono::seconds(30)});
    }

    /// A volume with a DCIM folder for letter; returns the DCIM path.
    std::string AddCard(char letter, bool ready = true)
    {
        const std::string root = Tmp / (std::string("vol_") + letter);
        std::filesystem::create_directories(root + "/DCIM");
        Platform.AddDrive(letter, root, ready);
        return root + "/DCIM";
    }
    /// Writes a photo below dcim and returns its bytes.
    std::string AddPhoto(const std::string& dcim, const std::string& relative, const TExifPhoto& photo = {})
    {
        const std::string bytes = BuildExifJpeg(photo);
        WriteFile(dcim + "/" + relative, bytes);
        return bytes;
    }
    std::string Base() const { return Tmp / "home/Documents/Eigene Bilder"; }
    /// Ticks once, expecting the card to be found, and runs the transfer.
    void Transfer()
    {
        Watcher.Tick();
        ASSERT_TRUE(Watcher.CameraFound());
        Watcher.Transfer();
    }
    /// The card in letter taken out and put in again after the window was
    /// closed, then transferred once more.
    void TransferAgain(char letter)
    {
        Watcher.Dismiss();
        Platform.SetReady(letter, false);
        Watcher.Tick();
        Platform.SetReady(letter, true);
        Transfer();
    }
    /// What the import log holds.
    std::string LogText() const { return ReadFile(Tmp / "home/.local/state/fotoimport/import.log"); }
    static TExifPhoto Dated(const std::string& date, unsigned seed = 1,
                            std::vector<uint16_t> orientation = {})
    {
        TExifPhoto p;
        p.DateTimeOriginal = date;
        p.Seed = seed;
        p.Orientation = std::move(orientation);
        return p;
    }

    TTempDir Tmp;
    TFakePlatform Platform;
    TRecordingView View;
    TTestWatcher Watcher;
};
