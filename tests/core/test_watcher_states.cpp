#include "tests/core/WatcherFixture.h"

#include <filesystem>

namespace {

// A card dismissed with "Fenster Schliessen" keeps "Fotos kopieren" enabled in the window that the tray
// reopens; pressing it asks for exactly that card's photos, as they are on the card now.
TEST_F(WatcherTest, DismissedCardIsTransferredWhenFotosKopierenIsPressed)
{
    const std::string dcim = AddCard('M');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:00:00", 1));
    Watcher.Tick();
    Watcher.Dismiss();
    Watcher.Tick();
    ASSERT_TRUE(Watcher.CameraHandled());
    ASSERT_TRUE(View.Button2Enabled);
    AddPhoto(dcim, "b.jpg", Dated("2005:07:14 10:00:01", 2)); // taken while the window was away

    Watcher.Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 2);
    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/a.jpg", "20050714/b.jpg"}));
    EXPECT_EQ(View.ProgressMax, 2);
    EXPECT_EQ(View.ProgressPosition, 2);
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Label1, "Übertragung beendet");
    EXPECT_TRUE(Watcher.RunFinished());
    EXPECT_FALSE(View.Timer1Enabled);

    // A card pulled since the last tick: nothing to list, nothing transferred, and no failure either.
    Watcher.Dismiss();
    Platform.SetReady('M', false);
    Watcher.Tick();
    Platform.SetReady('M', true);
    Watcher.Tick();
    Watcher.Dismiss();
    std::filesystem::remove_all(dcim);
    Watcher.Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 0);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
    EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
}

// After a run, the button is disabled; a direct call must not copy the old list again.
TEST_F(WatcherTest, FinishedRunDoesNotTransferItsListAgain)
{
    const std::string dcim = AddCard('M');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:00:00", 1));
    Transfer();
    std::filesystem::remove_all(Base());
    Watcher.Transfer();
    EXPECT_FALSE(PathExists(Base() + "/20050714/a.jpg"));
    EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
}

// Hiding the window in any way after a run re-arms the watcher; in every other state it changes nothing.
TEST_F(WatcherTest, HidingAFinishedWindowReArmsTheWatcherAndNothingElse)
{
    const std::string dcim = AddCard('M');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:00:00", 1, {6}));

    // Camera found, and dismissed: hiding is only hiding.
    Watcher.Tick();
    View.Hide();
    Watcher.WindowHidden();
    EXPECT_FALSE(Watcher.CameraHandled()) << "a found card is shown again at the next tick";
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
    Watcher.Dismiss();
    const auto shows = View.ShowCount;
    Watcher.WindowHidden();
    Watcher.Tick();
    EXPECT_EQ(View.ShowCount, shows);
    EXPECT_EQ(View.Label1, "Warte auf Fotos...");

    // A finished run: hidden from the tray, the watcher runs again and the window is as after
    // "Fenster Schliessen".
    Watcher.Transfer();
    ASSERT_EQ(View.CheckBox1Caption, "Bilder werden gedreht");
    ASSERT_FALSE(View.Timer1Enabled);
    View.Hide();
    Watcher.WindowHidden();
    EXPECT_TRUE(View.Timer1Enabled);
    EXPECT_TRUE(Watcher.CameraHandled());
    EXPECT_FALSE(Watcher.RunFinished());
    EXPECT_EQ(View.Label1, "Warte auf Fotos...");
    EXPECT_EQ(View.ProgressPosition, 0);
    EXPECT_EQ(View.CheckBox1Caption, "Wenn möglich Bilder drehen");
    EXPECT_TRUE(View.CheckBox1Enabled);

    // The card stays: nothing shows. It goes and a new one comes: the window opens for it.
    Watcher.Tick();
    EXPECT_FALSE(View.Visible);
    Platform.RemoveDrive('M');
    Watcher.Tick();
    const std::string next = AddCard('N');
    AddPhoto(next, "b.jpg");
    AddPhoto(next, "c.jpg");
    Watcher.Tick();
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Label1, "2 Fotos gefunden");

    // A second hide after the re-arm changes nothing more.
    Watcher.Dismiss();
    View.Label1 = "unchanged";
    Watcher.WindowHidden();
    EXPECT_EQ(View.Label1, "unchanged");
}

// The desktop offers the program for a card: it is looked at at once, whatever state the watcher is in.
TEST_F(WatcherTest, OfferedVolumeIsShownAtOnceFromEveryState)
{
    enum class TStart
    {
        Waiting,
        OtherCardFound,
        Dismissed,
        Finished
    };
    for (const TStart start :
         {TStart::Waiting, TStart::OtherCardFound, TStart::Dismissed, TStart::Finished}) {
        SCOPED_TRACE(static_cast<int>(start));
        TTempDir tmp;
        TFakePlatform platform(tmp / "home/Documents");
        TRecordingView view;
        TTestWatcher watcher(platform, view);
        watcher.Start();
        watcher.SetPatience({std::chrono::seconds(30), std::chrono::seconds(30)});
        const std::string other = tmp / "other";
        std::filesystem::create_directories(other + "/DCIM");
        WriteFile(other + "/DCIM/x.jpg", BuildExifJpeg({}));
        if (start != TStart::Waiting)
            platform.AddDrive('K', other);
        watcher.Tick();
        if (start == TStart::Dismissed)
            watcher.Dismiss();
        if (start == TStart::Finished)
            watcher.Transfer();

        // The offered card lies outside the drives the tick looks at.
        const std::string card = tmp / "offered";
        WriteFile(card + "/DCIM/100TEST/a.jpg", BuildExifJpeg(Dated("2005:07:14 10:00:00", 1)));
        WriteFile(card + "/DCIM/100TEST/b.jpg", BuildExifJpeg(Dated("2005:07:14 10:00:01", 2)));
        view.Visible = false;
        view.CheckBox1Caption = "Auto-Drehen wird nicht unterstützt";
        view.CheckBox1Enabled = false;
        EXPECT_TRUE(watcher.OfferVolume(card));
        EXPECT_TRUE(view.Visible);
        EXPECT_EQ(view.Caption, "Hole Fotos");
        EXPECT_EQ(view.Label1, "2 Fotos gefunden");
        EXPECT_TRUE(view.Button2Enabled);
        EXPECT_TRUE(view.Timer1Enabled);
        EXPECT_EQ(view.CheckBox1Caption, "Wenn möglich Bilder drehen");
        EXPECT_TRUE(view.CheckBox1Enabled);
        EXPECT_EQ(watcher.CameraPath(), card + "/DCIM");
        EXPECT_FALSE(watcher.CameraHandled());

        // Later ticks keep to it, before the drives, and its photos are the ones transferred.
        watcher.Tick();
        EXPECT_EQ(watcher.CameraPath(), card + "/DCIM");
        watcher.Transfer();
        EXPECT_EQ(watcher.RunCounts().Transferred, 2);
        EXPECT_TRUE(PathExists(tmp / "home/Documents/Eigene Bilder/20050714/b.jpg"));

        // Once its DCIM has gone it is forgotten: the tick sees the drives again.
        watcher.Dismiss();
        std::filesystem::remove_all(card);
        watcher.Tick();
        EXPECT_EQ(watcher.CameraFound(), start != TStart::Waiting);
        std::filesystem::create_directories(card + "/DCIM");
        watcher.Tick();
        EXPECT_EQ(watcher.CameraFound(), start != TStart::Waiting) << "not taken up again unasked";
    }
}

TEST_F(WatcherTest, OfferedFolderWithoutDcimChangesNothing)
{
    std::filesystem::create_directories(Tmp / "stick/Photos");
    WriteFile(Tmp / "stick/Photos/a.jpg", BuildExifJpeg({}));
    WriteFile(Tmp / "file/DCIM", "not a folder");
    for (const std::string& root : {std::string(Tmp / "stick"), std::string(Tmp / "missing"), std::string(),
                                    std::string(Tmp / "file")}) {
        SCOPED_TRACE(root);
        EXPECT_FALSE(Watcher.OfferVolume(root));
        EXPECT_FALSE(View.Visible);
        EXPECT_FALSE(Watcher.CameraFound());
        EXPECT_EQ(View.Label1, "Kein Gerät angeschlossen");
    }
    Watcher.Tick();
    EXPECT_FALSE(Watcher.CameraFound()) << "nothing was remembered for the ticks";
}

} // namespace
