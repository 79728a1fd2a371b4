// The type tree: one node per file-type group that holds found files, with its count (the
// catalogue's type counts) and an icon drawn for its kind of file, sorted by caption under
// the "My Computer" root; its selection follows what the list shows.
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>

#include "catalogue/file_types.h"
#include "ui/main_window.h"
#include "ui/tree_roles.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

// Colour and letter of a group's icon: the family of files it belongs to.
struct GroupLook {
  QColor colour;
  QChar letter;
};

GroupLook group_look(std::uint16_t group) {
  if ((group >= 1 && group <= 16) || group == 66) return {QColor("#2E7D32"), 'G'};  // graphics
  if (group >= 17 && group <= 46) return {QColor("#1565C0"), 'D'};                  // documents
  if (group >= 47 && group <= 52) return {QColor("#8D6E63"), 'Z'};                  // archives
  if (group >= 53 && group <= 61) return {QColor("#6A1B9A"), 'M'};                  // media
  if (group >= 62 && group <= 64) return {QColor("#00838F"), 'E'};                  // mail, data
  if (group == 67) return {QColor("#C62828"), 'X'};                                 // programs
  return {QColor("#757575"), '?'};                                                  // other
}

// A sheet of paper with a folded corner and a coloured band naming the file family.
QIcon group_icon(std::uint16_t group) {
  const GroupLook look = group_look(group);
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPolygon sheet({QPoint(2, 0), QPoint(10, 0), QPoint(14, 4), QPoint(14, 15), QPoint(2, 15)});
  painter.setPen(QColor("#606060"));
  painter.setBrush(Qt::white);
  painter.drawPolygon(sheet);
  painter.fillRect(QRect(3, 7, 11, 8), look.colour);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPixelSize(8);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(3, 7, 11, 8), Qt::AlignCenter, QString(look.letter));
  return QIcon(pixmap);
}

}  // namespace

void MainWindow::draw_types() {
  const QSignalBlocker block(TypesTreeView);
  reset_type_tree();
  QTreeWidgetItem* root = TypesTreeView->topLevelItem(0);
  const auto& counts = catalogue_.type_counts();
  for (const catalogue::FileGroup& group : catalogue::file_groups()) {
    const std::int32_t count = group.number < counts.size() ? counts[group.number] : 0;
    if (count <= 0) continue;
    auto* node = new QTreeWidgetItem(root);
    node->setText(0, qs(group.description.str()) + " (" + QString::number(count) + ")");
    node->setIcon(0, group_icon(group.number));
    node->setData(0, role_kind, node_group);
    node->setData(0, role_group, static_cast<uint>(group.number));
  }
  root->setExpanded(true);
  sort_tree_by_caption(root);
  select_shown_type();
}

void MainWindow::select_shown_type() {
  QTreeWidgetItem* root = TypesTreeView->topLevelItem(0);
  if (!root) return;
  // A folder's files are no type's; every file is the root's; a group is its node's.
  QTreeWidgetItem* shown = nullptr;
  if (view_.folder == 0 && view_.type == 0) {
    shown = root;
  } else if (view_.folder == 0) {
    for (int i = 0; i < root->childCount() && !shown; ++i) {
      if (root->child(i)->data(0, role_group).toUInt() == view_.type) shown = root->child(i);
    }
  }
  if (TypesTreeView->currentItem() == shown) return;
  // The list shows it already: selecting the node must not build the list again. A node
  // left selected that no longer says what the list shows could not be chosen again either.
  const QSignalBlocker block(TypesTreeView);
  TypesTreeView->setCurrentItem(shown);
  if (!shown) TypesTreeView->clearSelection();
}

}  // namespace fennick::ui
