// What only the Windows platform and file stream do, against the real Win32
// calls (run under Wine by the cross build); what every platform promises is
// in test_platform_contract.cpp. Paths are built with backslashes, as the
// program builds them on Windows, and reach the system through their wide
// form. What Wine does not have (junctions and links) is tested where the
// system can make them, and skipped otherwise.
#include "base/Classes.h"
#include "base/SysUtils.h"
#include "platform/FileStream.h"
#include "platform/Platform.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>
#include <windows.h>
#include <winioctl.h>

namespace fs = std::filesystem;

namespace {

/// A temporary folder whose paths use the Windows separator.
class TWinDir
{
public:
    /// root joined with a relative path written with '/'.
    std::string operator/(std::string relative) const
    {
        std::replace(relative.begin(), relative.end(), '/', '\\');
        return FDir.Path() + "\\" + relative;
    }
    const std::string& Path() const { return FDir.Path(); }

private:
    TTempDir FDir;
};

bool SetAttribute(const std::string& path, DWORD attribute, bool on)
{
    const DWORD now = ::GetFileAttributesW(FsPath(path).c_str());
    return now != INVALID_FILE_ATTRIBUTES &&
           ::SetFileAttributesW(FsPath(path).c_str(), on ? now | attribute : now & ~attribute) != 0;
}

bool HasAttribute(const std::string& path, DWORD attribute)
{
    const DWORD now = ::GetFileAttributesW(FsPath(path).c_str());
    return now != INVALID_FILE_ATTRIBUTES && (now & attribute) != 0;
}

/// Whether another program could open path for writing right now.
bool OthersMayWrite(const std::string& path)
{
    HANDLE h = ::CreateFileW(FsPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
}

/// The creation, access and modification times of path in 100-nanosecond steps.
std::tuple<uint64_t, uint64_t, uint64_t> FileTimes(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(FsPath(path).c_str(), GetFileExInfoStandard, &data);
    const auto ticks = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return {ticks(data.ftCreationTime), ticks(data.ftLastAccessTime), ticks(data.ftLastWriteTime)};
}

bool SetFileTimes(const std::string& path, uint64_t created, uint64_t accessed, uint64_t written)
{
    HANDLE h = ::CreateFileW(FsPath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const auto time = [](uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; };
    const FILETIME c = time(created);
    const FILETIME a = time(accessed);
    const FILETIME w = time(written);
    const bool set = ::SetFileTime(h, &c, &a, &w) != 0;
    ::CloseHandle(h);
    return set;
}

/// Turns the empty folder link into a junction to the folder target, as any
/// user may make one; false where the system has no junctions.
bool MakeJunction(const std::string& link, const std::string& target)
{
    if (!::CreateDirectoryW(FsPath(link).c_str(), nullptr))
        return false;
    HANDLE h = ::CreateFileW(FsPath(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // The reparse data of a mount point: the target's NT name, then an empty display name.
    const std::wstring name = L"\\??\\" + FsPath(target).wstring();
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<char> buffer(16 + nameBytes + 2 * sizeof(wchar_t), 0);
    const auto put16 = [&](size_t at, size_t value) {
        const WORD v = static_cast<WORD>(value);
        std::memcpy(buffer.data() + at, &v, sizeof v);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof tag);
    put16(4, buffer.size() - 8); // data length
    put16(8, 0);                 // substitute name: offset, length
    put16(10, nameBytes);
    put16(12, nameBytes + sizeof(wchar_t)); // print name: offset, length
    put16(14, 0);
    std::memcpy(buffer.data() + 16, name.data(), nameBytes);
    DWORD returned = 0;
    const bool made =
        ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                          nullptr, 0, &returned, nullptr) != 0;
    ::CloseHandle(h);
    if (!made)
        ::RemoveDirectoryW(FsPath(link).c_str());
    return made && HasAttribute(link, FILE_ATTRIBUTE_REPARSE_POINT);
}

/// The user's profile folder as the system names it.
std::string ProfileFolder()
{
    const char* profile = std::getenv("USERPROFILE");
    return profile != nullptr ? profile : "";
}

TEST(WindowsPlatform, DriveLettersNameTheirRootsAndOnlyMountedDrivesAreReady)
{
    auto platform = CreatePlatform();
    EXPECT_EQ(platform->DriveRoot('K'), "K:\\");
    EXPECT_EQ(platform->DriveRoot('e'), "E:\\");
    EXPECT_EQ(platform->DriveRoot('$'), "");
    EXPECT_EQ(platform->DriveRoot('1'), "");

    const char* systemDrive = std::getenv("SystemDrive");
    ASSERT_NE(systemDrive, nullptr);
    EXPECT_TRUE(platform->DriveIsReady(systemDrive[0]));
    EXPECT_TRUE(platform->DriveIsReady(static_cast<char>(std::tolower(systemDrive[0]))));
    const DWORD mounted = ::GetLogicalDrives();
    int unmounted = 0;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        if ((mounted & (1u << (letter - 'A'))) == 0) {
            EXPECT_FALSE(platform->DriveIsReady(letter)) << letter;
            ++unmounted;
        }
    }
    EXPECT_GT(unmounted, 0);
    EXPECT_FALSE(platform->DriveIsReady('$'));
}

TEST(WindowsPlatform, NamesTakeBothSlashesDriveColonsAndTheSystemsCleanUp)
{
    TWinDir tmp;
    auto platform = CreatePlatform();
    WriteFile(tmp / "f.jpg", "x");
    fs::create_directories(FsPath(tmp / "card/DCIM"));
    EXPECT_EQ(platform->ExtractFileName("K:IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->ExtractFileName("K:\\DCIM/IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->JoinPath("K:\\", "DCIM"), "K:\\DCIM");
    EXPECT_TRUE(platform->CardFolderExists(tmp / "card", "dcim")) << "names without regard to case";
    EXPECT_FALSE(platform->CardFolderExists(tmp / "card", "DCIM:stream"));
    EXPECT_TRUE(platform->ForceDirectories(tmp.Path() + "/x/y"));
    EXPECT_TRUE(fs::is_directory(FsPath(tmp / "x/y")));

    // The long-path prefix turns the system's clean-up of names off; the platform does it first.
    for (const std::string& name : {tmp.Path() + "/f.jpg", tmp / "x/../f.jpg", tmp / "./f.jpg",
                                    tmp / "f.jpg.", tmp / "f.jpg ", tmp / "x\\\\y\\..\\..\\f.jpg"}) {
        EXPECT_TRUE(platform->FileExists(name)) << name;
        EXPECT_EQ(ReadFile(tmp / "f.jpg"), "x");
    }
    EXPECT_TRUE(platform->CopyNoOverwrite(tmp / "x/../f.jpg", tmp.Path() + "/x/y/g.jpg"));
    EXPECT_EQ(ReadFile(tmp / "x/y/g.jpg"), "x");

    // 2005-07-14 00:53:20.3700001 UTC, in the system's 100-nanosecond steps since 1601.
    const uint64_t written = (uint64_t{1121302400} + 11644473600u) * 10000000u + 3700001u;
    ASSERT_TRUE(SetFileTimes(tmp / "f.jpg", written, written, written));
    int64_t seconds = 0;
    int part = 0;
    ASSERT_TRUE(platform->FileModifiedTime(tmp / "f.jpg", seconds, part));
    EXPECT_EQ(seconds, 1121302400);
    EXPECT_EQ(part, 370000100);
}

TEST(WindowsPlatform, AttributesStayWithTheCardAndWithTheReplacedPhoto)
{
    TWinDir tmp;
    auto platform = CreatePlatform();
    // Hidden and read-only photos and hidden folders are searched like any other.
    for (const char* name : {"DCIM/top.jpg", "DCIM/hidden.jpg", "DCIM/thumbs/t.jpg"})
        WriteFile(tmp / name, name);
    ASSERT_TRUE(SetAttribute(tmp / "DCIM/hidden.jpg", FILE_ATTRIBUTE_HIDDEN, true));
    ASSERT_TRUE(SetAttribute(tmp / "DCIM/thumbs", FILE_ATTRIBUTE_HIDDEN, true));
    ASSERT_TRUE(SetAttribute(tmp / "DCIM/top.jpg", FILE_ATTRIBUTE_READONLY, true));
    TStringList list;
    platform->FindFiles(tmp / "DCIM", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 3);

    // A photo protected in the camera is read-only on the card; its copy is an
    // ordinary file the user may change, and the card's hidden mark stays behind.
    WriteFile(tmp / "card/p.jpg", "protected");
    ASSERT_TRUE(SetAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true));
    const TResult copied = platform->CopyNoOverwrite(tmp / "card/p.jpg", tmp / "p.jpg");
    EXPECT_TRUE(copied) << copied.Text();
    EXPECT_EQ(ReadFile(tmp / "p.jpg"), "protected");
    EXPECT_FALSE(HasAttribute(tmp / "p.jpg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(OthersMayWrite(tmp / "p.jpg"));
    EXPECT_TRUE(HasAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY)) << "the card's photo is untouched";

    // A replaced photo keeps its marks and all three times, each with a part of a second.
    const std::string target = tmp / "day/a.jpg";
    WriteFile(target, "old contents");
    const uint64_t base = uint64_t{11644473600} * 10000000u;
    const uint64_t created = base + uint64_t{1000000000} * 10000000u + 1234567u;
    const uint64_t accessed = base + uint64_t{1073700000} * 10000000u + 7654321u;
    const uint64_t written = base + uint64_t{1120000000} * 10000000u + 9876543u;
    ASSERT_TRUE(SetFileTimes(target, created, accessed, written));
    ASSERT_TRUE(SetAttribute(target, FILE_ATTRIBUTE_HIDDEN, true));
    // Wine on Linux cannot keep a creation time; Windows can.
    const bool keepsCreation = std::get<0>(FileTimes(target)) == created;
    const TDataPiece fresh[] = {{"new", 3}};
    const TResult replaced = platform->ReplaceFileContents(target, fresh);
    ASSERT_TRUE(replaced) << replaced.Text();
    const auto [c, a, w] = FileTimes(target); // before reading it sets the access time
    if (keepsCreation) {
        EXPECT_EQ(c, created);
    }
    EXPECT_EQ(a, accessed);
    EXPECT_EQ(w, written);
    EXPECT_TRUE(HasAttribute(target, FILE_ATTRIBUTE_HIDDEN));
    WriteFile(tmp / "day/r.jpg", "old");
    ASSERT_TRUE(SetAttribute(tmp / "day/r.jpg", FILE_ATTRIBUTE_READONLY, true));
    if (platform->ReplaceFileContents(tmp / "day/r.jpg", fresh)) {
        EXPECT_EQ(ReadFile(tmp / "day/r.jpg"), "new");
        EXPECT_TRUE(HasAttribute(tmp / "day/r.jpg", FILE_ATTRIBUTE_READONLY)) << "a read-only photo stays so";
    } else {
        EXPECT_EQ(ReadFile(tmp / "day/r.jpg"), "old") << "refused, and unchanged";
    }
    for (const char* name : {"DCIM/top.jpg", "card/p.jpg", "day/r.jpg"})
        SetAttribute(tmp / name, FILE_ATTRIBUTE_READONLY, false);
    EXPECT_EQ(ListTree(tmp / "day"), (std::vector<std::string>{"a.jpg", "r.jpg"}))
        << "no temporary file remains";
}

TEST(WindowsPlatform, JunctionsLeadNowhere)
{
    TWinDir tmp;
    const std::string card = tmp / "card";
    fs::create_directories(card + "\\DCIM\\100A");
    WriteFile(card + "\\DCIM\\100A\\IMG_1.JPG", "photo");
    WriteFile(tmp / "pictures/private.jpg", "not the card's");
    if (!MakeJunction(card + "\\LINKED", tmp / "pictures"))
        GTEST_SKIP() << "this system makes no junctions";
    ASSERT_TRUE(MakeJunction(card + "\\DCIM\\100A\\loop", card + "\\DCIM"));
    ASSERT_TRUE(MakeJunction(card + "\\DCIM\\101B", tmp / "pictures"));
    auto platform = CreatePlatform();

    EXPECT_FALSE(platform->CardFolderExists(card, "LINKED"));
    EXPECT_TRUE(platform->CardFolderExists(card, "DCIM"));
    TStringList list;
    platform->FindFiles(card + "\\DCIM", "*.jpg", list, true, true);
    EXPECT_EQ(list.Items(), std::vector<std::string>{card + "\\DCIM\\100A\\IMG_1.JPG"})
        << "junctions are neither listed nor entered";
    platform->FindFiles(card + "\\LINKED", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0) << "a junction as the folder itself";

    // Inside the profile, a junction to a folder outside it does not carry a new folder there.
    const std::string profile = ProfileFolder();
    ASSERT_FALSE(profile.empty());
    const std::string outside = "C:\\fotoimport-outside-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(FsPath(outside).c_str(), nullptr));
    const bool linked = MakeJunction(tmp / "linkout", outside);
    const TResult made = platform->ForceUserFolder(tmp / "linkout/Docs");
    const bool madeOutside = PathExists(outside + "\\Docs");
    ::RemoveDirectoryW(FsPath(tmp / "linkout").c_str());
    fs::remove_all(outside);
    ASSERT_TRUE(linked);
    EXPECT_EQ(made.Kind(), TFailure::Unavailable) << made.Text();
    EXPECT_FALSE(madeOutside);
}

TEST(WindowsPlatform, UserFoldersAreMadeOnlyInsideTheProfile)
{
    // The temporary folder lies inside the user's profile, a new folder at
    // the system drive's root outside it.
    TWinDir tmp;
    const std::string profile = ProfileFolder();
    ASSERT_FALSE(profile.empty());
    ASSERT_EQ(tmp.Path().rfind(profile + "\\", 0), 0u) << tmp.Path() << " is not inside " << profile;
    const std::string outside = "C:\\fotoimport-outside-" + std::to_string(::GetCurrentProcessId());
    WriteFile(tmp / "file", "x");
    auto platform = CreatePlatform();

    struct TCase
    {
        std::string Path;
        TFailure Kind;
        std::string Made; ///< the folder that exists afterwards, or is not made
    };
    const TCase cases[] = {
        {tmp / "Documents", TFailure::None, tmp / "Documents"},
        {tmp / "a/b/c/", TFailure::None, tmp / "a/b/c"},
        {tmp.Path() + "/d/e", TFailure::None, tmp / "d/e"},
        {profile, TFailure::None, profile}, // there already
        {tmp.Path(), TFailure::None, tmp.Path()},
        {outside + "\\Docs", TFailure::Unavailable, outside},
        {profile + "\\..\\escape\\Docs", TFailure::Unavailable, profile + "\\..\\escape"},
        {tmp / "new/../../../../../escape", TFailure::Unavailable, tmp / "new"},
        {tmp / "file/Docs", TFailure::NotFound, tmp / "file/Docs"},
        {"relative\\Docs", TFailure::Unavailable, "relative"},
        {"", TFailure::Unavailable, ""},
    };
    for (const TCase& c : cases) {
        const TResult r = platform->ForceUserFolder(c.Path);
        EXPECT_EQ(r.Kind(), c.Kind) << c.Path << ": " << r.Text();
        if (c.Kind == TFailure::None) {
            EXPECT_TRUE(platform->DirectoryExists(c.Made)) << c.Path;
        } else if (!c.Made.empty()) {
            EXPECT_FALSE(PathExists(c.Made)) << c.Path << ": nothing is made";
        }
    }
}

/// A folder on another file system than the temporary folder: under Wine the
/// drive Z: is the Unix root, and its /dev/shm lies in memory. Removed with its
/// contents when the object goes.
class TOtherDrive
{
public:
    TOtherDrive()
        : FPath("Z:\\dev\\shm\\fotoimport-card-" + std::to_string(::GetCurrentProcessId()))
    {
        FMade = ::CreateDirectoryW(FsPath(FPath).c_str(), nullptr) != 0;
    }
    ~TOtherDrive()
    {
        std::error_code ignored;
        if (FMade) {
            for (const auto& entry : fs::directory_iterator(FPath, ignored))
                ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
            fs::remove_all(FPath, ignored);
        }
    }
    TOtherDrive(const TOtherDrive&) = delete;
    TOtherDrive& operator=(const TOtherDrive&) = delete;

    /// Whether the folder is there and a move from it to folder must copy.
    bool IsOtherThan(const std::string& folder) const
    {
        if (!FMade)
            return false;
        const std::string probe = FPath + "\\probe";
        WriteFile(probe, "p");
        const bool other = !::MoveFileExW(FsPath(probe).c_str(), FsPath(folder + "\\probe").c_str(), 0) &&
                           ::GetLastError() == ERROR_NOT_SAME_DEVICE;
        ::DeleteFileW(FsPath(probe).c_str());
        ::DeleteFileW(FsPath(folder + "\\probe").c_str());
        return other;
    }
    std::string operator/(const std::string& name) const { return FPath + "\\" + name; }

private:
    std::string FPath;
    bool FMade = false;
};

TEST(WindowsPlatform, MoveBetweenDrivesCopiesVerifiesAndRemovesAndAProtectedPhotoStays)
{
    TWinDir tmp;
    TOtherDrive card;
    if (!card.IsOtherThan(tmp.Path()))
        GTEST_SKIP() << "no second file system at hand";
    const std::string photo = PatternBytes((size_t{2} << 20) + 999, 9); // the last compare chunk is short
    WriteFile(card / "a.jpg", photo);
    SetModifiedTime(card / "a.jpg", 2005, 7, 14);
    const uint64_t written = std::get<2>(FileTimes(card / "a.jpg"));
    auto platform = CreatePlatform();

    const TResult moved = platform->MovePhoto(card / "a.jpg", tmp / "a.jpg");
    ASSERT_TRUE(moved) << moved.Text();
    EXPECT_FALSE(PathExists(card / "a.jpg"));
    EXPECT_EQ(ReadFile(tmp / "a.jpg"), photo);
    EXPECT_EQ(std::get<2>(FileTimes(tmp / "a.jpg")), written);

    // Another drive never gets a replaced file either.
    WriteFile(card / "a.jpg", "second");
    EXPECT_EQ(platform->MovePhoto(card / "a.jpg", tmp / "a.jpg").Kind(), TFailure::Exists);
    EXPECT_EQ(ReadFile(card / "a.jpg"), "second");
    EXPECT_EQ(ReadFile(tmp / "a.jpg"), photo);

    // A photo protected in the camera cannot leave the card: a caller that
    // takes a kept source gets the verified copy and the reason, any other
    // caller a failure and no copy.
    WriteFile(card / "p.jpg", photo);
    ASSERT_TRUE(SetAttribute(card / "p.jpg", FILE_ATTRIBUTE_READONLY, true));
    TResult kept;
    const TResult copiedOnly = platform->MovePhoto(card / "p.jpg", tmp / "p.jpg", &kept);
    EXPECT_TRUE(copiedOnly) << copiedOnly.Text();
    EXPECT_EQ(kept.Kind(), TFailure::Access) << kept.Text();
    EXPECT_EQ(kept.Path(), card / "p.jpg");
    EXPECT_EQ(ReadFile(card / "p.jpg"), photo);
    EXPECT_EQ(ReadFile(tmp / "p.jpg"), photo);
    EXPECT_TRUE(OthersMayWrite(tmp / "p.jpg")) << "the copy is an ordinary file";

    const TResult refused = platform->MovePhoto(card / "p.jpg", tmp / "q.jpg");
    EXPECT_EQ(refused.Kind(), TFailure::Access) << refused.Text();
    EXPECT_EQ(refused.Path(), card / "p.jpg");
    EXPECT_EQ(ReadFile(card / "p.jpg"), photo);
    EXPECT_EQ(ListTree(tmp.Path()), (std::vector<std::string>{"a.jpg", "p.jpg"}))
        << "no copy and no temporary file remains";
}

TEST(WindowsPlatform, LeftOverTemporariesAreRemovedButNeverOneStillOpen)
{
    TWinDir tmp;
    const std::string day = tmp / "20050714";
    // Left by a killed run: a replacement that had already taken its photo's read-only mark.
    WriteFile(day + "\\.fotoimport-r0r0r0", "photo");
    ASSERT_TRUE(SetAttribute(day + "\\.fotoimport-r0r0r0", FILE_ATTRIBUTE_READONLY, true));
    // Another import has one open for writing, as any copy or replacement
    // keeps its file from creation to name.
    const std::string busy = day + "\\.fotoimport-busy00";
    HANDLE writer = ::CreateFileW(FsPath(busy).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    auto platform = CreatePlatform();

    int removed = -1;
    const TResult cleaned = platform->RemoveStaleTemporaries(day, removed);
    const bool busyStayed = PathExists(busy);
    ::CloseHandle(writer);
    ASSERT_TRUE(cleaned) << cleaned.Text();
    EXPECT_EQ(removed, 1);
    EXPECT_TRUE(busyStayed) << "a file still open is not left over";
    EXPECT_FALSE(PathExists(day + "\\.fotoimport-r0r0r0"));
    // Once its writer is gone, it is left over too.
    ASSERT_TRUE(platform->RemoveStaleTemporaries(day, removed));
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(ListTree(day), std::vector<std::string>{});
}

TEST(WindowsPlatform, UserFoldersNameExistingFoldersOfTheProfile)
{
    auto platform = CreatePlatform();
    const std::string profile = ProfileFolder();
    ASSERT_FALSE(profile.empty());
    const std::string documents = platform->DocumentsFolder();
    ASSERT_GT(documents.size(), 3u);
    EXPECT_EQ(documents.substr(1, 2), ":\\") << documents;
    EXPECT_NE(documents.back(), '\\');
    EXPECT_TRUE(platform->DirectoryExists(documents)) << documents;

    // The program's state lies in a folder of its own in the profile's local data.
    const std::string state = platform->StateFolder();
    const std::string name = "\\fotoimport";
    ASSERT_GT(state.size(), profile.size() + name.size()) << state;
    EXPECT_EQ(state.rfind(profile + "\\", 0), 0u) << state;
    EXPECT_EQ(state.substr(state.size() - name.size()), name) << state;
    EXPECT_TRUE(platform->DirectoryExists(state.substr(0, state.size() - name.size()))) << state;
    EXPECT_NE(state.substr(0, state.size() - name.size()), documents);
}

/// What the platform says while standard error is h.
bool TerminalWithStandardError(HANDLE h)
{
    const HANDLE saved = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, h);
    const bool terminal = CreatePlatform()->StderrIsTerminal();
    ::SetStdHandle(STD_ERROR_HANDLE, saved);
    return terminal;
}

TEST(WindowsPlatform, StandardErrorIsATerminalOnlyWhenItIsAConsole)
{
    TWinDir tmp;
    HANDLE file =
        ::CreateFileW(FsPath(tmp / "err.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    HANDLE nul = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    EXPECT_FALSE(TerminalWithStandardError(file));
    EXPECT_FALSE(TerminalWithStandardError(writeEnd));
    EXPECT_FALSE(TerminalWithStandardError(nul)) << "a character device that is no console";
    EXPECT_FALSE(TerminalWithStandardError(nullptr));
    EXPECT_FALSE(TerminalWithStandardError(INVALID_HANDLE_VALUE));
    for (HANDLE h : {file, nul, readEnd, writeEnd})
        ::CloseHandle(h);
}

TEST(WindowsPlatform, UserKeyIsTheUserName)
{
    const char* name = std::getenv("USERNAME");
    ASSERT_NE(name, nullptr);
    EXPECT_FALSE(UserKey().empty());
    const auto upper = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    EXPECT_EQ(upper(UserKey()), upper(name)) << "user names are compared without regard to case";
}

TEST(WindowsFileStream, DenyWriteKeepsWritersOutAndLetsReadersIn)
{
    TWinDir tmp;
    const std::string path = tmp / "photo.jpg";
    WriteFile(path, "data");
    {
        TFileStream reading(path, fmOpenRead | fmShareDenyWrite);
        EXPECT_FALSE(OthersMayWrite(path));
        EXPECT_THROW(TFileStream(path, fmOpenReadWrite), EFOpenError);
        EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
        TFileStream secondReader(path, fmOpenRead | fmShareDenyWrite);
        char got[4] = {};
        EXPECT_EQ(secondReader.Read(got, 4), 4);
        EXPECT_EQ(std::string(got, 4), "data");
    }
    EXPECT_TRUE(OthersMayWrite(path)) << "the file is free again once closed";
    {
        TFileStream exclusive(path, fmOpenRead | fmShareExclusive);
        EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
    }
    {
        TFileStream shared(path, fmOpenRead);
        EXPECT_TRUE(OthersMayWrite(path));
    }
    {
        // A file someone is writing cannot be opened with writers denied.
        TFileStream writer(path, fmOpenReadWrite);
        EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
    }
}

} // namespace
