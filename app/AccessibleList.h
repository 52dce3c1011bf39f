// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader gets of a tree view whose header hides columns: Qt's own table interface
// for item views lists every column of the model, hidden ones included, so a column kept only
// for the program's bookkeeping would be read out. This one leaves those columns out.
#pragma once

#include <QAccessible>

class QAbstractItemView;

namespace accessible_list {

// Views with this dynamic property set to true get the interface below.
inline constexpr char kProperty[] = "accessibleHidesHiddenColumns";

// Installs the factory once; call before the first view that uses it is made.
void Install();

// Marks `view` (before anything queried its accessible interface).
void HideHiddenColumns(QAbstractItemView* view);

}  // namespace accessible_list
