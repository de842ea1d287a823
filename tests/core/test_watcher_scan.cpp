#include "tests/core/WatcherFixture.h"

#include <filesystem>
#include <tuple>

namespace {

TEST_F(WatcherTest, HighestReadyLetterWithDcimWinsAndOnlyEToZAreAsked)
{
    AddCard('F');
    const std::string k = AddCard('K');
    AddCard('C');
    AddCard('D');
    AddCard('P', false); // a card reader without card
    std::filesystem::create_directories(Tmp / "vol_Q");
    Platform.AddDrive('Q', Tmp / "vol_Q"); // a ready volume without DCIM

    Watcher.Tick();
    EXPECT_TRUE(Watcher.CameraFound());
    EXPECT_EQ(Watcher.CameraPath(), k);
    std::set<char> expected;
    for (char c = 'E'; c <= 'Z'; ++c)
        expected.insert(c);
    EXPECT_EQ(Platform.QueriedLetters(), expected);

    // With only C: and D: holding DCIM there is no camera.
    Platform.RemoveDrive('F');
    Platform.RemoveDrive('K');
    Watcher.Tick();
    EXPECT_FALSE(Watcher.CameraFound());
    EXPECT_EQ(Watcher.CameraPath(), k) << "the path keeps its last value";

    // The card goes into the reader: it is taken although a lower letter was seen before.
    Platform.SetReady('P', true);
    Watcher.Tick();
    EXPECT_EQ(Watcher.CameraPath(), Tmp / "vol_P/DCIM");
}

TEST_F(WatcherTest, CameraFoundShowsWindowAndListsPhotosAtEveryTick)
{
    const std::string dcim = AddCard('G');
    AddPhoto(dcim, "a.JPG");
    AddPhoto(dcim, "100TEST/b.jpg");
    AddPhoto(dcim, "100TEST/notes.txt");

    Watcher.Tick();
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Caption, "Hole Fotos");
    EXPECT_EQ(View.TrayHint, "Hole Fotos");
    EXPECT_EQ(View.Label1, "2 Fotos gefunden");
    EXPECT_EQ(View.Panels[0], "2 Fotos gefunden");
    EXPECT_EQ(View.ProgressMax, 2);
    EXPECT_TRUE(View.Button2Enabled);
    ASSERT_EQ(Watcher.PhotoList().Count(), 2);
    EXPECT_EQ(Watcher.PhotoList()[0], dcim + "/a.JPG");
    EXPECT_EQ(Watcher.PhotoList()[1], dcim + "/100TEST/b.jpg");

    // Hidden through the tray menu: the next tick shows it again, with a fresh list.
    View.Hide();
    AddPhoto(dcim, "c.jpg");
    Watcher.Tick();
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.ShowCount, 2);
    EXPECT_EQ(Watcher.PhotoList().Count(), 3) << "the list is cleared and filled again, not appended to";
    EXPECT_EQ(View.Label1, "3 Fotos gefunden");
}

TEST_F(WatcherTest, EmptyDcimStillOffersTheTransfer)
{
    AddCard('E');
    Watcher.Tick();
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Label1, "0 Fotos gefunden");
    EXPECT_EQ(View.ProgressMax, 0);
    EXPECT_TRUE(View.Button2Enabled);

    Watcher.Transfer();
    EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
    EXPECT_EQ(View.Caption, "Karte kann formatiert werden") << "nothing on the card";
    EXPECT_EQ(View.TrayHint, "Fotos übertragen");
    EXPECT_FALSE(View.Button2Enabled);
    EXPECT_FALSE(View.Timer1Enabled);
    EXPECT_TRUE(Watcher.CameraHandled());
    EXPECT_FALSE(Watcher.CameraFound());
}

TEST_F(WatcherTest, RemovedCardGoesToWaitingButLeavesTheWindowVisible)
{
    const std::string dcim = AddCard('H');
    AddPhoto(dcim, "x.jpg");
    Watcher.Tick();
    ASSERT_TRUE(View.Button2Enabled);
    View.Panels[1] = "3 Fotos gedreht";

    Platform.RemoveDrive('H');
    Watcher.Tick();
    EXPECT_FALSE(Watcher.CameraFound());
    EXPECT_FALSE(Watcher.CameraHandled());
    EXPECT_FALSE(View.Button2Enabled);
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Caption, "Warte auf Kamera");
    EXPECT_EQ(View.TrayHint, "Warte auf Kamera");
    EXPECT_EQ(View.Label1, "Keine Kamera gefunden");
    EXPECT_EQ(View.Panels[0], "Keine Kamera gefunden");
    EXPECT_EQ(View.Panels[1], "");
    EXPECT_TRUE(View.BeendenEnabled);
}

TEST_F(WatcherTest, DismissedCameraIsNotListedAgainUntilItIsGone)
{
    const std::string dcim = AddCard('M');
    AddPhoto(dcim, "x.jpg");
    Watcher.Tick();
    View.CheckBox1Enabled = false;
    View.CheckBox1Caption = "Auto-Drehen wird nicht unterstützt";
    View.ProgressPosition = 1;

    Watcher.Dismiss();
    EXPECT_TRUE(Watcher.CameraHandled());
    EXPECT_TRUE(View.Timer1Enabled);
    EXPECT_FALSE(View.Visible);
    EXPECT_EQ(View.Label1, "Warte auf Fotos...");
    EXPECT_EQ(View.ProgressPosition, 0);
    EXPECT_EQ(View.CheckBox1Caption, "Wenn möglich Bilder drehen");
    EXPECT_TRUE(View.CheckBox1Enabled);

    const int listings = Platform.FindFilesCalls();
    Watcher.Tick();
    EXPECT_TRUE(Watcher.CameraFound());
    EXPECT_FALSE(View.Visible);
    EXPECT_EQ(Platform.FindFilesCalls(), listings);
    EXPECT_EQ(View.Label1, "Warte auf Fotos...");

    // A tick without the card re-arms; the card comes back and is offered again.
    Platform.SetReady('M', false);
    Watcher.Tick();
    EXPECT_FALSE(Watcher.CameraHandled());
    Platform.SetReady('M', true);
    Watcher.Tick();
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
}

// A phone's two storages (or a reader's two cards) are two attachments: the one that came last is offered
// first, named; once it is handled the other is offered, also while the phone stays attached.
TEST_F(WatcherTest, EveryStorageOfADeviceIsOfferedInTurnUnderItsName)
{
    const std::string phone = Tmp / "gvfs/mtp:host=Phone";
    for (const auto& [letter, storage, photos] :
         {std::tuple{'F', "Interner gemeinsamer Speicher", 2}, std::tuple{'G', "Card", 1}}) {
        for (int i = 0; i < photos; ++i)
            AddPhoto(phone + "/" + storage + "/DCIM", std::to_string(i) + ".jpg",
                     Dated("2005:07:14 10:00:0" + std::to_string(i), static_cast<unsigned>(letter + i)));
        Platform.AddDrive(letter, phone + "/" + storage);
    }
    Watcher.Tick();
    EXPECT_EQ(View.Caption, "Hole Fotos: Card");
    EXPECT_EQ(View.TrayHint, "Hole Fotos: Card");
    EXPECT_EQ(View.Label1, "1 Fotos gefunden");
    Watcher.Transfer();
    Watcher.Dismiss();
    Watcher.Tick();
    EXPECT_TRUE(View.Visible);
    EXPECT_EQ(View.Caption, "Hole Fotos: Interner gemeinsamer Speicher");
    EXPECT_EQ(View.Label1, "2 Fotos gefunden");
    Watcher.Dismiss();
    Watcher.Tick();
    EXPECT_FALSE(View.Visible) << "both handled: nothing more while the phone stays";
    EXPECT_EQ(View.Label1, "Warte auf Fotos...");
    // The card taken out and put back is a new attachment, offered alone and unnamed.
    Platform.SetReady('G', false);
    Watcher.Tick();
    Platform.SetReady('G', true);
    Watcher.Tick();
    EXPECT_EQ(View.Caption, "Hole Fotos: Card") << "the other storage is still there";
    Platform.RemoveDrive('F');
    Watcher.Dismiss();
    Platform.SetReady('G', false);
    Watcher.Tick();
    Platform.SetReady('G', true);
    Watcher.Tick();
    EXPECT_EQ(View.Caption, "Hole Fotos");
}

} // namespace
