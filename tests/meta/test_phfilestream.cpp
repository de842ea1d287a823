#include "base/SysUtils.h"
#include "meta/phFileStream.h"
#include "tests/meta/CountingStream.h"
#include "tests/support/ExifBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using exifbuild::TBytes;

TBytes Counting(size_t n)
{
    TBytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

template <typename F> std::string RaisedMessage(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "<nothing raised>";
}

} // namespace

TEST(TphFileStream, EmptyFileIsAtEndAndRefusesReads)
{
    TTempDir dir;
    TphFileStream s(dir.Write("empty", {}), fmOpenRead | fmShareDenyWrite);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(RaisedMessage([&] { s.ReadByte(); }), "Out of bounds");
    std::string buf(4, 'x');
    EXPECT_EQ(s.ReadBytes(buf, 4), 0);
    EXPECT_EQ(buf, "xxxx");
    EXPECT_EQ(s.Position(), 0);
}

TEST(TphFileStream, WindowRefillsAtTheByteAskedFor)
{
    TTempDir dir;
    const TBytes bytes = Counting(1500);
    TphFileStream s(dir.Write("f", bytes), fmOpenRead);
    EXPECT_EQ(s.BufStart(), 0);
    EXPECT_EQ(s.BufCount(), 1024);

    // The last byte: the new window starts exactly there.
    EXPECT_EQ(s.ReadByteAt(1499), bytes[1499]);
    EXPECT_EQ(s.BufStart(), 1499);
    EXPECT_EQ(s.BufCount(), 1);
    EXPECT_EQ(s.Position(), 1500);

    // Past the end: refused, the window is empty, the position unchanged.
    EXPECT_EQ(RaisedMessage([&] { s.ReadByteAt(1500); }), "Out of bounds");
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Position(), 1500);

    // A failed read does not spoil the object.
    EXPECT_EQ(s.ReadByteAt(0), bytes[0]);
    EXPECT_EQ(s.BufCount(), 1024);

    // One byte past the window refills from there; sequential reads walk on.
    EXPECT_EQ(s.ReadByteAt(1024), bytes[1024]);
    EXPECT_EQ(s.BufStart(), 1024);
    EXPECT_EQ(s.BufCount(), 476);
    EXPECT_EQ(s.ReadByte(), bytes[1025]);
    EXPECT_EQ(s.ReadChar(), static_cast<char>(bytes[1026]));

    // Before the start of the file.
    EXPECT_EQ(RaisedMessage([&] { s.ReadByteAt(-1); }), "Out of bounds");
    EXPECT_EQ(s.BufCount(), 0);
}

TEST(TphFileStream, WordsAndLongsFollowTheByteOrderOfEachRead)
{
    TTempDir dir;
    TphFileStream s(dir.Write("f", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}), fmOpenRead);
    EXPECT_TRUE(s.BigEndian());
    EXPECT_EQ(s.ReadWord(), 0x1234);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadLong(), 0x12345678u);
    s.SetBigEndian(false);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadWord(), 0x3412);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadLong(), 0x78563412u);
    // Switching between two reads changes only the later one.
    s.SetPosition(0);
    EXPECT_EQ(s.ReadWord(), 0x3412);
    s.SetBigEndian(true);
    EXPECT_EQ(s.ReadWord(), 0x5678);
    EXPECT_EQ(s.Position(), 4);
    // A long whose second half lies past the end fails.
    s.SetPosition(4);
    EXPECT_EQ(RaisedMessage([&] { s.ReadLong(); }), "Out of bounds");
}

TEST(TphFileStream, PositioningAndByteRuns)
{
    TTempDir dir;
    TphFileStream s(dir.Write("f", {'a', 'b', 'c', 'd', 'e'}), fmOpenRead);
    s.SetPosition(1000000000);
    EXPECT_EQ(s.Position(), 1000000000);
    EXPECT_EQ(RaisedMessage([&] { s.ReadByte(); }), "Out of bounds");

    // The failed read left the end-of-data state: a byte run stores nothing
    // until a read refills the window.
    s.SetPosition(1);
    std::string buf(3, '\0');
    EXPECT_EQ(s.ReadBytes(buf, 3), 0);
    EXPECT_EQ(buf, std::string(3, '\0'));
    EXPECT_EQ(s.ReadByteAt(0), 'a');
    EXPECT_EQ(s.ReadBytes(buf, 0), 0);
    EXPECT_EQ(s.Position(), 1);
    EXPECT_EQ(s.ReadBytes(buf, -5), 0);
    EXPECT_EQ(s.ReadBytes(buf, 3), 3);
    EXPECT_EQ(buf, "bcd");
    EXPECT_EQ(s.Position(), 4);
    // Running past the end raises instead of returning a short count.
    std::string longer(4, '\0');
    EXPECT_EQ(RaisedMessage([&] { s.ReadBytes(longer, 4); }), "Out of bounds");
}

TEST(TphFileStream, WindowsOverTheStartAlreadyReadNeedNoPlatformRead)
{
    const TBytes bytes = Counting(3000);
    auto memory = std::make_unique<TCountingStream>(bytes);
    TCountingStream* counted = memory.get();
    TphFileStream s(std::move(memory));
    EXPECT_EQ(counted->Reads, 1);

    // Read through once: one platform read per window.
    for (int32_t pos = 0; pos < 3000; ++pos)
        ASSERT_EQ(s.ReadByteAt(pos), bytes[static_cast<size_t>(pos)]);
    EXPECT_EQ(counted->Reads, 3);

    // Jumps back: the windows look exactly as if read afresh.
    struct TCase
    {
        int32_t Pos;
        int32_t Count;
    };
    for (const TCase c :
         {TCase{0, 1024}, TCase{2999, 1}, TCase{500, 1024}, TCase{2500, 500}, TCase{1976, 1024}}) {
        SCOPED_TRACE(c.Pos);
        EXPECT_EQ(s.ReadByteAt(c.Pos), bytes[static_cast<size_t>(c.Pos)]);
        EXPECT_EQ(s.BufStart(), c.Pos);
        EXPECT_EQ(s.BufCount(), c.Count);
        EXPECT_EQ(s.Position(), c.Pos + 1);
    }
    EXPECT_EQ(RaisedMessage([&] { s.ReadByteAt(3000); }), "Out of bounds");
    EXPECT_EQ(s.BufCount(), 0);
    EXPECT_EQ(counted->Reads, 3);
}
