#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

/// Questions about paths that may take long or never be answered: a phone that was locked, a camera gone to
/// sleep, a stale FUSE or network mount. Each question runs on a worker thread of its own, and the asker
/// waits for it only as long as its patience; what has not answered by then is passed over, and the asker
/// goes on.
///
/// Per key (a path) at most one question is open at a time. One that is still running when its patience is
/// used up is not asked again until it has ended, so a hung path holds one thread and no more; its answer,
/// when it comes, is kept for the next ask. A key whose question overran is slow: it is still asked at every
/// turn but not waited for, and its answers arrive one ask late, until one comes within the patience again.
/// An answer counts while it is younger than the maximum age, and for as long as the question after it is
/// still running: a slow device does not flip between there and gone while it works on an answer.
///
/// Workers are detached. Nothing ever waits for a hung one, not even the program's end (the system ends it
/// with the process), and each owns all it touches: its question and the slot of its answer. One that ends
/// after this object has gone touches nothing that is gone, as long as its question refers only to objects
/// it shares the ownership of.
///
/// Asked from one thread; the questions run on others.
template <class R> class TBoundedCalls
{
public:
    using TClock = std::chrono::steady_clock;

    TBoundedCalls(std::chrono::milliseconds patience, std::chrono::milliseconds maxAge)
        : FPatience(patience)
        , FMaxAge(maxAge)
    {
    }

    void SetPatience(std::chrono::milliseconds patience) { FPatience = patience; }

    /// Starts question about key on a worker thread, unless a question about key is still open or one
    /// that ended after its asker had given up has just given a fresh answer. patience: how long Answer
    /// waits for it; the object's own when zero.
    void Ask(const std::string& key, std::function<R()> question,
             std::chrono::milliseconds patience = std::chrono::milliseconds::zero())
    {
        TKey& k = FKeys[key];
        k.Asked = true;
        if (k.Open.valid() && IsReady(k.Open)) {
            Collect(k);
            if (IsFresh(k))
                return;
        }
        if (k.Open.valid())
            return;
        std::packaged_task<R()> task(std::move(question));
        auto ended = std::make_shared<std::atomic<TClock::rep>>(0);
        std::future<R> open = task.get_future();
        try {
            std::thread([task = std::move(task), ended]() mutable {
                task();
                ended->store(TClock::now().time_since_epoch().count());
            }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: no question this time, and no answer.
            return;
        }
        k.Open = std::move(open);
        k.Ended = std::move(ended);
        k.AskedAt = TClock::now();
        k.Patience = patience > std::chrono::milliseconds::zero() ? patience : FPatience;
    }

    /// The newest answer about key: an open question is waited for until its patience, counted from when
    /// it was asked, is used up (a slow key's is not waited for). Empty when there is no answer, or the
    /// newest is older than the maximum age and no question about key is running. Rethrows what the
    /// question threw.
    std::optional<R> Answer(const std::string& key)
    {
        const auto it = FKeys.find(key);
        if (it == FKeys.end())
            return std::nullopt;
        TKey& k = it->second;
        if (k.Open.valid()) {
            const auto until = k.Slow ? TClock::now() : k.AskedAt + k.Patience;
            if (k.Open.wait_until(until) == std::future_status::ready)
                Collect(k);
            else
                k.Slow = true;
        }
        if (!k.Last.valid() || (!IsFresh(k) && !k.Open.valid()))
            return std::nullopt;
        return k.Last.get();
    }

    /// Ask and Answer in one.
    std::optional<R> Get(const std::string& key, std::function<R()> question,
                         std::chrono::milliseconds patience = std::chrono::milliseconds::zero())
    {
        Ask(key, std::move(question), patience);
        return Answer(key);
    }

    /// Forgets the keys not asked about since the last call, except those whose question is still running:
    /// a path that hangs is not asked again, even when it is gone for a while and comes back.
    void Prune()
    {
        for (auto it = FKeys.begin(); it != FKeys.end();) {
            TKey& k = it->second;
            if (!k.Asked && !(k.Open.valid() && !IsReady(k.Open))) {
                it = FKeys.erase(it);
            } else {
                k.Asked = false;
                ++it;
            }
        }
    }

    /// The number of questions still running.
    size_t Running() const
    {
        size_t n = 0;
        for (const auto& [key, k] : FKeys)
            n += k.Open.valid() && !IsReady(k.Open) ? 1 : 0;
        return n;
    }

private:
    struct TKey
    {
        std::future<R> Open;
        std::shared_ptr<std::atomic<TClock::rep>> Ended;
        TClock::time_point AskedAt;
        std::chrono::milliseconds Patience{0};
        std::shared_future<R> Last;
        TClock::time_point LastAt;
        bool Slow = false;
        bool Asked = false;
    };

    static bool IsReady(const std::future<R>& f)
    {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    /// Takes the answer of the ended question as the key's newest.
    void Collect(TKey& k)
    {
        // The answer is there a moment before its worker notes the time: then it is now.
        const TClock::rep ended = k.Ended->load();
        k.LastAt = ended != 0 ? TClock::time_point(TClock::duration(ended)) : TClock::now();
        k.Slow = k.LastAt - k.AskedAt > k.Patience;
        k.Last = k.Open.share();
        k.Ended.reset();
    }

    bool IsFresh(const TKey& k) const { return TClock::now() - k.LastAt <= FMaxAge; }

    std::chrono::milliseconds FPatience;
    std::chrono::milliseconds FMaxAge;
    std::map<std::string, TKey> FKeys;
};
