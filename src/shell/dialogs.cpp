// The real boxes of the program. Each runs a nested event loop (exec), so
// socket events and timers keep being handled while it is open.
#include "shell/dialogs.h"
#include "shell/text.h"

#include <QInputDialog>
#include <QMessageBox>

namespace shell {

// Box texts can carry what the host wrote (an error report quotes its
// answer): shown as text, never rendered as HTML.

void QtDialogs::Message(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, Latin1(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtDialogs::Error(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, "Error", Latin1(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool QtDialogs::Confirm(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::Question, "Confirm", Latin1(text),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setTextFormat(Qt::PlainText);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::Input(QWidget* parent, const std::string& caption,
                                            const std::string& prompt, const std::string& initial) {
  QInputDialog dialog(parent);
  dialog.setWindowTitle(Latin1(caption));
  dialog.setLabelText(Latin1(prompt));
  dialog.setTextValue(Latin1(initial));
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  return dialog.textValue().toLatin1().toStdString();
}

}  // namespace shell
