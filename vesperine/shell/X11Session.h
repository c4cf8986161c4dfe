#pragma once

#include <string>

#include "shell/PlatformChoice.h"

class QWidget;

namespace vesperine::X11Session {

// Whether an X server answers at `displayName` (an empty name: $DISPLAY)
// within half a second, the patience of the set commands. Asked before Qt
// starts, because Qt aborts the process when it cannot connect and waits
// forever for a server that never answers.
PlatformChoice::DisplayAnswer probeDisplay(const std::string& displayName);

// True when the application runs on X11 and a compositing manager owns the
// screen's _NET_WM_CM_Sn selection, so translucent windows blend.
bool compositorActive();

// Asks the window manager to keep `window` out of taskbars and pagers. Must
// run while the window is unmapped (the manager drops the hints on unmap, so
// it is done before every show); Qt merges these states with its own. Does
// nothing off X11.
void skipTaskbarAndPager(QWidget& window);

}  // namespace vesperine::X11Session
