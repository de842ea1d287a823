// The turning workers on their own: every photo handed over is turned once
// and reported once, several at a time, with no more than one waiting, and
// what is abandoned or fails is reported as such.
#include "app/core/TurnPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

/// A gate the turns wait at until the test opens it; it counts who is inside.
struct TGate
{
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = false;
    int Inside = 0;
    int MostInside = 0;

    void Pass()
    {
        std::unique_lock lock(Mutex);
        ++Inside;
        MostInside = std::max(MostInside, Inside);
        Changed.notify_all();
        Changed.wait(lock, [this] { return Open; });
        --Inside;
    }
    /// Waits (for at most a minute, so that a fault ends the test instead of hanging it) until n are inside.
    bool AwaitInside(int n)
    {
        std::unique_lock lock(Mutex);
        return Changed.wait_for(lock, 60s, [&] { return Inside >= n; });
    }
    void Release()
    {
        std::lock_guard lock(Mutex);
        Open = true;
        Changed.notify_all();
    }
};

/// Opens the gate when the test leaves early, before the pool waits for its workers.
struct TOpenAtEnd
{
    TGate& Gate;
    ~TOpenAtEnd() { Gate.Release(); }
};

std::vector<TTurnDone> TakeAll(TTurnPool& pool)
{
    std::vector<TTurnDone> all;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (pool.Outstanding() > 0 && std::chrono::steady_clock::now() < deadline) {
        for (TTurnDone& done : pool.TakeDone(100ms))
            all.push_back(std::move(done));
    }
    return all;
}

} // namespace

TEST(TurnPool, TurnsEveryPhotoOnceOnSeveralWorkersAndReportsEach)
{
    constexpr int kWorkers = 3;
    constexpr size_t kPhotos = 40;
    TGate gate;
    std::mutex mutex;
    std::multiset<std::string> turned;
    std::set<int> workersSeen;
    TTurnPool pool(kWorkers, [&](int worker, const std::string& file, int orientation) {
        // The first photos wait until all workers hold one: they run side by side, not one after the other.
        if (file < "p03")
            gate.Pass();
        std::lock_guard lock(mutex);
        turned.insert(file);
        workersSeen.insert(worker);
        return TCorrectionResult{
            orientation == 6 ? TCorrectionOutcome::Corrected : TCorrectionOutcome::Skipped, {}};
    });
    const TOpenAtEnd open{gate};
    ASSERT_EQ(pool.Workers(), kWorkers);

    std::vector<TTurnJob> jobs;
    for (size_t i = 0; i < kPhotos; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "p%02zu", i);
        jobs.push_back({i, name, i % 2 == 0 ? 6 : 8});
    }
    // Three photos go to the three workers, and a fourth waits; a fifth finds no room.
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(pool.Submit(jobs[i], 60s));
        ASSERT_TRUE(gate.AwaitInside(static_cast<int>(i) + 1));
    }
    ASSERT_TRUE(pool.Submit(jobs[3], 60s));
    EXPECT_FALSE(pool.Submit(jobs[4], 20ms)) << "a second photo may not wait";
    EXPECT_EQ(jobs[4].File, "p04") << "a photo without room stays with the caller";
    EXPECT_EQ(pool.Outstanding(), 4u);
    EXPECT_TRUE(pool.TakeDone(0ms).empty());
    gate.Release();

    std::vector<TTurnDone> all;
    for (size_t i = 4; i < kPhotos; ++i) {
        while (!pool.Submit(jobs[i], 100ms)) {
        }
        for (TTurnDone& done : pool.TakeDone(0ms))
            all.push_back(std::move(done));
    }
    for (TTurnDone& done : TakeAll(pool))
        all.push_back(std::move(done));

    EXPECT_EQ(gate.MostInside, kWorkers);
    EXPECT_EQ(pool.Outstanding(), 0u);
    ASSERT_EQ(all.size(), kPhotos);
    std::set<size_t> records;
    for (const TTurnDone& done : all) {
        records.insert(done.Record);
        EXPECT_EQ(done.Result.Outcome,
                  done.Record % 2 == 0 ? TCorrectionOutcome::Corrected : TCorrectionOutcome::Skipped);
    }
    EXPECT_EQ(records.size(), kPhotos) << "each photo is reported once";
    EXPECT_EQ(turned.size(), kPhotos);
    for (const std::string& file : turned)
        EXPECT_EQ(turned.count(file), 1u) << file << " turned more than once";
    EXPECT_EQ(workersSeen, (std::set<int>{0, 1, 2}));
}

TEST(TurnPool, AbandonsWaitingPhotosLetsRunningOnesEndAndReportsFailures)
{
    TGate gate;
    std::atomic<int> calls{0};
    std::vector<TTurnJob> abandoned;
    {
        TTurnPool pool(1, [&](int, const std::string& file, int) -> TCorrectionResult {
            ++calls;
            if (file == "running")
                gate.Pass();
            if (file == "throws")
                throw std::runtime_error("the disk is gone");
            return {TCorrectionOutcome::Corrected, {}};
        });
        const TOpenAtEnd open{gate};
        TTurnJob throws{0, "throws", 6};
        ASSERT_TRUE(pool.Submit(throws, 60s));
        std::vector<TTurnDone> first = TakeAll(pool);
        ASSERT_EQ(first.size(), 1u);
        EXPECT_EQ(first[0].Result.Outcome, TCorrectionOutcome::Failed) << "a turn that throws fails";
        EXPECT_EQ(first[0].Result.Reason.Kind(), TFailure::Other);
        EXPECT_EQ(first[0].Result.Reason.Message(), "the disk is gone");
        EXPECT_EQ(first[0].Result.Reason.Path(), "throws");

        TTurnJob running{1, "running", 6};
        TTurnJob waiting{2, "waiting", 8};
        ASSERT_TRUE(pool.Submit(running, 60s));
        ASSERT_TRUE(gate.AwaitInside(1));
        ASSERT_TRUE(pool.Submit(waiting, 60s));
        abandoned = pool.Abandon();
        ASSERT_EQ(abandoned.size(), 1u);
        EXPECT_EQ(abandoned[0].Record, 2u);
        EXPECT_EQ(abandoned[0].File, "waiting");
        EXPECT_EQ(pool.Outstanding(), 1u) << "the photo being turned is still on its way";
        gate.Release();
        std::vector<TTurnDone> rest = TakeAll(pool);
        ASSERT_EQ(rest.size(), 1u);
        EXPECT_EQ(rest[0].Record, 1u);
        EXPECT_EQ(rest[0].Result.Outcome, TCorrectionOutcome::Corrected);
    }
    EXPECT_EQ(calls.load(), 2) << "the abandoned photo was not turned after all";
}
