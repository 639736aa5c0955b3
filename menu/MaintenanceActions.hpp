// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/MainLoop.hpp"
#include "base/Signal.hpp"

class MenuViewState;
class Environment;
class ApplicationControl;
class FileManager;
class Clipboard;
class URLOpener;

// The card laid over the whole window (the content beneath is disabled)
// while a confirmation or an error is pending. Escape presses the button
// marked `cancel`.
struct ConfirmationCard {
  enum class Kind { uninstallError, actionFailed, resetConfirmation, uninstallConfirmation, uninstallPackage };
  struct Button {
    std::string label;
    bool destructive = false;
    bool cancel = false;  // also pressed by Escape
  };
  Kind kind;
  std::string title;
  std::string message;
  std::vector<Button> buttons;

  // An error to acknowledge (screen readers get an alert), not a question.
  bool reportsFailure() const { return kind == Kind::uninstallError || kind == Kind::actionFailed; }
};

// A footer link: its label and what it opens.
struct SupportLink {
  enum class Kind { supportPage, supportDevelopment };
  Kind kind;
  std::string label;
  std::string tooltip;
  std::string url;  // a web address or a file:// address
};

// The advanced section's housekeeping: show the configuration file, reset,
// prepare for uninstall (keeping or removing the user's data), copy the
// version, the diagnostic capture and its summary, the support links, and the
// confirmation cards that guard the destructive ones. Main thread only.
class MaintenanceActions {
 public:
  static constexpr double quitDelaySeconds = 0.3;
  static constexpr double captureDurationSeconds = 300;
  // The Debian package the program is installed from, when it is.
  static constexpr const char* packageName = "dimmora";

  // The project's web site from the DIMMORA_HOMEPAGE build setting ("" when unset).
  static std::string buildHomepage();
  // "1.0.0 (202609091000)"
  static std::string versionText();

  // The desktop's services the actions use; an absent one makes its action fail
  // (or, for quitting, do nothing).
  struct Ports {
    const Environment* environment = nullptr;
    ApplicationControl* application = nullptr;
    FileManager* fileManager = nullptr;
    Clipboard* clipboard = nullptr;
    URLOpener* urlOpener = nullptr;
  };

  MaintenanceActions(MenuViewState& menu, MainLoop& loop, Ports ports, std::filesystem::path systemRoot,
                     std::string homepage);
  MaintenanceActions(const MaintenanceActions&) = delete;
  MaintenanceActions& operator=(const MaintenanceActions&) = delete;

  Signal<> changed;  // a card, the capture state or its error changed

  // ---- confirmation cards ----
  // The card to show now, the first that applies: an uninstall error, a
  // failed show or open, the reset confirmation, the uninstall confirmation,
  // the package notice.
  std::optional<ConfirmationCard> card() const;
  void pressCardButton(std::size_t index);
  void pressEscape();
  void requestResetConfirmation();
  void requestUninstallPreparation();
  // The window closed: every card goes away.
  void dismissCards();
  bool showingResetConfirmation() const { return showingResetConfirmation_; }
  bool showingUninstallPreparation() const { return showingUninstallPreparation_; }
  const std::optional<std::string>& uninstallPreparationError() const { return uninstallPreparationError_; }
  // Why the last show or open did nothing visible (no file manager, no browser).
  const std::optional<std::string>& actionError() const { return actionError_; }

  // ---- the actions ----
  // Stops a capture, unregisters the login item, turns the desktop's idle
  // dimming back on where Dimmora turned it off, puts the glass and the
  // sections back, resets the settings, restarts the engine's timer and
  // re-applies. Always completes (a login-item failure shows in the advanced section).
  void resetSettings();
  // Stops a capture, unregisters the login item and turns the desktop's idle
  // dimming back on where Dimmora turned it off (a failure stops here,
  // before any file is touched); with `removeUserData`, deletes the entries of
  // the configuration folder; then shows the program file (or, for a packaged
  // install, names the package) and quits 0.3 s later.
  void prepareForUninstall(bool removeUserData);
  // Shows the configuration file in the file manager; false (and the error
  // card) when it could not.
  bool showConfiguration();
  // Puts the version text on the clipboard; false when it could not.
  bool copyBuildNumber();
  // Asks the application to quit (nothing happens where it cannot be asked).
  void quit() const;

  // ---- diagnostic capture ----
  bool diagnosticsRunning() const;
  std::string diagnosticsButtonLabel() const;
  // Starts a capture with the summary below, or stops the running one.
  void toggleDiagnostics();
  // The state written at the top of a capture: version, system, master level
  // and safety minimum, one line per display.
  std::string diagnosticSummary() const;
  // Shows the capture file; false when there is none or it could not be
  // shown (the error card says so).
  bool revealCaptureFile();
  bool canRevealCaptureFile() const;
  // The capture's error, for the alert; dismissing clears it.
  std::optional<std::string> captureError() const;
  void dismissCaptureError();

  // ---- footer ----
  std::vector<SupportLink> supportLinks() const;
  // False (and the error card) when nothing could open it.
  bool openSupportLink(SupportLink::Kind kind);

 private:
  void setResetConfirmation(bool showing);
  void setUninstallPreparation(bool showing);
  void setUninstallError(std::optional<std::string> error);
  // Shows a file in the file manager, or the error card naming it.
  bool revealOrReport(const std::filesystem::path& file);
  // Removes the login item when it is registered; the controller's error after it.
  std::optional<std::string> unregisterLoginItem();
  void stopCaptureIfActive();
  // Deletes the configuration folder's own entries; the failure's text, if any.
  std::optional<std::string> removeUserData();
  void finishUninstall();
  void handleCaptureActiveChanged(bool active);

  // Where the program runs from, as an absolute path when it can be made one.
  std::optional<std::filesystem::path> executablePath() const;

  MenuViewState& menu_;
  MainLoop& loop_;
  Ports ports_;
  std::filesystem::path systemRoot_;
  std::string homepage_;
  bool showingResetConfirmation_ = false;
  bool showingUninstallPreparation_ = false;
  std::optional<std::string> uninstallPreparationError_;
  std::optional<std::string> actionError_;
  std::optional<std::string> packageNotice_;  // the package to remove, after preparation
  bool captureWasActive_ = false;
  std::vector<Subscription> subscriptions_;
};
