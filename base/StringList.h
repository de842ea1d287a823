#pragma once

#include <functional>
#include <string>
#include <vector>

enum class TDuplicates
{
    dupIgnore,
    dupAccept,
    dupError
};

/// An ordered list of byte strings. Unsorted, it keeps append order. Sorted,
/// it keeps its lines in case-insensitive order (ASCII letters folded) and,
/// with dupIgnore, does not add a line that compares equal to one present.
class TStringList
{
public:
    /// Adds s and returns its index (the index of the equal line when ignored).
    int Add(const std::string& s);
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& operator[](int index) const { return FItems.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Items() const { return FItems; }

    bool Sorted() const { return FSorted; }
    /// Switching sorting on sorts the present lines.
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates value) { FDuplicates = value; }

    /// Bulk update: OnChange fires once, at the outermost EndUpdate.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    std::function<void()> OnChange;

    /// Case-insensitive comparison used by the sorted list: <0, 0, >0.
    static int CompareText(const std::string& a, const std::string& b);

private:
    void Changed();

    std::vector<std::string> FItems;
    bool FSorted = false;
    TDuplicates FDuplicates = TDuplicates::dupIgnore;
    int FUpdateCount = 0;
    bool FChangedInUpdate = false;
};
