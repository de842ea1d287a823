#include "base/SysUtils.h"
#include "tests/core/WatcherFixture.h"
#include "tests/support/PrivateMounts.h"

#include <algorithm>
#include <filesystem>
#include <functional>

// Runs on real file systems mounted in a private mount namespace: Linux only.

namespace {

TEST_F(WatcherTest, MovesIntoAVolumeThatFillsUpFailWithNoSpaceAndLeaveThePhotosOnTheCard)
{
    std::string why;
    if (!TPrivateMounts::Enter(why))
        GTEST_SKIP() << why;
    TPrivateMounts mounts;
    // A card of its own and a documents folder with room for two photos.
    ASSERT_TRUE(mounts.Tmpfs(Tmp / "vol_E", 4 << 20, why)) << why;
    ASSERT_TRUE(mounts.Tmpfs(Tmp / "home/Documents", 700 << 10, why)) << why;
    const std::string dcim = AddCard('E');
    std::vector<std::string> bytes;
    for (const char* name : {"1.jpg", "a/2.jpg", "a/b/3.jpg", "a/b/c/4.jpg"}) {
        TExifPhoto photo = Dated("2005:07:14 10:22:33", static_cast<unsigned>(bytes.size() + 1));
        photo.BodySize = 300000;
        bytes.push_back(AddPhoto(dcim, name, photo));
    }

    for (const bool move : {true, false}) {
        std::filesystem::remove_all(Base());
        View.MoveMode = move;
        Watcher.Dismiss();
        Platform.SetReady('E', false);
        Watcher.Tick();
        Platform.SetReady('E', true);
        Transfer();
        EXPECT_EQ(Watcher.RunCounts().Transferred, 2) << move;
        EXPECT_EQ(Watcher.RunCounts().Failed, 2) << move;
        EXPECT_EQ(View.Panels[0], "2 Fotos nicht übertragen") << move;
        EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/1.jpg", "20050714/2.jpg"})) << move;
        EXPECT_EQ(ReadFile(dcim + "/a/b/3.jpg"), bytes[2]) << move;
        EXPECT_EQ(ReadFile(dcim + "/a/b/c/4.jpg"), bytes[3]) << move;
        const auto& records = Watcher.PhotoRecords();
        ASSERT_EQ(records.size(), 4u);
        for (size_t i = 2; i < 4; ++i) {
            EXPECT_EQ(records[i].Outcome, TPhotoOutcome::Failed) << move << i;
            EXPECT_EQ(records[i].Reason.Kind(), TFailure::NoSpace) << move << i << records[i].Reason.Text();
            EXPECT_EQ(records[i].Reason.Path(), records[i].Target) << move << i;
        }
        if (move) {
            // Put the moved photos back for the copy round.
            WriteFile(dcim + "/1.jpg", bytes[0]);
            WriteFile(dcim + "/a/2.jpg", bytes[1]);
        }
    }
}

// A folder of the card that cannot be listed is not passed over in silence: it counts as not transferred,
// the log names it with the reason, and the run ends with errors, also when it held the card's only photos.
TEST_F(WatcherTest, AFolderOfTheCardThatCannotBeListedIsNamedAndCountsAsNotTransferred)
{
    std::string why;
    if (!TPrivateMounts::Enter(why) || !TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    for (const bool otherPhotos : {true, false}) {
        SCOPED_TRACE(otherPhotos ? "beside other photos" : "the only photos");
        TTempDir card;
        if (otherPhotos)
            AddPhoto(card / "DCIM", "100CAM/a.jpg", Dated("2005:07:14 10:22:33", 1));
        AddPhoto(card / "DCIM", "101CAM/b.jpg", Dated("2005:07:14 10:22:34", 2));
        TPrivateMounts mounts;
        const std::string root = Tmp / (otherPhotos ? "vol_E" : "vol_F");
        ASSERT_TRUE(mounts.Fuse(card.Path(), root, {"--fail-listing=/DCIM/101CAM"}, why)) << why;
        Platform.AddDrive(otherPhotos ? 'E' : 'F', root);
        Transfer();
        EXPECT_EQ(Watcher.RunCounts().Transferred, otherPhotos ? 1 : 0);
        EXPECT_EQ(Watcher.RunCounts().Failed, 1);
        EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
        EXPECT_EQ(View.Panels[0], "1 Fotos nicht übertragen");
        EXPECT_NE(LogText().find("failed: " + root + "/DCIM/101CAM: cannot be read: "), std::string::npos)
            << LogText();
        Watcher.Dismiss();
        Platform.RemoveDrive(otherPhotos ? 'E' : 'F');
        Watcher.Tick();
    }
}

} // namespace
