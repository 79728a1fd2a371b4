// The language buttons' flags: bands, crosses, stars and discs on a 26 x 18 pixmap,
// simplified so that each flag stays recognisable at that size; the flags' scroll area and
// the current language's mark.
#include "ui/flag_buttons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QScrollBar>
#include <cmath>
#include <initializer_list>

namespace fennick::ui {

namespace {

constexpr double w = flag_width;
constexpr double h = flag_height;

void horizontal(QPainter& p, std::initializer_list<QColor> bands) {
  const double step = h / static_cast<double>(bands.size());
  double y = 0;
  for (const QColor& c : bands) {
    p.fillRect(QRectF(0, y, w, step + 0.5), c);
    y += step;
  }
}

void vertical(QPainter& p, std::initializer_list<QColor> bands) {
  const double step = w / static_cast<double>(bands.size());
  double x = 0;
  for (const QColor& c : bands) {
    p.fillRect(QRectF(x, 0, step + 0.5, h), c);
    x += step;
  }
}

// The Nordic cross: upright shifted to the hoist.
void nordic(QPainter& p, const QColor& field, const QColor& cross) {
  p.fillRect(QRectF(0, 0, w, h), field);
  p.fillRect(QRectF(7, 0, 4, h), cross);
  p.fillRect(QRectF(0, 7, w, 4), cross);
}

QPolygonF star(QPointF centre, double outer, double inner, double turn = 0) {
  QPolygonF points;
  for (int i = 0; i < 10; ++i) {
    const double r = (i % 2 == 0) ? outer : inner;
    const double a = -M_PI / 2 + turn + i * M_PI / 5;
    points << QPointF(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
  }
  return points;
}

void fill_polygon(QPainter& p, const QPolygonF& polygon, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPolygon(polygon);
}

void disc(QPainter& p, QPointF centre, double r, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawEllipse(centre, r, r);
}

void united_kingdom(QPainter& p) {
  p.fillRect(QRectF(0, 0, w, h), QColor("#012169"));
  p.setPen(QPen(Qt::white, 4));
  p.drawLine(QPointF(0, 0), QPointF(w, h));
  p.drawLine(QPointF(w, 0), QPointF(0, h));
  p.setPen(QPen(QColor("#C8102E"), 1.3));
  p.drawLine(QPointF(0, 0), QPointF(w, h));
  p.drawLine(QPointF(w, 0), QPointF(0, h));
  p.fillRect(QRectF(10, 0, 6, h), Qt::white);
  p.fillRect(QRectF(0, 6, w, 6), Qt::white);
  p.fillRect(QRectF(11.5, 0, 3, h), QColor("#C8102E"));
  p.fillRect(QRectF(0, 7.5, w, 3), QColor("#C8102E"));
}

void greece(QPainter& p) {
  const QColor blue("#0D5EAF");
  for (int i = 0; i < 9; ++i)
    p.fillRect(QRectF(0, i * h / 9, w, h / 9 + 0.5), i % 2 ? Qt::white : blue);
  p.fillRect(QRectF(0, 0, 10, 10), blue);
  p.fillRect(QRectF(4, 0, 2, 10), Qt::white);
  p.fillRect(QRectF(0, 4, 10, 2), Qt::white);
}

void czechia(QPainter& p) {
  horizontal(p, {Qt::white, QColor("#D7141A")});
  fill_polygon(p, QPolygonF({QPointF(0, 0), QPointF(13, h / 2), QPointF(0, h)}), QColor("#11457E"));
}

void slovakia(QPainter& p) {
  horizontal(p, {Qt::white, QColor("#0B4EA2"), QColor("#EE1C25")});
  QPainterPath shield;
  shield.moveTo(5, 4);
  shield.lineTo(12, 4);
  shield.lineTo(12, 10);
  shield.quadTo(12, 14, 8.5, 15);
  shield.quadTo(5, 14, 5, 10);
  shield.closeSubpath();
  p.setPen(QPen(Qt::white, 0.8));
  p.setBrush(QColor("#EE1C25"));
  p.drawPath(shield);
  p.fillRect(QRectF(8, 5.5, 1.2, 7), Qt::white);
  p.fillRect(QRectF(6.5, 7.5, 4.2, 1.1), Qt::white);
}

void serbia(QPainter& p) {
  horizontal(p, {QColor("#C6363C"), QColor("#0C4076"), Qt::white});
  p.setPen(QPen(QColor("#EDB92E"), 0.6));
  p.setBrush(QColor("#C6363C"));
  p.drawRect(QRectF(5.5, 4, 5, 7));
  p.setPen(Qt::NoPen);
  p.fillRect(QRectF(7.6, 5, 0.9, 5), Qt::white);
  p.fillRect(QRectF(6.2, 6.8, 3.6, 0.9), Qt::white);
}

void china(QPainter& p) {
  p.fillRect(QRectF(0, 0, w, h), QColor("#DE2910"));
  const QColor gold("#FFDE00");
  fill_polygon(p, star(QPointF(4.5, 4.5), 3.2, 1.25), gold);
  for (const QPointF c :
       {QPointF(9, 1.8), QPointF(10.8, 3.6), QPointF(10.8, 6.3), QPointF(9, 8.1)}) {
    fill_polygon(p, star(c, 1.1, 0.45), gold);
  }
}

void taiwan(QPainter& p) {
  p.fillRect(QRectF(0, 0, w, h), QColor("#FE0000"));
  p.fillRect(QRectF(0, 0, 13, 9), QColor("#000095"));
  fill_polygon(p, star(QPointF(6.5, 4.5), 3.6, 2.0), Qt::white);
  disc(p, QPointF(6.5, 4.5), 1.8, QColor("#000095"));
  disc(p, QPointF(6.5, 4.5), 1.4, Qt::white);
}

void south_africa(QPainter& p) {
  horizontal(p, {QColor("#E03C31"), QColor("#001489")});
  // The green band that forks at the hoist, with its white borders.
  QPainterPath y;
  y.moveTo(0, 0);
  y.lineTo(9, h / 2);
  y.lineTo(0, h);
  y.moveTo(9, h / 2);
  y.lineTo(w, h / 2);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 7));
  p.drawPath(y);
  p.setPen(QPen(QColor("#007749"), 4));
  p.drawPath(y);
  fill_polygon(p, QPolygonF({QPointF(0, 2.5), QPointF(7.5, h / 2), QPointF(0, h - 2.5)}),
               QColor("#FFB81C"));
  fill_polygon(p, QPolygonF({QPointF(0, 4), QPointF(5.5, h / 2), QPointF(0, h - 4)}), Qt::black);
}

void portugal(QPainter& p) {
  p.fillRect(QRectF(0, 0, 10.4, h), QColor("#006600"));
  p.fillRect(QRectF(10.4, 0, w - 10.4, h), QColor("#FF0000"));
  disc(p, QPointF(10.4, h / 2), 4, QColor("#FFE900"));
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor("#FF0000"), 0.8));
  p.drawRect(QRectF(8.6, 6.8, 3.6, 4.4));
}

void turkey(QPainter& p) {
  p.fillRect(QRectF(0, 0, w, h), QColor("#E30A17"));
  disc(p, QPointF(9.5, h / 2), 4.6, Qt::white);
  disc(p, QPointF(10.7, h / 2), 3.7, QColor("#E30A17"));
  fill_polygon(p, star(QPointF(15.8, h / 2), 2.2, 0.9, -M_PI / 2), Qt::white);
}

void israel(QPainter& p) {
  const QColor blue("#0038B8");
  p.fillRect(QRectF(0, 0, w, h), Qt::white);
  p.fillRect(QRectF(0, 1.5, w, 2.5), blue);
  p.fillRect(QRectF(0, h - 4, w, 2.5), blue);
  const QPointF c(w / 2, h / 2);
  const double r = 3.6;
  p.setPen(QPen(blue, 0.9));
  p.setBrush(Qt::NoBrush);
  for (double turn : {0.0, M_PI}) {
    QPolygonF t;
    for (int i = 0; i < 3; ++i) {
      const double a = -M_PI / 2 + turn + i * 2 * M_PI / 3;
      t << QPointF(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    }
    p.drawPolygon(t);
  }
}

void arabic(QPainter& p) {
  // A green field with a line of white script above a white sword.
  p.fillRect(QRectF(0, 0, w, h), QColor("#006C35"));
  p.setPen(QPen(Qt::white, 1.0));
  p.setBrush(Qt::NoBrush);
  QPainterPath script;
  script.moveTo(5, 8);
  for (double x = 5; x < 21; x += 2) {
    script.quadTo(x + 0.5, 4.5, x + 1, 8);
    script.quadTo(x + 1.5, 9, x + 2, 7);
  }
  p.drawPath(script);
  p.drawLine(QPointF(6, 4), QPointF(6, 8));
  p.drawLine(QPointF(14, 4), QPointF(14, 8));
  p.setPen(QPen(Qt::white, 1.2));
  p.drawLine(QPointF(6, 12.5), QPointF(20, 12.5));
  p.drawLine(QPointF(18, 11), QPointF(18, 14));
}

}  // namespace

QPixmap flag_pixmap(std::size_t language_index) {
  QPixmap pixmap(flag_width, flag_height);
  pixmap.fill(QColor("#C0C0C0"));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  switch (language_index) {
    case 0:
      united_kingdom(p);
      break;
    case 1:
      horizontal(p, {Qt::black, QColor("#DD0000"), QColor("#FFCE00")});
      break;
    case 2:
      vertical(p, {QColor("#0055A4"), Qt::white, QColor("#EF4135")});
      break;
    case 3:
      vertical(p, {QColor("#009246"), Qt::white, QColor("#CE2B37")});
      break;
    case 4:
      horizontal(p, {QColor("#AA151B"), QColor("#F1BF00"), QColor("#F1BF00"), QColor("#AA151B")});
      break;
    case 5:
      greece(p);
      break;
    case 6:
      nordic(p, Qt::white, QColor("#003580"));
      break;
    case 7:
      nordic(p, QColor("#006AA7"), QColor("#FECC00"));
      break;
    case 8:
      nordic(p, QColor("#C8102E"), Qt::white);
      break;
    case 9:
      horizontal(p, {QColor("#AE1C28"), Qt::white, QColor("#21468B")});
      break;
    case 10:
      horizontal(p, {Qt::white, QColor("#0039A6"), QColor("#D52B1E")});
      break;
    case 11:
      horizontal(p, {QColor("#0057B7"), QColor("#FFD700")});
      break;
    case 12:
      serbia(p);
      break;
    case 13:
      horizontal(p, {Qt::white, QColor("#00966E"), QColor("#D62612")});
      break;
    case 14:
      czechia(p);
      break;
    case 15:
      slovakia(p);
      break;
    case 16:
      horizontal(p, {QColor("#CD2A3E"), Qt::white, QColor("#436F4D")});
      break;
    case 17:
      vertical(p, {QColor("#002B7F"), QColor("#FCD116"), QColor("#CE1126")});
      break;
    case 18:
      horizontal(p, {Qt::white, QColor("#DC143C")});
      break;
    case 19:
      china(p);
      break;
    case 20:
      taiwan(p);
      break;
    case 21:
      p.fillRect(QRectF(0, 0, w, h), Qt::white);
      disc(p, QPointF(w / 2, h / 2), 5.2, QColor("#BC002D"));
      break;
    case 22:
      south_africa(p);
      break;
    case 23:
      portugal(p);
      break;
    case 24:
      turkey(p);
      break;
    case 25:
      israel(p);
      break;
    case 26:
      arabic(p);
      break;
    default:
      break;
  }
  // A thin grey edge, so white flags stand out on the white column.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor("#909090"));
  p.setBrush(Qt::NoBrush);
  p.drawRect(0, 0, flag_width - 1, flag_height - 1);
  return pixmap;
}

QIcon flag_icon(std::size_t language_index) {
  const QPixmap plain = flag_pixmap(language_index);
  QPixmap marked = plain;
  QPainter p(&marked);
  p.setBrush(Qt::NoBrush);
  p.setPen(QColor("#000000"));
  p.drawRect(0, 0, flag_width - 1, flag_height - 1);
  p.setPen(QColor("#FFC400"));
  p.drawRect(1, 1, flag_width - 3, flag_height - 3);
  p.drawRect(2, 2, flag_width - 5, flag_height - 5);
  p.end();
  QIcon icon;
  icon.addPixmap(plain, QIcon::Normal, QIcon::Off);
  icon.addPixmap(marked, QIcon::Normal, QIcon::On);
  return icon;
}

QScrollArea* make_flag_scroller(QWidget* flags) {
  auto* area = new QScrollArea;
  area->setObjectName("LanguageFlagScroller");
  area->setFrameShape(QFrame::NoFrame);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area->setWidgetResizable(false);
  area->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  area->setBackgroundRole(QPalette::Window);
  area->setStyleSheet(QString("QScrollBar:vertical { width: %1px; margin: 0; border: none;"
                              " background: #F0F0F0; }"
                              "QScrollBar::handle:vertical { background: #A8A8A8; min-height: "
                              "20px; border-radius: 2px; }"
                              "QScrollBar::handle:vertical:hover { background: #5987D6; }"
                              "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical"
                              " { height: 0; border: none; }"
                              "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical"
                              " { background: none; }")
                          .arg(flag_column_width - flag_list_width));
  area->setWidget(flags);
  // Wheel steps of one flag row.
  area->verticalScrollBar()->setSingleStep(flag_height + 1);
  return area;
}

void mark_current_flag(const std::vector<QToolButton*>& buttons, std::size_t current) {
  for (std::size_t i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == current);
}

}  // namespace fennick::ui
