// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// The release and build the start-up line, --version and diagnostic captures name.
namespace ProgramVersion {
inline constexpr std::string_view number = "1.0.0";
inline constexpr std::string_view build = "202609091000";
}  // namespace ProgramVersion
