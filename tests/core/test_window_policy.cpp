// The window's policy as every front end gets it: what the window does with and without a tray, which
// appearance takes the keyboard, and what waits for the end of a run.
#include "app/core/WindowPolicy.h"
#include "base/SysUtils.h"
#include "tests/core/WatcherFixture.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

/// A front end that carries out the commands on a window of its own and writes them down.
class TRecordingFrontEnd : public TFrontEnd
{
public:
    void Render(const TWindowState& state) override
    {
        ExpectListed(state);
        State = state;
        if (OnRender && state.Busy)
            OnRender();
    }
    void ShowWindow(bool activate) override
    {
        Record(TWindowShow::Shown, activate ? "show+activate" : "show");
    }
    void HideWindow() override { Record(TWindowShow::Hidden, "hide"); }
    void MinimizeWindow() override { Record(TWindowShow::Minimised, "minimise"); }
    TWindowShow WindowShow() const override { return Show; }
    void Post(std::function<void()> task) override { Queue.Post(std::move(task)); }
    bool OpenFolder(const std::string& path) override { return Open("folder " + path); }
    bool OpenFile(const std::string& path) override { return Open("file " + path); }
    void Quit() override { Log.push_back("quit"); }
    void Exit() override { Log.push_back("exit"); }
    void Record(TWindowShow show, const char* command)
    {
        Show = show;
        Log.push_back(command);
    }
    bool Open(const std::string& what)
    {
        Log.push_back("open " + what);
        return Opens;
    }

    TWindowState State;
    TWindowShow Show = TWindowShow::Hidden;
    std::vector<std::string> Log;
    std::function<void()> OnRender;
    TTaskQueue Queue;
    /// Whether the desktop opens folders and files.
    bool Opens = true;
};

class WindowPolicyTest : public WatcherTest
{
protected:
    std::vector<std::string> Commands() { return std::exchange(Front.Log, {}); }

    TRecordingFrontEnd Front;
    TWindowPolicy Policy{Platform, Front};
};

TEST_F(WindowPolicyTest, WithoutATrayTheWindowShowsAndMinimisesUntilATrayTakesIt)
{
    Policy.Start(false);
    EXPECT_EQ(Commands(), std::vector<std::string>{"show+activate"})
        << "no tray: the window is the program's trace";
    // Everything that would hide the window minimises it instead.
    for (const auto& hide :
         {+[](TWindowPolicy& p) { p.CloseWindow(); }, +[](TWindowPolicy& p) { p.Dismiss(); }}) {
        Policy.OpenWindow();
        hide(Policy);
        EXPECT_EQ(Commands(), (std::vector<std::string>{"show+activate", "minimise"}));
    }
    // A tray comes: the minimised window goes into it. The tray goes: the hidden window is minimised.
    Policy.TrayChanged(true);
    Policy.TrayChanged(true);
    Policy.CloseWindow();
    Policy.TrayChanged(false);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"hide", "hide", "minimise"}));

    // Shown only for want of a tray, the window goes into the tray that comes; shown for a card, it stays.
    for (const bool card : {false, true}) {
        TRecordingFrontEnd front;
        TWindowPolicy policy(Platform, front);
        policy.Start(false);
        if (card) {
            AddPhoto(AddCard('E'), "a.jpg");
            policy.Tick();
        }
        policy.TrayChanged(true);
        EXPECT_EQ(front.Show, card ? TWindowShow::Shown : TWindowShow::Hidden);
    }
}

TEST_F(WindowPolicyTest, OnlyTheFirstAppearanceForACardTakesTheKeyboard)
{
    Policy.Start(true);
    AddPhoto(AddCard('E'), "a.jpg");
    Policy.Tick();
    Policy.Tick();
    Policy.OpenWindow();
    Policy.Tick();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"show+activate", "show", "show+activate", "show"}));
    EXPECT_EQ(Front.State.Message, "1 Fotos gefunden");
}

TEST_F(WindowPolicyTest, VolumesAndTheEndAskedForDuringARunWaitForItsEnd)
{
    const std::string dcim = AddCard('E');
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        AddPhoto(dcim, name, Dated("2005:07:14 10:22:33", static_cast<unsigned>(name[0])));
    AddPhoto(Tmp / "second/DCIM", "x.jpg");
    Policy.Start(true);
    Policy.Tick();
    Commands();

    // A second card offered during the run is looked at once the run has ended.
    Front.OnRender = [&] { Policy.OfferVolume(Tmp / "second"); };
    Policy.Transfer({});
    ASSERT_TRUE(Front.Queue.Pump([&] { return !Policy.InRun(); }));
    EXPECT_EQ(Policy.Watcher().RunCounts().Transferred, 3);
    EXPECT_EQ(Front.State.Message, "1 Fotos gefunden");
    EXPECT_EQ(Policy.Watcher().CameraPath(), Tmp / "second/DCIM");

    // The end asked for during a run stops it after the photo in hand (here the second, whose reading
    // waits until the end was asked for); the program ends when the run has returned.
    Platform.RemoveDrive('E');
    const std::string next = AddCard('F');
    for (const char* name : {"d.jpg", "e.jpg", "f.jpg"})
        AddPhoto(next, name, Dated("2006:01:02 08:00:00", static_cast<unsigned>(name[0])));
    std::atomic<int> reads = 0;
    std::atomic<bool> endAsked = false;
    TRunTools tools;
    tools.Reader = [&](const std::string& photo, TStringList& list) {
        if (++reads == 2) {
            for (int i = 0; !endAsked && i < 500; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return ReadExifInfo(photo, list);
    };
    TRecordingFrontEnd front;
    TWindowPolicy policy(Platform, front, tools);
    policy.Start(true);
    policy.Tick();
    front.Log.clear();
    front.OnRender = [&] {
        if (front.State.Message != "1 Fotos kopiert" || endAsked)
            return;
        for (int i = 0; reads < 2 && i < 500; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        policy.EndRequested();
        endAsked = true;
        EXPECT_EQ(front.Log, std::vector<std::string>{"show"}) << "no quit while the run goes on";
    };
    policy.Transfer({true, true});
    ASSERT_TRUE(front.Queue.Pump([&] { return !policy.InRun(); }));
    EXPECT_EQ(policy.Watcher().RunCounts().Transferred, 2);
    EXPECT_EQ(front.Log, (std::vector<std::string>{"show", "quit"}));
    EXPECT_EQ(ListTree(next).size(), 1u) << "the photo not begun stays on the card";
}

// After a run, the tray menu and the window open the folder its photos went into (its one day folder, else
// "Eigene Bilder") and the log when the run left something in it to read. The window's links hold only while
// it shows the run's end; the menu's items until the next run begins.
TEST_F(WindowPolicyTest, AfterARunItsPhotosAndItsLogCanBeOpened)
{
    struct TCase
    {
        const char* Name;
        std::vector<const char*> Dates; // one photo each
        const char* Folder;             // below "Eigene Bilder"
        bool Log;
        std::function<void(const std::string& base, const std::string& dcim)> Prepare;
    };
    const auto none = [](const std::string&, const std::string&) {};
    const TCase cases[] = {
        {"one day", {"2005:07:14 10:00:00", "2005:07:14 11:00:00"}, "/20050714", false, none},
        {"two days", {"2005:07:14 10:00:00", "2006:01:02 08:00:00"}, "", false, none},
        {"nothing new",
         {"2005:07:14 10:00:00"},
         "",
         false,
         [](const std::string& base, const std::string& dcim) {
             WriteFile(base + "/20050714/p0.jpg", ReadFile(dcim + "/p0.jpg"));
         }},
        {"a day that failed",
         {"2005:07:14 10:00:00", "2006:01:02 08:00:00"},
         "/20060102",
         true,
         [](const std::string& base, const std::string&) { WriteFile(base + "/20050714", "a file"); }},
        {"a file that stays",
         {"2005:07:14 10:00:00"},
         "/20050714",
         true,
         [](const std::string&, const std::string& dcim) { WriteFile(dcim + "/notes.txt", "x"); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir tmp;
        TFakePlatform platform(tmp / "home/Documents");
        TRecordingFrontEnd front;
        TWindowPolicy policy(platform, front);
        policy.Watcher().SetPatience({std::chrono::seconds(30), std::chrono::seconds(30)});
        const std::string base = tmp / "home/Documents/Eigene Bilder";
        const std::string dcim = tmp / "card/DCIM";
        for (size_t i = 0; i < c.Dates.size(); ++i)
            WriteFile(dcim + "/p" + std::to_string(i) + ".jpg",
                      BuildExifJpeg(Dated(c.Dates[i], static_cast<unsigned>(i + 1))));
        c.Prepare(base, dcim);
        platform.AddDrive('E', tmp / "card");
        policy.Start(true);
        policy.Tick();
        front.Log.clear();
        policy.ShowPhotos();
        policy.ShowLog();
        EXPECT_TRUE(front.Log.empty()) << "nothing to open before a run";
        EXPECT_FALSE(front.State.PhotosToShow || front.State.LogToShow);

        // During the run there is nothing to open yet.
        front.OnRender = [&] { EXPECT_FALSE(front.State.PhotosToShow || front.State.MessageShowsPhotos); };
        policy.Transfer({});
        ASSERT_TRUE(front.Queue.Pump([&] { return !policy.InRun(); }));
        front.OnRender = nullptr;
        front.Log.clear();
        const std::string folder = base + c.Folder;
        const std::string log = tmp / "home/.local/state/fotoimport/import.log";
        EXPECT_TRUE(front.State.PhotosToShow && front.State.MessageShowsPhotos);
        EXPECT_EQ(front.State.LogToShow, c.Log);
        EXPECT_EQ(front.State.StatusShowsLog, c.Log);
        policy.MessageClicked();
        policy.StatusClicked();
        policy.ShowLog();
        std::vector<std::string> opened{"open folder " + folder};
        if (c.Log)
            opened.insert(opened.end(), 2, "open file " + log);
        EXPECT_EQ(front.Log, opened);

        // Dismissed, the window's links go and the menu's items stay; a desktop that cannot open is told.
        policy.Dismiss();
        EXPECT_FALSE(front.State.MessageShowsPhotos || front.State.StatusShowsLog);
        EXPECT_TRUE(front.State.PhotosToShow);
        front.Log.clear();
        policy.MessageClicked();
        front.Opens = false;
        try {
            policy.ShowPhotos();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), "Kann nicht geöffnet werden: " + folder);
        }
        EXPECT_EQ(front.Log, std::vector<std::string>{"open folder " + folder});
    }
}

} // namespace
