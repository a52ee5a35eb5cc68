#include "shell/consoleedit.h"

#include <QKeyEvent>

namespace shell {

namespace {

// Keys that make no character on a terminal keyboard, whatever text the
// platform attaches to them (X11 gives Delete the character DEL): they only
// move the caret.
bool IsEditingKey(int key) {
  switch (key) {
    case Qt::Key_Delete:
    case Qt::Key_Insert:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      return true;
    default:
      return key >= Qt::Key_F1 && key <= Qt::Key_F35;
  }
}

// Alt and the system keys select menus and buttons; they never type. (On
// Windows, Ctrl with Alt is AltGr, which types the characters it makes.)
bool IsCommandChord(Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::MetaModifier) {
    return true;
  }
#ifdef Q_OS_WIN
  return (modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier);
#else
  return (modifiers & Qt::AltModifier) != 0;
#endif
}

}  // namespace

void ConsoleEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (IsCommandChord(event->modifiers())) {
    event->ignore();  // on to the window, where the button mnemonics are
    return;
  }
  // Tab and Backtab move the focus, as in the console the program was made
  // for; Ctrl+I still types a tab.
  if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) &&
      !(event->modifiers() & Qt::ControlModifier)) {
    QPlainTextEdit::keyPressEvent(event);
    return;
  }
  // Control-key combinations arrive as their control characters; some
  // platforms deliver only the letter, so make the character from the key.
  if ((event->modifiers() & Qt::ControlModifier) && key >= Qt::Key_At &&
      key <= Qt::Key_Underscore) {
    emit KeyChar(static_cast<std::uint8_t>(key - Qt::Key_At));
    return;
  }
  const QByteArray text = event->text().toLatin1();
  if (text.isEmpty() || IsEditingKey(key)) {
    QPlainTextEdit::keyPressEvent(event);  // arrows and the like only move the caret
    return;
  }
  for (char c : text) {
    emit KeyChar(static_cast<std::uint8_t>(c));
  }
}

}  // namespace shell
