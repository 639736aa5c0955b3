#pragma once

#include <filesystem>
#include <string>

class DBusSession;

// Hand-offs to the desktop: the clipboard, the file manager, the browser.
namespace QtDesktop {
void copyToClipboard(const std::string& text);
// Shows the file selected in the file manager (FileManager1 over the session
// bus); where no file manager offers that, opens its folder instead.
bool revealFile(const std::filesystem::path& file, DBusSession* bus);
bool openURL(const std::string& url);
}  // namespace QtDesktop
