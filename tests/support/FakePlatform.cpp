#include "tests/support/FakePlatform.h"

#include <utility>

TFakePlatform::TFakePlatform(std::string documentsFolder)
    : FReal(CreatePlatform())
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

void TFakePlatform::SetOptions(const TPlatformOptions& options)
{
    FReal = CreatePlatform(options);
}

bool TFakePlatform::DriveIsReady(char letter)
{
    FQueried.insert(letter);
    const auto it = FDrives.find(letter);
    return it != FDrives.end() && it->second.Ready && FReal->DirectoryExists(it->second.Root);
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
    FReal->FindFiles(folder, mask, list, recursive, clear);
}

bool TFakePlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    return FFailingSources.count(src) == 0 && FReal->CopyNoOverwrite(src, dst);
}

bool TFakePlatform::MovePhoto(const std::string& src, const std::string& dst)
{
    return FFailingSources.count(src) == 0 && FReal->MovePhoto(src, dst);
}

std::unique_ptr<TStagedCopy> TFakePlatform::StageCopy(const std::string& src, const std::string& dst)
{
    return FFailingSources.count(src) == 0 ? FReal->StageCopy(src, dst) : nullptr;
}
