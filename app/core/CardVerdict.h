#pragma once

#include "app/core/PhotoRecord.h"
#include "base/Result.h"

#include <map>
#include <string>
#include <vector>

/// Whether a card may be formatted after a run: only when every file below its DCIM folder is in the
/// target and verified (the same bytes, or the copy this program turned upright of verified bytes).
/// Otherwise what stays, counted by reason.
struct TCardVerdict
{
    /// The card could be listed after the run; without that nothing is said.
    bool Checked = false;
    /// Files below DCIM.
    int Files = 0;
    /// Files that are not JPEG photos, by their extension as the card writes it (".CR2", ".MP4", ".jpeg").
    std::map<std::string, int> NotPhotos;
    /// Photos that were not transferred, by the kind of failure ("no space", "i/o error", ...).
    std::map<std::string, int> Failed;
    /// Photos the run did not begin (the program ended, or they came after the listing).
    int NotBegun = 0;
    /// Photos found in their day folder but not verified there (a copy that could not be read back).
    int Unverified = 0;
    /// Folders below DCIM that could not be read.
    int UnreadableFolders = 0;
    /// For the record: moved photos the card kept (write-protected); their verified copies are in the
    /// target.
    int KeptOnCard = 0;
    /// For the record: moved photos that were turned; the full-size original is not kept anywhere.
    int TurnedOriginalsMoved = 0;

    /// Files and folders that stay on the card for one of the reasons above.
    int Stays() const;
    bool MayBeFormatted() const { return Checked && Stays() == 0; }
    /// The verdict in words, for the log.
    std::string Text() const;
};

/// Judges the card from what is below its DCIM folder now (files, and folders that could not be read)
/// and the records of the run.
TCardVerdict JudgeCard(const std::vector<std::string>& files, const std::vector<TResult>& unreadable,
                       const std::vector<TPhotoRecord>& records, bool moved);
