#pragma once

// The temporary files this process has made and not yet named or removed, so
// that an end that cannot wait for the work writing them (a device that does
// not answer) can still remove them. Private to platform/; safe from any thread.

#include <mutex>
#include <set>
#include <string>
#include <vector>

class TLiveTemporaries
{
public:
    static void Add(const std::string& name)
    {
        if (name.empty())
            return;
        std::lock_guard lock(Mutex());
        Names().insert(name);
    }
    static void Remove(const std::string& name)
    {
        if (name.empty())
            return;
        std::lock_guard lock(Mutex());
        Names().erase(name);
    }
    /// Takes the names out, for the caller to remove the files.
    static std::vector<std::string> TakeAll()
    {
        std::lock_guard lock(Mutex());
        std::vector<std::string> names(Names().begin(), Names().end());
        Names().clear();
        return names;
    }

private:
    static std::mutex& Mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::set<std::string>& Names()
    {
        static std::set<std::string> names;
        return names;
    }
};
