// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Facts about the installed system that the window reports, read from files
// under `root` ("/" in the program, a fake tree in tests).
namespace SystemFacts {

// "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64": the distribution's
// PRETTY_NAME from os-release (/etc, then /usr/lib), else its NAME and
// VERSION, and the kernel release; "Linux" alone when nothing can be read.
std::string operatingSystemDescription(const std::filesystem::path& root);

// The dpkg package that installed `file`, when one lists it.
std::optional<std::string> owningPackage(const std::filesystem::path& root, const std::filesystem::path& file,
                                         const std::string& package);

// The README installed with (or built beside) the program at `executable`.
std::optional<std::filesystem::path> installedReadme(const std::filesystem::path& executable);

// "file:///usr/share/doc/dimmora/README.md", with characters outside the
// unreserved set percent-encoded.
std::string fileURL(const std::filesystem::path& file);

}  // namespace SystemFacts
