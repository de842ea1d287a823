#pragma once

// The names and records that safe copies leave beside their targets, the
// same on every system, so that either one recognises the other's left-overs
// on a card or disk they share. Private to platform/.

#include <string>
#include <string_view>

/// Temporary files are named ".fotoimport-" and six letters or digits.
inline constexpr std::string_view kTempPrefix = ".fotoimport-";
inline constexpr size_t kTempLetters = 6;

/// Whether name is one of the temporary names.
inline bool IsTempName(std::string_view name)
{
    if (name.size() != kTempPrefix.size() + kTempLetters || name.substr(0, kTempPrefix.size()) != kTempPrefix)
        return false;
    for (const char c : name.substr(kTempPrefix.size())) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

/// Where a folder has neither a rename that refuses to replace nor hard links, a copy claims its name by
/// creating it empty, exclusively, and is then renamed over that claim. A temporary file holding a claim
/// record says which name was claimed, so that a run killed between the claim and the rename leaves
/// nothing the next one cannot recognise: the record and the empty file it names.
inline constexpr std::string_view kClaimMark = "fotoimport claim\n";
/// The longest record: the mark, a name the file systems allow, and a line end.
inline constexpr size_t kClaimRecordMax = 1024;

/// The record of a claim of name (a name within the folder, no path).
inline std::string ClaimRecord(const std::string& name)
{
    return std::string(kClaimMark) + name + "\n";
}

/// The name a claim record's content names; empty when content is no claim record, or its name is not a
/// plain name of the same folder.
inline std::string ClaimedName(std::string_view content)
{
    if (content.size() > kClaimRecordMax || content.substr(0, kClaimMark.size()) != kClaimMark ||
        content.back() != '\n')
        return {};
    const std::string_view name = content.substr(kClaimMark.size(), content.size() - kClaimMark.size() - 1);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\\\n\0", 4)) != std::string_view::npos)
        return {};
    return std::string(name);
}
