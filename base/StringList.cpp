#include "base/StringList.h"

#include "base/SysUtils.h"

#include <algorithm>

namespace {

unsigned char Fold(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

} // namespace

int TStringList::CompareText(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = Fold(a[i]);
        const unsigned char cb = Fold(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

int TStringList::Add(const std::string& s)
{
    if (!FSorted) {
        FItems.push_back(s);
        Changed();
        return Count() - 1;
    }
    const auto at =
        std::lower_bound(FItems.begin(), FItems.end(), s,
                         [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    if (at != FItems.end() && CompareText(*at, s) == 0) {
        if (FDuplicates == TDuplicates::dupIgnore)
            return static_cast<int>(at - FItems.begin());
        if (FDuplicates == TDuplicates::dupError)
            throw Exception("Liste erlaubt keine Duplikate");
    }
    const auto index = static_cast<int>(at - FItems.begin());
    FItems.insert(at, s);
    Changed();
    return index;
}

void TStringList::Clear()
{
    if (FItems.empty())
        return;
    FItems.clear();
    Changed();
}

void TStringList::SetSorted(bool value)
{
    if (FSorted == value)
        return;
    FSorted = value;
    if (FSorted) {
        std::stable_sort(FItems.begin(), FItems.end(),
                         [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
        Changed();
    }
}

void TStringList::EndUpdate()
{
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FChangedInUpdate) {
        FChangedInUpdate = false;
        if (OnChange)
            OnChange();
    }
}

void TStringList::Changed()
{
    if (FUpdateCount > 0) {
        FChangedInUpdate = true;
        return;
    }
    if (OnChange)
        OnChange();
}
