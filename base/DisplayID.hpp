// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The system's 32-bit display identifier: the key of every per-display map.
using DisplayID = std::uint32_t;
