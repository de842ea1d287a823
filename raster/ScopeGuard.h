#pragma once

#include <exception>
#include <utility>

/// Runs the closing half of a bracket (EndUpdate after BeginUpdate, EndSampling after BeginSampling, a
/// borrowed sampler given back) when the scope ends, on every path. On a normal exit the closing step
/// may throw like any other call. While an exception leaves the scope, that exception stays the one
/// reported: a failure of the closing step itself is dropped, since it cannot be thrown from here.
template <class F> class TScopeGuard
{
public:
    explicit TScopeGuard(F close)
        : FClose(std::move(close))
        , FUncaught(std::uncaught_exceptions())
    {
    }
    TScopeGuard(const TScopeGuard&) = delete;
    TScopeGuard& operator=(const TScopeGuard&) = delete;

    ~TScopeGuard() noexcept(false)
    {
        if (std::uncaught_exceptions() == FUncaught) {
            FClose();
            return;
        }
        try {
            FClose();
        } catch (const std::exception&) {
            // The exception already on its way is the reason the scope ends.
        }
    }

private:
    F FClose;
    int FUncaught;
};
