#pragma once

#include "app/core/Correction.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// A transferred photo to be turned upright: the run's record it belongs to, and its file in the day folder.
struct TTurnJob
{
    size_t Record = 0;
    std::string File;
    int Orientation = 0;
};

/// A turn that has ended, and how.
struct TTurnDone
{
    size_t Record = 0;
    TCorrectionResult Result;
};

/// Turns photos on worker threads while the run goes on copying. Each worker
/// turns one photo at a time, and at most one photo waits for a free worker,
/// so no more pictures are held in memory than there are workers. The run
/// hands photos over and collects the ended turns from one thread; the
/// workers share nothing but the queue.
class TTurnPool
{
public:
    /// Turns the file upright on the worker numbered worker (0 .. workers - 1); may throw.
    using TTurn = std::function<TCorrectionResult(int worker, const std::string& file, int orientation)>;

    /// Starts the workers (at least one). When the system gives no thread at
    /// all, photos are turned on the caller's thread as they are handed over.
    TTurnPool(int workers, TTurn turn);
    /// Abandons the photos that wait, lets those being turned end, and joins the workers.
    ~TTurnPool();
    TTurnPool(const TTurnPool&) = delete;
    TTurnPool& operator=(const TTurnPool&) = delete;

    /// The number of workers running.
    int Workers() const { return static_cast<int>(FThreads.size()); }
    /// Hands the photo over when no other one waits for a worker, waiting up
    /// to patience for that. False when there was no room in time: the job is
    /// left with the caller, to be handed over again.
    bool Submit(TTurnJob& job, std::chrono::milliseconds patience);
    /// The turns ended since the last call, waiting up to patience for one
    /// while photos are being turned or wait.
    std::vector<TTurnDone> TakeDone(std::chrono::milliseconds patience);
    /// Photos handed over whose ended turn has not been taken yet.
    size_t Outstanding() const;
    /// Whether no photo waits for a worker: one handed over now is turned without delay, or next.
    bool NoneWaiting() const;
    /// Takes back the photos not yet started; those being turned go on and end as usual.
    std::vector<TTurnJob> Abandon();

private:
    void Work(int worker);
    TTurnDone Run(int worker, const TTurnJob& job);

    TTurn FTurn;
    mutable std::mutex FMutex;
    std::condition_variable FJobReady;  ///< a job waits, or the workers are to end
    std::condition_variable FRoom;      ///< the waiting job was taken by a worker
    std::condition_variable FTurnEnded; ///< a turn has ended
    std::deque<TTurnJob> FWaiting;
    std::vector<TTurnDone> FDone;
    size_t FRunning = 0;
    bool FEnding = false;
    std::vector<std::thread> FThreads;
};
