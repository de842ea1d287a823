#pragma once

#include "app/core/CameraWatcher.h"
#include "base/TaskQueue.h"

/// A main window that shows nothing: the benchmarks measure the watcher's work, not a window's.
class TSilentView : public TWatcherWindow
{
public:
    void Render(const TWindowState&) override {}
    void Show() override {}
    void Hide() override {}
    void Post(std::function<void()> task) override { Queue.Post(std::move(task)); }
    void TransferEnded() override {}

    /// Runs a transfer to its end, taking in its progress as the window's thread does.
    static void Transfer(TCameraWatcher& watcher, TSilentView& view, const TRunOptions& options)
    {
        watcher.Transfer(options);
        view.Queue.Pump([&] { return !watcher.Running(); });
    }

    TTaskQueue Queue;
};
