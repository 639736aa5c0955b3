// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Asks the window manager to leave `window` out of taskbars and pagers
// (_NET_WM_STATE_SKIP_TASKBAR and _SKIP_PAGER): a drop-down is no task of its
// own. Call before every showing, since the manager drops the state when the
// window is withdrawn. Does nothing off X11.
void keepOffTaskbarAndPager(QWidget* window);
