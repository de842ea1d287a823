// Drives that answer slowly or never (a locked phone, a stale mount): the tick
// waits for them only as long as its patience, passes them over, and goes on
// with the others; a hung drive is not asked again while it hangs.
#include "base/SysUtils.h"
#include "tests/core/WatcherFixture.h"

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

long long MillisecondsOf(const std::function<void()>& step)
{
    const auto start = TClock::now();
    step();
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

class SlowDrivesTest : public WatcherTest
{
protected:
    std::string Root(char letter) const { return Tmp / (std::string("vol_") + letter); }
    /// Waits until no drive question hangs any more, after a release.
    void WaitForWorkers()
    {
        for (int i = 0; i < 500 && Platform.Hanging() > 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(Platform.Hanging(), 0);
        std::this_thread::sleep_for(20ms); // and for their answers to be handed over
    }
};

TEST_F(SlowDrivesTest, AHungDriveIsPassedOverWithinThePatienceAndAskedOnceWhileItHangs)
{
    AddPhoto(AddCard('F'), "f.jpg");
    const std::string k = AddCard('K');
    AddPhoto(k, "k1.jpg");
    AddPhoto(k, "k2.jpg");
    Platform.Hang(TDriveQuestion::Ready, Root('K'));
    Watcher.SetPatience({200ms, 30s});

    const long long first = MillisecondsOf([&] { Watcher.Tick(); });
    EXPECT_GE(first, 190);
    EXPECT_LT(first, 3000);
    EXPECT_EQ(Watcher.CameraPath(), Root('F') + "/DCIM") << "the next card down wins";
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
    EXPECT_TRUE(View.Visible);

    // While it hangs it is neither waited for nor asked again.
    for (int i = 0; i < 3; ++i)
        EXPECT_LT(MillisecondsOf([&] { Watcher.Tick(); }), 190);
    EXPECT_EQ(Platform.QuestionsAbout(Root('K')), 1);
    EXPECT_EQ(Platform.Hanging(), 1);
    EXPECT_EQ(Watcher.CameraPath(), Root('F') + "/DCIM");

    // It answers: the next tick takes its answer, and the highest letter wins again.
    Platform.Release();
    WaitForWorkers();
    Watcher.Tick();
    EXPECT_EQ(Watcher.CameraPath(), k);
    EXPECT_EQ(View.Label1, "2 Fotos gefunden");
}

// A device slow to answer does not flip between found and gone: its last answer stands while its question
// runs, however long; once it is unplugged it is gone.
TEST_F(SlowDrivesTest, ADriveThatStopsAnsweringStandsWhileItsQuestionRunsAndIsGoneOnceUnplugged)
{
    AddPhoto(AddCard('K'), "k.jpg");
    Watcher.Tick();
    ASSERT_EQ(View.Label1, "1 Fotos gefunden");
    Watcher.Dismiss(); // dismissed: not listed again while it stays

    Platform.Hang(TDriveQuestion::Ready, Root('K'));
    Watcher.SetPatience({100ms, 100ms});
    Watcher.Tick();
    EXPECT_TRUE(Watcher.CameraFound()) << "its last answer stands in for a moment";
    EXPECT_TRUE(Watcher.CameraHandled());
    std::this_thread::sleep_for(2600ms);
    Watcher.Tick();
    EXPECT_TRUE(Watcher.CameraFound()) << "still found while it works on an answer";
    EXPECT_TRUE(Watcher.CameraHandled());
    Platform.RemoveDrive('K');
    Watcher.Tick();
    EXPECT_FALSE(Watcher.CameraFound());
    EXPECT_FALSE(Watcher.CameraHandled()) << "gone: when it comes again, it is a new attachment";
    EXPECT_EQ(View.Label1, "Keine Kamera gefunden");
    EXPECT_EQ(Platform.QuestionsAbout(Root('K')), 2) << "one answered, one hanging";
}

TEST_F(SlowDrivesTest, AListingThatHangsKeepsTheListShownAndANewCameraWaitsForItsOwn)
{
    const std::string g = AddCard('G');
    AddPhoto(g, "a.jpg");
    AddPhoto(g, "b.jpg");
    Watcher.Tick();
    ASSERT_EQ(View.Label1, "2 Fotos gefunden");

    // The phone lists slowly now: its list stands, and the tick does not wait long for it.
    AddPhoto(g, "c.jpg");
    Platform.Hang(TDriveQuestion::Listing, g);
    Watcher.SetPatience({100ms, 100ms});
    EXPECT_LT(MillisecondsOf([&] { Watcher.Tick(); }), 2000);
    EXPECT_TRUE(Watcher.CameraFound());
    EXPECT_EQ(Watcher.PhotoList().Count(), 2);
    EXPECT_EQ(View.Label1, "2 Fotos gefunden");
    EXPECT_TRUE(View.Button2Enabled);

    // A camera on a higher letter whose photos cannot be listed yet is passed over: no count is shown
    // that is not its own.
    const std::string k = AddCard('K');
    AddPhoto(k, "k.jpg");
    Platform.Hang(TDriveQuestion::Listing, k);
    Watcher.Tick();
    EXPECT_EQ(Watcher.CameraPath(), g);
    EXPECT_EQ(View.Label1, "2 Fotos gefunden");

    // The lists come: the highest letter shows its own, and the phone's new list is there when it wins again.
    Platform.Release();
    WaitForWorkers();
    Watcher.Tick();
    EXPECT_EQ(Watcher.CameraPath(), k);
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
    Platform.RemoveDrive('K');
    Watcher.SetPatience({30s, 30s});
    Watcher.Tick();
    EXPECT_EQ(Watcher.CameraPath(), g);
    EXPECT_EQ(View.Label1, "3 Fotos gefunden");
}

TEST_F(SlowDrivesTest, ADismissedCameraWhoseListDoesNotComeTransfersNothingOfAnother)
{
    const std::string f = AddCard('F');
    AddPhoto(f, "f.jpg", Dated("2005:07:14 10:00:00"));
    Watcher.Tick();
    Watcher.Dismiss();
    // A second card comes while the first is dismissed: it is offered, and dismissed too.
    const std::string k = AddCard('K');
    AddPhoto(k, "k.jpg", Dated("2005:07:14 11:00:00"));
    Watcher.Tick();
    ASSERT_EQ(Watcher.CameraPath(), k);
    Watcher.Dismiss();

    // Its listing hangs now: the list it showed stands, never the first card's.
    Platform.Hang(TDriveQuestion::Listing, k);
    Watcher.SetPatience({100ms, 100ms});
    Watcher.Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 1);
    EXPECT_TRUE(PathExists(Base() + "/20050714/k.jpg"));
    EXPECT_FALSE(PathExists(Base() + "/20050714/f.jpg")) << "the first card's list is not the camera's";
}

TEST_F(SlowDrivesTest, AQuestionThatThrowsEndsTheTickAndTheNextTickRunsAsUsual)
{
    AddPhoto(AddCard('K'), "k.jpg");
    Platform.Fail(TDriveQuestion::Folder, Root('K') + "/DCIM", "Laufwerk nicht lesbar");
    try {
        Watcher.Tick();
        ADD_FAILURE() << "the question's exception did not reach the tick";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Laufwerk nicht lesbar");
    }
    Platform.Release();
    Watcher.Tick();
    EXPECT_TRUE(Watcher.CameraFound());
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
}

TEST_F(SlowDrivesTest, AnOfferedVolumeThatDoesNotAnswerChangesNothing)
{
    const std::string root = Tmp / "offered";
    AddPhoto(root + "/DCIM", "x.jpg");
    Platform.Hang(TDriveQuestion::Folder, root + "/DCIM");
    Watcher.SetPatience({100ms, 100ms});
    EXPECT_FALSE(Watcher.OfferVolume(root));
    EXPECT_FALSE(View.Visible);
    EXPECT_FALSE(Watcher.CameraFound());

    Platform.Release();
    WaitForWorkers();
    Watcher.SetPatience({30s, 30s});
    EXPECT_TRUE(Watcher.OfferVolume(root));
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
}

TEST(SlowDrives, TheWatcherEndsWithoutWaitingForAHungDrive)
{
    TTempDir tmp;
    TFakePlatform platform(tmp / "home/Documents");
    TRecordingView view;
    std::filesystem::create_directories(tmp / "vol/DCIM");
    platform.AddDrive('E', tmp / "vol");
    platform.Hang(TDriveQuestion::Ready, tmp / "vol");
    auto watcher = std::make_unique<TTestWatcher>(platform, view);
    watcher->SetPatience({50ms, 50ms});
    watcher->Tick();
    EXPECT_FALSE(watcher->CameraFound());
    EXPECT_LT(MillisecondsOf([&] { watcher.reset(); }), 40);
    // The question ends after the watcher has gone; it touches only what it shares (the sanitizer build
    // watches).
    platform.Release();
    for (int i = 0; i < 500 && platform.Hanging() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(platform.Hanging(), 0);
}

} // namespace
