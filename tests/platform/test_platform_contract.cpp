// What every platform promises, run against CreatePlatform() on Linux and on
// Windows (under Wine in the cross build). Paths are built with the
// platform's own separator, as the program builds them; what is checked
// behind the platform's back goes through std::filesystem.
#include "base/SysUtils.h"
#include "platform/FileStream.h"
#include "platform/Platform.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

/// A name outside every Windows code page.
const std::string kWorldName = "Ürlaub_日本_фото";

class PlatformContract : public ::testing::Test
{
protected:
    /// The temporary folder joined with relative (written with '/') in the platform's separators.
    std::string P(std::string relative) const
    {
        std::replace(relative.begin(), relative.end(), '/', Platform->PathDelim());
        return Platform->JoinPath(Tmp.Path(), relative);
    }
    /// Whether path is a folder, asked behind the platform's back.
    static bool IsFolder(const std::string& path) { return fs::is_directory(FsPath(path)); }

    TTempDir Tmp;
    std::unique_ptr<TPlatform> Platform = CreatePlatform();
};

TEST_F(PlatformContract, FoldersFilesAndTheirDates)
{
    WriteFile(P("f.jpg"), "x");
    EXPECT_TRUE(Platform->DirectoryExists(Tmp.Path()));
    EXPECT_TRUE(Platform->DirectoryExists(P("")));
    EXPECT_FALSE(Platform->DirectoryExists(P("f.jpg")));
    EXPECT_FALSE(Platform->DirectoryExists(""));
    EXPECT_TRUE(Platform->FileExists(P("f.jpg")));
    EXPECT_FALSE(Platform->FileExists(Tmp.Path()));
    EXPECT_FALSE(Platform->FileExists(P("none")));

    EXPECT_TRUE(Platform->CreateDir(P("one")));
    EXPECT_EQ(Platform->CreateDir(P("one")).Kind(), TFailure::Exists) << "one level, and only once";
    EXPECT_EQ(Platform->CreateDir(P("a/b")).Kind(), TFailure::NotFound);
    EXPECT_EQ(Platform->CreateDir("").Kind(), TFailure::NotFound);
    EXPECT_TRUE(Platform->ForceDirectories(P("a/b/c/")));
    EXPECT_TRUE(IsFolder(P("a/b/c")));
    EXPECT_TRUE(Platform->ForceDirectories(P("a/b/c")));
    const TResult blocked = Platform->ForceDirectories(P("f.jpg/sub"));
    EXPECT_EQ(blocked.Kind(), TFailure::NotFound) << blocked.Text();
    EXPECT_EQ(blocked.Path(), P("f.jpg")) << "the file in the way is named";
    EXPECT_FALSE(blocked.Message().empty());
    EXPECT_EQ(Platform->ForceDirectories("").Kind(), TFailure::NotFound);

    EXPECT_EQ(Platform->ExtractFileName(P("DCIM/100/IMG_1.JPG")), "IMG_1.JPG");
    EXPECT_EQ(Platform->ExtractFileName("IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(Platform->JoinPath(P("DCIM"), "100"), P("DCIM/100"));

    SetModifiedTime(P("f.jpg"), 2012, 2, 29, 23);
    TLocalDate date;
    ASSERT_TRUE(Platform->FileModifiedDate(P("f.jpg"), date));
    EXPECT_EQ(std::tie(date.Year, date.Month, date.Day), std::make_tuple(2012, 2, 29));
    const TResult noDate = Platform->FileModifiedDate(P("none"), date);
    EXPECT_EQ(noDate.Kind(), TFailure::NotFound);
    EXPECT_EQ(noDate.Path(), P("none"));
    int64_t seconds = 0;
    int part = -1;
    fs::last_write_time(FsPath(P("f.jpg")), std::chrono::file_clock::from_sys(
                                                std::chrono::sys_seconds(std::chrono::seconds(1121302400))));
    ASSERT_TRUE(Platform->FileModifiedTime(P("f.jpg"), seconds, part));
    EXPECT_EQ(seconds, 1121302400);
    EXPECT_EQ(part, 0);
    EXPECT_EQ(Platform->FileModifiedTime(P("none"), seconds, part).Kind(), TFailure::NotFound);
}

TEST_F(PlatformContract, CardFolderIsARealFolderOfTheDriveRootItself)
{
    const std::string card = P("card");
    const char d = Platform->PathDelim();
    fs::create_directories(FsPath(P("card/DCIM")));
    fs::create_directories(FsPath(P("card/" + kWorldName)));
    WriteFile(P("card/FILE"), "x");

    const std::tuple<std::string, std::string, bool> cases[] = {
        {card, "DCIM", true},
        {card + d, "DCIM", true},
        {card, kWorldName, true},
        {card, "FILE", false},
        {card, "MISSING", false},
        {card, "DCIM/", false},
        {card, std::string("DCIM") + d, false},
        {card, "../card/DCIM", false},
        {card, std::string("..") + d + "card" + d + "DCIM", false},
        {card, "..", false},
        {card, ".", false},
        {card, "", false},
        {"", "DCIM", false},
        {P("none"), "DCIM", false},
    };
    for (const auto& [root, name, expected] : cases)
        EXPECT_EQ(Platform->CardFolderExists(root, name), expected) << root << " + " << name;
}

/// The expected listing, computed independently: each folder's files whose
/// extension is ".jpg" in any case, then its sub-folders, in directory order.
void ExpectedListing(const fs::path& folder, std::vector<std::string>& out)
{
    std::vector<fs::path> subFolders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string ext = Utf8Path(entry.path().extension());
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (entry.is_directory())
            subFolders.push_back(entry.path());
        else if (ext == ".jpg")
            out.push_back(Utf8Path(entry.path()));
    }
    for (const fs::path& sub : subFolders)
        ExpectedListing(sub, out);
}

TEST_F(PlatformContract, FindFilesListsOwnFilesBeforeSubFoldersInOneUpdate)
{
    const std::string dcim = P("DCIM");
    const std::string files[] = {"top1.JPG",
                                 "top2.jpg",
                                 ".hidden.jpg",
                                 "movie.MOV",
                                 "x.jpeg",
                                 "jpg",
                                 "a.jpg.txt",
                                 "100A/IMG_1.Jpg",
                                 "100A/IMG_2.JPG",
                                 "100A/IMG_10.JPG",
                                 "100A/deep/er/IMG_3.jpg",
                                 "101B/IMG_4.JPG",
                                 "101B/inner/IMG_5.JPG",
                                 "102C/none.txt",
                                 ".thumbs/t.jpg",
                                 kWorldName + "/" + kWorldName + ".jpg"};
    for (const std::string& f : files)
        WriteFile(P("DCIM/" + f), f);
    fs::create_directories(FsPath(P("DCIM/folder.jpg")));

    TStringList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    Platform->FindFiles(dcim, "*.jpg", list, true, true);
    std::vector<std::string> expected;
    ExpectedListing(FsPath(dcim), expected);
    EXPECT_EQ(list.Items(), expected);
    EXPECT_EQ(list.Count(), 11) << "hidden photos count, folders do not";
    EXPECT_EQ(changes, 1) << "filled inside one bulk update";
    const auto pos = [&](const std::string& rel) {
        return std::find(list.Items().begin(), list.Items().end(), P("DCIM/" + rel)) - list.Items().begin();
    };
    EXPECT_LT(pos("top2.jpg"), pos("100A/IMG_1.Jpg"));
    EXPECT_LT(pos("100A/IMG_2.JPG"), pos("100A/deep/er/IMG_3.jpg"));
    EXPECT_LT(pos("101B/IMG_4.JPG"), pos("101B/inner/IMG_5.JPG"));
    EXPECT_LT(pos(kWorldName + "/" + kWorldName + ".jpg"), static_cast<long>(list.Count()));

    // A trailing separator changes nothing.
    Platform->FindFiles(dcim + Platform->PathDelim(), "*.jpg", list, true, true);
    EXPECT_EQ(list.Items(), expected);
    // "?" stands for exactly one character; not recursive, not cleared.
    Platform->FindFiles(P("DCIM/100A"), "img_?.jpg", list, false, false);
    ASSERT_EQ(list.Count(), 13);
    std::vector<std::string> added(list.Items().begin() + 11, list.Items().end());
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, (std::vector<std::string>{P("DCIM/100A/IMG_1.Jpg"), P("DCIM/100A/IMG_2.JPG")}));

    Platform->FindFiles("", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0);
    Platform->FindFiles(P("missing"), "*.jpg", list, true, false);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(PlatformContract, SameFileContentsComparesEveryByte)
{
    const std::string photo = PatternBytes((size_t{5} << 19) + 7, 3); // more than two compare chunks
    std::string lastByte = photo;
    lastByte.back() = static_cast<char>(lastByte.back() ^ 1);
    std::string secondChunk = photo;
    secondChunk[(size_t{1} << 20) + 5] = static_cast<char>(secondChunk[(size_t{1} << 20) + 5] ^ 0x40);
    const std::pair<const char*, std::string> files[] = {
        {"a.jpg", photo},
        {"copy.jpg", photo},
        {"last.jpg", lastByte},
        {"second.jpg", secondChunk},
        {"short.jpg", photo.substr(0, photo.size() - 1)},
        {"empty1.jpg", ""},
        {"empty2.jpg", ""},
    };
    for (const auto& [name, bytes] : files)
        WriteFile(P(name), bytes);
    fs::create_directories(FsPath(P("folder")));

    const std::tuple<const char*, const char*, bool> cases[] = {
        {"a.jpg", "copy.jpg", true},   {"a.jpg", "a.jpg", true},       {"empty1.jpg", "empty2.jpg", true},
        {"a.jpg", "last.jpg", false},  {"a.jpg", "second.jpg", false}, {"a.jpg", "short.jpg", false},
        {"short.jpg", "a.jpg", false}, {"a.jpg", "empty1.jpg", false},
    };
    for (const auto& [a, b, expected] : cases) {
        bool same = !expected;
        const TResult r = Platform->SameFileContents(P(a), P(b), same);
        ASSERT_TRUE(r) << a << " " << b << ": " << r.Text();
        EXPECT_EQ(same, expected) << a << " " << b;
    }
    bool same = true;
    const TResult missing = Platform->SameFileContents(P("a.jpg"), P("none.jpg"), same);
    EXPECT_EQ(missing.Kind(), TFailure::NotFound);
    EXPECT_EQ(missing.Path(), P("none.jpg"));
    EXPECT_EQ(Platform->SameFileContents(P("folder"), P("a.jpg"), same).Kind(), TFailure::NotSafe);
    EXPECT_EQ(Platform->SameFileContents("", P("a.jpg"), same).Kind(), TFailure::NotFound);
}

TEST_F(PlatformContract, CopyNeverReplacesAndNeverLeavesAPartialFile)
{
    const std::string photo = PatternBytes((size_t{9} << 20) + 12345, 7); // more than one copy chunk
    WriteFile(P("card/a.jpg"), photo);
    SetModifiedTime(P("card/a.jpg"), 2005, 7, 14);
    fs::create_directories(FsPath(P("out")));
    const TResult copied = Platform->CopyNoOverwrite(P("card/a.jpg"), P("out/a.jpg"));
    ASSERT_TRUE(copied) << copied.Text();
    EXPECT_EQ(ReadFile(P("out/a.jpg")), photo);
    EXPECT_EQ(fs::last_write_time(FsPath(P("out/a.jpg"))), fs::last_write_time(FsPath(P("card/a.jpg"))));

    // Each refusal says what was wrong, with which path, and the system's number and text.
    WriteFile(P("out/b.jpg"), "mine");
    const std::tuple<std::string, std::string, TFailure, std::string> cases[] = {
        {P("card/a.jpg"), P("out/b.jpg"), TFailure::Exists, P("out/b.jpg")},
        {P("card/none.jpg"), P("out/c.jpg"), TFailure::NotFound, P("card/none.jpg")},
        {P("card/a.jpg"), P("nofolder/c.jpg"), TFailure::NotFound, P("nofolder")},
        {P("card"), P("out/d.jpg"), TFailure::NotSafe, P("card")},
        {"", P("out/e.jpg"), TFailure::NotFound, ""},
    };
    for (const auto& [src, dst, kind, path] : cases) {
        const TResult r = Platform->CopyNoOverwrite(src, dst);
        EXPECT_EQ(r.Kind(), kind) << src << " -> " << dst << ": " << r.Text();
        EXPECT_EQ(r.Path(), path) << src;
        EXPECT_EQ(r.OsError() != 0, kind != TFailure::NotSafe) << src;
        EXPECT_FALSE(r.Message().empty()) << src;
    }
    EXPECT_EQ(ReadFile(P("out/b.jpg")), "mine");
    EXPECT_EQ(ListTree(P("out")), (std::vector<std::string>{"a.jpg", "b.jpg"}))
        << "no partial or temporary file remains";
}

TEST_F(PlatformContract, StagedCopiesGetTheirNameOnlyWhenFinished)
{
    const std::string photo = PatternBytes(200000, 5);
    WriteFile(P("card/a.jpg"), photo);
    fs::create_directories(FsPath(P("out")));
    std::unique_ptr<TStagedCopy> first;
    std::unique_ptr<TStagedCopy> second;
    std::unique_ptr<TStagedCopy> dropped;
    ASSERT_TRUE(Platform->StageCopy(P("card/a.jpg"), P("out/a.jpg"), first));
    ASSERT_TRUE(Platform->StageCopy(P("card/a.jpg"), P("out/a.jpg"), second));
    ASSERT_TRUE(Platform->StageCopy(P("card/a.jpg"), P("out/d.jpg"), dropped));
    ASSERT_TRUE(first && second && dropped);
    EXPECT_FALSE(PathExists(P("out/a.jpg"))) << "no name before the copy is finished";

    EXPECT_TRUE(Platform->FinishCopy(*first));
    const TResult taken = Platform->FinishCopy(*second);
    EXPECT_EQ(taken.Kind(), TFailure::Exists) << "the name was taken meanwhile";
    EXPECT_EQ(taken.Path(), P("out/a.jpg"));
    // An end that cannot wait for the copies in hand removes their temporaries; named copies stay.
#ifndef _WIN32
    // Linux stages each copy in a temporary beside its name; Windows copies only when a copy is finished.
    ASSERT_EQ(ListTree(P("out")).size(), 3u) << "a.jpg and the temporaries of the two unfinished copies";
#endif
    Platform->AbandonTemporaries();
    EXPECT_EQ(ListTree(P("out")), std::vector<std::string>{"a.jpg"});
    first.reset();
    second.reset();
    dropped.reset();
    EXPECT_EQ(ReadFile(P("out/a.jpg")), photo);
    EXPECT_EQ(ListTree(P("out")), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(Platform->FlushFolders());
}

TEST_F(PlatformContract, MoveNeverReplacesAndSaysWhy)
{
    const std::string photo = PatternBytes(300000, 3);
    fs::create_directories(FsPath(P("out")));
    WriteFile(P("card/a.jpg"), photo);
    ASSERT_TRUE(Platform->MovePhoto(P("card/a.jpg"), P("out/a.jpg")));
    EXPECT_FALSE(PathExists(P("card/a.jpg")));
    EXPECT_EQ(ReadFile(P("out/a.jpg")), photo);

    WriteFile(P("card/a.jpg"), "second");
    const std::tuple<std::string, std::string, TFailure, std::string> cases[] = {
        {P("card/a.jpg"), P("out/a.jpg"), TFailure::Exists, P("out/a.jpg")},
        {P("card/none.jpg"), P("out/n.jpg"), TFailure::NotFound, P("card/none.jpg")},
        {P("card/a.jpg"), P("nofolder/a.jpg"), TFailure::NotFound, P("nofolder/a.jpg")},
    };
    for (const auto& [src, dst, kind, path] : cases) {
        const TResult r = Platform->MovePhoto(src, dst);
        EXPECT_EQ(r.Kind(), kind) << src << " -> " << dst << ": " << r.Text();
        EXPECT_EQ(r.Path(), path) << src << " -> " << dst;
    }
    EXPECT_EQ(ReadFile(P("card/a.jpg")), "second");
    EXPECT_EQ(ReadFile(P("out/a.jpg")), photo);
    EXPECT_EQ(ListTree(P("out")), std::vector<std::string>{"a.jpg"});
}

TEST_F(PlatformContract, ReplaceKeepsTheModificationTimeAndLeavesNoTemporaryFile)
{
    const std::string target = P("day/a.jpg");
    WriteFile(target, "old contents");
    SetModifiedTime(target, 2005, 6, 29);
    const fs::file_time_type written = fs::last_write_time(FsPath(target));

    // Several pieces, an empty one among them, written one after the other.
    const std::string head = "\xFF\xD8 new";
    const std::string middle = PatternBytes(100000, 4);
    const TDataPiece pieces[] = {
        {head.data(), head.size()}, {nullptr, 0}, {middle.data(), middle.size()}, {head.data() + 2, 1}};
    const TResult replaced = Platform->ReplaceFileContents(target, pieces);
    ASSERT_TRUE(replaced) << replaced.Text();
    EXPECT_EQ(fs::last_write_time(FsPath(target)), written);
    EXPECT_EQ(ReadFile(target), head + middle + head.substr(2, 1));

    // Nothing to replace: no file, a folder, no folder, no name.
    const std::pair<std::string, TFailure> refused[] = {{P("day/none.jpg"), TFailure::NotFound},
                                                        {P("day"), TFailure::NotSafe},
                                                        {P("no/a.jpg"), TFailure::NotFound},
                                                        {"", TFailure::NotFound}};
    for (const auto& [path, kind] : refused) {
        const TResult r = Platform->ReplaceFileContents(path, pieces);
        EXPECT_EQ(r.Kind(), kind) << path << ": " << r.Text();
        EXPECT_EQ(r.Path(), path);
    }
    EXPECT_EQ(ListTree(P("day")), std::vector<std::string>{"a.jpg"}) << "no temporary file remains";
}

TEST_F(PlatformContract, LeftOverTemporariesAreRemovedAndNothingElse)
{
    const std::string day = P("20050714");
    const std::string photo = PatternBytes(300000, 2);
    // Left by a killed run: a complete copy and a partial one.
    WriteFile(P("20050714/.fotoimport-a1B2c3"), photo);
    WriteFile(P("20050714/.fotoimport-Zz9900"), photo.substr(0, 1000));
    // Names that are not the program's temporaries stay, and so does a folder.
    const char* kept[] = {".fotoimport-toolong1", ".fotoimport-ab", ".fotoimport-a_b.c1", "IMG_0001.JPG",
                          "fi1A2B.tmp"};
    for (const char* name : kept)
        WriteFile(P("20050714/") + name, "x");
    fs::create_directories(FsPath(P("20050714/.fotoimport-dir000")));
    // A run killed while it claimed a name, where the file system has no rename that refuses to
    // replace, leaves a claim record and maybe the empty file claimed. A name that got its photo after
    // all, an empty file no record names, and a record that leads out of the folder leave the files be.
    WriteFile(P("20050714/.fotoimport-c1aim1"), "fotoimport claim\nIMG_0002.JPG\n");
    WriteFile(P("20050714/IMG_0002.JPG"), "");
    WriteFile(P("20050714/.fotoimport-c1aim2"), "fotoimport claim\nIMG_0001.JPG\n");
    WriteFile(P("20050714/IMG_0003.JPG"), "");
    WriteFile(P("20050714/.fotoimport-c1aim3"), "fotoimport claim\n../outside.jpg\n");
    WriteFile(P("outside.jpg"), "");

    int removed = -1;
    const TResult cleaned = Platform->RemoveStaleTemporaries(day, removed);
    ASSERT_TRUE(cleaned) << cleaned.Text();
    EXPECT_EQ(removed, 6);
    EXPECT_EQ(ListTree(day),
              (std::vector<std::string>{".fotoimport-a_b.c1", ".fotoimport-ab", ".fotoimport-toolong1",
                                        "IMG_0001.JPG", "IMG_0003.JPG", "fi1A2B.tmp"}));
    EXPECT_EQ(ReadFile(P("20050714/IMG_0001.JPG")), "x");
    EXPECT_TRUE(PathExists(P("outside.jpg")));
    EXPECT_TRUE(IsFolder(P("20050714/.fotoimport-dir000")));
    ASSERT_TRUE(Platform->RemoveStaleTemporaries(day, removed));
    EXPECT_EQ(removed, 0);
    for (const std::string& notAFolder : {P("none"), P("20050714/IMG_0001.JPG"), std::string()})
        EXPECT_EQ(Platform->RemoveStaleTemporaries(notAFolder, removed).Kind(), TFailure::NotFound)
            << notAFolder;
}

TEST_F(PlatformContract, LogIsAppendedAndRotatedAtItsSize)
{
    const std::string log = P("state/fotoimport/import.log");
    ASSERT_TRUE(Platform->AppendToLog(log, "one\n", 20));
    ASSERT_TRUE(Platform->AppendToLog(log, "two\n", 20));
    EXPECT_EQ(ReadFile(log), "one\ntwo\n");
    // At its size the log becomes the older one, which it replaces.
    ASSERT_TRUE(Platform->AppendToLog(log, "three-three\n", 20)); // 8 + 12 bytes: at the limit now
    EXPECT_FALSE(PathExists(log + ".1"));
    ASSERT_TRUE(Platform->AppendToLog(log, "four\n", 20));
    EXPECT_EQ(ReadFile(log + ".1"), "one\ntwo\nthree-three\n");
    EXPECT_EQ(ReadFile(log), "four\n");
    ASSERT_TRUE(Platform->AppendToLog(log, std::string(30, 'x') + "\n", 20));
    ASSERT_TRUE(Platform->AppendToLog(log, "six\n", 20));
    EXPECT_EQ(ReadFile(log + ".1"), "four\n" + std::string(30, 'x') + "\n");
    EXPECT_EQ(ReadFile(log), "six\n");

    fs::create_directories(FsPath(P("state/folder.log")));
    EXPECT_FALSE(Platform->AppendToLog(P("state/folder.log"), "x\n", 1000));
    EXPECT_TRUE(IsFolder(P("state/folder.log")));
    WriteFile(P("blocked"), "a file");
    const TResult blocked = Platform->AppendToLog(P("blocked/import.log"), "x\n", 1000);
    EXPECT_EQ(blocked.Kind(), TFailure::NotFound) << blocked.Text();
    EXPECT_EQ(ReadFile(P("blocked")), "a file");
    EXPECT_EQ(Platform->AppendToLog("", "x\n", 1000).Kind(), TFailure::NotFound);
}

TEST_F(PlatformContract, FileStreamWritesReadsAndSeeksBeyondOneChunk)
{
    const std::string path = P("big.bin");
    const std::string bytes = PatternBytes((size_t{3} << 20) + 7, 11);
    const auto size = static_cast<int64_t>(bytes.size());
    {
        TFileStream out(path, fmCreate);
        EXPECT_EQ(out.Write(bytes.data(), size), size);
        out.Flush();
        EXPECT_EQ(out.Size(), size);
    }
    EXPECT_EQ(ReadFile(path), bytes) << "binary: no line-end translation";

    TFileStream in(path, fmOpenRead | fmShareDenyWrite);
    std::string got(16, '\0');
    EXPECT_EQ(in.ReadAt(size - 4, got.data(), 16), 4);
    EXPECT_EQ(got.substr(0, 4), bytes.substr(bytes.size() - 4));
    EXPECT_EQ(in.ReadAt(size, got.data(), 16), 0);
    EXPECT_EQ(in.ReadAt(-1, got.data(), 16), 0);
    EXPECT_EQ(in.Seek(1 << 20, TSeekOrigin::soBeginning), 1 << 20);
    EXPECT_EQ(in.Seek(5, TSeekOrigin::soCurrent), (1 << 20) + 5);
    EXPECT_EQ(in.Read(got.data(), 16), 16);
    EXPECT_EQ(got, bytes.substr((1 << 20) + 5, 16));
    EXPECT_EQ(in.Seek(-3, TSeekOrigin::soEnd), size - 3);
    EXPECT_EQ(in.Seek(-1, TSeekOrigin::soBeginning), -1);
    EXPECT_EQ(in.Write("x", 1), 0) << "opened for reading only";

    EXPECT_THROW(TFileStream(P("none.bin"), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(P("nofolder/new.bin"), fmCreate), EFCreateError);
}

TEST_F(PlatformContract, NamesOutsideTheCodePageAndPathsLongerThan260CharactersWorkThroughout)
{
    const std::string segment = "Ein_Ordner_mit_einem_recht_langen_Namen_fuer_die_Fotos_vom_Urlaub";
    const std::tuple<std::string, std::string> cases[] = {
        {kWorldName, kWorldName + ".jpg"},
        {segment + "/" + segment + "/" + segment + "/" + segment + "/" + segment, "IMG_0001.JPG"},
    };
    const std::string photo = PatternBytes(70000, 8);
    for (const auto& [relative, name] : cases) {
        const std::string folder = P(relative);
        const std::string path = Platform->JoinPath(folder, name);
        const std::string copy = Platform->JoinPath(folder, "copy.jpg");
        const std::string moved = Platform->JoinPath(folder, "moved.jpg");
        SCOPED_TRACE(path);
        ASSERT_TRUE(Platform->ForceDirectories(folder));
        EXPECT_TRUE(Platform->DirectoryExists(folder));
        {
            TFileStream out(path, fmCreate);
            out.WriteBuffer(photo.data(), static_cast<int64_t>(photo.size()));
        }
        EXPECT_TRUE(Platform->FileExists(path));
        TStringList list;
        Platform->FindFiles(folder, "*.jpg", list, true, true);
        EXPECT_EQ(list.Items(), std::vector<std::string>{path});
        ASSERT_TRUE(Platform->CopyNoOverwrite(path, copy));
        bool same = false;
        EXPECT_TRUE(Platform->SameFileContents(path, copy, same) && same);
        ASSERT_TRUE(Platform->MovePhoto(copy, moved));
        const TDataPiece turned[] = {{"turned", 6}};
        EXPECT_TRUE(Platform->ReplaceFileContents(moved, turned));
        int64_t seconds = 0;
        int part = 0;
        EXPECT_TRUE(Platform->FileModifiedTime(path, seconds, part));
        int removed = -1;
        EXPECT_TRUE(Platform->RemoveStaleTemporaries(folder, removed));
        EXPECT_TRUE(Platform->AppendToLog(Platform->JoinPath(folder, "import.log"), "line\n", 1000));
        std::string head(4, '\0');
        EXPECT_EQ(TFileStream(path, fmOpenRead | fmShareDenyWrite).Read(head.data(), 4), 4);
        EXPECT_EQ(head, photo.substr(0, 4));

        // What the platform made carries the very names it was given, and nothing else is left.
        EXPECT_TRUE(ReadFile(path) == photo);
        EXPECT_EQ(ReadFile(moved), "turned");
        EXPECT_FALSE(PathExists(copy));
        Platform->FindFiles(folder, "*", list, false, true);
        std::vector<std::string> names;
        for (const std::string& file : list.Items())
            names.push_back(Platform->ExtractFileName(file));
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected = {name, "import.log", "moved.jpg"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
    }
    EXPECT_GT(P(std::get<0>(cases[1]) + "/IMG_0001.JPG").size(), 320u);
}

} // namespace
