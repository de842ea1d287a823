#pragma once

#include "app/win/Win.h"

#include <functional>
#include <string>
#include <vector>

/// Keeps the program to one running instance per user: the first start holds a named mutex of the user's
/// session; a later start finds it taken, hands its volumes to the running program's window (WM_COPYDATA)
/// and asks it to show, and ends itself.
class TSingleInstance
{
public:
    explicit TSingleInstance(const std::wstring& name = DefaultName());
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    /// True when this process is the one that runs.
    bool IsFirst() const { return FFirst; }
    /// Sends each volume, then the request to show, to the running program's main window (found by its
    /// window class) and lets it come to the front. Waits at most patience for that window, which a program
    /// started a moment before may not have made yet. False when no window answered.
    bool HandOver(const wchar_t* windowClass, const std::vector<std::string>& volumes,
                  DWORD patience = 5000) const;

    /// The mutex's name: one per user, in the session's namespace.
    static std::wstring DefaultName();

private:
    HANDLE FMutex = nullptr;
    bool FFirst = true;
};

/// Carries out one request a later start sent: a volume to open (UTF-16, no terminating zero) or the request
/// to show the window. False for anything else: an unknown kind, an odd or oversized length, an empty name
/// or one with a zero in it. The data comes from another process and is checked before it is used.
bool HandleInstanceRequest(const COPYDATASTRUCT& data,
                           const std::function<void(const std::string&)>& openVolume,
                           const std::function<void()>& show);

/// The volumes a start was given (its arguments after the program's name, UTF-8), made absolute as the
/// system resolves them ("G:" is the root of G:), so that a later start in another folder means the same.
std::vector<std::string> VolumeArguments(const std::vector<std::string>& arguments);
