#pragma once

#include "base/Result.h"

#include <string>

/// What became of one photo of a transfer run.
enum class TPhotoOutcome
{
    Transferred, ///< copied or moved into its day folder
    Turned,      ///< transferred and turned upright
    TurnFailed,  ///< transferred, but it could not be turned upright
    Skipped,     ///< left alone: it is in its day folder already, or no transfer mode is chosen
    Failed       ///< not transferred, or its new name could not be made safe
};

/// One photo of a transfer run: where it came from, where it went (or was
/// to go), what became of it and why.
struct TPhotoRecord
{
    std::string Source;
    /// Its place in the day folder; empty when it had none.
    std::string Target;
    TPhotoOutcome Outcome = TPhotoOutcome::Failed;
    /// Why it failed, could not be turned, or was left alone; success otherwise.
    TResult Reason;
    /// Its own name in the day folder was taken by another photo, so it went
    /// under the next free one (NAME_1.JPG, NAME_2.JPG, ...), which Target holds.
    bool Renamed = false;
    /// Moved, but the card kept the photo (write-protected): why. The
    /// verified copy is in the day folder. Success otherwise.
    TResult KeptOnCard;
};
