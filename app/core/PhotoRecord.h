#pragma once

#include "base/Result.h"

#include <string>

/// What became of one photo of a transfer run.
enum class TPhotoOutcome
{
    Transferred,    ///< copied or moved into its day folder
    Turned,         ///< transferred and turned upright
    TurnFailed,     ///< transferred, but it could not be turned upright
    Skipped,        ///< left alone: it is in its day folder already
    TakenElsewhere, ///< another program (another desktop session) took it from the card meanwhile
    Failed          ///< not transferred, or its new name could not be made safe
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
    /// Left alone as it is in its day folder already, and that file was compared with it byte for byte, or
    /// is the copy this program turned of it and was read back whole.
    bool Verified = false;
};

/// What the user chose for a transfer run when pressing "Fotos kopieren"; it holds for every photo.
struct TRunOptions
{
    /// "Fotos kopieren und in Kamera löschen": the photos leave the card.
    bool Move = false;
    /// "Wenn möglich Bilder drehen": photos taken sideways are turned upright.
    bool Turn = true;
};

/// The counts of one transfer run, kept from its records: the window's numbers and the log's end line.
struct TRunCounts
{
    int Transferred = 0;    ///< copied or moved, renamed and kept ones included
    int Turned = 0;         ///< of them, turned upright
    int NotTurned = 0;      ///< of them, not turned although they should have been
    int Renamed = 0;        ///< of them, under another name because theirs was taken
    int KeptOnCard = 0;     ///< of them, moved but still on the card
    int AlreadyThere = 0;   ///< left alone, as they are in their day folder already
    int TakenElsewhere = 0; ///< taken from the card by another program meanwhile: no failure of this run
    int Failed = 0;         ///< not transferred

    /// Counts the record in (sign 1) or out again (sign -1), before its outcome changes.
    void Count(const TPhotoRecord& record, int sign);
    bool operator==(const TRunCounts&) const = default;
};
