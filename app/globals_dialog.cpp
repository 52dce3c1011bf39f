// SPDX-License-Identifier: GPL-3.0-or-later
#include "globals_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

struct ButtonKind {
  TMsgDlgBtn bit;
  const char* caption;
  int result;
};

// The fixed order of the buttons, their standard captions and modal results.
const ButtonKind kButtons[] = {
    {mbYes, "&Yes", mrYes},         {mbNo, "&No", mrNo},           {mbOK, "OK", mrOk},
    {mbCancel, "Cancel", mrCancel}, {mbAbort, "&Abort", mrAbort},  {mbRetry, "&Retry", mrRetry},
    {mbIgnore, "&Ignore", mrIgnore}, {mbAll, "&All", mrAll},        {mbNoToAll, "N&o to All", mrNoToAll},
    {mbYesToAll, "Yes to &All", mrYesToAll}, {mbHelp, "&Help", mrNone}};

class MessageDialog : public QDialog {
 public:
  using QDialog::QDialog;
  QPushButton* escapeButton = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape) {
      if (escapeButton) escapeButton->click();
      return;
    }
    QDialog::keyPressEvent(e);
  }
  void closeEvent(QCloseEvent* e) override {
    // The close box: a modal result of Cancel whatever the buttons are.
    if (result() == 0) setResult(mrCancel);
    e->accept();
  }
  void reject() override {
    if (isVisible()) done(mrCancel);
  }
};

QString defaultCaption(TMsgDlgType kind) {
  switch (kind) {
    case TMsgDlgType::mtWarning: return QStringLiteral("Warning");
    case TMsgDlgType::mtError: return QStringLiteral("Error");
    case TMsgDlgType::mtInformation: return QStringLiteral("Information");
    case TMsgDlgType::mtConfirmation: return QStringLiteral("Confirm");
    case TMsgDlgType::mtCustom: break;
  }
  return QApplication::applicationName();
}

}  // namespace

std::function<void(unsigned)>& MessageBeepHandler() {
  static std::function<void(unsigned)> handler = [](unsigned) { QApplication::beep(); };
  return handler;
}

int MessageDlgCaptions(const QString& msg, const QString& title, TMsgDlgType kind, TMsgDlgButtons buttons,
                       const QStringList& captions) {
  // 1. The standard dialog, not shown yet.
  MessageDialog dlg(QApplication::activeWindow());
  dlg.setWindowTitle(defaultCaption(kind));
  auto* layout = new QVBoxLayout(&dlg);
  auto* top = new QHBoxLayout;
  QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
  switch (kind) {
    case TMsgDlgType::mtWarning: icon = QStyle::SP_MessageBoxWarning; break;
    case TMsgDlgType::mtError: icon = QStyle::SP_MessageBoxCritical; break;
    case TMsgDlgType::mtInformation: icon = QStyle::SP_MessageBoxInformation; break;
    case TMsgDlgType::mtConfirmation: icon = QStyle::SP_MessageBoxQuestion; break;
    case TMsgDlgType::mtCustom: break;
  }
  if (icon != QStyle::SP_CustomBase) {
    auto* iconLabel = new QLabel(&dlg);
    iconLabel->setObjectName(QStringLiteral("Image"));
    iconLabel->setPixmap(dlg.style()->standardIcon(icon).pixmap(32, 32));
    top->addWidget(iconLabel, 0, Qt::AlignTop);
  }
  auto* message = new QLabel(msg, &dlg);
  message->setObjectName(QStringLiteral("Message"));
  message->setWordWrap(true);
  top->addWidget(message, 1);
  layout->addLayout(top);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  QPushButton* ok = nullptr;
  QPushButton* yes = nullptr;
  QPushButton* cancel = nullptr;
  QPushButton* no = nullptr;
  for (const ButtonKind& b : kButtons) {
    if (!(buttons & b.bit)) continue;
    auto* button = new QPushButton(QString::fromLatin1(b.caption), &dlg);
    button->setAutoDefault(false);
    const int result = b.result;
    if (result != mrNone) QObject::connect(button, &QPushButton::clicked, &dlg, [&dlg, result] { dlg.done(result); });
    row->addWidget(button);
    if (b.bit == mbOK) ok = button;
    if (b.bit == mbYes) yes = button;
    if (b.bit == mbCancel) cancel = button;
    if (b.bit == mbNo) no = button;
  }
  row->addStretch(1);
  layout->addLayout(row);
  if (QPushButton* def = ok ? ok : yes) {
    def->setDefault(true);
    def->setFocus();
  }
  dlg.escapeButton = cancel ? cancel : no ? no : ok;

  // 2. The caller's window caption.
  dlg.setWindowTitle(title);

  // 3. The k-th push button gets captions[k]; an empty entry keeps the standard caption.
  int k = 0;
  for (QObject* child : dlg.children()) {
    auto* button = qobject_cast<QPushButton*>(child);
    if (!button) continue;
    if (k >= captions.size()) break;
    if (!captions[k].isEmpty()) button->setText(captions[k]);
    ++k;
  }

  // 4. The beep by kind.
  unsigned beep = 0;
  if (kind == TMsgDlgType::mtWarning) beep = 0x30;
  if (kind == TMsgDlgType::mtError) beep = 0x10;
  if (kind == TMsgDlgType::mtConfirmation) beep = 0x20;
  if (auto& h = MessageBeepHandler()) h(beep);

  // 5. Modal, then its result.
  return dlg.exec();
}
