#include "platform/qt/QtDesktop.hpp"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

#include "platform/linux/DBusSession.hpp"

void QtDesktop::copyToClipboard(const std::string& text) {
  if (auto* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromStdString(text));
}

bool QtDesktop::revealFile(const std::filesystem::path& file, DBusSession* bus) {
  const auto uri = QUrl::fromLocalFile(QString::fromStdString(file.string())).toString().toStdString();
  if (bus && bus->showItemInFileManager(uri)) return true;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

bool QtDesktop::openURL(const std::string& url) {
  const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
  // Only web pages leave the program; anything else is not ours to open.
  if (!parsed.isValid() || (parsed.scheme() != "https" && parsed.scheme() != "http")) return false;
  return QDesktopServices::openUrl(parsed);
}
