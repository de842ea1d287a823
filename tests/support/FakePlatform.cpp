#include "tests/support/FakePlatform.h"

#include <filesystem>
#include <utility>

namespace {

std::string HomeFor(const std::string& documents, const std::string& home)
{
    if (!home.empty())
        return home;
    const std::filesystem::path parent = std::filesystem::path(documents).parent_path();
    return parent.empty() ? std::filesystem::temp_directory_path().string() : parent.string();
}

std::unique_ptr<TPlatform> InnerPlatform(const std::string& home)
{
    std::error_code ignored;
    std::filesystem::create_directories(home, ignored);
    TPlatformOptions options;
    options.HomeFolder = home;
    options.StateHome = home + "/.local/state";
    return CreatePlatform(options);
}

} // namespace

TFakePlatform::TFakePlatform(std::string documentsFolder, const std::string& home)
    : TFaultyPlatform(InnerPlatform(HomeFor(documentsFolder, home)))
    , FHome(HomeFor(documentsFolder, home))
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
