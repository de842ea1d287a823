#include "tests/support/FakePlatform.h"

#include "base/SysUtils.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

/// What the fake shares with the workers that ask its drive questions: it outlives the fake while a
/// question still runs.
struct TFakePlatform::TShared
{
    mutable std::mutex Lock;
    std::condition_variable Released;
    std::set<std::string> NotReady;
    std::vector<std::pair<TDriveQuestion, std::string>> Hangs;
    std::vector<std::tuple<TDriveQuestion, std::string, std::string>> Failures;
    std::map<std::string, int> Questions;
    int Hanging = 0;
    int Listings = 0;
    std::shared_ptr<TDriveQueries> Real;

    static bool IsAtOrBelow(const std::string& path, const std::string& folder)
    {
        return path.compare(0, folder.size(), folder) == 0 &&
               (path.size() == folder.size() || path[folder.size()] == '/');
    }

    /// Counts the question, waits while it is to hang, and throws when it is to fail.
    void Enter(TDriveQuestion question, const std::string& path)
    {
        std::unique_lock<std::mutex> lock(Lock);
        ++Questions[path];
        if (question == TDriveQuestion::Listing)
            ++Listings;
        const auto hung = [&] {
            for (const auto& [kind, folder] : Hangs) {
                if (kind == question && IsAtOrBelow(path, folder))
                    return true;
            }
            return false;
        };
        if (hung()) {
            ++Hanging;
            Released.wait(lock, [&] { return !hung(); });
            --Hanging;
        }
        for (const auto& [kind, folder, message] : Failures) {
            if (kind == question && IsAtOrBelow(path, folder))
                throw Exception(message);
        }
    }
};

namespace {

/// The Windows platform joins what it lists below folder with "\\"; the fake's folders are joined with "/"
/// (its PathDelim), and so are the paths it lists, as the core's tests expect them on every system.
void JoinWithSlashes(TStringList& list, const std::string& folder, int from)
{
#ifdef _WIN32
    std::vector<std::string> items(list.Items().begin(), list.Items().end());
    list.BeginUpdate();
    list.Clear();
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        std::string& item = items[static_cast<size_t>(i)];
        if (i >= from && item.rfind(folder, 0) == 0)
            std::replace(item.begin() + static_cast<std::ptrdiff_t>(folder.size()), item.end(), '\\', '/');
        list.Add(item);
    }
    list.EndUpdate();
#else
    (void)list;
    (void)folder;
    (void)from;
#endif
}

} // namespace

namespace {

/// The drive questions of the fake: the real ones, with the fake's readiness, hangs and failures.
class TFakeDriveQueries : public TDriveQueries
{
public:
    explicit TFakeDriveQueries(std::shared_ptr<TFakePlatform::TShared> shared)
        : FShared(std::move(shared))
    {
    }
    bool DriveIsReady(const std::string& root) override
    {
        FShared->Enter(TDriveQuestion::Ready, root);
        {
            std::lock_guard<std::mutex> lock(FShared->Lock);
            if (FShared->NotReady.count(root) != 0)
                return false;
        }
        return FShared->Real->DriveIsReady(root);
    }
    bool CardFolderExists(const std::string& root, const std::string& name) override
    {
        FShared->Enter(TDriveQuestion::Folder, root + "/" + name);
        return FShared->Real->CardFolderExists(root, name);
    }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                   std::vector<TResult>* unreadable) override
    {
        FShared->Enter(TDriveQuestion::Listing, folder);
        FShared->Real->FindFiles(folder, mask, list, unreadable);
        JoinWithSlashes(list, folder, 0);
    }

private:
    std::shared_ptr<TFakePlatform::TShared> FShared;
};

} // namespace

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
    , FShared(std::make_shared<TShared>())
{
    FShared->Real = Inner().DriveQueries();
    FQueries = std::make_shared<TFakeDriveQueries>(FShared);
}

TFakePlatform::~TFakePlatform()
{
    Release();
}

void TFakePlatform::AddDrive(char letter, const std::string& root, bool ready)
{
    FDrives[letter] = root;
    std::lock_guard<std::mutex> lock(FShared->Lock);
    if (ready)
        FShared->NotReady.erase(root);
    else
        FShared->NotReady.insert(root);
}

void TFakePlatform::SetReady(char letter, bool ready)
{
    AddDrive(letter, FDrives.at(letter), ready);
}

void TFakePlatform::RemoveDrive(char letter)
{
    FDrives.erase(letter);
}

void TFakePlatform::Hang(TDriveQuestion question, const std::string& path)
{
    std::lock_guard<std::mutex> lock(FShared->Lock);
    FShared->Hangs.emplace_back(question, path);
}

void TFakePlatform::Fail(TDriveQuestion question, const std::string& path, const std::string& message)
{
    std::lock_guard<std::mutex> lock(FShared->Lock);
    FShared->Failures.emplace_back(question, path, message);
}

void TFakePlatform::Release()
{
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        FShared->Hangs.clear();
        FShared->Failures.clear();
    }
    FShared->Released.notify_all();
}

int TFakePlatform::QuestionsAbout(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(FShared->Lock);
    const auto it = FShared->Questions.find(path);
    return it == FShared->Questions.end() ? 0 : it->second;
}

int TFakePlatform::Hanging() const
{
    std::lock_guard<std::mutex> lock(FShared->Lock);
    return FShared->Hanging;
}

int TFakePlatform::FindFilesCalls() const
{
    std::lock_guard<std::mutex> lock(FShared->Lock);
    return FShared->Listings;
}

std::string TFakePlatform::DriveRoot(char letter)
{
    FQueried.insert(letter);
    const auto it = FDrives.find(letter);
    return it == FDrives.end() ? std::string() : it->second;
}

void TFakePlatform::FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                              bool recursive, bool clear, std::vector<TResult>* unreadable)
{
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        ++FShared->Listings;
    }
    const int from = clear ? 0 : list.Count();
    TFaultyPlatform::FindFiles(folder, mask, list, recursive, clear, unreadable);
    JoinWithSlashes(list, folder, from);
}
