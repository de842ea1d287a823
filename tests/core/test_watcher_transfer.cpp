#include "tests/core/WatcherFixture.h"

#include <algorithm>
#include <filesystem>

namespace {

std::filesystem::file_time_type ModifiedTime(const std::string& path)
{
    return std::filesystem::last_write_time(FsPath(path));
}

TEST_F(WatcherTest, CopyPutsEveryPhotoIntoItsDayFolderAndKeepsTheCard)
{
    const std::string dcim = AddCard('K');
    const std::string a = AddPhoto(dcim, "100TEST/IMG_0001.JPG", Dated("2005:07:14 10:22:33", 1));
    const std::string b = AddPhoto(dcim, "100TEST/sub/IMG_0002.JPG", Dated("2006:01:02 08:00:00", 2));
    SetModifiedTime(dcim + "/100TEST/IMG_0001.JPG", 2010, 3, 4);

    Transfer();
    EXPECT_EQ(Watcher.TargetBase(), Base());
    EXPECT_EQ(ReadFile(Base() + "/20050714/IMG_0001.JPG"), a);
    EXPECT_EQ(ReadFile(Base() + "/20060102/IMG_0002.JPG"), b);
    EXPECT_EQ(ModifiedTime(Base() + "/20050714/IMG_0001.JPG"), ModifiedTime(dcim + "/100TEST/IMG_0001.JPG"));
    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/IMG_0001.JPG", "20060102/IMG_0002.JPG"}))
        << "no temporary file is left behind";
    EXPECT_TRUE(PathExists(dcim + "/100TEST/IMG_0001.JPG"));
    EXPECT_TRUE(PathExists(dcim + "/100TEST/sub/IMG_0002.JPG"));

    EXPECT_EQ(Watcher.PhotoRecords().back().Target, Base() + "/20060102/IMG_0002.JPG");
    EXPECT_EQ(Watcher.RunCounts().Transferred, 2);
    EXPECT_EQ(View.Label1History[View.Label1History.size() - 2], "2 Fotos kopiert");
    EXPECT_EQ(View.Label1, "Übertragung beendet");
    EXPECT_EQ(View.Panels[0], "2 Fotos kopiert");
    EXPECT_EQ(View.Caption, "Karte kann formatiert werden");
    EXPECT_EQ(View.TrayHint, "Fotos übertragen");
    EXPECT_EQ(View.ProgressPosition, 2);
    EXPECT_FALSE(View.Timer1Enabled);
    EXPECT_FALSE(View.Button2Enabled);
    EXPECT_TRUE(Watcher.CameraHandled());

    // The same card again, after the watcher was re-armed: nothing new.
    Watcher.Dismiss();
    Platform.SetReady('K', false);
    Watcher.Tick();
    Platform.SetReady('K', true);
    Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 0);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
    EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
    EXPECT_EQ(View.TrayHint, "Fotos übertragen");
}

TEST_F(WatcherTest, MoveTakesTransferredPhotosOffTheCardAndLeavesSkippedOnes)
{
    const std::string dcim = AddCard('E');
    const std::string a = AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    const std::string b = AddPhoto(dcim, "b.jpg", Dated("2005:07:14 10:22:34", 2));
    WriteFile(Base() + "/20050714/b.jpg", b); // this very photo, from an earlier import
    View.MoveMode = true;

    Transfer();
    EXPECT_FALSE(PathExists(dcim + "/a.jpg"));
    EXPECT_EQ(ReadFile(Base() + "/20050714/a.jpg"), a);
    EXPECT_TRUE(PathExists(dcim + "/b.jpg")) << "a photo in its day folder already stays on the card";
    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/a.jpg", "20050714/b.jpg"}));
    EXPECT_EQ(Watcher.RunCounts().Transferred, 1);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
    EXPECT_EQ(View.Label1, "Übertragung beendet");
}

TEST_F(WatcherTest, ThreePhotosOneAlreadyPresentEndsAtTwoOfThree)
{
    const std::string dcim = AddCard('E');
    std::vector<std::string> photos;
    for (int i = 1; i <= 3; ++i)
        photos.push_back(AddPhoto(dcim, "p" + std::to_string(i) + ".jpg",
                                  Dated("2005:07:14 10:22:33", static_cast<unsigned>(i))));
    WriteFile(Base() + "/20050714/p2.jpg", photos[1]);

    Transfer();
    EXPECT_EQ(View.ProgressMax, 3);
    EXPECT_EQ(View.ProgressPosition, 2);
    EXPECT_EQ(View.Label1History, (std::vector<std::string>{"3 Fotos gefunden", "1 Fotos kopiert",
                                                            "2 Fotos kopiert", "Übertragung beendet"}));
    EXPECT_EQ(ReadFile(Base() + "/20050714/p2.jpg"), photos[1]);
}

TEST_F(WatcherTest, CheckBoxCaptionFollowsEachPhotosOrientationLine)
{
    const std::string dcim = AddCard('E');
    // One photo per folder level, so the listing order is fixed.
    AddPhoto(dcim, "1.jpg", Dated("2005:07:14 10:00:00", 1, {1}));
    AddPhoto(dcim, "a/2.jpg", Dated("2005:07:14 10:00:01", 2));
    AddPhoto(dcim, "a/b/3.jpg", Dated("2005:07:14 10:00:02", 3, {6}));
    AddPhoto(dcim, "a/b/c/4.jpg", Dated("2005:07:14 10:00:03", 4));

    Transfer();
    EXPECT_EQ(View.CheckBox1History,
              (std::vector<std::string>{"Bilder werden gedreht", "Auto-Drehen wird nicht unterstützt",
                                        "Bilder werden gedreht", "Auto-Drehen wird nicht unterstützt"}));
    EXPECT_FALSE(View.CheckBox1Enabled) << "the caption stays as the last photo left it";
    ASSERT_EQ(Watcher.Corrections.size(), 1u);
    EXPECT_EQ(Watcher.Corrections[0], std::make_pair(Base() + "/20050714/3.jpg", 6));

    Watcher.Dismiss();
    EXPECT_EQ(View.CheckBox1Caption, "Wenn möglich Bilder drehen");
    EXPECT_TRUE(View.CheckBox1Enabled);
}

// Photos due a turn are handed to the correction when they arrive now, and also when their copy with the
// card's bytes is there already (an earlier run ended before it turned it); never with the option off.
TEST_F(WatcherTest, CorrectionIsAskedForEveryPhotoDueATurnWithTheOptionOn)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:00:00", 1, {6}));
    const std::string b = AddPhoto(dcim, "b.jpg", Dated("2005:07:14 10:00:01", 2, {8}));
    AddPhoto(dcim, "c.jpg", Dated("2005:07:14 10:00:02", 3, {1}));
    WriteFile(Base() + "/20050714/b.jpg", b);
    Watcher.CorrectionOutcome = TCorrectionOutcome::Corrected;

    Transfer();
    std::sort(Watcher.Corrections.begin(), Watcher.Corrections.end());
    EXPECT_EQ(Watcher.Corrections, (std::vector<std::pair<std::string, int>>{
                                       {Base() + "/20050714/a.jpg", 6}, {Base() + "/20050714/b.jpg", 8}}))
        << "b's copy is turned now, c needs no turn";
    EXPECT_EQ(Watcher.RunCounts().Turned, 2);
    EXPECT_EQ(View.Panels[1], "2 Fotos gedreht");
    const auto record = [&](const std::string& name) {
        for (const TPhotoRecord& r : Watcher.PhotoRecords()) {
            if (r.Source == dcim + "/" + name)
                return r;
        }
        ADD_FAILURE() << "no record of " << name;
        return TPhotoRecord{};
    };
    ASSERT_EQ(Watcher.PhotoRecords().size(), 3u);
    EXPECT_EQ(record("a.jpg").Outcome, TPhotoOutcome::Turned);
    EXPECT_EQ(record("b.jpg").Outcome, TPhotoOutcome::Turned);
    EXPECT_EQ(record("c.jpg").Outcome, TPhotoOutcome::Transferred);
    EXPECT_TRUE(record("c.jpg").Reason);

    // The option off: nothing is handed over.
    Watcher.Dismiss();
    Platform.SetReady('E', false);
    Watcher.Tick();
    Platform.SetReady('E', true);
    AddPhoto(dcim, "d.jpg", Dated("2005:07:14 10:00:03", 4, {3}));
    View.CheckBox1IsChecked = false;
    Watcher.Corrections.clear();
    Transfer();
    EXPECT_TRUE(Watcher.Corrections.empty());
    EXPECT_EQ(Watcher.RunCounts().Turned, 0);

    // A correction that fails makes the run end with errors.
    Watcher.Dismiss();
    Platform.SetReady('E', false);
    Watcher.Tick();
    Platform.SetReady('E', true);
    std::filesystem::remove_all(dcim);
    AddPhoto(dcim, "e.jpg", Dated("2005:07:14 10:00:04", 5, {6}));
    View.CheckBox1IsChecked = true;
    // A correction that fails leaves a transferred photo: it is not counted
    // among those that did not arrive.
    Watcher.CorrectionOutcome = TCorrectionOutcome::Failed;
    Watcher.CorrectionReason =
        TResult::Fail(TFailure::Damaged, Base() + "/20050714/e.jpg", "Corrupt JPEG data");
    Transfer();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 1);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
    EXPECT_EQ(Watcher.RunCounts().NotTurned, 1);
    EXPECT_EQ(View.Label1, "Übertragung beendet");
    EXPECT_EQ(View.TrayHint, "Fotos übertragen");
    EXPECT_EQ(View.Panels[0], "1 Fotos kopiert");
    EXPECT_EQ(View.Panels[1], "1 Fotos nicht gedreht");
    EXPECT_EQ(record("e.jpg").Outcome, TPhotoOutcome::TurnFailed);
    EXPECT_EQ(record("e.jpg").Reason.Text(), Watcher.CorrectionReason.Text());
    EXPECT_EQ(Watcher.PhotoRecords().size(), 1u) << "a new run starts a new list";
}

TEST_F(WatcherTest, MetadataListIsSortedSoTheFirstOrientationLineInSortedOrderCounts)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg");
    bool sortedAtCall = false;
    Watcher.ReadHook = [&](const std::string&, TStringList& list) {
        sortedAtCall = list.Sorted() && list.Count() == 0;
        list.Add("Orientation=6");
        list.Add("DateTimeOriginal=2005:07:14 10:22:33");
        list.Add("Orientation=1");
        return true;
    };
    Transfer();
    EXPECT_TRUE(sortedAtCall);
    EXPECT_TRUE(Watcher.Corrections.empty());
    EXPECT_TRUE(PathExists(Base() + "/20050714/a.jpg"));
}

} // namespace
