#include "base/SysUtils.h"
#include "meta/phJpegInfo.h"
#include "tests/core/WatcherFixture.h"

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

/// Every file below the scratch folder that is neither on a card, nor below
/// TargetBase, nor the program's log.
std::vector<std::string> StrayFiles(const TTempDir& tmp)
{
    std::vector<std::string> stray;
    for (const std::string& f : ListTree(tmp.Path())) {
        if (f.rfind("vol_", 0) != 0 && f.rfind("home/Documents/Eigene Bilder/", 0) != 0 &&
            f != "home/.local/state/fotoimport/import.log")
            stray.push_back(f);
    }
    return stray;
}

TEST_F(WatcherTest, UnsafeOrMissingDatesUseTheFilesOwnDayInsideTargetBase)
{
    const std::string dcim = AddCard('E');
    // One photo per folder level, so the listing order is fixed.
    AddPhoto(dcim, "1.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "a/2.jpg", Dated("../../../../x", 2));
    AddPhoto(dcim, "a/b/3.jpg", Dated("          ", 3));
    TExifPhoto noDate;
    noDate.DateTimeOriginal.reset();
    noDate.Orientation = {1};
    AddPhoto(dcim, "a/b/c/4.jpg", noDate);
    TExifPhoto noExif;
    noExif.WithExif = false;
    AddPhoto(dcim, "a/b/c/d/5.jpg", noExif);
    AddPhoto(dcim, "a/b/c/d/e/6.jpg", Dated("2005:02:30 10:00:00", 6));
    SetModifiedTime(dcim + "/a/2.jpg", 2011, 1, 2);
    SetModifiedTime(dcim + "/a/b/3.jpg", 2012, 3, 4);
    SetModifiedTime(dcim + "/a/b/c/4.jpg", 2013, 5, 6);
    SetModifiedTime(dcim + "/a/b/c/d/5.jpg", 2014, 7, 8);
    SetModifiedTime(dcim + "/a/b/c/d/e/6.jpg", 2015, 9, 10);

    Transfer();
    EXPECT_EQ(ListTree(Base()),
              (std::vector<std::string>{"20050714/1.jpg", "20110102/2.jpg", "20120304/3.jpg",
                                        "20130506/4.jpg", "20140708/5.jpg", "20150910/6.jpg"}));
    EXPECT_TRUE(StrayFiles(Tmp).empty());
    EXPECT_EQ(Watcher.PhotoRecords().back().Target, Base() + "/20150910/6.jpg");
    EXPECT_EQ(Watcher.RunCounts().Transferred, 6);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
}

TEST_F(WatcherTest, MissingTargetFoldersAreCreatedAndUncreatableOnesFailVisibly)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:15 10:22:33", 2));
    ASSERT_FALSE(PathExists(Tmp / "home/Documents"));

    Transfer();
    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/a.jpg", "20050715/b.jpg"}));

    // Documents is a file: nothing can be made, every photo fails and says so.
    Platform.SetDocumentsFolder(Tmp / "blocked");
    WriteFile(Tmp / "blocked", "not a folder");
    Watcher.Dismiss();
    Platform.SetReady('E', false);
    Watcher.Tick();
    Platform.SetReady('E', true);
    Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 0);
    EXPECT_EQ(Watcher.RunCounts().Failed, 2);
    EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
    EXPECT_EQ(View.Panels[0], "2 Fotos nicht übertragen");
    EXPECT_EQ(View.TrayHint, "Fehler bei der Übertragung");
    EXPECT_EQ(View.Caption, "2 Dateien bleiben auf der Karte");

    // No documents folder at all: nothing is written anywhere.
    Platform.SetDocumentsFolder("");
    Watcher.Dismiss();
    Platform.SetReady('E', false);
    Watcher.Tick();
    Platform.SetReady('E', true);
    Transfer();
    EXPECT_EQ(Watcher.TargetBase(), "/Eigene Bilder");
    EXPECT_EQ(Watcher.RunCounts().Failed, 2);
    EXPECT_FALSE(PathExists("/Eigene Bilder"));
    EXPECT_TRUE(PathExists(dcim + "/a.jpg"));
}

TEST_F(WatcherTest, FailedTransfersKeepTheirReasonAndTheWindowCountsThem)
{
    const std::string dcim = AddCard('E');
    const std::string a = AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2));
    const TResult full =
        TResult::Fail(TFailure::NoSpace, Base() + "/20050714/a.jpg", "No space left on device", 28);
    const TResult bad = TResult::Fail(TFailure::Mismatch, dcim + "/a.jpg", "the copy read back differs");

    struct TCase
    {
        const char* Name;
        bool Move;
        std::function<void()> Arrange;
        TResult Expected;
    };
    const TCase cases[] = {
        {"copy cannot be staged", false, [&] { Platform.FailTransferOf(dcim + "/a.jpg", full); }, full},
        {"copy cannot be named", false, [&] { Platform.FailFinishOf(Base() + "/20050714/a.jpg", full); },
         full},
        {"move is refused", true, [&] { Platform.FailTransferOf(dcim + "/a.jpg", bad); }, bad},
    };
    for (const TCase& c : cases) {
        std::filesystem::remove_all(Base());
        Platform.Heal();
        c.Arrange();
        View.MoveMode = c.Move;
        Watcher.Dismiss();
        Platform.SetReady('E', false);
        Watcher.Tick();
        Platform.SetReady('E', true);
        Transfer();
        EXPECT_EQ(ReadFile(dcim + "/a.jpg"), a) << c.Name;
        EXPECT_EQ(ListTree(Base()), std::vector<std::string>{"20050714/b.jpg"}) << c.Name;
        EXPECT_EQ(Watcher.RunCounts().Transferred, 1) << c.Name;
        EXPECT_EQ(Watcher.RunCounts().Failed, 1) << c.Name;
        EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet") << c.Name;
        EXPECT_EQ(View.Panels[0], "1 Fotos nicht übertragen") << c.Name;

        const auto& records = Watcher.PhotoRecords();
        ASSERT_EQ(records.size(), 2u) << c.Name;
        EXPECT_EQ(records[0].Source, dcim + "/a.jpg");
        EXPECT_EQ(records[0].Target, Base() + "/20050714/a.jpg");
        EXPECT_EQ(records[0].Outcome, TPhotoOutcome::Failed) << c.Name;
        EXPECT_EQ(records[0].Reason.Kind(), c.Expected.Kind()) << c.Name;
        EXPECT_EQ(records[0].Reason.Text(), c.Expected.Text()) << c.Name;
        EXPECT_EQ(records[1].Outcome, TPhotoOutcome::Transferred) << c.Name;
        EXPECT_TRUE(records[1].Reason) << c.Name;
        if (c.Move)
            WriteFile(dcim + "/b/b.jpg", ReadFile(Base() + "/20050714/b.jpg"));
    }
}

// Day folders that cannot be flushed: the log says so, and the copies that are there whole (verified when
// they were named) still count as transferred.
TEST_F(WatcherTest, AFailedFlushOfTheDayFoldersIsToldAndWholeCopiesStillCount)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2));
    const std::string c = AddPhoto(dcim, "b/c/c.jpg", Dated("2005:07:14 10:22:35", 3));
    WriteFile(Base() + "/20050714/c.jpg", c);
    const TResult io = TResult::Fail(TFailure::Io, Base() + "/20050714", "Input/output error", 5);
    Platform.FailFlushFolders(io);

    Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 2);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
    EXPECT_EQ(View.Label1, "Übertragung beendet");
    EXPECT_NE(
        LogText().find("the day folders could not be flushed to the disk, the new names may not survive "
                       "a power cut: Input/output error: " +
                       Base() + "/20050714"),
        std::string::npos)
        << LogText();
    const auto& records = Watcher.PhotoRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].Outcome, TPhotoOutcome::Skipped) << "a photo left alone is not touched by the flush";
}

TEST_F(WatcherTest, OneBadPhotoDoesNotStopTheRun)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "1.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "a/2.jpg", Dated("2005:07:15 10:22:33", 2, {6}));
    AddPhoto(dcim, "a/b/3.jpg", Dated("2005:07:16 10:22:33", 3));
    AddPhoto(dcim, "a/b/c/4.jpg", Dated("2005:07:17 10:22:33", 4));
    SetModifiedTime(dcim + "/a/2.jpg", 2011, 1, 2);
    const TResult refused = TResult::Fail(TFailure::Access, dcim + "/a/b/3.jpg", "Permission denied", 13);
    Platform.FailTransferOf(dcim + "/a/b/3.jpg", refused);
    Watcher.Tick();
    // The last photo disappears between listing and transfer, as when another desktop session takes it.
    ASSERT_EQ(::unlink((dcim + "/a/b/c/4.jpg").c_str()), 0);
    Watcher.ReadHook = [&](const std::string& photo, TStringList& list) {
        if (photo == dcim + "/a/2.jpg")
            throw EReadError();
        return ReadExifInfo(photo, list);
    };
    Watcher.Transfer();

    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/1.jpg", "20110102/2.jpg"}));
    EXPECT_FALSE(PathExists(Base() + "/20050716")) << "no empty day folder stays";
    EXPECT_EQ(Watcher.RunCounts().Transferred, 2);
    EXPECT_EQ(Watcher.RunCounts().Failed, 1);
    EXPECT_EQ(Watcher.RunCounts().TakenElsewhere, 1) << "not a failure of this run";
    EXPECT_TRUE(Watcher.Corrections.empty()) << "an unreadable photo has no orientation";
    EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
    EXPECT_EQ(View.Panels[0], "1 Fotos nicht übertragen");
    EXPECT_TRUE(Watcher.CameraHandled());
    EXPECT_FALSE(View.Timer1Enabled);

    // Each photo keeps what became of it and why.
    const auto& records = Watcher.PhotoRecords();
    ASSERT_EQ(records.size(), 4u);
    const TPhotoOutcome outcomes[] = {TPhotoOutcome::Transferred, TPhotoOutcome::Transferred,
                                      TPhotoOutcome::Failed, TPhotoOutcome::TakenElsewhere};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(records[i].Outcome, outcomes[i]) << i;
    EXPECT_EQ(records[1].Target, Base() + "/20110102/2.jpg") << "undated photos go by their file's day";
    EXPECT_EQ(records[2].Reason.Text(), refused.Text());
    EXPECT_EQ(records[3].Source, dcim + "/a/b/c/4.jpg");
    EXPECT_EQ(records[3].Reason.Kind(), TFailure::NotFound) << records[3].Reason.Text();
    EXPECT_NE(LogText().find("taken elsewhere: " + dcim + "/a/b/c/4.jpg"), std::string::npos) << LogText();
    EXPECT_EQ(records[3].Reason.Path(), dcim + "/a/b/c/4.jpg");
}

TEST_F(WatcherTest, MalformedOrientationValuesTurnNothing)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1, {6, 1}));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2, {16}));
    Watcher.CorrectionOutcome = TCorrectionOutcome::Corrected;

    Transfer();
    EXPECT_TRUE(Watcher.Corrections.empty());
    EXPECT_EQ(View.CheckBox1Caption, "Bilder werden gedreht");
    EXPECT_EQ(Watcher.RunCounts().Transferred, 2);
}

} // namespace
