// The window itself: its controls and their places, the start-up order,
// the user-interface phases, the two timers and the ways the program ends.
#include "shell/TNSVT.h"

#include "install/installtarget.h"
#include "install/logonnotice.h"
#include "install/scriptline.h"
#include "install/stringtable.h"
#include "nsvt/vtpkt.h"
#include "shell/consoleedit.h"
#include "shell/dialogs.h"
#include "shell/fontfit.h"
#include "shell/statuslabel.h"
#include "shell/text.h"

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
#include <QRegularExpression>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <vector>

namespace shell {

namespace {

// Window geometry, in pixels of the client area.
constexpr int kClientWidth = 592;
constexpr int kClientHeight = 414;
constexpr int kWindowLeft = 227;
constexpr int kWindowTop = 140;
constexpr int kStatusPanelHeight = 89;
constexpr int kRowPanelHeight = 41;
constexpr QColor kSilver{192, 192, 192};
constexpr QColor kConsoleInactiveBase{232, 232, 232};
constexpr QColor kConsoleInactiveText{64, 64, 64};

constexpr int kTimerIntervalMs = 1000;
constexpr int kExitEventRounds = 3;
constexpr int kProgressMax = 100;

// String-table entries of the shell.
constexpr int kIdHintConnect = 1020;
constexpr int kIdLogonHead = 1030;
constexpr int kIdLogonTail = 1031;
constexpr int kIdHintAtPrompt = 1040;

const char* const kStatusReady = "  Application ready ";
const char* const kLogonLabelEmpty = "  ";

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

// The faces the layout was drawn for come first, then faces of the same
// widths on other desktops, then narrower cuts of what every Linux has.
constexpr FontChoice kSansChoices[] = {
    {"MS Sans Serif"},
    {"Tahoma"},
    {"Liberation Sans"},
    {"Arimo"},
    {"DejaVu Sans", QFont::SemiCondensed},
    {"DejaVu Sans"},
};
constexpr FontChoice kSerifChoices[] = {
    {"MS Serif"},
    {"Times New Roman"},
    {"Liberation Serif"},
    {"Tinos"},
    {"DejaVu Serif", QFont::SemiCondensed},
    {"DejaVu Serif"},
};
constexpr FontChoice kTerminalChoices[] = {
    {"Terminal"},
    {"Liberation Mono"},
    {"DejaVu Sans Mono", QFont::SemiCondensed},
    {"DejaVu Sans Mono"},
};
// 8 points and 12 points at 96 dots an inch, down to what still reads.
constexpr int kSansLargestPixels = 11;
constexpr int kSerifLargestPixels = 16;
constexpr int kTerminalLargestPixels = 12;
constexpr int kSmallestPixels = 8;

// The room a button leaves its caption.
QSize CaptionBox(const QPushButton* button) {
  const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
  const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
  return button->size() - QSize(2 * margin, 2 * frame);
}

QString WithoutMnemonic(QString caption) {
  return caption.remove(QRegularExpression("&(?!&)"));
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

TNSVT::TNSVT(Platform platform, QWidget* parent)
    : QMainWindow(parent),
      platform_(std::move(platform)),
      dialogs_(*platform_.dialogs),
      session_(*this, platform_.makeSocket),
      run_(session_, *this, [this](int id) { return TableString(id); }) {
  BuildControls();

  // Start-up, in the order the rest of the program relies on.
  IdleTicks = 0;
  ConnectWaitTicks = 0;
  ExitInProgress = false;
  ui_.pb1->setValue(0);
  ui_.pb2->setValue(0);
  LogonAccepted = false;
  UiPhase = 0;
  ui_.lblStatus->SetStatusText(kStatusReady);
  SetLogonLabel(kLogonLabelEmpty);

  hintConnect_ = TableString(kIdHintConnect);
  logonHead_ = TableString(kIdLogonHead);
  logonTail_ = TableString(kIdLogonTail);
  hintAtPrompt_ = TableString(kIdHintAtPrompt);

  SetUpGroupAccountRow();
  startGroupText_ = ui_.DefaultGroup->text();
  startAccountText_ = ui_.DefaultAccount->text();
  FitFonts();
  SetUiPhase(0);
}

TNSVT::~TNSVT() = default;

std::string TNSVT::TableString(int id) const {
  return platform_.tableString ? platform_.tableString(id) : LoadTableString(id);
}

Qt::KeyboardModifiers TNSVT::CurrentModifiers() const {
  return platform_.keyboardModifiers ? platform_.keyboardModifiers()
                                     : QGuiApplication::keyboardModifiers();
}

void TNSVT::BuildControls() {
  setWindowTitle(kWindowCaption);
  QPalette windowPalette = palette();
  windowPalette.setColor(QPalette::Window, kSilver);
  setPalette(windowPalette);

  ui_.File1 = menuBar()->addMenu("&File");
  ui_.File1->setObjectName("File1");
  ui_.Exit1 = ui_.File1->addAction("E&xit");  // carries no action
  ui_.Exit1->setObjectName("Exit1");
  ui_.Help1 = menuBar()->addMenu("&Help");
  ui_.Help1->setObjectName("Help1");
  ui_.About1 = ui_.Help1->addAction("&About");  // carries no action
  ui_.About1->setObjectName("About1");
  menuBar()->setObjectName("MainMenu1");

  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  auto* stack = new QVBoxLayout(client);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);
  setCentralWidget(client);

  ui_.Panel0 = MakePanel(client, "Panel0", kStatusPanelHeight);
  ui_.lblStatus = Place(new StatusLabel(ui_.Panel0), "lblStatus", 8, 8, 400, 16);
  ui_.lblAction = Place(new QLabel(ui_.Panel0), "lblAction", 8, 32, 577, 49);
  ui_.lblAction->setWordWrap(true);
  ui_.lblAction->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // These labels show what the host and the script wrote: as text, never
  // rendered as HTML (a label takes anything that starts like a tag for it).
  ui_.lblAction->setTextFormat(Qt::PlainText);
  ui_.lbl2 = Place(new QLabel(".", ui_.Panel0), "lbl2", 477, 8, 100, 16);  // right edge at 577
  ui_.lbl2->setAlignment(Qt::AlignRight | Qt::AlignTop);

  ui_.Panel1 = MakePanel(client, "Panel1", kRowPanelHeight);
  ui_.btnConnect = Place(new QPushButton("&Connect", ui_.Panel1), "btnConnect", 16, 8, 81, 25);
  ui_.btnConnect->setDefault(true);
  ui_.btnConnect->setAutoDefault(true);
  ui_.Host3 = Place(new QLineEdit(ui_.Panel1), "Host3", 112, 8, 273, 21);
  ui_.Port3 =
      Place(new QLineEdit(QString::number(nsvt::kNsvtPort), ui_.Panel1), "Port3", 392, 8, 41, 21);
  ui_.Port3->hide();
  ui_.btnExit = Place(new QPushButton("E&xit", ui_.Panel1), "btnExit", 448, 8, 81, 25);

  ui_.Panel2 = MakePanel(client, "Panel2", kRowPanelHeight);
  ui_.btnProcess = Place(new QPushButton("&Begin", ui_.Panel2), "btnProcess", 16, 8, 81, 25);
  ui_.btnProcess->setEnabled(false);
  ui_.lblLogonString = Place(new QLabel(ui_.Panel2), "lblLogonString", 112, 24, 300, 16);
  ui_.lblLogonString->setTextFormat(Qt::PlainText);  // the host's logon notice
  ui_.Label1 = Place(new QLabel("Default Installation Group and Account", ui_.Panel2), "Label1",
                     218, 8, 183, 13);
  ui_.Label1->setAlignment(Qt::AlignRight | Qt::AlignTop);
  ui_.DefaultGroup = Place(new QLineEdit(ui_.Panel2), "DefaultGroup", 408, 8, 81, 20);
  ui_.Label2 = Place(new QLabel(".", ui_.Panel2), "Label2", 496, 12, 6, 13);
  ui_.DefaultAccount = Place(new QLineEdit(ui_.Panel2), "DefaultAccount", 504, 8, 81, 20);

  ui_.Panel3 = MakePanel(client, "Panel3", kRowPanelHeight);
  ui_.pb1 = Place(new QProgressBar(ui_.Panel3), "pb1", 8, 8, 569, 12);
  ui_.pb2 = Place(new QProgressBar(ui_.Panel3), "pb2", 8, 22, 569, 12);
  for (QProgressBar* bar : {ui_.pb1, ui_.pb2}) {
    bar->setRange(0, kProgressMax);
    bar->setTextVisible(false);
  }
  // What changes during a transfer paints its own background, so a change
  // repaints that control alone and not the panel and window behind it.
  for (QWidget* changing :
       std::initializer_list<QWidget*>{ui_.lblStatus, ui_.lbl2, ui_.pb1, ui_.pb2}) {
    changing->setAutoFillBackground(true);
  }

  ui_.Memo1 = new ConsoleEdit(client);
  ConsoleEdit* memo = ui_.Memo1;
  memo->setObjectName("Memo1");
  memo->setReadOnly(true);
  memo->setUndoRedoEnabled(false);
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->viewport()->setCursor(Qt::ArrowCursor);
  memo->setFont(FontOr("Courier New", 9, QFont::TypeWriter));
  QPalette consolePalette = memo->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    consolePalette.setColor(group, QPalette::Base, Qt::white);
    consolePalette.setColor(group, QPalette::Text, Qt::black);
  }
  // A console whose input is off looks inactive and stays readable.
  consolePalette.setColor(QPalette::Disabled, QPalette::Base, kConsoleInactiveBase);
  consolePalette.setColor(QPalette::Disabled, QPalette::Text, kConsoleInactiveText);
  memo->setPalette(consolePalette);
  memo->setEnabled(false);

  for (QWidget* white : {static_cast<QWidget*>(ui_.Host3), static_cast<QWidget*>(ui_.DefaultGroup),
                         static_cast<QWidget*>(ui_.DefaultAccount)}) {
    QPalette p = white->palette();
    p.setColor(QPalette::Base, Qt::white);
    white->setPalette(p);
  }

  stack->addWidget(ui_.Panel0);
  stack->addWidget(ui_.Panel1);
  stack->addWidget(ui_.Panel2);
  stack->addWidget(ui_.Panel3);
  stack->addWidget(memo, 1);

  ui_.Timer1 = new QTimer(this);
  ui_.Timer1->setObjectName("Timer1");
  ui_.Timer1->setInterval(kTimerIntervalMs);
  ui_.Timer2 = new QTimer(this);
  ui_.Timer2->setObjectName("Timer2");
  ui_.Timer2->setInterval(kTimerIntervalMs);
  connect(ui_.Timer1, &QTimer::timeout, this, &TNSVT::Timer1Timer);
  connect(ui_.Timer2, &QTimer::timeout, this, &TNSVT::Timer2Timer);

  DescribeForAssistiveTechnology();
  // The keyboard's way through the window, whatever row is showing: host,
  // Connect, Exit, the console, Begin, group, account. The console passes
  // Tab on rather than sending it (Ctrl+I still types a tab).
  memo->setTabChangesFocus(true);
  QWidget* chain[] = {ui_.Host3,      ui_.btnConnect,   ui_.btnExit,       memo,
                      ui_.btnProcess, ui_.DefaultGroup, ui_.DefaultAccount};
  for (std::size_t i = 1; i < std::size(chain); ++i) {
    setTabOrder(chain[i - 1], chain[i]);
  }

  frameTimer_.setSingleShot(true);
  connect(&frameTimer_, &QTimer::timeout, this, &TNSVT::FlushProgress);

  connect(ui_.btnConnect, &QPushButton::clicked, this, &TNSVT::btnConnectClick);
  connect(ui_.Host3, &QLineEdit::returnPressed, ui_.btnConnect, &QPushButton::click);
  connect(ui_.btnExit, &QPushButton::clicked, this, &TNSVT::btnExitClick);
  connect(ui_.btnProcess, &QPushButton::clicked, this, &TNSVT::btnProcessClick);
  connect(ui_.DefaultGroup, &QLineEdit::textChanged, this, &TNSVT::DefaultGroupChange);
  connect(ui_.DefaultAccount, &QLineEdit::textChanged, this, &TNSVT::DefaultAccountChange);
  connect(memo, &ConsoleEdit::KeyChar, this, &TNSVT::Memo1KeyPress);
  connect(memo, &QPlainTextEdit::textChanged, this, &TNSVT::Memo1Change);

  adjustSize();
  setFixedSize(sizeHint());
  move(kWindowLeft, kWindowTop);
}

// Names and descriptions for screen readers. Buttons and labels are named by
// their own text (a button's changes with PAUSE and LOGON); the fields, the
// console and the bars are named here.
void TNSVT::DescribeForAssistiveTechnology() {
  const struct {
    QWidget* control;
    const char* name;  // nullptr: the control's own text
    const char* description;
  } described[] = {
      {ui_.lblStatus, nullptr, "What the installer is doing, or the last error"},
      {ui_.lblAction, nullptr, "What to do next"},
      {ui_.lbl2, nullptr, "Seconds since the host last sent anything during the copy"},
      {ui_.btnConnect, nullptr, "Connect to the host's NS/VT service on port 1570"},
      {ui_.Host3, "Host name or address", "The HP 3000 to install on"},
      {ui_.Port3, "Port", "The host's NS/VT port"},
      {ui_.btnExit, nullptr, "Leave the installer"},
      {ui_.btnProcess, nullptr, "Start the installation once you are at an MPE prompt"},
      {ui_.lblLogonString, nullptr, "The session the host reports"},
      {ui_.DefaultGroup, "Installation group", "The group to install into"},
      {ui_.DefaultAccount, "Installation account", "The account to install into"},
      {ui_.pb1, "Progress of this file", "How much of the current file has been sent"},
      {ui_.pb2, "Progress of the installation", "How much of the whole installation is done"},
      {ui_.Memo1, "Terminal console",
       "The host's output; type here to answer the host when it asks for input"},
  };
  for (const auto& entry : described) {
    if (entry.name != nullptr) {
      entry.control->setAccessibleName(entry.name);
    }
    entry.control->setAccessibleDescription(entry.description);
  }
  // The status line's description gives way to its whole text when cut.
  ui_.lblStatus->SetDescription(ui_.lblStatus->accessibleDescription());
}

// Each control's font is the largest that shows its fixed texts whole (see
// fontfit.h); the status line cuts what does not fit (statuslabel.h).
void TNSVT::FitFonts() {
  const FontNeed sans{kSansChoices, QFont::SansSerif, false, kSansLargestPixels, kSmallestPixels};
  std::vector<QString> captions;
  QSize box = ui_.btnConnect->size();
  for (const QPushButton* button : {ui_.btnConnect, ui_.btnExit, ui_.btnProcess}) {
    captions.push_back(WithoutMnemonic(button->text()));
    box = box.boundedTo(CaptionBox(button));
  }
  setFont(FitFont(sans, captions, box, false));
  const QString label1[] = {ui_.Label1->text()};
  ui_.Label1->setFont(FitFont(sans, label1, ui_.Label1->size(), false));

  const FontNeed terminal{kTerminalChoices, QFont::TypeWriter, false, kTerminalLargestPixels,
                          kSmallestPixels};
  const QString dot[] = {ui_.Label2->text()};
  const QFont terminalFont = FitFont(terminal, dot, ui_.Label2->size(), false);
  for (QWidget* field : {static_cast<QWidget*>(ui_.Label2), static_cast<QWidget*>(ui_.DefaultGroup),
                         static_cast<QWidget*>(ui_.DefaultAccount)}) {
    field->setFont(terminalFont);
  }
  FitActionFont({});
}

// The hint line wraps within its two lines and a half; a hint the script
// sets later (MSGW) may make its font smaller still.
void TNSVT::FitActionFont(const QString& also) {
  const FontNeed serif{kSerifChoices, QFont::Serif, true, kSerifLargestPixels, kSmallestPixels};
  std::vector<QString> hints{Latin1(hintConnect_), Latin1(LogonInstruction()),
                             Latin1(hintAtPrompt_), Latin1(run_.actionText())};
  if (!also.isEmpty()) {
    hints.push_back(also);
  }
  ui_.lblAction->setFont(FitFont(serif, hints, ui_.lblAction->size(), true));
}

void TNSVT::SetUpGroupAccountRow() {
  const install::InstallTarget target = install::TargetFromSettings(
      TableString(install::kIdDefaultGroup), TableString(install::kIdDefaultAccount));
  if (!target.rowShown) {
    ui_.DefaultGroup->hide();
    ui_.DefaultAccount->hide();
    ui_.Label1->hide();
    ui_.Label2->hide();
  }
  // Setting a field's text runs its filter, as any change does.
  ui_.DefaultGroup->setText(Latin1(target.group));
  if (!target.groupEditable) {
    Lock(ui_.DefaultGroup);
  }
  run_.SetDefaultAccount(target.defaultAccount);
  ui_.DefaultAccount->setText(Latin1(target.account));
  if (!target.accountEditable) {
    Lock(ui_.DefaultAccount);
  }
}

std::string TNSVT::LogonInstruction() const {
  return logonHead_ + run_.requiredLogon() + logonTail_;
}

void TNSVT::SetUiPhase(int phase) {
  if (phase == 2 && UiPhase == 0) {
    UiPhase = 1;
  } else {
    UiPhase = static_cast<std::uint8_t>(phase);
  }
  if (UiPhase == 2 && !install::LogonAccepted(logonLabel_, run_.requiredLogon())) {
    UiPhase = 1;
  }

  ui_.Panel1->setVisible(UiPhase == 0);
  ui_.Panel2->setVisible(UiPhase == 1 || UiPhase == 2);
  ui_.Panel3->setVisible(UiPhase == 3);
  switch (UiPhase) {
    case 0:
      ShowAction(hintConnect_);
      SetConsoleInput(false);
      ui_.btnProcess->setEnabled(false);
      LogonAccepted = false;
      SetLogonLabel("");
      if (!ui_.Panel1->isHidden()) {  // also before the window is first shown
        ui_.Host3->setFocus();
      }
      break;
    case 1:
      ShowAction(LogonInstruction());
      break;
    case 2:
      ShowAction(hintAtPrompt_);
      break;
    default:
      ShowAction(run_.actionText());
      break;
  }
  while (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
}

void TNSVT::SetLogonLabel(const std::string& text) {
  logonLabel_ = text;
  ui_.lblLogonString->setText(Latin1(text));
}

// The phase hint is set at every read request; only a change reaches the
// label, so the receive path stays free of allocations.
void TNSVT::ShowAction(const std::string& text) {
  if (text == shownAction_ && !ui_.lblAction->text().isNull()) {
    return;
  }
  shownAction_ = text;
  const QString shown = Latin1(text);
  if (!TextFits(ui_.lblAction->font(), shown, ui_.lblAction->size(), true)) {
    FitActionFont(shown);
  }
  ui_.lblAction->setText(shown);
}

void TNSVT::SetStatus(const QString& text) {
  FlushProgress();  // so the progress waiting for its frame cannot overwrite the line later
  ui_.lblStatus->SetStatusText(text);
}

void TNSVT::Timer1Timer() {
  ++IdleTicks;
  ui_.lbl2->setText(QString::number(IdleTicks));
}

void TNSVT::Timer2Timer() {
  ++ConnectWaitTicks;
}

void TNSVT::LetEventsRun() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TNSVT::EndApplication() {
  FlushProgress();
  applicationEnded_ = true;
  emit ApplicationEnd(exitStatus_);
}

void TNSVT::btnExitClick() {
  if (ExitInProgress) {
    return;
  }
  if (session_.Connected()) {
    ExitInProgress = true;
    session_.SendTerminationRequest();
    for (int round = 0; round < kExitEventRounds; ++round) {
      LetEventsRun();
    }
    ExitInProgress = false;
  }
  EndApplication();
}

void TNSVT::FormClose() {
  ui_.Timer1->stop();
  ui_.Timer2->stop();
  ConnectWaitTicks = kConnectWaitEnded;
  LetEventsRun();
  run_.ReleasePayload();
  if (session_.Connected()) {
    btnExitClick();
    ExitInProgress = true;
  }
  EndApplication();
}

void TNSVT::keyPressEvent(QKeyEvent* event) {
  // The cancel button: Escape presses Exit while Exit is on screen.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      ui_.btnExit->isVisible() && ui_.btnExit->isEnabled()) {
    ui_.btnExit->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool TNSVT::event(QEvent* event) {
  const QEvent::Type type = event->type();
  const bool key =
      type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::ShortcutOverride;
  if (key && consoleKeysHeld_) {
    if (focusWidget() == nullptr && !ui_.Memo1->isEnabled()) {
      // Accepting the shortcut override keeps mnemonics from firing; the
      // key press that follows is dropped here, before Tab handling.
      event->accept();
      return true;
    }
    consoleKeysHeld_ = false;  // something else took the focus since
  }
  return QMainWindow::event(event);
}

void TNSVT::closeEvent(QCloseEvent* event) {
  if (!applicationEnded_) {
    FormClose();
  }
  event->accept();
}

}  // namespace shell
