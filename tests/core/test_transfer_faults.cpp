#include "meta/phJpegInfo.h"
#include "platform/SysUtils.h"
#include "tests/core/WatcherFixture.h"

#include <algorithm>
#include <filesystem>

namespace {

/// Every file below the scratch folder that is neither on a card nor below TargetBase.
std::vector<std::string> StrayFiles(const TTempDir& tmp)
{
    std::vector<std::string> stray;
    for (const std::string& f : ListTree(tmp.Path())) {
        if (f.rfind("vol_", 0) != 0 && f.rfind("home/Documents/Eigene Bilder/", 0) != 0)
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
    EXPECT_EQ(Watcher.DayFolder(), Base() + "/20150910");
    EXPECT_EQ(Watcher.TransferredCount(), 6);
    EXPECT_EQ(Watcher.FailedCount(), 0);
}

TEST_F(WatcherTest, MissingTargetFoldersAreCreatedAndUncreatableOnesFailVisibly)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:15 10:22:33", 2));
    ASSERT_FALSE(PathExists(Tmp / "home"));

    Transfer();
    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/a.jpg", "20050715/b.jpg"}));

    // Documents is a file: nothing can be made, every photo fails and says so.
    Platform.SetDocumentsFolder(Tmp / "blocked");
    WriteFile(Tmp / "blocked", "not a folder");
    Watcher.Button1Click();
    Platform.SetReady('E', false);
    Watcher.Timer1Timer();
    Platform.SetReady('E', true);
    Transfer();
    EXPECT_EQ(Watcher.TransferredCount(), 0);
    EXPECT_EQ(Watcher.FailedCount(), 2);
    EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
    EXPECT_EQ(View.Panels[0], "2 Fotos nicht übertragen");
    EXPECT_EQ(View.TrayHint, "Fehler bei der Übertragung");
    EXPECT_EQ(View.Caption, "Übertragung beendet");

    // No documents folder at all: nothing is written anywhere.
    Platform.SetDocumentsFolder("");
    Watcher.Button1Click();
    Platform.SetReady('E', false);
    Watcher.Timer1Timer();
    Platform.SetReady('E', true);
    Transfer();
    EXPECT_EQ(Watcher.TargetBase(), "/Eigene Bilder");
    EXPECT_EQ(Watcher.FailedCount(), 2);
    EXPECT_FALSE(PathExists("/Eigene Bilder"));
    EXPECT_TRUE(PathExists(dcim + "/a.jpg"));
}

TEST_F(WatcherTest, MoveWhoseCopyBreaksOffLeavesThePhotoOnTheCardAndNoPartialFile)
{
    const std::string dcim = AddCard('E');
    TExifPhoto big = Dated("2005:07:14 10:22:33", 1);
    big.BodySize = 300000;
    const std::string bytes = AddPhoto(dcim, "a.jpg", big);
    View.MoveMode = true;

    struct TCase
    {
        const char* Name;
        TPlatformOptions Options;
    };
    TPlatformOptions halfWay;
    halfWay.ForceCrossDeviceMove = true;
    halfWay.FailCopyAfterBytes = 100000;
    TPlatformOptions badReadBack;
    badReadBack.ForceCrossDeviceMove = true;
    badReadBack.CorruptReadBack = true;
    for (const TCase& c : {TCase{"copy breaks off", halfWay}, TCase{"read-back differs", badReadBack}}) {
        Platform.SetOptions(c.Options);
        Watcher.Button1Click();
        Platform.SetReady('E', false);
        Watcher.Timer1Timer();
        Platform.SetReady('E', true);
        Transfer();
        EXPECT_EQ(ReadFile(dcim + "/a.jpg"), bytes) << c.Name;
        EXPECT_TRUE(ListTree(Base()).empty()) << c.Name;
        EXPECT_EQ(Watcher.FailedCount(), 1) << c.Name;
        EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet") << c.Name;
    }

    // The same move across file systems without a fault goes through.
    TPlatformOptions crossDevice;
    crossDevice.ForceCrossDeviceMove = true;
    Platform.SetOptions(crossDevice);
    Watcher.Button1Click();
    Platform.SetReady('E', false);
    Watcher.Timer1Timer();
    Platform.SetReady('E', true);
    Transfer();
    EXPECT_FALSE(PathExists(dcim + "/a.jpg"));
    EXPECT_EQ(ReadFile(Base() + "/20050714/a.jpg"), bytes);
    EXPECT_EQ(View.Label1, "Übertragung beendet");
}

TEST_F(WatcherTest, CopyThatBreaksOffLeavesNoFileAndIsCountedAsFailed)
{
    const std::string dcim = AddCard('E');
    TExifPhoto big = Dated("2005:07:14 10:22:33", 1);
    big.BodySize = 200000;
    AddPhoto(dcim, "a.jpg", big);
    const std::string small = AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2));
    TPlatformOptions options;
    options.FailCopyAfterBytes = 65536;
    Platform.SetOptions(options);

    Transfer();
    EXPECT_EQ(ListTree(Base()), std::vector<std::string>{"20050714/b.jpg"})
        << "the small photo fits below the fault, the large one leaves nothing";
    EXPECT_EQ(ReadFile(Base() + "/20050714/b.jpg"), small);
    EXPECT_EQ(Watcher.TransferredCount(), 1);
    EXPECT_EQ(Watcher.FailedCount(), 1);
    EXPECT_EQ(View.Panels[0], "1 Fotos nicht übertragen");
    EXPECT_EQ(View.TrayHint, "Fehler bei der Übertragung");
}

TEST_F(WatcherTest, CopiesWhoseNamesCannotBeMadeDurableAreReportedAsFailed)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2));
    TPlatformOptions options;
    options.FailFolderFlush = true;
    Platform.SetOptions(options);

    Transfer();
    EXPECT_EQ(Watcher.FailedCount(), 2);
    EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
    EXPECT_EQ(View.Panels[0], "2 Fotos nicht übertragen");
}

TEST_F(WatcherTest, OneBadPhotoDoesNotStopTheRun)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "1.jpg", Dated("2005:07:14 10:22:33", 1));
    AddPhoto(dcim, "a/2.jpg", Dated("2005:07:15 10:22:33", 2, {6}));
    AddPhoto(dcim, "a/b/3.jpg", Dated("2005:07:16 10:22:33", 3));
    AddPhoto(dcim, "a/b/c/4.jpg", Dated("2005:07:17 10:22:33", 4));
    SetModifiedTime(dcim + "/a/2.jpg", 2011, 1, 2);
    Platform.FailTransferOf(dcim + "/a/b/3.jpg");
    Watcher.Timer1Timer();
    // The last photo disappears between listing and transfer.
    ASSERT_EQ(::unlink((dcim + "/a/b/c/4.jpg").c_str()), 0);
    Watcher.ReadHook = [&](const std::string& photo, TStringList& list) {
        if (photo == dcim + "/a/2.jpg")
            throw EReadError();
        return ReadExifInfo(photo, list);
    };
    Watcher.Button2Click();

    EXPECT_EQ(ListTree(Base()), (std::vector<std::string>{"20050714/1.jpg", "20110102/2.jpg"}));
    EXPECT_EQ(Watcher.TransferredCount(), 2);
    EXPECT_EQ(Watcher.FailedCount(), 2);
    EXPECT_TRUE(Watcher.Corrections.empty()) << "an unreadable photo has no orientation";
    EXPECT_EQ(View.Label1, "Übertragung mit Fehlern beendet");
    EXPECT_EQ(View.Panels[0], "2 Fotos nicht übertragen");
    EXPECT_TRUE(Watcher.CameraHandled());
    EXPECT_FALSE(View.Timer1Enabled);
}

TEST_F(WatcherTest, MalformedOrientationValuesTurnNothing)
{
    const std::string dcim = AddCard('E');
    AddPhoto(dcim, "a.jpg", Dated("2005:07:14 10:22:33", 1, {6, 1}));
    AddPhoto(dcim, "b/b.jpg", Dated("2005:07:14 10:22:34", 2, {16}));
    Watcher.CorrectionOutcome = TCorrectionOutcome::Corrected;

    Transfer();
    EXPECT_TRUE(Watcher.Corrections.empty());
    EXPECT_EQ(Watcher.PhotoOrientation(), 0);
    EXPECT_EQ(View.CheckBox1Caption, "Bilder werden gedreht");
    EXPECT_EQ(Watcher.TransferredCount(), 2);
}

} // namespace
