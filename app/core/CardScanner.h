#pragma once

#include "base/BoundedCalls.h"
#include "platform/Platform.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// How long the tick waits for drives that answer slowly: phones, cameras, a stale mount. Each drive is
/// asked on a worker thread of its own; one that has not answered when the patience is used up is passed
/// over for that tick, and the window goes on. A drive that keeps being slow is no longer waited for: its
/// answers come one tick late, and one that stopped answering counts as gone after a few seconds.
struct TWatcherPatience
{
    /// For whether the drives are ready and hold DCIM, all asked at once.
    std::chrono::milliseconds Drives{300};
    /// For the first listing of a camera's photos; a camera whose list is shown already is listed again
    /// with the drives' patience, and its list stands until the new one is there.
    std::chrono::milliseconds Listing{1000};
};

/// What one look at the drives found.
struct TCameraScan
{
    /// A drive qualifies: ready, with the card's own DCIM at its root (and, when photos were asked for,
    /// they are listed).
    bool Found = false;
    /// The DCIM folder of the winning drive: the highest letter, or the volume the user opened.
    std::string CameraPath;
    /// The photos below it in discovery order, when a new list came; none when the list shown before
    /// stands (a slow device lists anew) or none was asked for.
    std::optional<std::vector<std::string>> Photos;
    /// With a new list: the folders and entries of the card that could not be read, with the reason.
    std::vector<TResult> Unreadable;
};

/// Answers "which camera, which photos": asks the drives E..Z (and a volume the user opened the program
/// with) whether they are ready and hold DCIM, and lists the winning camera's photos. Every question runs
/// on a worker thread and is waited for only with the patience set, so a hung device never holds the
/// caller. The platform must outlive the scanner; questions still running after it has gone touch only
/// what they own.
class TCardScanner
{
public:
    explicit TCardScanner(TPlatform& platform);

    void SetPatience(const TWatcherPatience& patience);

    /// Looks at every drive; the last one that qualifies wins, among those wanted (all when wanted is
    /// unset). With listPhotos, a wanted camera whose photos cannot be listed in time is passed over for the
    /// next one down, unless its list is shown already. Cameras, when given, receives the camera folders of
    /// all drives that qualify, the winner's place last.
    TCameraScan Scan(bool listPhotos, const std::function<bool(const std::string&)>& wanted = {},
                     std::vector<std::string>* cameras = nullptr);
    /// A volume the user opened the program with: when root holds DCIM and answers in time, it is looked at
    /// first from now on, as long as its DCIM is there, and its photos are listed afresh (Found is false when
    /// they do not come in time). None when root does not qualify.
    std::optional<TCameraScan> Offer(const std::string& root);
    /// Lists the photos below cameraPath, waiting with the listing's patience the first time. Found is
    /// false when none came in time and the list shown is not this camera's.
    TCameraScan List(const std::string& cameraPath);
    /// The list shown belongs to no attached camera any more.
    void Forget() { FListedPath.clear(); }

private:
    /// Asks, on a worker thread, whether the drive at root is ready and holds DCIM.
    void AskDrive(const std::string& root);

    TPlatform& FPlatform;
    std::shared_ptr<TDriveQueries> FQueries;
    TWatcherPatience FPatience;
    TBoundedCalls<bool> FDriveAnswers;
    /// A card's photos and what of the card could not be read.
    struct TListing
    {
        std::vector<std::string> Photos;
        std::vector<TResult> Unreadable;
    };
    TBoundedCalls<TListing> FListings;
    /// The camera folder the list shown was made from; empty when it belongs to no attached camera.
    std::string FListedPath;
    /// The volume the user opened the program with; empty when none or once its DCIM has gone.
    std::string FOfferedRoot;
};
