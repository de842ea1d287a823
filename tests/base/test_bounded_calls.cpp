// Questions that may hang, asked on worker threads with a time bound: what is
// passed over, what is asked again, which answers count, and that nothing
// waits for a hung worker or is touched by it after its asker has gone.
#include "base/BoundedCalls.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

/// Questions that wait at a gate until the test opens it; they count how often they were asked and how
/// often they ended.
struct TGate
{
    std::mutex Lock;
    std::condition_variable Opened;
    bool Open = true;
    int Asked = 0;
    int Ended = 0;

    void Close()
    {
        std::lock_guard<std::mutex> lock(Lock);
        Open = false;
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Open = true;
        }
        Opened.notify_all();
    }
    int AskedCount()
    {
        std::lock_guard<std::mutex> lock(Lock);
        return Asked;
    }
    /// Waits until n questions have been asked; false after five seconds.
    bool WaitAsked(int n)
    {
        std::unique_lock<std::mutex> lock(Lock);
        return Opened.wait_for(lock, 5s, [&] { return Asked >= n; });
    }
    /// Waits until n questions have ended; false after five seconds.
    bool WaitEnded(int n)
    {
        std::unique_lock<std::mutex> lock(Lock);
        return Opened.wait_for(lock, 5s, [&] { return Ended >= n; });
    }
};

/// A question that passes the gate and answers how often the gate was asked before.
std::function<int()> Question(const std::shared_ptr<TGate>& gate)
{
    return [gate] {
        std::unique_lock<std::mutex> lock(gate->Lock);
        const int n = ++gate->Asked;
        gate->Opened.notify_all();
        gate->Opened.wait(lock, [&] { return gate->Open; });
        ++gate->Ended;
        gate->Opened.notify_all();
        return n;
    };
}

long long MillisecondsSince(TClock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

TEST(TBoundedCalls, AnAnswerInTimeComesAtOnceAndEveryAskAsksAnew)
{
    TBoundedCalls<int> calls(10s, 10s);
    auto gate = std::make_shared<TGate>();
    const auto start = TClock::now();
    EXPECT_EQ(calls.Get("/a", Question(gate)), 1);
    EXPECT_EQ(calls.Get("/a", Question(gate)), 2);
    EXPECT_EQ(calls.Get("/b", Question(gate)), 3);
    EXPECT_LT(MillisecondsSince(start), 5000) << "answers are not waited for beyond their coming";
    EXPECT_EQ(calls.Answer("/never asked"), std::nullopt);
}

TEST(TBoundedCalls, AHungQuestionIsPassedOverAndNotAskedAgainUntilItEnds)
{
    TBoundedCalls<int> calls(200ms, 10s);
    auto gate = std::make_shared<TGate>();
    gate->Close();

    auto start = TClock::now();
    EXPECT_EQ(calls.Get("/phone", Question(gate)), std::nullopt);
    const long long waited = MillisecondsSince(start);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 3000);

    // While it hangs, the path holds its one worker, and a slow path is not waited for.
    start = TClock::now();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(calls.Get("/phone", Question(gate)), std::nullopt);
    EXPECT_LT(MillisecondsSince(start), 190);
    std::this_thread::sleep_for(50ms); // time enough for a second worker to show, were there one
    EXPECT_EQ(gate->AskedCount(), 1);
    EXPECT_EQ(calls.Running(), 1u);
    // Other paths are asked as usual.
    auto other = std::make_shared<TGate>();
    EXPECT_EQ(calls.Get("/card", Question(other), 10s), 1);

    // Its answer, come late, counts for the next ask, which asks nothing new.
    gate->Release();
    ASSERT_TRUE(gate->WaitEnded(1));
    EXPECT_EQ(calls.Get("/phone", Question(gate)), 1);
    EXPECT_EQ(gate->AskedCount(), 1);
    EXPECT_EQ(calls.Running(), 0u);

    // Still counted slow: the next question is asked but not waited for, and the last answer stands.
    gate->Close();
    start = TClock::now();
    EXPECT_EQ(calls.Get("/phone", Question(gate)), 1);
    EXPECT_LT(MillisecondsSince(start), 190);
    EXPECT_TRUE(gate->WaitAsked(2));
    // It answers quickly once released: from then on it is waited for again.
    gate->Release();
    ASSERT_TRUE(gate->WaitEnded(2));
    EXPECT_EQ(calls.Get("/phone", Question(gate)), 2) << "the late answer";
    EXPECT_EQ(calls.Get("/phone", Question(gate), 10s), 3) << "asked and waited for";
}

TEST(TBoundedCalls, AnAnswerStandsWhileTheNextQuestionRunsAndOtherwiseUntilTheMaximumAge)
{
    TBoundedCalls<int> calls(10s, 400ms);
    auto gate = std::make_shared<TGate>();
    ASSERT_EQ(calls.Get("/phone", Question(gate)), 1);
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(calls.Answer("/phone"), std::nullopt) << "old, and no question since";

    // The phone is slow to answer: its last answer stands for as long as the question runs.
    gate->Close();
    EXPECT_EQ(calls.Get("/phone", Question(gate), 50ms), 1);
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(calls.Get("/phone", Question(gate)), 1);
    EXPECT_EQ(gate->AskedCount(), 2);
    gate->Release();
    ASSERT_TRUE(gate->WaitEnded(2));
}

TEST(TBoundedCalls, WhatAQuestionThrowsReachesTheAskerAndTheNextAskAsksAnew)
{
    TBoundedCalls<int> calls(10s, 10s);
    EXPECT_THROW(calls.Get("/card", []() -> int { throw std::runtime_error("Laufwerk nicht lesbar"); }),
                 std::runtime_error);
    EXPECT_EQ(calls.Get("/card", [] { return 7; }), 7);
}

TEST(TBoundedCalls, PruneForgetsPathsNoLongerAskedButNotOnesThatHang)
{
    TBoundedCalls<int> calls(10s, 10s);
    auto gate = std::make_shared<TGate>();
    auto hung = std::make_shared<TGate>();
    hung->Close();
    ASSERT_EQ(calls.Get("/card", Question(gate)), 1);
    ASSERT_EQ(calls.Get("/phone", Question(hung), 50ms), std::nullopt);
    calls.Prune(); // both were asked since the last prune
    EXPECT_EQ(calls.Answer("/card"), 1);
    calls.Prune(); // neither was asked since
    EXPECT_EQ(calls.Answer("/card"), std::nullopt) << "forgotten";
    EXPECT_EQ(calls.Get("/phone", Question(hung)), std::nullopt);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(hung->AskedCount(), 1) << "a path that hangs is remembered and not asked again";
    hung->Release();
    ASSERT_TRUE(hung->WaitEnded(1));
}

TEST(TBoundedCalls, NothingWaitsForAHungWorkerAndItEndsSafelyAfterItsAskerHasGone)
{
    auto gate = std::make_shared<TGate>();
    gate->Close();
    auto calls = std::make_unique<TBoundedCalls<int>>(50ms, 10s);
    ASSERT_EQ(calls->Get("/stale", Question(gate)), std::nullopt);
    const auto start = TClock::now();
    calls.reset();
    EXPECT_LT(MillisecondsSince(start), 40) << "the hung worker is not joined";
    // The worker ends afterwards; it touches only what it owns (the sanitizer build watches).
    gate->Release();
    EXPECT_TRUE(gate->WaitEnded(1));
}

} // namespace
