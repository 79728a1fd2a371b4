// What the nodes of the folder and type trees carry: their kind and, by kind, the drive,
// folder id, drive letter or file-type group, under these item data roles.
#pragma once

#include <Qt>

namespace fennick::ui {

enum NodeKind { node_root = 0, node_drive = 1, node_folder = 2, node_group = 3 };
constexpr int role_kind = Qt::UserRole;
constexpr int role_drive_index = Qt::UserRole + 1;
constexpr int role_folder_id = Qt::UserRole + 2;
constexpr int role_drive_letter = Qt::UserRole + 3;
constexpr int role_group = Qt::UserRole + 4;

}  // namespace fennick::ui
