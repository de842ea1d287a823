#include "app/core/TurnPool.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

namespace {

/// How many photos may wait for a free worker.
constexpr size_t kWaitingLimit = 1;

} // namespace

TTurnPool::TTurnPool(int workers, TTurn turn)
    : FTurn(std::move(turn))
{
    for (int i = 0; i < std::max(workers, 1); ++i) {
        try {
            FThreads.emplace_back([this, i] { Work(i); });
        } catch (const std::system_error&) {
            // Fewer workers than asked for; none at all means turning on the caller's thread.
            break;
        }
    }
}

TTurnPool::~TTurnPool()
{
    {
        std::lock_guard lock(FMutex);
        FEnding = true;
        FWaiting.clear();
    }
    FJobReady.notify_all();
    for (std::thread& thread : FThreads)
        thread.join();
}

bool TTurnPool::Submit(TTurnJob& job, std::chrono::milliseconds patience)
{
    if (FThreads.empty()) {
        TTurnDone done = Run(0, job);
        std::lock_guard lock(FMutex);
        FDone.push_back(std::move(done));
        return true;
    }
    {
        std::unique_lock lock(FMutex);
        if (!FRoom.wait_for(lock, patience, [this] { return FWaiting.size() < kWaitingLimit; }))
            return false;
        FWaiting.push_back(std::move(job));
    }
    FJobReady.notify_one();
    return true;
}

std::vector<TTurnDone> TTurnPool::TakeDone(std::chrono::milliseconds patience)
{
    std::unique_lock lock(FMutex);
    FTurnEnded.wait_for(lock, patience,
                        [this] { return !FDone.empty() || (FWaiting.empty() && FRunning == 0); });
    return std::exchange(FDone, {});
}

size_t TTurnPool::Outstanding() const
{
    std::lock_guard lock(FMutex);
    return FWaiting.size() + FRunning + FDone.size();
}

bool TTurnPool::NoneWaiting() const
{
    std::lock_guard lock(FMutex);
    return FWaiting.empty();
}

std::vector<TTurnJob> TTurnPool::Abandon()
{
    std::lock_guard lock(FMutex);
    std::vector<TTurnJob> abandoned(std::make_move_iterator(FWaiting.begin()),
                                    std::make_move_iterator(FWaiting.end()));
    FWaiting.clear();
    FRoom.notify_all();
    return abandoned;
}

void TTurnPool::Work(int worker)
{
    std::unique_lock lock(FMutex);
    for (;;) {
        FJobReady.wait(lock, [this] { return FEnding || !FWaiting.empty(); });
        if (FWaiting.empty())
            return;
        TTurnJob job = std::move(FWaiting.front());
        FWaiting.pop_front();
        ++FRunning;
        lock.unlock();
        FRoom.notify_one();
        TTurnDone done = Run(worker, job);
        lock.lock();
        --FRunning;
        FDone.push_back(std::move(done));
        FTurnEnded.notify_all();
    }
}

TTurnDone TTurnPool::Run(int worker, const TTurnJob& job)
{
    TTurnDone done;
    done.Record = job.Record;
    // A turn that throws leaves the photo as it was: a failed turn, reported like any other.
    try {
        done.Result = FTurn(worker, job.File, job.Orientation);
    } catch (const std::bad_alloc&) {
        done.Result = {TCorrectionOutcome::Failed, TResult::Fail(TFailure::Other, job.File, "out of memory")};
    } catch (const std::exception& e) {
        done.Result = {TCorrectionOutcome::Failed, TResult::Fail(TFailure::Other, job.File, e.what())};
    } catch (...) {
        done.Result = {TCorrectionOutcome::Failed,
                       TResult::Fail(TFailure::Other, job.File, "unknown failure")};
    }
    return done;
}
