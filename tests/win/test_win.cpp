#include "app/win/SingleInstance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/// What a request did: the volumes it opened, and whether it asked to show.
struct TCarried
{
    std::vector<std::string> Opened;
    int Shown = 0;
    bool Accepted = false;
};

TCarried Carry(ULONG_PTR kind, const void* data, DWORD bytes)
{
    TCarried carried;
    COPYDATASTRUCT request{};
    request.dwData = kind;
    request.cbData = bytes;
    request.lpData = const_cast<void*>(data);
    carried.Accepted = HandleInstanceRequest(
        request, [&](const std::string& volume) { carried.Opened.push_back(volume); },
        [&] { ++carried.Shown; });
    return carried;
}

constexpr ULONG_PTR kOpen = 0x46490001;
constexpr ULONG_PTR kShow = 0x46490002;

} // namespace

// A later start's requests come from another process: only well-formed ones are carried out, and a name
// outside the code page arrives whole.
TEST(SingleInstance, OnlyWellFormedRequestsOfALaterStartAreCarriedOut)
{
    const std::wstring volume = L"G:\\Ürlaub_日本";
    const std::wstring withZero(L"G:\\\0x", 5);
    const std::vector<wchar_t> huge(40000, L'a');
    struct Case
    {
        const char* Name;
        ULONG_PTR Kind;
        const void* Data;
        DWORD Bytes;
        bool Accepted;
        int Shown;
        std::vector<std::string> Opened;
    };
    const Case cases[] = {
        {"a volume", kOpen, volume.data(), DWORD(volume.size() * 2), true, 0, {"G:\\Ürlaub_日本"}},
        {"show", kShow, nullptr, 0, true, 1, {}},
        {"show with data", kShow, volume.data(), 4, false, 0, {}},
        {"an empty volume", kOpen, volume.data(), 0, false, 0, {}},
        {"an odd length", kOpen, volume.data(), 5, false, 0, {}},
        {"no data", kOpen, nullptr, 8, false, 0, {}},
        {"a zero inside", kOpen, withZero.data(), DWORD(withZero.size() * 2), false, 0, {}},
        {"too long", kOpen, huge.data(), DWORD(huge.size() * 2), false, 0, {}},
        {"another kind", 0x12345678, volume.data(), DWORD(volume.size() * 2), false, 0, {}},
    };
    for (const Case& c : cases) {
        const TCarried carried = Carry(c.Kind, c.Data, c.Bytes);
        EXPECT_EQ(carried.Accepted, c.Accepted) << c.Name;
        EXPECT_EQ(carried.Shown, c.Shown) << c.Name;
        EXPECT_EQ(carried.Opened, c.Opened) << c.Name;
    }
}

// A volume given on the command line means the same in the running program, whatever folder the later
// start ran in: a drive letter alone is the drive's root, a relative folder is made absolute.
TEST(SingleInstance, VolumesOfTheCommandLineAreMadeAbsolute)
{
    const std::vector<std::string> volumes =
        VolumeArguments({"fotoimport.exe", "G:", "", "H:\\DCIM\\..\\", "K:/Fotos", "relative"});
    ASSERT_EQ(volumes.size(), 4u);
    EXPECT_EQ(volumes[0], "G:\\");
    EXPECT_EQ(volumes[1], "H:\\");
    EXPECT_EQ(volumes[2], "K:\\Fotos");
    EXPECT_TRUE(volumes[3].size() > 10 && volumes[3].substr(1, 2) == ":\\" &&
                volumes[3].substr(volumes[3].size() - 9) == "\\relative")
        << volumes[3];
}
