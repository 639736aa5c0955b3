// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/MaintenanceActions.hpp"

#include <system_error>

#include "base/Numbers.hpp"
#include "base/ProgramVersion.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "menu/MenuViewState.hpp"
#include "menu/SystemFacts.hpp"
#include "ports/ApplicationControl.hpp"
#include "ports/Clipboard.hpp"
#include "ports/Environment.hpp"
#include "ports/FileManager.hpp"
#include "ports/URLOpener.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"

#ifndef DIMMORA_HOMEPAGE
#define DIMMORA_HOMEPAGE ""
#endif

namespace fs = std::filesystem;

namespace {
// The configuration folder's name; removal never touches a folder of another name.
constexpr const char* kConfigFolderName = "Dimmora";

// Shortest form that reads back the same, with at least one decimal (35.0, 37.5).
std::string summaryNumber(double value) {
  std::string text = formatShortest(value);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

const char* summaryBool(bool value) { return value ? "true" : "false"; }

void requestQuit(ApplicationControl* application) {
  if (application) application->requestQuit();
}
}  // namespace

std::string MaintenanceActions::buildHomepage() { return DIMMORA_HOMEPAGE; }

std::string MaintenanceActions::versionText() {
  return std::string(ProgramVersion::number) + " (" + std::string(ProgramVersion::build) + ")";
}

MaintenanceActions::MaintenanceActions(MenuViewState& menu, MainLoop& loop, Ports ports, fs::path systemRoot,
                                       std::string homepage)
    : menu_(menu), loop_(loop), ports_(ports), systemRoot_(std::move(systemRoot)), homepage_(std::move(homepage)) {
  DiagnosticCapture& capture = DiagnosticCapture::shared();
  captureWasActive_ = capture.active.get();
  subscriptions_.push_back(capture.active.changed.connect([this](const bool& active) {
    handleCaptureActiveChanged(active);
  }));
  subscriptions_.push_back(capture.error.changed.connect([this](const auto&) { changed.emit(); }));
}

std::optional<fs::path> MaintenanceActions::executablePath() const {
  if (!ports_.environment) return std::nullopt;
  auto path = ports_.environment->executablePath();
  if (!path) return std::nullopt;
  std::error_code error;
  const fs::path absolute = fs::weakly_canonical(*path, error);
  return error ? *path : absolute;
}

// ---- cards -------------------------------------------------------------------------------

std::optional<ConfirmationCard> MaintenanceActions::card() const {
  using Kind = ConfirmationCard::Kind;
  if (uninstallPreparationError_)
    return ConfirmationCard{Kind::uninstallError, L10n::text("uninstall_error_title"), *uninstallPreparationError_,
                            {{"OK", false, true}}};
  if (actionError_)
    return ConfirmationCard{Kind::actionFailed, L10n::text("action_failed_title"), *actionError_, {{"OK", false, true}}};
  if (showingResetConfirmation_)
    return ConfirmationCard{Kind::resetConfirmation,
                            L10n::text("reset_confirm_title"),
                            L10n::text("reset_confirm_message"),
                            {{L10n::text("reset_settings"), true, false}, {L10n::text("cancel"), false, true}}};
  if (showingUninstallPreparation_)
    return ConfirmationCard{Kind::uninstallConfirmation,
                            L10n::text("uninstall_confirm_title"),
                            L10n::text("uninstall_confirm_message"),
                            {{L10n::text("uninstall_keep_data"), false, false},
                             {L10n::text("uninstall_remove_data"), true, false},
                             {L10n::text("cancel"), false, true}}};
  if (packageNotice_)
    return ConfirmationCard{Kind::uninstallPackage, L10n::text("uninstall_package_title"),
                            L10n::text("uninstall_package_message", {{"package", *packageNotice_}}),
                            {{"OK", false, true}}};
  return std::nullopt;
}

void MaintenanceActions::pressCardButton(std::size_t index) {
  const auto shown = card();
  if (!shown || index >= shown->buttons.size()) return;
  switch (shown->kind) {
    case ConfirmationCard::Kind::uninstallError:
      setUninstallError(std::nullopt);
      break;
    case ConfirmationCard::Kind::actionFailed:
      actionError_.reset();
      changed.emit();
      break;
    case ConfirmationCard::Kind::resetConfirmation:
      if (index == 0) resetSettings();
      else setResetConfirmation(false);
      break;
    case ConfirmationCard::Kind::uninstallConfirmation:
      setUninstallPreparation(false);
      if (index < 2) prepareForUninstall(index == 1);
      break;
    case ConfirmationCard::Kind::uninstallPackage:
      packageNotice_.reset();
      changed.emit();
      quit();
      break;
  }
}

void MaintenanceActions::pressEscape() {
  const auto shown = card();
  if (!shown) return;
  for (std::size_t index = 0; index < shown->buttons.size(); ++index)
    if (shown->buttons[index].cancel) return pressCardButton(index);
}

void MaintenanceActions::quit() const { requestQuit(ports_.application); }

void MaintenanceActions::requestResetConfirmation() { setResetConfirmation(true); }
void MaintenanceActions::requestUninstallPreparation() { setUninstallPreparation(true); }

void MaintenanceActions::dismissCards() {
  const bool hadAny =
      showingResetConfirmation_ || showingUninstallPreparation_ || uninstallPreparationError_ || actionError_;
  showingResetConfirmation_ = false;
  showingUninstallPreparation_ = false;
  uninstallPreparationError_.reset();
  actionError_.reset();
  if (packageNotice_) {
    // The preparation is done: closing the window ends it as the card's button would.
    packageNotice_.reset();
    changed.emit();
    quit();
    return;
  }
  if (hadAny) changed.emit();
}

void MaintenanceActions::setResetConfirmation(bool showing) {
  showingResetConfirmation_ = showing;
  changed.emit();
}

void MaintenanceActions::setUninstallPreparation(bool showing) {
  showingUninstallPreparation_ = showing;
  changed.emit();
}

void MaintenanceActions::setUninstallError(std::optional<std::string> error) {
  uninstallPreparationError_ = std::move(error);
  changed.emit();
}

// ---- reset and uninstall ---------------------------------------------------------------------

void MaintenanceActions::stopCaptureIfActive() {
  DiagnosticCapture& capture = DiagnosticCapture::shared();
  if (capture.active.get()) capture.stop();
}

std::optional<std::string> MaintenanceActions::unregisterLoginItem() {
  LoginLaunchController& login = menu_.loginLaunch();
  if (!login.enabled.get()) return std::nullopt;
  login.setEnabled(false);  // clears the error, unregisters, refreshes
  return login.error.get();
}

void MaintenanceActions::resetSettings() {
  setResetConfirmation(false);
  stopCaptureIfActive();
  // A failure stays in the login controller's error, shown in the advanced section.
  unregisterLoginItem();
  // Likewise a failure to turn the desktop's dimming back on stays in the displays section.
  menu_.desktopDimming().putBack();
  menu_.setGlassPreference(GlassAppearance::defaultPercent);
  menu_.glassAppearance().setPercent(GlassAppearance::defaultPercent);

  std::vector<DisplayID> ids;
  for (const DisplayTarget& display : menu_.displayStore().displays.get()) ids.push_back(display.displayID);
  menu_.stepStore().resetToDefaults(ids);
  menu_.engine().restartTimer();  // at the default frame rate now
  menu_.engine().applyCurrentBrightness();

  menu_.setDisplaysOpen(false);
  menu_.setStepsOpen(false);
  menu_.setAdvancedSettingsOpen(false);
  changed.emit();
}

void MaintenanceActions::prepareForUninstall(bool removeData) {
  stopCaptureIfActive();
  // A login item that stays registered would start a program that is gone: stop before touching files.
  if (auto error = unregisterLoginItem()) return setUninstallError(std::move(error));
  // The desktop's dimming, turned off by Dimmora, would stay off with nothing left to put it back.
  if (auto error = menu_.desktopDimming().putBack()) return setUninstallError(std::move(error));
  if (removeData) {
    if (auto error = removeUserData()) return setUninstallError(std::move(error));
  }
  finishUninstall();
}

std::optional<std::string> MaintenanceActions::removeUserData() {
  menu_.stepStore().flushSaves();  // no save still under way recreates what goes
  const fs::path folder = menu_.stepStore().configURL().parent_path();
  std::error_code error;
  if (!fs::exists(folder, error)) return std::nullopt;  // nothing to remove (a dangling link stays)
  if (folder.filename() != kConfigFolderName)
    return folder.string() + ": " + std::make_error_code(std::errc::operation_not_permitted).message();

  // Entry by entry: when the folder is a link to a folder elsewhere, only what
  // is in it goes, and links inside it are removed without following them.
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    std::error_code removal;
    fs::remove_all(entry->path(), removal);
    if (removal) return entry->path().string() + ": " + removal.message();
  }
  if (error) return folder.string() + ": " + error.message();
  if (!fs::remove(folder, error) || error) return folder.string() + ": " + error.message();
  return std::nullopt;
}

void MaintenanceActions::finishUninstall() {
  const auto executable = executablePath();
  if (executable) {
    if (auto package = SystemFacts::owningPackage(systemRoot_, *executable, packageName)) {
      // Deleting a packaged file by hand would leave the package manager in the dark.
      packageNotice_ = std::move(package);
      changed.emit();
      return;
    }
  }
  if (!executable || !ports_.fileManager || !ports_.fileManager->revealFile(*executable)) {
    const std::string path = executable ? executable->string() : std::string("dimmora");
    return setUninstallError(L10n::text("uninstall_reveal_failed", {{"path", path}}));
  }
  // Outlives the window: the quit happens even if the menu is gone by then.
  loop_.after(quitDelaySeconds, [application = ports_.application] { requestQuit(application); }).detach();
}

// ---- small actions -----------------------------------------------------------------------------

bool MaintenanceActions::revealOrReport(const fs::path& file) {
  if (ports_.fileManager && ports_.fileManager->revealFile(file)) return true;
  actionError_ = L10n::text("show_file_failed", {{"path", file.string()}});
  changed.emit();
  return false;
}

bool MaintenanceActions::showConfiguration() { return revealOrReport(menu_.stepStore().configURL()); }

bool MaintenanceActions::copyBuildNumber() {
  return ports_.clipboard && ports_.clipboard->setText(versionText());
}

// ---- diagnostics ---------------------------------------------------------------------------------

bool MaintenanceActions::diagnosticsRunning() const { return DiagnosticCapture::shared().active.get(); }

std::string MaintenanceActions::diagnosticsButtonLabel() const {
  return L10n::text(diagnosticsRunning() ? "diagnostics_stop" : "diagnostics_start");
}

void MaintenanceActions::toggleDiagnostics() {
  DiagnosticCapture& capture = DiagnosticCapture::shared();
  if (capture.active.get()) {
    capture.stop();
    return;
  }
  capture.start(menu_.stepStore().configURL().parent_path(), diagnosticSummary(), captureDurationSeconds);
}

std::string MaintenanceActions::diagnosticSummary() const {
  const StepStore& store = menu_.stepStore();
  const IdleBrightnessEngine& engine = menu_.engine();
  std::string summary = "Dimmora " + std::string(ProgramVersion::number) + " (" + std::string(ProgramVersion::build) + ")\n";
  summary += SystemFacts::operatingSystemDescription(systemRoot_) + "\n";
  summary += "Master=" + summaryNumber(engine.brightnessBeforeStepPreview().value_or(engine.currentBrightnessPercent())) +
             " Safety=" + summaryNumber(store.safetyMinimumPercent.get()) + "\n";
  bool first = true;
  for (const DisplayTarget& display : menu_.displayStore().displays.get()) {
    if (!first) summary += "\n";
    first = false;
    const DisplayID id = display.displayID;
    summary += display.name + " id=" + std::to_string(id) + " selected=" + summaryBool(menu_.isDisplaySelected(id)) +
               " min=" + summaryNumber(store.displayMinimumPercent(id)) +
               " max=" + summaryNumber(store.displayMaximumPercent(id)) +
               " gamma=" + summaryBool(menu_.displayUsesFullGammaMode(id));
  }
  return summary;
}

bool MaintenanceActions::canRevealCaptureFile() const { return DiagnosticCapture::shared().logURL.get().has_value(); }

bool MaintenanceActions::revealCaptureFile() {
  const auto& file = DiagnosticCapture::shared().logURL.get();
  return file && revealOrReport(*file);
}

void MaintenanceActions::handleCaptureActiveChanged(bool active) {
  const bool ended = captureWasActive_ && !active;
  captureWasActive_ = active;
  const DiagnosticCapture& capture = DiagnosticCapture::shared();
  // A capture that ends (stopped, timed out or full) shows its file.
  if (ended && capture.logURL.get() && !capture.error.get()) revealCaptureFile();
  changed.emit();
}

std::optional<std::string> MaintenanceActions::captureError() const { return DiagnosticCapture::shared().error.get(); }

void MaintenanceActions::dismissCaptureError() { DiagnosticCapture::shared().error = std::nullopt; }

// ---- footer ---------------------------------------------------------------------------------------

std::vector<SupportLink> MaintenanceActions::supportLinks() const {
  std::vector<SupportLink> links;
  const std::string supportLabel = L10n::text("support_page");
  if (!homepage_.empty()) {
    std::string base = homepage_;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string language = L10n::resolvedLanguageCode() == "ja" ? "/ja" : "/en";
    links.push_back({SupportLink::Kind::supportPage, supportLabel, {}, base + language + "/dimmora/support/"});
    links.push_back({SupportLink::Kind::supportDevelopment, L10n::text("support_development"),
                     L10n::text("support_development_hint"), base + language + "/dimmora/pay/"});
    return links;
  }
  // Without a web site, help is the README installed with the program.
  if (const auto executable = executablePath())
    if (const auto readme = SystemFacts::installedReadme(*executable))
      links.push_back({SupportLink::Kind::supportPage, supportLabel, {}, SystemFacts::fileURL(*readme)});
  return links;
}

bool MaintenanceActions::openSupportLink(SupportLink::Kind kind) {
  URLOpener* opener = ports_.urlOpener;
  for (const SupportLink& link : supportLinks()) {
    if (link.kind != kind) continue;
    if (opener && opener->openURL(link.url)) return true;
    actionError_ = L10n::text("open_link_failed", {{"url", link.url}});
    changed.emit();
    return false;
  }
  return false;
}
