#include "tests/support/FakePlatform.h"

#include <utility>

namespace {

std::unique_ptr<TPlatform> InnerPlatform(const std::string& home, const std::string& state)
{
    TPlatformOptions options;
    options.HomeFolder = home;
    options.StateHome = state;
    return CreatePlatform(options);
}

} // namespace

TFakePlatform::TFakePlatform(std::string documentsFolder, const std::string& home, const std::string& state)
    : TFaultyPlatform(InnerPlatform(home, state))
    , FDocuments(std::move(documentsFolder))
{
}

void TFakePlatform::AddDrive(char letter, const std::string& root, bool ready)
{
    FDrives[letter] = TDrive{root, ready};
}

void TFakePlatform::SetReady(char letter, bool ready)
{
    FDrives.at(letter).Ready = ready;
}

void TFakePlatform::RemoveDrive(char letter)
{
    FDrives.erase(letter);
}

bool TFakePlatform::DriveIsReady(char letter)
{
    FQueried.insert(letter);
    const auto it = FDrives.find(letter);
    return it != FDrives.end() && it->second.Ready && DirectoryExists(it->second.Root);
}

std::string TFakePlatform::DriveRoot(char letter)
{
    const auto it = FDrives.find(letter);
    return it == FDrives.end() ? std::string() : it->second.Root;
}

void TFakePlatform::FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                              bool recursive, bool clear)
{
    ++FFindFilesCalls;
    TFaultyPlatform::FindFiles(folder, mask, list, recursive, clear);
}
