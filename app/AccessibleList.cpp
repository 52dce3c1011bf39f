// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AccessibleList.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QPointer>
#include <QTreeView>
#include <QVariant>
#include <vector>

namespace accessible_list {

namespace {

bool creatingDefault = false;

// Forwards to Qt's interface for the view and keeps out whatever belongs to a hidden column.
// Children keep Qt's numbering (row-major over every model column), because the view's own
// focus and selection events name cells by that number; a hidden column's place has no child.
class HiddenColumnsTable : public QAccessibleInterface, public QAccessibleTableInterface {
 public:
  HiddenColumnsTable(QTreeView* view, QAccessibleInterface* inner) : view_(view), inner_(inner) {}
  ~HiddenColumnsTable() override {
    // Qt's interface is also in the cache (it made it); ours replaced it for the view.
    if (inner_) QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(inner_));
  }

  bool isValid() const override { return view_ && inner_->isValid(); }
  QObject* object() const override { return inner_->object(); }
  QWindow* window() const override { return inner_->window(); }
  QAccessibleInterface* parent() const override { return inner_->parent(); }
  QAccessibleInterface* focusChild() const override { return shown(inner_->focusChild()); }
  QAccessibleInterface* childAt(int x, int y) const override { return shown(inner_->childAt(x, y)); }
  int childCount() const override { return inner_->childCount(); }
  QAccessibleInterface* child(int index) const override { return shown(inner_->child(index)); }
  int indexOfChild(const QAccessibleInterface* child) const override { return inner_->indexOfChild(child); }
  QString text(QAccessible::Text t) const override { return inner_->text(t); }
  void setText(QAccessible::Text t, const QString& text) override { inner_->setText(t, text); }
  QRect rect() const override { return inner_->rect(); }
  QAccessible::Role role() const override { return inner_->role(); }
  QAccessible::State state() const override { return inner_->state(); }
  QVector<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
      QAccessible::Relation match) const override {
    return inner_->relations(match);
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return inner_->interface_cast(t);
  }

  // The table as the user sees it: shown columns only, numbered left to right.
  QAccessibleInterface* caption() const override { return table()->caption(); }
  QAccessibleInterface* summary() const override { return table()->summary(); }
  QAccessibleInterface* cellAt(int row, int column) const override {
    const int logical = logicalColumn(column);
    return logical < 0 ? nullptr : table()->cellAt(row, logical);
  }
  int columnCount() const override { return static_cast<int>(shownColumns().size()); }
  int rowCount() const override { return table()->rowCount(); }
  QString columnDescription(int column) const override {
    const int logical = logicalColumn(column);
    return logical < 0 ? QString() : table()->columnDescription(logical);
  }
  QString rowDescription(int row) const override { return table()->rowDescription(row); }
  int selectedCellCount() const override { return static_cast<int>(selectedCells().size()); }
  QList<QAccessibleInterface*> selectedCells() const override {
    QList<QAccessibleInterface*> cells;
    for (QAccessibleInterface* c : table()->selectedCells())
      if (shown(c)) cells.push_back(c);
    return cells;
  }
  int selectedColumnCount() const override { return static_cast<int>(selectedColumns().size()); }
  QList<int> selectedColumns() const override {
    QList<int> columns;
    for (int logical : table()->selectedColumns()) {
      const int visual = visualColumn(logical);
      if (visual >= 0) columns.push_back(visual);
    }
    return columns;
  }
  int selectedRowCount() const override { return table()->selectedRowCount(); }
  QList<int> selectedRows() const override { return table()->selectedRows(); }
  bool isColumnSelected(int column) const override {
    const int logical = logicalColumn(column);
    return logical >= 0 && table()->isColumnSelected(logical);
  }
  bool isRowSelected(int row) const override { return table()->isRowSelected(row); }
  bool selectRow(int row) override { return table()->selectRow(row); }
  bool selectColumn(int column) override {
    const int logical = logicalColumn(column);
    return logical >= 0 && table()->selectColumn(logical);
  }
  bool unselectRow(int row) override { return table()->unselectRow(row); }
  bool unselectColumn(int column) override {
    const int logical = logicalColumn(column);
    return logical >= 0 && table()->unselectColumn(logical);
  }
  void modelChange(QAccessibleTableModelChangeEvent* event) override { table()->modelChange(event); }

 private:
  QAccessibleTableInterface* table() const { return inner_->tableInterface(); }

  bool hidden(int logical) const { return view_ && view_->header()->isSectionHidden(logical); }
  // A cell or header of a hidden column is not ours to give out. Header cells have no cell
  // interface: their column follows from Qt's numbering of the children.
  QAccessibleInterface* shown(QAccessibleInterface* iface) const {
    if (!iface) return nullptr;
    if (QAccessibleTableCellInterface* cell = iface->tableCellInterface())
      return hidden(cell->columnIndex()) ? nullptr : iface;
    const int index = inner_->indexOfChild(iface);
    const int columns = view_ && view_->model() ? view_->model()->columnCount(view_->rootIndex()) : 0;
    return index >= 0 && columns > 0 && hidden(index % columns) ? nullptr : iface;
  }
  std::vector<int> shownColumns() const {
    std::vector<int> columns;
    if (!view_ || !view_->model()) return columns;
    for (int c = 0; c < view_->model()->columnCount(view_->rootIndex()); ++c)
      if (!hidden(c)) columns.push_back(c);
    return columns;
  }
  int logicalColumn(int visual) const {
    const std::vector<int> columns = shownColumns();
    return visual >= 0 && visual < static_cast<int>(columns.size()) ? columns[static_cast<size_t>(visual)] : -1;
  }
  int visualColumn(int logical) const {
    const std::vector<int> columns = shownColumns();
    for (size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == logical) return static_cast<int>(i);
    return -1;
  }

  QPointer<QTreeView> view_;
  QAccessibleInterface* inner_;
};

QAccessibleInterface* factory(const QString&, QObject* object) {
  auto* view = qobject_cast<QTreeView*>(object);
  if (creatingDefault || !view || !view->property(kProperty).toBool()) return nullptr;
  // Qt's own interface for the view, made by the factories after this one.
  creatingDefault = true;
  QAccessibleInterface* inner = QAccessible::queryAccessibleInterface(view);
  creatingDefault = false;
  if (!inner || !inner->tableInterface()) return nullptr;
  return new HiddenColumnsTable(view, inner);
}

}  // namespace

void Install() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    return true;
  }();
  (void)installed;
}

void HideHiddenColumns(QAbstractItemView* view) {
  Install();
  view->setProperty(kProperty, true);
}

}  // namespace accessible_list
