// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Folders only this user can change: what the instance lock and the gamma
// recovery files need, since anyone who could write there could start a
// second copy or make the screen black at the next start.

// Creates `folder` (mode 0700) when missing. True when it is then a real
// folder (not a symbolic link) that `owner` owns and that neither group nor
// others may write; otherwise false with the reason in `why`.
bool ensurePrivateFolder(const std::filesystem::path& folder, unsigned owner, std::string& why);

// <temporary>/dimmora-<owner>, made private: the stand-in for a runtime
// folder that is missing or unusable. nullopt, with the reason, when a folder
// at that predictable name is not private.
std::optional<std::filesystem::path> privateTemporaryFolder(const std::filesystem::path& temporary, unsigned owner,
                                                            std::string& why);
