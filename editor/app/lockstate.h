// The keyboard's lock states for the status bar's CAP, NUM and SCRL panes.
// Qt has no portable query; on X11 the XKB indicators are read.
#pragma once

#include <optional>

struct LockStates {
    bool caps = false;
    bool num = false;
    bool scroll = false;

    friend bool operator==(const LockStates&, const LockStates&) = default;
};

// The states now, or nothing when the platform cannot tell (Wayland,
// offscreen, a build without X11).
std::optional<LockStates> readLockStates();
