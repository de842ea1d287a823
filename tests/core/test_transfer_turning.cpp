// Photos turned on several workers while the card goes on copying: the day
// folders hold exactly the bytes the corrector gives photo by photo, every
// photo is counted once, and a program that ends during a run leaves no torn
// file, no temporary and no photo unaccounted for.
#include "meta/phJpegInfo.h"
#include "tests/core/CorrectionFixture.h"
#include "tests/core/WatcherFixture.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;

/// A camera photo: an Exif segment with its orientation and date, and a real picture of w x h.
std::string CardPhoto(int w, int h, int orientation, const std::string& date)
{
    using namespace exifbuild;
    TIfd ifd0, exif;
    ifd0.Entries = {Short(0x0112, {static_cast<uint32_t>(orientation)}), Pointer(0x8769, 1)};
    exif.Entries = {Ascii(0x9003, date)};
    const exifbuild::TBytes segment = ExifSegment(BuildTiff(false, {ifd0, exif}));
    return MakePhoto(w, h, std::string(segment.begin(), segment.end()));
}

/// The photo with its frame header claiming width x height (the rest is the small picture's).
std::string WithClaimedSize(std::string photo, int width, int height)
{
    for (size_t i = 2; i + 9 < photo.size(); ++i) {
        if (static_cast<uint8_t>(photo[i]) == 0xFF && static_cast<uint8_t>(photo[i + 1]) == 0xC0) {
            photo[i + 5] = static_cast<char>(height >> 8);
            photo[i + 6] = static_cast<char>(height & 0xFF);
            photo[i + 7] = static_cast<char>(width >> 8);
            photo[i + 8] = static_cast<char>(width & 0xFF);
            return photo;
        }
    }
    return {};
}

class TransferTurning : public WatcherTest
{
protected:
    struct TCardPhoto
    {
        std::string Name;
        int Orientation;
        std::string Bytes;
    };

    /// Every orientation, some twice, photos of several sizes, a photo whose
    /// data is cut short (it cannot be turned) and one too large to turn.
    void MakeCard()
    {
        Dcim = AddCard('E');
        const int orientations[] = {1, 2, 3, 4, 5, 6, 7, 8, 6, 8, 3, 6, 6, 8};
        int index = 0;
        for (const int orientation : orientations) {
            const int w = 48 + 13 * index;
            const int h = 32 + 7 * (index % 5);
            Add("IMG_" + std::to_string(100 + index) + ".JPG", orientation,
                CardPhoto(w, h, orientation, "2005:07:1" + std::to_string(4 + index % 3) + " 10:22:33"));
            ++index;
        }
        const std::string whole = CardPhoto(160, 120, 6, "2005:07:14 11:00:00");
        Add("CUT.JPG", 6, whole.substr(0, whole.size() * 2 / 3));
        const std::string large = WithClaimedSize(CardPhoto(64, 48, 6, "2005:07:14 12:00:00"), 30000, 30000);
        ASSERT_FALSE(large.empty());
        Add("HUGE.JPG", 6, large);
    }
    void Add(const std::string& name, int orientation, const std::string& bytes)
    {
        WriteFile(Dcim + "/100CAM/" + name, bytes);
        SetModifiedTime(Dcim + "/100CAM/" + name, 2005, 7, 14, 10);
        Photos.push_back({name, orientation, bytes});
    }
    /// What the corrector gives for each photo, turned one after the other in a folder of the test's own.
    std::map<std::string, std::pair<std::string, TCorrectionOutcome>> SequentialTurns()
    {
        std::map<std::string, std::pair<std::string, TCorrectionOutcome>> turned;
        TOrientationCorrector corrector(OsPlatform());
        for (const TCardPhoto& photo : Photos) {
            const std::string file = Reference / photo.Name;
            WriteFile(file, photo.Bytes);
            const TCorrectionResult result = corrector.Correct(file, photo.Orientation);
            turned[photo.Name] = {ReadFile(file), result.Outcome};
        }
        return turned;
    }
    /// The day folder file of each photo, by the photo's name.
    std::map<std::string, std::string> Arrived()
    {
        std::map<std::string, std::string> arrived;
        for (const std::string& file : ListTree(Base()))
            arrived[fs::path(file).filename().string()] = ReadFile(Base() + "/" + file);
        return arrived;
    }
    bool AnyTemporary()
    {
        for (const std::string& file : ListTree(Tmp.Path())) {
            if (fs::path(file).filename().string().starts_with(".fotoimport-"))
                return true;
        }
        return false;
    }

    std::string Dcim;
    std::vector<TCardPhoto> Photos;
    TTempDir Reference;
};

TEST_F(TransferTurning, SavesTheSequentialBytesWithAnyNumberOfWorkersInCopyAndMoveMode)
{
    MakeCard();
    const auto expected = SequentialTurns();
    int corrected = 0;
    int failed = 0;
    for (const auto& [name, turned] : expected) {
        corrected += turned.second == TCorrectionOutcome::Corrected ? 1 : 0;
        failed += turned.second == TCorrectionOutcome::Failed ? 1 : 0;
    }
    ASSERT_EQ(failed, 2) << "the cut photo and the one too large";
    Watcher.RealCorrection = true;

    for (const auto& [workers, move] : {std::pair{1, false}, std::pair{3, false}, std::pair{4, true}}) {
        SCOPED_TRACE(std::to_string(workers) + " workers, " + (move ? "move" : "copy"));
        fs::remove_all(Base());
        Watcher.SetTurnWorkers(workers);
        View.MoveMode = move;
        View.Label1History.clear();
        // The bar counts the photos copied, as the label does, also while turns are still to come.
        View.OnRender = [this] {
            if (View.Label1.ends_with(" Fotos kopiert")) {
                EXPECT_EQ(std::to_string(View.ProgressPosition) + " Fotos kopiert", View.Label1);
            }
        };
        TransferAgain('E');

        EXPECT_EQ(Watcher.RunCounts().Transferred, static_cast<int>(Photos.size()));
        EXPECT_EQ(Watcher.RunCounts().Turned, corrected);
        EXPECT_EQ(Watcher.RunCounts().NotTurned, 2);
        EXPECT_EQ(Watcher.RunCounts().Failed, 0);
        EXPECT_EQ(View.Panels[1], std::to_string(corrected) + " gedreht, 2 nicht gedreht");
        EXPECT_EQ(View.Label1, "Übertragung beendet");
        EXPECT_EQ(View.ProgressPosition, static_cast<int>(Photos.size()));
        EXPECT_EQ(std::count(View.Label1History.begin(), View.Label1History.end(),
                             std::to_string(Photos.size()) + " Fotos kopiert"),
                  1)
            << "the count of copies goes up one by one";
        const auto arrived = Arrived();
        ASSERT_EQ(arrived.size(), Photos.size());
        for (const TCardPhoto& photo : Photos)
            EXPECT_TRUE(arrived.at(photo.Name) == expected.at(photo.Name).first) << photo.Name;
        // The damaged and the oversized photo arrived as they were.
        EXPECT_EQ(arrived.at("CUT.JPG"), Photos[Photos.size() - 2].Bytes);
        EXPECT_EQ(arrived.at("HUGE.JPG"), Photos.back().Bytes);
        std::map<std::string, TPhotoOutcome> outcomes;
        for (const TPhotoRecord& record : Watcher.PhotoRecords())
            outcomes[fs::path(record.Source).filename().string()] = record.Outcome;
        ASSERT_EQ(outcomes.size(), Photos.size()) << "one record per photo";
        for (const TCardPhoto& photo : Photos) {
            const TCorrectionOutcome outcome = expected.at(photo.Name).second;
            EXPECT_EQ(outcomes.at(photo.Name),
                      outcome == TCorrectionOutcome::Corrected ? TPhotoOutcome::Turned
                      : outcome == TCorrectionOutcome::Failed  ? TPhotoOutcome::TurnFailed
                                                               : TPhotoOutcome::Transferred)
                << photo.Name;
        }
        EXPECT_FALSE(AnyTemporary());
        EXPECT_EQ(ListTree(Dcim).size(), move ? 0u : Photos.size());
        if (move) {
            // The next pass takes the photos from the card again.
            for (const TCardPhoto& photo : Photos)
                WriteFile(Dcim + "/100CAM/" + photo.Name, photo.Bytes);
        }
    }
}

TEST_F(TransferTurning, EndingDuringARunLeavesEveryPhotoWholeOnTheCardOrInItsDayFolder)
{
    MakeCard();
    const auto expected = SequentialTurns();
    Watcher.RealCorrection = true;
    Watcher.SetTurnWorkers(2);

    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        fs::remove_all(Base());
        View.MoveMode = move;
        // The program is told to end as the third photo's progress reaches the window: with photos being
        // turned, or waiting for a worker.
        int repaints = 0;
        View.OnRender = [&] {
            if (Watcher.Running() && ++repaints == 3)
                Watcher.StopRun();
        };
        TransferAgain('E');
        View.OnRender = nullptr;
        ASSERT_GE(repaints, 3);

        EXPECT_TRUE(Watcher.RunFinished());
        EXPECT_FALSE(AnyTemporary());
        const auto arrived = Arrived();
        std::set<std::string> turned;
        int abandoned = 0;
        for (const TPhotoRecord& record : Watcher.PhotoRecords()) {
            const std::string name = fs::path(record.Source).filename().string();
            ASSERT_TRUE(arrived.contains(name)) << name;
            const std::string& bytes = arrived.at(name);
            const TCardPhoto& photo = *std::find_if(Photos.begin(), Photos.end(),
                                                    [&](const TCardPhoto& p) { return p.Name == name; });
            // Whole: as on the card, or as the corrector saves it.
            if (record.Outcome == TPhotoOutcome::Turned) {
                EXPECT_TRUE(bytes == expected.at(name).first) << name;
            } else {
                EXPECT_TRUE(bytes == photo.Bytes) << name;
            }
            if (record.Outcome == TPhotoOutcome::Turned)
                turned.insert(name);
            // A turn the end cut off, of any photo, the damaged and the oversized one among them (first
            // on a card listed by name): only these fail among the photos the corrector can turn.
            if (record.Outcome == TPhotoOutcome::TurnFailed) {
                const bool cutOff = record.Reason.Message() == "not turned: the program ended";
                abandoned += cutOff ? 1 : 0;
                if (name != "CUT.JPG" && name != "HUGE.JPG") {
                    EXPECT_TRUE(cutOff) << name << ": " << record.Reason.Message();
                }
            }
            if (photo.Orientation > 1) {
                EXPECT_NE(record.Outcome, TPhotoOutcome::Transferred)
                    << name << " neither turned nor counted";
            }
        }
        // Every photo is in its day folder or, not begun, still on the card; a moved photo whose turn was
        // cut off stays there as well, so that the next import turns its copy.
        EXPECT_EQ(arrived.size(), Watcher.PhotoRecords().size());
        const size_t notBegun = Photos.size() - arrived.size();
        EXPECT_EQ(ListTree(Dcim).size(), move ? notBegun + static_cast<size_t>(abandoned) : Photos.size());
        EXPECT_EQ(Watcher.RunCounts().KeptOnCard, move ? abandoned : 0);
        if (move) {
            EXPECT_LE(arrived.size(), 3u) << "no photo is begun after the end was asked for";
        }
        if (notBegun > 0) {
            EXPECT_NE(LogText().find("run stopped as the program ends: " + std::to_string(notBegun) +
                                     " photos not begun"),
                      std::string::npos);
        }
        EXPECT_EQ(Watcher.RunCounts().Transferred, static_cast<int>(arrived.size()));

        // Imported again: every photo once (no NAME_1), those the corrector turns turned and counted as
        // turned in exactly one of the two runs, and in move mode none left on the card.
        TransferAgain('E');
        EXPECT_FALSE(AnyTemporary());
        EXPECT_EQ(ListTree(Base()).size(), Photos.size());
        const auto again = Arrived();
        for (const TPhotoRecord& record : Watcher.PhotoRecords()) {
            if (record.Outcome == TPhotoOutcome::Turned) {
                EXPECT_TRUE(turned.insert(fs::path(record.Source).filename().string()).second)
                    << record.Source;
            }
        }
        for (const TCardPhoto& photo : Photos) {
            const bool corrected = expected.at(photo.Name).second == TCorrectionOutcome::Corrected;
            ASSERT_TRUE(again.contains(photo.Name)) << photo.Name;
            EXPECT_TRUE(again.at(photo.Name) == (corrected ? expected.at(photo.Name).first : photo.Bytes))
                << photo.Name;
            EXPECT_EQ(turned.contains(photo.Name), corrected) << photo.Name;
        }
        EXPECT_EQ(ListTree(Dcim).size(), move ? 0u : Photos.size());
        for (const TCardPhoto& photo : Photos)
            WriteFile(Dcim + "/100CAM/" + photo.Name, photo.Bytes);
    }
}

} // namespace
