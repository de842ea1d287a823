#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

/// Work handed to one thread from any other: Post queues a function, and the owning thread runs what is
/// queued, in order, with Run or Pump. A front end without a queue of its own wakes its thread when work
/// comes (OnPosted) and drains the queue there.
class TTaskQueue
{
public:
    using TTask = std::function<void()>;

    /// Called after each Post, on the posting thread (for example to wake a window's message loop).
    std::function<void()> OnPosted;

    void Post(TTask task)
    {
        {
            std::lock_guard lock(FMutex);
            FTasks.push_back(std::move(task));
        }
        FPosted.notify_all();
        if (OnPosted)
            OnPosted();
    }

    /// Runs what is queued now (and what those tasks queue). Returns how many ran.
    int Run()
    {
        int ran = 0;
        while (TTask task = Take()) {
            task();
            ++ran;
        }
        return ran;
    }

    /// Runs queued work as it comes until done() holds, waiting at most patience for each task. False
    /// when no task came in time.
    template <class Done> bool Pump(Done done, std::chrono::milliseconds patience = std::chrono::seconds(60))
    {
        while (!done()) {
            TTask task;
            {
                std::unique_lock lock(FMutex);
                if (!FPosted.wait_for(lock, patience, [this] { return !FTasks.empty(); }))
                    return false;
                task = std::move(FTasks.front());
                FTasks.pop_front();
            }
            task();
        }
        return true;
    }

private:
    TTask Take()
    {
        std::lock_guard lock(FMutex);
        if (FTasks.empty())
            return {};
        TTask task = std::move(FTasks.front());
        FTasks.pop_front();
        return task;
    }

    std::mutex FMutex;
    std::condition_variable FPosted;
    std::deque<TTask> FTasks;
};
