// The window's controls, by the names the window's design gives them. The
// window builds them (its children own them); tests reach them through
// TNSVT::ui() to read and use them as an operator would.
#pragma once

#include "shell/statuslabel.h"  // tests read the whole status text

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;

namespace shell {

class ConsoleEdit;

struct TNSVTControls {
  QFrame* Panel0 = nullptr;  // status area
  StatusLabel* lblStatus = nullptr;
  QLabel* lblAction = nullptr;
  QLabel* lbl2 = nullptr;    // idle seconds while FCOPY copies
  QFrame* Panel1 = nullptr;  // connect row, phase 0
  QPushButton* btnConnect = nullptr;
  QLineEdit* Host3 = nullptr;
  QLineEdit* Port3 = nullptr;  // hidden, "1570"
  QPushButton* btnExit = nullptr;
  QFrame* Panel2 = nullptr;  // Begin row, phases 1 and 2
  QPushButton* btnProcess = nullptr;
  QLabel* lblLogonString = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* DefaultGroup = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* DefaultAccount = nullptr;
  QFrame* Panel3 = nullptr;  // progress row, phase 3
  QProgressBar* pb1 = nullptr;
  QProgressBar* pb2 = nullptr;
  ConsoleEdit* Memo1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QMenu* File1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;
};

}  // namespace shell
