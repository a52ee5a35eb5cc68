// The window itself: its controls and their places, the start-up order,
// the user-interface phases, the two timers and the ways the program ends.
#include "TNSVT.h"
#include "text.h"

#include "../nsvt/clientsocket.h"
#include "dialogs.h"
#include "stringtable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Window geometry, in pixels of the client area.
constexpr int kClientWidth = 592;
constexpr int kClientHeight = 414;
constexpr int kWindowLeft = 227;
constexpr int kWindowTop = 140;
constexpr int kStatusPanelHeight = 89;
constexpr int kRowPanelHeight = 41;
constexpr QColor kSilver{192, 192, 192};

constexpr int kTimerIntervalMs = 1000;
constexpr int kConnectWaitEnded = 31;
constexpr int kExitEventRounds = 3;
constexpr int kProgressMax = 100;

// String-table entries of the shell.
constexpr int kIdRequiredLogon = 1010;
constexpr int kIdHintConnect = 1020;
constexpr int kIdLogonHead = 1030;
constexpr int kIdLogonTail = 1031;
constexpr int kIdHintAtPrompt = 1040;
constexpr int kIdCommandError = 1051;
constexpr int kIdActionText = 1060;
constexpr int kIdGrandTotal = 1070;
constexpr int kIdDefaultGroup = 1071;
constexpr int kIdDefaultAccount = 1072;

const char* const kDefaultBlankGroup = "PUB";
const char* const kDefaultBlankAccount = "VORDANEX";
const char* const kStatusReady = "  Application ready ";
const char* const kLogonLabelEmpty = "  ";

// Blank: nothing left after removing leading and trailing spaces and control
// characters.
bool IsBlank(const std::string& text) {
  for (unsigned char c : text) {
    if (c > ' ') {
      return false;
    }
  }
  return true;
}

// Locked: read-only, disabled and skipped by the Tab key.
void Lock(QLineEdit* field) {
  field->setReadOnly(true);
  field->setEnabled(false);
  field->setFocusPolicy(Qt::NoFocus);
}

QFrame* MakePanel(QWidget* parent, const char* name, int height) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFixedHeight(height);
  panel->setFrameShape(QFrame::StyledPanel);
  return panel;
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  return widget;
}

QFont FontOr(const char* family, int points, QFont::StyleHint hint) {
  QFont font(family, points);
  font.setStyleHint(hint);
  if (hint == QFont::TypeWriter) {
    font.setFixedPitch(true);
  }
  return font;
}

}  // namespace

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

TNSVT::TNSVT(Platform platform, QWidget* parent)
    : QMainWindow(parent), platform_(std::move(platform)), dialogs_(*platform_.dialogs) {
  BuildControls();

  // Start-up, in the order the rest of the program relies on.
  TraceOn = false;
  IdleTicks = 0;
  ConnectWaitTicks = 0;
  InErrorHandler = false;
  ExitInProgress = false;
  FcopyExitTries = 0;
  RestartScript = true;
  ActionCode = 0;
  for (std::size_t i = 0; i <= 9; ++i) {
    ScriptVars[i].clear();
  }
  pb1->setValue(0);
  pb2->setValue(0);

  socket = platform_.makeSocket ? platform_.makeSocket(this) : CreateNativeSocket(this);
  connect(socket, &TClientSocket::OnRead, this, &TNSVT::OnRead);
  connect(socket, &TClientSocket::OnError, this, &TNSVT::OnError);
  connect(socket, &TClientSocket::OnDisconnect, this, &TNSVT::OnDisconnect);

  ConsoleEcho = true;
  LogonAccepted = false;
  ScriptVars[install::kPayloadNameVar].clear();
  ScriptVars[install::kPayloadNameVar + 1].clear();
  UiPhase = 0;
  lblStatus->setText(kStatusReady);
  SetLogonLabel(kLogonLabelEmpty);

  RequiredLogon = TableString(kIdRequiredLogon);
  HintConnect = TableString(kIdHintConnect);
  LogonHead = TableString(kIdLogonHead);
  LogonTail = TableString(kIdLogonTail);
  HintAtPrompt = TableString(kIdHintAtPrompt);
  CommandErrorText = TableString(kIdCommandError);
  ActionText = TableString(kIdActionText);

  StoredSize = 0;
  PayloadSize = 0;
  GrandTotal = static_cast<std::int32_t>(install::Number(TableString(kIdGrandTotal)));
  SetUpGroupAccountRow();
  StartGroupText = DefaultGroup->text();
  StartAccountText = DefaultAccount->text();
  TotalBytesSent = 0;
  FileBytesSent = 0;
  RawHostCount = 0;
  HostReadLength = 1;
  SetUiPhase(0);
}

TNSVT::~TNSVT() {
  // The socket is a child and goes with the window; make sure none of its
  // events reaches a half-destroyed window.
  if (socket != nullptr) {
    socket->disconnect(this);
  }
}

std::string TNSVT::TableString(int id) const {
  return platform_.tableString ? platform_.tableString(id) : LoadTableString(id);
}

Qt::KeyboardModifiers TNSVT::keyboardModifiers() const {
  return platform_.keyboardModifiers ? platform_.keyboardModifiers()
                                     : QGuiApplication::keyboardModifiers();
}

void TNSVT::BuildControls() {
  setWindowTitle(kWindowCaption);
  QPalette windowPalette = palette();
  windowPalette.setColor(QPalette::Window, kSilver);
  setPalette(windowPalette);
  setFont(FontOr("MS Sans Serif", 8, QFont::SansSerif));

  File1 = menuBar()->addMenu("&File");
  File1->setObjectName("File1");
  Exit1 = File1->addAction("E&xit");  // carries no action
  Exit1->setObjectName("Exit1");
  Help1 = menuBar()->addMenu("&Help");
  Help1->setObjectName("Help1");
  About1 = Help1->addAction("&About");  // carries no action
  About1->setObjectName("About1");
  menuBar()->setObjectName("MainMenu1");

  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  auto* stack = new QVBoxLayout(client);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);
  setCentralWidget(client);

  Panel0 = MakePanel(client, "Panel0", kStatusPanelHeight);
  lblStatus = Place(new QLabel(Panel0), "lblStatus", 8, 8, 400, 16);
  lblAction = Place(new QLabel(Panel0), "lblAction", 8, 32, 577, 49);
  lblAction->setWordWrap(true);
  lblAction->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont actionFont = FontOr("MS Serif", 12, QFont::Serif);
  actionFont.setBold(true);
  lblAction->setFont(actionFont);
  // These labels show what the host and the script wrote: as text, never
  // rendered as HTML (a label takes anything that starts like a tag for it).
  lblStatus->setTextFormat(Qt::PlainText);
  lblAction->setTextFormat(Qt::PlainText);
  lbl2 = Place(new QLabel(".", Panel0), "lbl2", 477, 8, 100, 16);  // right edge at 577
  lbl2->setAlignment(Qt::AlignRight | Qt::AlignTop);

  Panel1 = MakePanel(client, "Panel1", kRowPanelHeight);
  btnConnect = Place(new QPushButton("&Connect", Panel1), "btnConnect", 16, 8, 81, 25);
  btnConnect->setDefault(true);
  btnConnect->setAutoDefault(true);
  Host3 = Place(new QLineEdit(Panel1), "Host3", 112, 8, 273, 21);
  Port3 = Place(new QLineEdit("1570", Panel1), "Port3", 392, 8, 41, 21);
  Port3->hide();
  btnExit = Place(new QPushButton("E&xit", Panel1), "btnExit", 448, 8, 81, 25);

  Panel2 = MakePanel(client, "Panel2", kRowPanelHeight);
  btnProcess = Place(new QPushButton("&Begin", Panel2), "btnProcess", 16, 8, 81, 25);
  btnProcess->setEnabled(false);
  lblLogonString = Place(new QLabel(Panel2), "lblLogonString", 112, 24, 300, 16);
  lblLogonString->setTextFormat(Qt::PlainText);  // the host's logon notice
  Label1 = Place(new QLabel("Default Installation Group and Account", Panel2), "Label1", 218, 8,
                 183, 13);
  Label1->setAlignment(Qt::AlignRight | Qt::AlignTop);
  const QFont terminalFont = FontOr("Terminal", 9, QFont::TypeWriter);
  DefaultGroup = Place(new QLineEdit(Panel2), "DefaultGroup", 408, 8, 81, 20);
  DefaultGroup->setFont(terminalFont);
  Label2 = Place(new QLabel(".", Panel2), "Label2", 496, 12, 6, 13);
  Label2->setFont(terminalFont);
  DefaultAccount = Place(new QLineEdit(Panel2), "DefaultAccount", 504, 8, 81, 20);
  DefaultAccount->setFont(terminalFont);

  Panel3 = MakePanel(client, "Panel3", kRowPanelHeight);
  pb1 = Place(new QProgressBar(Panel3), "pb1", 8, 8, 569, 12);
  pb2 = Place(new QProgressBar(Panel3), "pb2", 8, 22, 569, 12);
  for (QProgressBar* bar : {pb1, pb2}) {
    bar->setRange(0, kProgressMax);
    bar->setTextVisible(false);
  }

  Memo1 = new ConsoleEdit(client);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setUndoRedoEnabled(false);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->viewport()->setCursor(Qt::ArrowCursor);
  Memo1->setFont(FontOr("Courier New", 9, QFont::TypeWriter));
  QPalette consolePalette = Memo1->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    // A console whose input is off stays readable.
    consolePalette.setColor(group, QPalette::Base, Qt::white);
    consolePalette.setColor(group, QPalette::Text, Qt::black);
  }
  Memo1->setPalette(consolePalette);
  Memo1->setEnabled(false);

  for (QWidget* white : {static_cast<QWidget*>(Host3), static_cast<QWidget*>(DefaultGroup),
                         static_cast<QWidget*>(DefaultAccount)}) {
    QPalette p = white->palette();
    p.setColor(QPalette::Base, Qt::white);
    white->setPalette(p);
  }

  stack->addWidget(Panel0);
  stack->addWidget(Panel1);
  stack->addWidget(Panel2);
  stack->addWidget(Panel3);
  stack->addWidget(Memo1, 1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimerIntervalMs);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(kTimerIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &TNSVT::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TNSVT::Timer2Timer);

  connect(btnConnect, &QPushButton::clicked, this, &TNSVT::btnConnectClick);
  connect(Host3, &QLineEdit::returnPressed, btnConnect, &QPushButton::click);
  connect(btnExit, &QPushButton::clicked, this, &TNSVT::btnExitClick);
  connect(btnProcess, &QPushButton::clicked, this, &TNSVT::btnProcessClick);
  connect(DefaultGroup, &QLineEdit::textChanged, this, &TNSVT::DefaultGroupChange);
  connect(DefaultAccount, &QLineEdit::textChanged, this, &TNSVT::DefaultAccountChange);
  connect(Memo1, &ConsoleEdit::KeyChar, this, &TNSVT::Memo1KeyPress);
  connect(Memo1, &QPlainTextEdit::textChanged, this, &TNSVT::Memo1Change);

  adjustSize();
  setFixedSize(sizeHint());
  move(kWindowLeft, kWindowTop);
}

void TNSVT::SetUpGroupAccountRow() {
  const std::string group = TableString(kIdDefaultGroup);
  const std::string account = TableString(kIdDefaultAccount);
  if (group == " " && account == " ") {
    DefaultGroup->hide();
    DefaultAccount->hide();
    Label1->hide();
    Label2->hide();
  }
  if (group == " ") {
    DefaultGroup->setText("");
    Lock(DefaultGroup);
  } else if (IsBlank(group)) {
    DefaultGroup->setText(kDefaultBlankGroup);
    Lock(DefaultGroup);
  } else {
    DefaultGroup->setText(Latin1(group));
  }
  if (account == " ") {
    ScriptVars[install::kDefaultAccountVar].clear();
    DefaultAccount->setText("");
    Lock(DefaultAccount);
  } else if (IsBlank(account)) {
    ScriptVars[install::kDefaultAccountVar] = kDefaultBlankAccount;
    DefaultAccount->setText(kDefaultBlankAccount);
    Lock(DefaultAccount);
  } else {
    ScriptVars[install::kDefaultAccountVar] = account;
    DefaultAccount->setText(Latin1(account));
  }
}

std::string TNSVT::LogonInstruction() const {
  return LogonHead + RequiredLogon + LogonTail;
}

void TNSVT::SetUiPhase(int phase) {
  if (phase == 2 && UiPhase == 0) {
    UiPhase = 1;
  } else {
    UiPhase = static_cast<std::uint8_t>(phase);
  }
  if (UiPhase == 2) {
    if (RequiredLogon.empty() || LogonLabel.find(RequiredLogon) == std::string::npos) {
      UiPhase = 1;
    }
  }

  Panel1->setVisible(UiPhase == 0);
  Panel2->setVisible(UiPhase == 1 || UiPhase == 2);
  Panel3->setVisible(UiPhase == 3);
  switch (UiPhase) {
    case 0:
      ShowAction(HintConnect);
      SetConsoleInput(false);
      btnProcess->setEnabled(false);
      LogonAccepted = false;
      SetLogonLabel("");
      if (!Panel1->isHidden()) {  // also before the window is first shown
        Host3->setFocus();
      }
      break;
    case 1:
      ShowAction(LogonInstruction());
      break;
    case 2:
      ShowAction(HintAtPrompt);
      break;
    default:
      ShowAction(ActionText);
      break;
  }
  while (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
}

void TNSVT::SetLogonLabel(const std::string& text) {
  LogonLabel = text;
  lblLogonString->setText(Latin1(text));
}

// The phase hint is set at every read request; only a change reaches the
// label, so the receive path stays free of allocations.
void TNSVT::ShowAction(const std::string& text) {
  if (text == shownAction && !lblAction->text().isNull()) {
    return;
  }
  shownAction = text;
  lblAction->setText(Latin1(text));
}

void TNSVT::SetConsoleInput(bool on) {
  if (!on && Memo1->hasFocus()) {
    // Disabling the focused console would hand the focus to the next
    // control in the tab chain (Begin, or the group field), and with it
    // whatever the operator types ahead. Until the host reads again those
    // keys go nowhere.
    Memo1->clearFocus();
  }
  Memo1->setEnabled(on);
  if (on) {
    Memo1->setFocus();
  }
}

void TNSVT::Timer1Timer() {
  ++IdleTicks;
  lbl2->setText(QString::number(IdleTicks));
}

void TNSVT::Timer2Timer() {
  ++ConnectWaitTicks;
}

void TNSVT::LetEventsRun() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TNSVT::EndApplication() {
  ApplicationEnded = true;
  emit ApplicationEnd(ExitStatus);
}

void TNSVT::btnExitClick() {
  if (ExitInProgress) {
    return;
  }
  if (socket->Connected()) {
    ExitInProgress = true;
    std::array<std::uint8_t, nsvt::kShortMessageSize> request{};
    const std::size_t length = nsvt::BuildTerminationRequest(request, EchoWord);
    SocketSend(std::span(request).first(length));
    for (int round = 0; round < kExitEventRounds; ++round) {
      LetEventsRun();
    }
    ExitInProgress = false;
  }
  EndApplication();
}

void TNSVT::FormClose() {
  Timer1->stop();
  Timer2->stop();
  ConnectWaitTicks = kConnectWaitEnded;
  LetEventsRun();
  ReleasePayload();
  if (socket->Connected()) {
    btnExitClick();
    ExitInProgress = true;
  }
  EndApplication();
}

void TNSVT::keyPressEvent(QKeyEvent* event) {
  // The cancel button: Escape presses Exit while Exit is on screen.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      btnExit->isVisible() && btnExit->isEnabled()) {
    btnExit->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TNSVT::closeEvent(QCloseEvent* event) {
  if (!ApplicationEnded) {
    FormClose();
  }
  event->accept();
}
