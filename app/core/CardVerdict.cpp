#include "app/core/CardVerdict.h"

#include <cctype>
#include <numeric>
#include <unordered_map>

namespace {

/// The extension of a file name as written ("" when it has none), and whether it is that of a JPEG photo
/// the run takes ("*.jpg" in any case).
std::string Extension(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size())
        return {};
    return path.substr(dot);
}

bool IsPhotoExtension(const std::string& extension)
{
    if (extension.size() != 4)
        return false;
    std::string lower;
    for (const char c : extension)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == ".jpg";
}

/// "12 x .CR2, 3 x .MP4"
std::string Counts(const std::map<std::string, int>& counts)
{
    std::string text;
    for (const auto& [name, n] : counts)
        text += (text.empty() ? "" : ", ") + std::to_string(n) + " x " + (name.empty() ? "(none)" : name);
    return text;
}

} // namespace

int TCardVerdict::Stays() const
{
    const auto sum = [](const std::map<std::string, int>& m) {
        return std::accumulate(m.begin(), m.end(), 0, [](int n, const auto& e) { return n + e.second; });
    };
    return sum(NotPhotos) + sum(Failed) + NotBegun + Unverified + UnreadableFolders;
}

std::string TCardVerdict::Text() const
{
    if (!Checked)
        return "card not checked: it could not be listed after the run";
    std::string text = MayBeFormatted()
                           ? "card may be formatted: every file below DCIM is in the target and verified"
                           : "card must not be formatted: " + std::to_string(Stays()) + " of " +
                                 std::to_string(Files) + " files stay on the card";
    if (!NotPhotos.empty())
        text += "; not JPEG photos: " + Counts(NotPhotos);
    if (!Failed.empty())
        text += "; failed: " + Counts(Failed);
    if (NotBegun > 0)
        text += "; not begun: " + std::to_string(NotBegun);
    if (Unverified > 0)
        text += "; not verified in the target: " + std::to_string(Unverified);
    if (UnreadableFolders > 0)
        text += "; folders that cannot be read: " + std::to_string(UnreadableFolders);
    if (KeptOnCard > 0)
        text += "; stayed on the card (copies verified): " + std::to_string(KeptOnCard);
    if (TurnedOriginalsMoved > 0)
        text += "; turned copies whose original was moved (the full-size original is not kept): " +
                std::to_string(TurnedOriginalsMoved);
    return text;
}

TCardVerdict JudgeCard(const std::vector<std::string>& files, const std::vector<TResult>& unreadable,
                       const std::vector<TPhotoRecord>& records, bool moved)
{
    TCardVerdict verdict;
    verdict.Checked = true;
    verdict.Files = static_cast<int>(files.size());
    verdict.UnreadableFolders = static_cast<int>(unreadable.size());
    std::unordered_map<std::string, const TPhotoRecord*> bySource;
    for (const TPhotoRecord& record : records) {
        bySource.emplace(record.Source, &record);
        if (moved && record.Outcome == TPhotoOutcome::Turned)
            ++verdict.TurnedOriginalsMoved;
    }
    for (const std::string& file : files) {
        const std::string extension = Extension(file);
        if (!IsPhotoExtension(extension)) {
            ++verdict.NotPhotos[extension];
            continue;
        }
        const auto it = bySource.find(file);
        if (it == bySource.end()) {
            ++verdict.NotBegun;
            continue;
        }
        const TPhotoRecord& record = *it->second;
        switch (record.Outcome) {
        case TPhotoOutcome::Failed:
            ++verdict.Failed[FailureName(record.Reason.Kind())];
            break;
        case TPhotoOutcome::Skipped:
        case TPhotoOutcome::TakenElsewhere:
            verdict.Unverified += record.Verified ? 0 : 1;
            break;
        case TPhotoOutcome::Transferred:
        case TPhotoOutcome::Turned:
        case TPhotoOutcome::TurnFailed:
            // Copies are verified before they get their names; a moved photo still here stayed.
            verdict.KeptOnCard += moved ? 1 : 0;
            break;
        }
    }
    return verdict;
}
