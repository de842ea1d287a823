// Every photo of a run accounted for: a name taken by another photo, a photo
// that is there already (as it is, or turned upright by an earlier run), a
// card that keeps its photo, a target that is not there, what interrupted
// runs left, the counts and texts of the window, and the import log.
#include "app/core/ImportLog.h"
#include "app/core/PhotoRules.h"
#include "app/core/TransferRun.h"
#include "base/Classes.h"
#include "graphics/Graphics.h"
#include "jpeg/JpegImage.h"
#include "tests/core/WatcherFixture.h"

#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

using exifbuild::Ascii;
using exifbuild::Long;
using exifbuild::Pointer;
using exifbuild::Rational;
using exifbuild::Short;

TStringList Lines(const std::vector<std::string>& lines)
{
    TStringList list;
    list.SetSorted(true);
    for (const std::string& line : lines)
        list.Add(line);
    return list;
}

TEST(AlternativeName, CountsUpBeforeTheExtensionAndKeepsItAsItWas)
{
    const std::tuple<const char*, int, const char*> cases[] = {
        {"IMG_0001.JPG", 0, "IMG_0001.JPG"},
        {"IMG_0001.JPG", 1, "IMG_0001_1.JPG"},
        {"IMG_0001.JPG", 12, "IMG_0001_12.JPG"},
        {"img_0001.jpg", 2, "img_0001_2.jpg"},
        {"a.b.Jpg", 1, "a.b_1.Jpg"},
        {"NOEXT", 3, "NOEXT_3"},
        {".hidden", 1, ".hidden_1"},
        {".x.jpg", 1, ".x_1.jpg"},
    };
    for (const auto& [name, index, expected] : cases)
        EXPECT_EQ(AlternativeName(name, index), expected) << name << " " << index;
}

TEST(IsTurnedCopyOf, OnlyTheCopyThisProgramTurnedPasses)
{
    // A camera photo taken turned, and the copy the correction makes of it:
    // Orientation 1, the thumbnail's entries changed or gone, all else kept.
    const std::vector<std::string> photo = {"Compression=6",
                                            "DateTimeOriginal=2005:07:14 10:22:33",
                                            "ExposureTime=1/125",
                                            "JPEGInterchangeFormat=5000",
                                            "JPEGInterchangeFormatLength=4000",
                                            "Make=Canon",
                                            "Model=Canon EOS 350D",
                                            "Orientation=6",
                                            "SubSecTimeOriginal=42",
                                            "XResolution=180/1",
                                            "XResolution=72/1",
                                            "YResolution=180/1"};
    const auto with = [&](std::vector<std::string> lines, const std::string& drop, const std::string& add) {
        if (!drop.empty())
            lines.erase(std::remove(lines.begin(), lines.end(), drop), lines.end());
        if (!add.empty())
            lines.push_back(add);
        return lines;
    };
    const std::vector<std::string> turned = with(photo, "Orientation=6", "Orientation=1");
    struct TCase
    {
        const char* Name;
        std::vector<std::string> Photo;
        std::vector<std::string> Copy;
        bool Expected;
    };
    const TCase cases[] = {
        {"the turned copy", photo, turned, true},
        {"thumbnail moved", photo, with(turned, "JPEGInterchangeFormat=5000", "JPEGInterchangeFormat=6200"),
         true},
        {"thumbnail gone",
         photo,
         {"DateTimeOriginal=2005:07:14 10:22:33", "ExposureTime=1/125", "Make=Canon", "Model=Canon EOS 350D",
          "Orientation=1", "SubSecTimeOriginal=42", "XResolution=180/1", "YResolution=180/1"},
         true},
        {"not turned", photo, photo, false},
        {"no orientation", photo, with(turned, "Orientation=1", ""), false},
        {"another second", photo,
         with(turned, "DateTimeOriginal=2005:07:14 10:22:33", "DateTimeOriginal=2005:07:14 10:22:34"), false},
        {"another sub-second", photo, with(turned, "SubSecTimeOriginal=42", "SubSecTimeOriginal=43"), false},
        {"another camera", photo, with(turned, "Model=Canon EOS 350D", "Model=Canon EOS 400D"), false},
        {"another exposure", photo, with(turned, "ExposureTime=1/125", "ExposureTime=1/250"), false},
        {"more in the copy", photo, with(turned, "", "GPSLatitude=52/1,31/1,0/1"), false},
        {"less in the copy", photo, with(turned, "Make=Canon", ""), false},
        {"no date in either", with(photo, "DateTimeOriginal=2005:07:14 10:22:33", ""),
         with(turned, "DateTimeOriginal=2005:07:14 10:22:33", ""), false},
        {"a photo taken upright is never turned", with(photo, "Orientation=6", "Orientation=1"), turned,
         false},
        {"turned by 180 degrees", with(photo, "Orientation=6", "Orientation=3"), turned, true},
        {"a 180-degree photo copied as it was", with(photo, "Orientation=6", "Orientation=3"),
         with(photo, "Orientation=6", "Orientation=3"), false},
        // Mirrored photos are saved again without their orientation changed.
        {"mirrored, orientation kept", with(photo, "Orientation=6", "Orientation=2"),
         with(photo, "Orientation=6", "Orientation=2"), true},
        {"mirrored, marked upright", with(photo, "Orientation=6", "Orientation=2"), turned, true},
        {"mirrored, another orientation", with(photo, "Orientation=6", "Orientation=2"),
         with(photo, "Orientation=6", "Orientation=4"), false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(IsTurnedCopyOf(Lines(c.Copy), Lines(c.Photo)), c.Expected) << c.Name;
}

TEST_F(WatcherTest, PhotosWithOneNameFromSeveralFoldersAllArriveAndARerunWritesNothing)
{
    const std::string dcim = AddCard('E');
    // A counter that wrapped, and the same photo saved twice on the card.
    const std::string first = AddPhoto(dcim, "100CANON/IMG_0001.JPG", Dated("2005:07:14 10:00:00", 1));
    const std::string second = AddPhoto(dcim, "101CANON/IMG_0001.JPG", Dated("2005:07:14 11:00:00", 2));
    AddPhoto(dcim, "102CANON/IMG_0001.JPG", Dated("2005:07:14 10:00:00", 1));
    const std::string third = AddPhoto(dcim, "103CANON/IMG_0001.JPG", Dated("2005:07:14 12:00:00", 3));
    const std::string otherDay = AddPhoto(dcim, "104CANON/IMG_0001.JPG", Dated("2005:07:15 12:00:00", 4));

    // Folders are listed in the file system's order: which photo keeps the
    // name and which of the two equal ones stays is up to it.
    const std::vector<std::string> dayNames = {"20050714/IMG_0001.JPG", "20050714/IMG_0001_1.JPG",
                                               "20050714/IMG_0001_2.JPG", "20050715/IMG_0001.JPG"};
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        std::filesystem::remove_all(Base());
        View.MoveMode = move;
        TransferAgain('E');
        EXPECT_EQ(ListTree(Base()), dayNames) << "the photo saved twice arrives once";
        std::multiset<std::string> arrived;
        for (const std::string& f : dayNames)
            arrived.insert(ReadFile(Base() + "/" + f));
        EXPECT_EQ(arrived, (std::multiset<std::string>{first, second, third, otherDay}));
        EXPECT_EQ(ReadFile(Base() + "/20050715/IMG_0001.JPG"), otherDay);
        EXPECT_EQ(Watcher.RunCounts().Transferred, 4);
        EXPECT_EQ(Watcher.RunCounts().Failed, 0);
        EXPECT_EQ(View.Label1, "Übertragung beendet");

        int renamed = 0;
        int skipped = 0;
        for (const TPhotoRecord& record : Watcher.PhotoRecords()) {
            SCOPED_TRACE(record.Source);
            renamed += record.Renamed ? 1 : 0;
            EXPECT_EQ(record.Renamed, record.Target.find("IMG_0001_") != std::string::npos);
            if (record.Outcome == TPhotoOutcome::Skipped) {
                ++skipped;
                EXPECT_EQ(ReadFile(record.Target), first) << "the one it is";
                EXPECT_EQ(ReadFile(record.Source), first) << "a photo there already stays on the card";
            } else {
                EXPECT_EQ(record.Outcome, TPhotoOutcome::Transferred);
                EXPECT_EQ(PathExists(record.Source), !move);
            }
        }
        EXPECT_EQ(renamed, 2);
        EXPECT_EQ(skipped, 1);
        if (move) {
            // Put the card back as it was for the rerun below.
            WriteFile(dcim + "/100CANON/IMG_0001.JPG", first);
            WriteFile(dcim + "/101CANON/IMG_0001.JPG", second);
            WriteFile(dcim + "/102CANON/IMG_0001.JPG", first);
            WriteFile(dcim + "/103CANON/IMG_0001.JPG", third);
            WriteFile(dcim + "/104CANON/IMG_0001.JPG", otherDay);
        }
    }

    // The same card again: every photo is there already; nothing is written.
    const std::vector<std::string> before = ListTree(Base());
    View.MoveMode = false;
    TransferAgain('E');
    EXPECT_EQ(Watcher.RunCounts().Transferred, 0);
    EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
    EXPECT_EQ(ListTree(Base()), before);
}

TEST_F(WatcherTest, AFileThisProgramDidNotWriteIsNeverReplaced)
{
    const std::string dcim = AddCard('E');
    const std::string photo = AddPhoto(dcim, "100CANON/IMG_0001.JPG", Dated("2005:07:14 10:00:00", 1, {6}));
    SetModifiedTime(dcim + "/100CANON/IMG_0001.JPG", 2005, 7, 14, 10);
    // An older import of another camera holds the name and the next one;
    // a folder holds the one after.
    WriteFile(Base() + "/20050714/IMG_0001.JPG", BuildExifJpeg(Dated("2005:07:14 10:00:00", 7, {1})));
    WriteFile(Base() + "/20050714/IMG_0001_1.JPG", "not even a photo");
    std::filesystem::create_directories(Base() + "/20050714/IMG_0001_2.JPG");
    // The same metadata, but not the photo's modification time: not its turned copy either.
    SetModifiedTime(Base() + "/20050714/IMG_0001.JPG", 2006, 1, 1, 10);
    const std::vector<std::string> older = {ReadFile(Base() + "/20050714/IMG_0001.JPG"), "not even a photo"};

    Transfer();
    EXPECT_EQ(ReadFile(Base() + "/20050714/IMG_0001_3.JPG"), photo);
    EXPECT_EQ(ReadFile(Base() + "/20050714/IMG_0001.JPG"), older[0]);
    EXPECT_EQ(ReadFile(Base() + "/20050714/IMG_0001_1.JPG"), older[1]);
    EXPECT_EQ(Watcher.RunCounts().Transferred, 1);
    ASSERT_EQ(Watcher.PhotoRecords().size(), 1u);
    EXPECT_TRUE(Watcher.PhotoRecords()[0].Renamed);
    EXPECT_NE(LogText().find("renamed: " + dcim + "/100CANON/IMG_0001.JPG -> " + Base() +
                             "/20050714/IMG_0001_3.JPG"),
              std::string::npos)
        << LogText();
}

/// A decodable camera photo: Make, Model, Orientation and the Exif pointer
/// in IFD0, the thumbnail's entries in IFD1, DateTimeOriginal and the
/// exposure in the Exif directory, then a JPEG picture of a pattern.
std::string CameraPhoto(uint16_t orientation, const std::string& date, int shade, uint32_t exposure = 125)
{
    using namespace exifbuild;
    TIfd ifd0;
    TIfd ifd1;
    TIfd exif;
    ifd0.Entries = {Ascii(0x010F, "TestCam"), Ascii(0x0110, "TestCam 1"), Short(0x0112, {orientation}),
                    Rational(0x011A, {180, 1}), Pointer(0x8769, 2)};
    ifd0.Next = 1;
    ifd1.Entries = {Short(0x0103, {6}), Short(0x0112, {orientation}), Rational(0x011A, {72, 1}),
                    Long(0x0201, {4000}), Long(0x0202, {10})};
    exif.Entries = {Ascii(0x9003, date), Rational(0x829A, {1, exposure})};
    const TBytes segment = ExifSegment(BuildTiff(false, {ifd0, ifd1, exif}));

    TBitmap bmp(48, 32, TPixelFormat::pf24bit);
    for (int y = 0; y < 32; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < 48; ++x) {
            row[3 * x] = static_cast<uint8_t>(shade + x * 3);
            row[3 * x + 1] = static_cast<uint8_t>(30 + y * 5);
            row[3 * x + 2] = static_cast<uint8_t>(128 + 100 * std::sin((x + 2 * y) / 9.0));
        }
    }
    TJPEGImage jpeg;
    jpeg.SetQuality(90);
    jpeg.Assign(&bmp);
    TMemoryStream data;
    jpeg.SaveToStream(data);
    const std::string bytes(reinterpret_cast<const char*>(data.Memory()), static_cast<size_t>(data.Size()));
    return bytes.substr(0, 2) + std::string(segment.begin(), segment.end()) + bytes.substr(2);
}

TEST_F(WatcherTest, TurnedPhotosAreNotTransferredAgain)
{
    RegisterJpegFormats();
    const std::string dcim = AddCard('E');
    // Turned by the camera (6 and 3), mirrored (2), upright (1), the last two
    // sharing a second and a name pattern with the first.
    const std::string turned = CameraPhoto(6, "2005:07:14 10:22:33", 20);
    WriteFile(dcim + "/100CANON/IMG_0001.JPG", turned);
    WriteFile(dcim + "/100CANON/IMG_0002.JPG", CameraPhoto(3, "2005:07:14 10:22:34", 40));
    WriteFile(dcim + "/100CANON/IMG_0003.JPG", CameraPhoto(2, "2005:07:14 10:22:35", 60));
    const std::string upright = CameraPhoto(1, "2005:07:14 10:22:33", 80);
    WriteFile(dcim + "/101CANON/IMG_0001.JPG", upright);
    for (const char* name :
         {"100CANON/IMG_0001.JPG", "100CANON/IMG_0002.JPG", "100CANON/IMG_0003.JPG", "101CANON/IMG_0001.JPG"})
        SetModifiedTime(dcim + "/" + name, 2005, 7, 14, 10);
    Watcher.RealCorrection = true;

    Transfer();
    ASSERT_EQ(Watcher.RunCounts().Transferred, 4);
    ASSERT_EQ(Watcher.RunCounts().Turned, 3);
    EXPECT_NE(ReadFile(Base() + "/20050714/IMG_0001.JPG"), turned) << "saved again, upright";
    EXPECT_EQ(ReadFile(Base() + "/20050714/IMG_0001_1.JPG"), upright);
    const std::vector<std::string> tree = ListTree(Base());
    std::vector<std::string> contents;
    for (const std::string& f : tree)
        contents.push_back(ReadFile(Base() + "/" + f));

    // The same card again, with turning on and off, copying and moving:
    // every photo is found in its day folder, nothing is transferred or written.
    for (const auto& [move, turning] :
         {std::pair{false, true}, std::pair{false, false}, std::pair{true, true}}) {
        SCOPED_TRACE(std::string(move ? "move" : "copy") + (turning ? ", turning" : ""));
        View.MoveMode = move;
        View.CheckBox1IsChecked = turning;
        Watcher.Corrections.clear();
        TransferAgain('E');
        EXPECT_EQ(Watcher.RunCounts().Transferred, 0);
        EXPECT_EQ(Watcher.RunCounts().Failed, 0);
        EXPECT_TRUE(Watcher.Corrections.empty());
        EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
        EXPECT_EQ(ListTree(Base()), tree);
        for (size_t i = 0; i < tree.size(); ++i)
            EXPECT_EQ(ReadFile(Base() + "/" + tree[i]), contents[i]) << tree[i];
        EXPECT_EQ(ListTree(dcim).size(), 4u) << "photos there already stay on the card";
    }

    // Another photo of the same name, shot turned in the same second with the
    // same camera model: with other settings, or another hundredth of a
    // second on the card, it is another photo.
    for (const auto& [exposure, hundredths, name] :
         {std::tuple{250u, 0, "IMG_0001_2.JPG"}, std::tuple{125u, 37, "IMG_0001_3.JPG"}}) {
        WriteFile(dcim + "/102CANON/IMG_0001.JPG", CameraPhoto(8, "2005:07:14 10:22:33", 100, exposure));
        SetModifiedTime(dcim + "/102CANON/IMG_0001.JPG", 2005, 7, 14, 10);
        if (hundredths != 0)
            SetModifiedFraction(dcim + "/102CANON/IMG_0001.JPG", hundredths * 10000000L);
        View.MoveMode = false;
        View.CheckBox1IsChecked = false;
        TransferAgain('E');
        EXPECT_EQ(Watcher.RunCounts().Transferred, 1) << name;
        EXPECT_TRUE(PathExists(Base() + "/20050714/" + name));
        std::filesystem::remove(dcim + "/102CANON/IMG_0001.JPG");
    }
}

TEST_F(WatcherTest, AWriteProtectedCardKeepsThePhotoAndTheImportCounts)
{
    const std::string dcim = AddCard('E');
    const std::string a = AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    const std::string b = AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2));
    const TResult readOnly = TResult::Fail(TFailure::Access, dcim + "/a.jpg", "Read-only file system", 30);
    Platform.KeepSourceOf(dcim + "/a.jpg", readOnly);
    View.MoveMode = true;

    Transfer();
    EXPECT_EQ(ReadFile(Base() + "/20050714/a.jpg"), a);
    EXPECT_EQ(ReadFile(dcim + "/a.jpg"), a) << "the card kept it";
    EXPECT_FALSE(PathExists(dcim + "/b/b.jpg"));
    EXPECT_EQ(Watcher.RunCounts().Transferred, 2);
    EXPECT_EQ(Watcher.RunCounts().Failed, 0);
    EXPECT_EQ(View.Label1, "Übertragung beendet");
    const auto& records = Watcher.PhotoRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Outcome, TPhotoOutcome::Transferred);
    EXPECT_EQ(records[0].KeptOnCard.Text(), readOnly.Text());
    EXPECT_TRUE(records[1].KeptOnCard);
    const std::string log = LogText();
    EXPECT_NE(log.find("stayed on the card: " + dcim + "/a.jpg -> " + Base() +
                       "/20050714/a.jpg: Read-only file system: " + dcim + "/a.jpg"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("run ended: 2 transferred (0 renamed, 1 stayed on the card)"), std::string::npos)
        << log;

    // The next run finds it there and leaves it.
    TransferAgain('E');
    EXPECT_EQ(Watcher.RunCounts().Transferred, 0);
    EXPECT_EQ(View.Label1, "Keine neuen Fotos vorhanden");
}

TEST_F(WatcherTest, ADocumentsFolderOnADiskThatIsNotAttachedTakesNoPhoto)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2));
    std::filesystem::create_directories(Tmp / "media/ext"); // the disk's empty mount point
    Platform.SetDocumentsFolder(Tmp / "media/ext/Documents");

    for (const bool move : {false, true}) {
        View.MoveMode = move;
        TransferAgain('E');
        EXPECT_EQ(Watcher.RunCounts().Transferred, 0) << move;
        EXPECT_EQ(Watcher.RunCounts().Failed, 2) << move;
        EXPECT_EQ(View.Panels[0], "2 Fotos nicht übertragen") << move;
        EXPECT_TRUE(ListTree(Tmp / "media").empty()) << move;
        EXPECT_EQ(ListTree(dcim).size(), 2u) << move;
        for (const TPhotoRecord& record : Watcher.PhotoRecords())
            EXPECT_EQ(record.Reason.Kind(), TFailure::Unavailable) << record.Reason.Text();
    }
    EXPECT_NE(LogText().find("failed: " + dcim + "/a.jpg -> " + Tmp.Path() +
                             "/media/ext/Documents/Eigene Bilder/20050714/a.jpg: the folder is missing"),
              std::string::npos)
        << LogText();
}

TEST_F(WatcherTest, LeftOversOfAnInterruptedRunGoFromTheFoldersARunWritesTo)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    WriteFile(Base() + "/20050714/.fotoimport-k1Lled", "a torn copy");
    WriteFile(Base() + "/20050714/.fotoimport-4ll0ne", "a whole one");
    WriteFile(Base() + "/20060101/.fotoimport-0ther0", "not written to by this run");

    Transfer();
    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/a.jpg", "20060101/.fotoimport-0ther0"}));
    EXPECT_NE(LogText().find("removed 2 left-over temporary files of an interrupted run in " + Base() +
                             "/20050714"),
              std::string::npos)
        << LogText();
}

TEST_F(WatcherTest, PhotosBegunAndNotYetNamedAreInHand)
{
    // A device holds the run while it reads the third photo; the copies before it may still wait in their
    // group, unnamed. The photos in hand, which the log names when the program ends without waiting for the
    // device, are exactly those begun and not named: the held one and every copy still a temporary file.
    const std::string dcim = AddCard('E');
    std::vector<std::string> photos;
    for (unsigned i = 1; i <= 5; ++i) {
        photos.push_back(dcim + "/IMG_" + std::to_string(i) + ".JPG");
        AddPhoto(dcim, "IMG_" + std::to_string(i) + ".JPG", Dated("2005:07:14 10:22:33", i));
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool released = false;
    TRunTools tools;
    tools.Reader = [&](const std::string& photo, TStringList& list) {
        if (photo == photos[2]) {
            std::unique_lock lock(mutex);
            held = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
        return ReadExifInfo(photo, list);
    };
    struct : TRunProgress
    {
        void PhotoRead(bool) override {}
        void PhotoDone(const TRunCounts&) override {}
        void TurnEnded(const TRunCounts&) override {}
    } progress;
    TImportLog log(Platform);
    TTransferRun run(Platform, log, progress, TRunOptions{false, true}, tools);
    std::thread thread([&] { run.Run(dcim, photos); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return held; }));
    }
    int named = 0;
    int temporaries = 0;
    for (const std::string& file : ListTree(Base()))
        ++(file.find("/.fotoimport-") != std::string::npos ? temporaries : named);
    const int started = run.Started();
    const int completed = run.Completed();
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    thread.join();
    EXPECT_EQ(started, 3);
#ifndef _WIN32
    // Linux stages each copy in a temporary until its group is named; Windows copies when a copy is named.
    EXPECT_EQ(named + temporaries, 2);
    EXPECT_EQ(started - completed, 1 + temporaries);
#else
    EXPECT_EQ(named + temporaries, 0);
    EXPECT_EQ(started - completed, 3);
#endif
    EXPECT_EQ(run.Completed(), 5);
    EXPECT_EQ(ListTree(Base()).size(), 5u);
}

TEST_F(WatcherTest, TheWindowsNumbersAndTheLogAccountForEveryPhoto)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "1.jpg", Dated("2005:07:14 10:00:00", 1, {6}));   // turned
    AddPhoto(dcim, "a/2.jpg", Dated("2005:07:14 10:00:01", 2, {6})); // cannot be turned
    AddPhoto(dcim, "a/b/3.jpg", Dated("2005:07:14 10:00:02", 3));    // fails
    AddPhoto(dcim, "a/b/c/1.jpg", Dated("2005:07:14 10:00:03", 4));  // renamed
    const std::string same = AddPhoto(dcim, "a/b/c/d/5.jpg", Dated("2005:07:14 10:00:04", 5));
    WriteFile(Base() + "/20050714/5.jpg", same); // there already
    const TResult full =
        TResult::Fail(TFailure::NoSpace, Base() + "/20050714/3.jpg", "No space left on device", 28);
    Platform.FailTransferOf(dcim + "/a/b/3.jpg", full);
    const TResult damaged =
        TResult::Fail(TFailure::Damaged, Base() + "/20050714/2.jpg", "Premature end of JPEG file");
    Watcher.CorrectionOutcome = TCorrectionOutcome::Corrected;
    Watcher.CorrectionFor[Base() + "/20050714/2.jpg"] = {TCorrectionOutcome::Failed, damaged};
    Platform.SetStderrIsTerminal(true);

    testing::internal::CaptureStderr();
    Transfer();
    const std::string echoed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Watcher.RunCounts().Transferred, 3);
    EXPECT_EQ(Watcher.RunCounts().Turned, 1);
    EXPECT_EQ(Watcher.RunCounts().NotTurned, 1);
    EXPECT_EQ(Watcher.RunCounts().Failed, 1);
    EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
    EXPECT_EQ(View.Panels[0], "1 Fotos nicht übertragen");
    EXPECT_EQ(View.Panels[1], "1 gedreht, 1 nicht gedreht");
    EXPECT_EQ(View.TrayHint, "Fehler bei der Übertragung");

    const std::string log = LogText();
    const std::string lines[] = {
        "run started: card " + dcim + ", copy, 5 photos listed, target " + Base(),
        "not turned: " + dcim + "/a/2.jpg -> " + Base() +
            "/20050714/2.jpg: Premature end of JPEG file: " + Base() + "/20050714/2.jpg",
        "failed: " + dcim + "/a/b/3.jpg -> " + Base() +
            "/20050714/3.jpg: No space left on device: " + Base() + "/20050714/3.jpg",
        "renamed: " + dcim + "/a/b/c/1.jpg -> " + Base() +
            "/20050714/1_1.jpg: its own name holds another photo",
        "run ended: 3 transferred (1 renamed, 0 stayed on the card), 1 turned, 1 not turned, 1 already "
        "there, "
        "1 failed",
        "card must not be formatted: 1 of 5 files stay on the card; failed: 1 x no space left",
    };
    // The run's first and last lines frame the photos' lines, which come as
    // each photo is done: a turn may end after later photos are copied. The
    // card's verdict follows.
    const size_t started = log.find(lines[0]);
    const size_t ended = log.find(lines[4]);
    EXPECT_LT(started, log.find('\n')) << "the first line\n" << log;
    ASSERT_NE(ended, std::string::npos) << log;
    EXPECT_EQ(log.find(lines[5]), log.find('\n', ended) + 21) << "the verdict last\n" << log;
    for (const std::string& line : std::span(lines).subspan(1, 3)) {
        const size_t found = log.find(line);
        EXPECT_NE(found, std::string::npos) << line << "\n--- in the log ---\n" << log;
        EXPECT_GT(found, started) << line;
        EXPECT_LT(found, ended) << line;
    }
    // Each line starts with the local date and time.
    const std::regex stamped("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [a-z].*");
    std::istringstream in(log);
    int count = 0;
    for (std::string line; std::getline(in, line); ++count)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_EQ(count, 6) << log;
    EXPECT_EQ(log.find("5.jpg"), std::string::npos) << "a photo that arrived as expected has no line";
    EXPECT_EQ(echoed, log) << "a terminal sees the same lines";

    // Without a terminal the lines go to the log alone.
    Platform.SetStderrIsTerminal(false);
    testing::internal::CaptureStderr();
    TransferAgain('E');
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(WatcherTest, ACardWhoseDcimLeadsOutsideItIsNoCamera)
{
    const std::string root = Tmp / "vol_E";
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(Tmp / "home/Pictures");
    WriteFile(Tmp / "home/Pictures/mine.jpg", BuildExifJpeg(Dated("2005:07:14 10:22:33")));
    std::error_code noLink;
    std::filesystem::create_directory_symlink(Tmp / "home/Pictures", root + "/DCIM", noLink);
    if (noLink)
        GTEST_SKIP() << "no folder links here (Wine makes none): " << noLink.message();
    Platform.AddDrive('E', root);
    View.MoveMode = true;

    Watcher.Tick();
    EXPECT_FALSE(Watcher.CameraFound());
    EXPECT_FALSE(Watcher.OfferVolume(root));
    Watcher.Transfer();
    EXPECT_TRUE(PathExists(Tmp / "home/Pictures/mine.jpg"));
    EXPECT_FALSE(PathExists(Base()));
}

} // namespace
