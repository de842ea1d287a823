#include "raster/Persistent.h"

void TNotifiablePersistent::EndUpdate()
{
    if (FUpdateCount <= 0)
        throw EAssertionFailed("Unpaired TThreadPersistent.EndUpdate");
    --FUpdateCount;
}

void TNotifiablePersistent::Changed()
{
    if (FUpdateCount == 0 && OnChange)
        OnChange(*this);
}

void TThreadPersistent::Lock()
{
    ++FLockCount;
    FLock.lock();
}

void TThreadPersistent::Unlock()
{
    FLock.unlock();
    --FLockCount;
}
