#pragma once

#include "base/SysUtils.h"

#include <atomic>
#include <functional>
#include <mutex>

/// A broken pairing of calls (for instance EndUpdate without BeginUpdate).
class EAssertionFailed : public Exception
{
public:
    using Exception::Exception;
};

class TNotifiablePersistent;

/// Change notification of a notifier object.
using TNotifyEvent = std::function<void(TNotifiablePersistent& sender)>;

/// Base of every bitmap, transformation, sampler and rasterizer: an update
/// counter and the change event. Changed fires OnChange only while no update
/// is open.
class TNotifiablePersistent
{
public:
    TNotifiablePersistent() = default;
    TNotifiablePersistent(const TNotifiablePersistent&) = delete;
    TNotifiablePersistent& operator=(const TNotifiablePersistent&) = delete;
    virtual ~TNotifiablePersistent() = default;

    void BeginUpdate() { ++FUpdateCount; }
    /// Raises EAssertionFailed "Unpaired TThreadPersistent.EndUpdate" when no
    /// update is open.
    void EndUpdate();
    virtual void Changed();
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChange;

private:
    int FUpdateCount = 0;
};

/// A notifier with a lock for painting and destruction. The program's
/// rendering path takes no lock.
class TThreadPersistent : public TNotifiablePersistent
{
public:
    void Lock();
    void Unlock();
    int LockCount() const { return FLockCount.load(); }

private:
    std::recursive_mutex FLock;
    std::atomic<int> FLockCount{0};
};
