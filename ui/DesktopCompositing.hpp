// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether the desktop composites windows, so that a translucent window shows
// what lies behind it: always on Wayland; on X11 when a compositing manager
// owns the screen's _NET_WM_CM_Sn selection.
bool desktopComposites();
