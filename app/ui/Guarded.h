#pragma once

#include "tray/TrayHost.h"

#include <exception>
#include <utility>

/// Runs the body of one event handler. An exception it raises ends the handler and is shown to the user by
/// the application's exception handler (a message box); the event loop goes on. No exception may leave a
/// Qt slot, so every handler of the main window runs through here.
template <class F> void Guarded(const TTrayApplication& application, F&& body)
{
    try {
        std::forward<F>(body)();
    } catch (const std::exception& e) {
        application.HandleException(e);
    }
}
