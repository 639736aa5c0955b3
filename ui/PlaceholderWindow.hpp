#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

class AppModels;

// The drop-down window until the full menu exists: the connected displays
// with how each is controlled, the current level, and Quit.
class PlaceholderWindow final : public QWidget {
 public:
  PlaceholderWindow(AppModels& models, std::function<void()> quit);

  // Drops the window down below (or above) the tray icon at `anchor`.
  void showNear(const QRect& anchor);
  void refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  AppModels& models_;
  QLabel* displays_;
  QLabel* level_;
  QTimer refreshTimer_;
};
