#include "app/core/CardScanner.h"

#include "base/StringList.h"

#include <utility>

namespace {

const char* const kCameraFolder = "DCIM";
const char* const kPhotoMask = "*.jpg";
/// How long a drive's answer stands in for one that does not come: a drive that stopped answering counts as
/// gone after that.
constexpr auto kAnswerAge = std::chrono::milliseconds(2500);

} // namespace

TCardScanner::TCardScanner(TPlatform& platform)
    : FPlatform(platform)
    , FQueries(platform.DriveQueries())
    , FDriveAnswers(FPatience.Drives, kAnswerAge)
    , FListings(FPatience.Listing, kAnswerAge)
{
}

void TCardScanner::SetPatience(const TWatcherPatience& patience)
{
    FPatience = patience;
    FDriveAnswers.SetPatience(patience.Drives);
    FListings.SetPatience(patience.Listing);
}

void TCardScanner::AskDrive(const std::string& root)
{
    // Only the card's own DCIM counts: not a link, nor another volume mounted there. The question owns what
    // it uses, so one that hangs past the scanner's end touches nothing that is gone.
    FDriveAnswers.Ask(root, [queries = FQueries, root] {
        return queries->DriveIsReady(root) && queries->CardFolderExists(root, kCameraFolder);
    });
}

TCameraScan TCardScanner::Scan(bool listPhotos, const std::function<bool(const std::string&)>& wanted,
                               std::vector<std::string>* all)
{
    FPlatform.RefreshDrives();
    // Every letter is looked at; the last one that qualifies wins. The drives are asked all at once, each on
    // a worker thread, and one that has not answered when the patience is used up is passed over.
    std::vector<std::string> roots;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        std::string root = FPlatform.DriveRoot(letter);
        if (root.empty())
            continue;
        AskDrive(root);
        roots.push_back(std::move(root));
    }
    if (!FOfferedRoot.empty())
        AskDrive(FOfferedRoot);
    std::vector<std::string> cameras; // the camera folders of the qualifying drives, the winner last
    for (const std::string& root : roots) {
        if (FDriveAnswers.Answer(root).value_or(false))
            cameras.push_back(FPlatform.JoinPath(root, kCameraFolder));
    }
    // The volume the user opened the program with is the one meant, as long as it is there.
    if (!FOfferedRoot.empty()) {
        const std::optional<bool> there = FDriveAnswers.Answer(FOfferedRoot);
        if (there == true)
            cameras.push_back(FPlatform.JoinPath(FOfferedRoot, kCameraFolder));
        else if (there == false)
            FOfferedRoot.clear();
    }
    FDriveAnswers.Prune();
    if (all != nullptr)
        *all = cameras;
    if (wanted)
        std::erase_if(cameras, [&](const std::string& camera) { return !wanted(camera); });

    TCameraScan scan;
    if (!listPhotos) {
        if (!cameras.empty()) {
            scan.Found = true;
            scan.CameraPath = cameras.back();
        }
    } else {
        // A camera whose photos cannot be listed in time is passed over as well, for the next one down.
        for (auto it = cameras.rbegin(); it != cameras.rend() && !scan.Found; ++it)
            scan = List(*it);
        FListings.Prune();
    }
    if (!scan.Found)
        Forget();
    return scan;
}

std::optional<TCameraScan> TCardScanner::Offer(const std::string& root)
{
    if (root.empty())
        return std::nullopt;
    AskDrive(root);
    if (FDriveAnswers.Answer(root) != true)
        return std::nullopt;
    FOfferedRoot = root;
    Forget();
    return List(FPlatform.JoinPath(root, kCameraFolder));
}

TCameraScan TCardScanner::List(const std::string& cameraPath)
{
    // A camera whose list is shown already keeps it while a slow device lists anew; only its first list is
    // waited for long.
    const bool listed = cameraPath == FListedPath;
    auto listing = FListings.Get(
        cameraPath,
        [queries = FQueries, cameraPath] {
            TStringList list;
            TListing result;
            queries->FindFiles(cameraPath, kPhotoMask, list, &result.Unreadable);
            result.Photos = list.Items();
            return result;
        },
        listed ? FPatience.Drives : FPatience.Listing);
    TCameraScan scan;
    scan.CameraPath = cameraPath;
    scan.Found = listing.has_value() || listed;
    if (listing) {
        FListedPath = cameraPath;
        scan.Photos = std::move(listing->Photos);
        scan.Unreadable = std::move(listing->Unreadable);
    }
    return scan;
}
