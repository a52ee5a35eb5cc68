// The console control: read-only text that hands every typed character to
// the window instead of inserting it. Keys without a character only move
// the caret; Tab moves the focus; Alt and Meta chords are left to the
// buttons and menus.
#pragma once

#include <QPlainTextEdit>

#include <cstdint>

namespace shell {

class ConsoleEdit final : public QPlainTextEdit {
  Q_OBJECT
public:
  using QPlainTextEdit::QPlainTextEdit;

signals:
  void KeyChar(std::uint8_t c);

protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace shell
