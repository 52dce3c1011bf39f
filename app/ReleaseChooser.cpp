#include "app/ReleaseChooser.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QString q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

TReleaseChooser::TReleaseChooser(const std::vector<names::TRelease>& releases, QWidget* centreOver)
    : QDialog(nullptr), list_(new QTreeWidget(this)) {
  setWindowTitle(QStringLiteral("Choose a release"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("MusicBrainz knows this disc from several releases. "
                                              "Which one names it?"),
                               this));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Artist"), QStringLiteral("Year"),
                          QStringLiteral("Country"), QStringLiteral("Format"), QStringLiteral("Tracks"),
                          QStringLiteral("Barcode")});
  for (const auto& r : releases) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, q(r.title));
    item->setText(1, q(r.artist));
    item->setText(2, q(r.year));
    item->setText(3, q(r.country));
    item->setText(4, q(r.format));
    item->setText(5, QString::number(r.trackCount));
    item->setText(6, q(r.barcode));
    item->setToolTip(0, q(r.id));
  }
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
  resize(640, 260);
  if (centreOver) move(centreOver->geometry().center() - rect().center());
}

int TReleaseChooser::Chosen() const {
  QTreeWidgetItem* item = list_->currentItem();
  return item ? list_->indexOfTopLevelItem(item) : -1;
}

int TReleaseChooser::Choose(const std::vector<names::TRelease>& releases, QWidget* centreOver) {
  TReleaseChooser dialog(releases, centreOver);
  return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : -1;
}
