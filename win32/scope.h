// Scope-bound actions: a guard that runs a function when the scope ends
// (unless dismissed), and the wait cursor shown while a scope runs.
#pragma once

#include <windows.h>

#include <utility>

namespace tessera::win32 {

template <class Action>
class ScopeGuard {
public:
    explicit ScopeGuard(Action action) noexcept : action_(std::move(action)) {}
    ~ScopeGuard() {
        if (armed_) action_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    // The work succeeded: the action is not needed.
    void Dismiss() noexcept { armed_ = false; }

private:
    Action action_;
    bool armed_ = true;
};

// auto closeLog = OnScopeExit([&] { ... });
template <class Action>
[[nodiscard]] ScopeGuard<Action> OnScopeExit(Action action) noexcept {
    return ScopeGuard<Action>(std::move(action));
}

// The hourglass while the scope runs; the earlier cursor after.
class WaitCursor {
public:
    WaitCursor() noexcept : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

}  // namespace tessera::win32
