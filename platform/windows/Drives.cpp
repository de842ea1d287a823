#include "platform/windows/WindowsPlatform.h"

namespace {

/// Critical errors (a drive without medium) fail quietly on this thread while this lives: no dialog asks
/// for a disk. Per thread, as drives are asked on worker threads.
class TQuietErrors
{
public:
    TQuietErrors() { FSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &FPrevious) != 0; }
    ~TQuietErrors()
    {
        if (FSet)
            ::SetThreadErrorMode(FPrevious, nullptr);
    }
    TQuietErrors(const TQuietErrors&) = delete;
    TQuietErrors& operator=(const TQuietErrors&) = delete;

private:
    DWORD FPrevious = 0;
    bool FSet = false;
};

/// The drive questions for worker threads, through a platform of their own whose path questions keep no
/// state.
class TWindowsDriveQueries : public TDriveQueries
{
public:
    bool DriveIsReady(const std::string& root) override
    {
        const std::wstring name = LongPath(root);
        if (name.empty())
            return false;
        TQuietErrors quiet;
        ULARGE_INTEGER available;
        ULARGE_INTEGER total;
        ULARGE_INTEGER totalFree;
        return ::GetDiskFreeSpaceExW(name.c_str(), &available, &total, &totalFree) != 0;
    }
    bool CardFolderExists(const std::string& root, const std::string& name) override
    {
        return FPlatform.CardFolderExists(root, name);
    }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                   std::vector<TResult>* unreadable) override
    {
        FPlatform.FindFiles(folder, mask, list, true, true, unreadable);
    }

private:
    TWindowsPlatform FPlatform;
};

} // namespace

std::string TWindowsPlatform::DriveRoot(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return {};
    return std::string(1, letter) + ":\\";
}

std::shared_ptr<TDriveQueries> TWindowsPlatform::DriveQueries()
{
    if (!FDriveQueries)
        FDriveQueries = std::make_shared<TWindowsDriveQueries>();
    return FDriveQueries;
}
