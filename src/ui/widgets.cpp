// Gradient header bars and the navigation bar.
#include "ui/widgets.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace fennick::ui {

HeaderLabel::HeaderLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::RichText);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette p = palette();
  p.setColor(QPalette::WindowText, Qt::white);
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xD0, 0xD8, 0xE8));
  setPalette(p);
}

void HeaderLabel::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor(0x59, 0x87, 0xD6));
    gradient.setColorAt(1, QColor(0x03, 0x38, 0x93));
    painter.fillRect(rect(), gradient);
  }
  QLabel::paintEvent(event);
}

void HeaderLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && on_mouse_down) {
    on_mouse_down(static_cast<int>(event->position().x()));
  }
  QLabel::mousePressEvent(event);
}

NavBar::NavBar(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(1);
}

int NavBar::add_panel(QWidget* panel, const QString& caption) {
  auto* header = new QToolButton(this);
  header->setObjectName(panel->objectName() + "Header");
  header->setText(caption);
  header->setToolButtonStyle(Qt::ToolButtonTextOnly);
  header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  header->setFixedHeight(24);
  header->setStyleSheet(
      "QToolButton { color: white; font-weight: bold; text-align: left; border: none;"
      " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5987D6, stop:1 #033893); }");
  panel->setParent(this);
  const int number = static_cast<int>(items_.size());
  items_.push_back({header, panel, true});
  QObject::connect(header, &QToolButton::clicked, this, [this, number] {
    if (number == active_) return;
    set_active(number);
    if (on_panel_activated) on_panel_activated(number);
  });
  relayout();
  return number;
}

void NavBar::set_caption(int panel, const QString& caption) {
  items_.at(static_cast<std::size_t>(panel)).header->setText(caption);
}

QString NavBar::caption(int panel) const {
  return items_.at(static_cast<std::size_t>(panel)).header->text();
}

void NavBar::set_panel_visible(int panel, bool visible) {
  items_.at(static_cast<std::size_t>(panel)).visible = visible;
  if (!visible && panel == active_) {
    // The open panel left the bar: open the first one still in it.
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].visible) {
        active_ = static_cast<int>(i);
        break;
      }
    }
  }
  relayout();
}

bool NavBar::panel_visible(int panel) const {
  return items_.at(static_cast<std::size_t>(panel)).visible;
}

void NavBar::set_active(int panel) {
  if (panel < 0 || static_cast<std::size_t>(panel) >= items_.size()) return;
  active_ = panel;
  relayout();
}

void NavBar::relayout() {
  while (layout_->count() > 0) delete layout_->takeAt(0);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    item.header->setVisible(item.visible);
    const bool open = item.visible && static_cast<int>(i) == active_;
    item.panel->setVisible(open);
    layout_->addWidget(item.header);
    layout_->addWidget(item.panel, open ? 1 : 0);
  }
}

}  // namespace fennick::ui
