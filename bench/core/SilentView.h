#pragma once

#include "app/core/CameraWatcher.h"

/// A main window that shows nothing: the benchmarks measure the watcher's work, not a window's.
class TSilentView : public TWatcherWindow
{
public:
    void Render(const TWindowState&) override {}
    void Show() override {}
    void Hide() override {}
    void Paint() override {}
};
