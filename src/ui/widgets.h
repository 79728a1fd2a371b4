// Small widgets the windows are made of: the gradient header bars and the navigation bar
// with its collapsible panels.
#pragma once

#include <QLabel>
#include <QString>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <vector>

namespace fennick::ui {

// A label drawn on a vertical blue gradient (#5987D6 to #033893) with white rich text.
class HeaderLabel : public QLabel {
 public:
  explicit HeaderLabel(QWidget* parent = nullptr);
  // Runs on a left mouse press with the x position inside the label.
  std::function<void(int x)> on_mouse_down;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};

// A vertical bar of panels, each under a header button; only the active panel's content is
// open. Panels can be hidden from the bar and shown again.
class NavBar : public QWidget {
 public:
  explicit NavBar(QWidget* parent = nullptr);
  // Adds a panel (its objectName names it) and returns its number.
  int add_panel(QWidget* panel, const QString& caption);
  void set_caption(int panel, const QString& caption);
  QString caption(int panel) const;
  void set_panel_visible(int panel, bool visible);
  bool panel_visible(int panel) const;
  // Opens the panel; programmatic, so on_panel_activated does not run.
  void set_active(int panel);
  int active() const { return active_; }
  QWidget* panel(int panel) const { return items_.at(static_cast<std::size_t>(panel)).panel; }
  // Runs when the user opens another panel by its header.
  std::function<void(int panel)> on_panel_activated;

 private:
  struct Item {
    QToolButton* header;
    QWidget* panel;
    bool visible;
  };
  void relayout();
  std::vector<Item> items_;
  int active_ = 0;
  QVBoxLayout* layout_;
};

}  // namespace fennick::ui
