// TNSVT: the installer's one window object. It owns the whole session: the
// controls, the socket client, the receive path, the NS/VT state, the
// script interpreter's state, the dialogue state and the loaded payload.
// Everything runs on the user-interface thread, driven by socket events,
// clicks, key presses and two one-second timers.
//
// Its handlers are split by subsystem:
//   src/shell/   tnsvt_form.cpp (start, phases, timers, exit), tnsvt_console.cpp,
//                tnsvt_begin.cpp
//   src/nsvt/    tnsvt_connection.cpp (connect, framing, dispatch, errors),
//                tnsvt_terminal.cpp (terminal data both ways, trace writes)
//   src/install/ tnsvt_script.cpp (interpreter, dialogue step, local states),
//                tnsvt_dialogue.cpp (host command states), tnsvt_upload.cpp
//                (record and block transfers), tnsvt_payload.cpp (payloads)
//
// The state is public so tests and the fuzz harness can observe it; only
// the handlers below change it.
#pragma once

#include "../install/scriptline.h"
#include "../install/transfer.h"
#include "../nsvt/framer.h"
#include "../nsvt/trace.h"
#include "../nsvt/vtpkt.h"

#include <QByteArray>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QStringList>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Dialogs;
class TClientSocket;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QFrame;

// The console control: read-only text that hands every typed character to
// the window instead of inserting it. Keys without a character only move
// the caret.
class ConsoleEdit final : public QPlainTextEdit {
  Q_OBJECT
public:
  using QPlainTextEdit::QPlainTextEdit;
signals:
  void KeyChar(std::uint8_t c);

protected:
  void keyPressEvent(QKeyEvent* event) override;
};

class TNSVT final : public QMainWindow {
  Q_OBJECT
public:
  // What the window needs from the platform; tests replace every part.
  struct Platform {
    Dialogs* dialogs = nullptr;                                 // required
    std::function<TClientSocket*(QObject* parent)> makeSocket;  // default: native socket
    std::function<Qt::KeyboardModifiers()> keyboardModifiers;   // default: Qt's current
    QStringList arguments;  // command-line arguments after the program name
    // String-table lookup; default LoadTableString. Tests put their own
    // settings and scripts here.
    std::function<std::string(int id)> tableString;
  };

  explicit TNSVT(Platform platform, QWidget* parent = nullptr);
  ~TNSVT() override;

  // ---- Controls (object names as the operator-facing design names them) ----
  QFrame* Panel0 = nullptr;
  QLabel* lblStatus = nullptr;
  QLabel* lblAction = nullptr;
  QLabel* lbl2 = nullptr;
  QFrame* Panel1 = nullptr;
  QPushButton* btnConnect = nullptr;
  QLineEdit* Host3 = nullptr;
  QLineEdit* Port3 = nullptr;
  QPushButton* btnExit = nullptr;
  QFrame* Panel2 = nullptr;
  QPushButton* btnProcess = nullptr;
  QLabel* lblLogonString = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* DefaultGroup = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* DefaultAccount = nullptr;
  QFrame* Panel3 = nullptr;
  QProgressBar* pb1 = nullptr;
  QProgressBar* pb2 = nullptr;
  ConsoleEdit* Memo1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QMenu* File1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;

  // ---- Shell state ----
  std::uint8_t UiPhase = 0;
  bool LogonAccepted = false;
  std::string RequiredLogon;
  std::string HintConnect;       // entry 1020
  std::string LogonHead;         // entry 1030
  std::string LogonTail;         // entry 1031
  std::string HintAtPrompt;      // entry 1040
  std::string ActionText;        // entry 1060, MSGW replaces it
  std::string CommandErrorText;  // entry 1051
  std::int32_t IdleTicks = 0;
  std::int32_t ConnectWaitTicks = 0;
  bool ExitInProgress = false;
  bool InErrorHandler = false;
  bool ApplicationEnded = false;  // the program has been told to end
  // The program's exit status: 0, or kExitIncomplete when the host closed
  // the connection in the middle of an installation.
  int ExitStatus = 0;
  static constexpr int kExitIncomplete = 1;
  // What the group and account fields showed at start; a No to the
  // confirmation puts them back.
  QString StartGroupText;
  QString StartAccountText;
  std::string LogonLabel;   // what lblLogonString shows, kept for the phase checks
  std::string shownAction;  // what lblAction shows, so unchanged hints cost nothing

  // ---- NS/VT client state ----
  TClientSocket* socket = nullptr;  // owned by the window (Qt parent)
  nsvt::EchoWord EchoWord = nsvt::kInitialEchoWord;
  bool LocalEcho = true;
  std::int32_t HostReadLength = 1;
  std::uint16_t HostReadSecond = 0;
  nsvt::Framer framer;
  nsvt::ScratchArea scratch;
  std::array<std::uint8_t, nsvt::kReadChunk> readBuffer{};
  bool dispatching = false;                // DispatchMessage is acting on a message
  std::uint32_t connectionGeneration = 0;  // bumped whenever the socket is opened or closed
  bool reconnecting = false;       // the program closes the connection itself and stays open
  bool readsHeld = false;          // reads were paused because a message was being dispatched
  bool connectWaitActive = false;  // btnConnectClick is waiting for the connection
  std::array<std::uint8_t, nsvt::kTerminalInputHeaderSize + nsvt::kMaxTerminalData> sendBuffer{};

  // ---- Terminal data ----
  bool ConsoleEcho = true;
  std::string ConsoleLine;
  bool maskTracedLine = false;  // the line being sent was typed with local echo off
  bool trimmingConsole = false;
  bool consoleCrPending = false;  // output ended in a CR whose LF may follow
  // The console keeps at most this many characters besides its 20 lines, so
  // a host that never ends a line cannot grow it without bound.
  static constexpr int kConsoleCharLimit = 64 * 1024;
  std::string HostText;  // NUL stored as "~"; bounded by kHostTextLimit
  std::array<std::uint8_t, nsvt::kMaxFrame> RawHostData{};
  std::int32_t RawHostCount = 0;
  static constexpr std::size_t kConsoleLineLimit = 20;
  // HostText keeps at most this many bytes. A binary transfer judges the
  // 7th character of everything since its header block, and a megabyte
  // can arrive in a large transfer; so the head is kept and the oldest
  // output after it goes first, half the limit at once.
  static constexpr std::size_t kHostTextLimit = 1 << 20;
  static constexpr std::size_t kHostTextHead = 64 * 1024;

  // ---- Trace ----
  bool TraceOn = false;
  nsvt::TraceWriter trace;

  // ---- Script interpreter and dialogue ----
  std::int32_t ActionCode = 0;
  bool RestartScript = true;
  std::int32_t ScriptLineNo = 1;
  install::LineFields LineFields;
  install::ScriptVars ScriptVars;
  std::ifstream ScriptFile;
  // Local lines carried out since the host was last answered; a run that
  // exceeds the bound is ended instead of looping without end.
  std::int32_t LocalLinesRun = 0;
  static constexpr std::int32_t kLocalLineLimit = 10000;
  std::string ScriptFileName;         // as the FILE line named it, for messages
  std::int32_t ScriptFileLineNo = 0;  // lines read from ScriptFile so far
  // Bumped by AbandonRun, so a step that was showing a box when the
  // connection went knows its run is over.
  std::uint32_t RunSerial = 0;
  // The last command the run sent to the host, to say where a run that the
  // host cut short stood.
  std::string LastCommand;

  // ---- Payload and upload ----
  QByteArray PayloadResource;              // the loaded resource's bytes
  std::vector<std::uint8_t> UnpackBuffer;  // owned copy after unpacking
  const std::uint8_t* PayloadData = nullptr;
  std::int32_t PayloadSize = 0;
  std::int32_t StoredSize = 0;
  std::int32_t DataStart = 0;
  std::int32_t BlockNumber = 1;
  std::int32_t FileBytesSent = 0;
  std::int32_t TotalBytesSent = 0;
  std::int32_t GrandTotal = 0;
  std::int32_t FcopyExitTries = 0;
  std::int32_t BlockSequence = 1;
  install::TransferRecord TransferDescriptor{};
  install::TransferRecord TransferHeader{};
  std::array<std::uint8_t, install::kBlockBufferSize> BlockBuffer{};
  // FCOPY's data request failed: the copy is being ended with ":EOD" and the
  // run goes on at the error line, or stops, once FCOPY has finished.
  bool RecordCopyFailed = false;

  // ---- Shell (tnsvt_form.cpp) ----
  void SetUiPhase(int phase);
  void SetConsoleInput(bool on);
  void SetLogonLabel(const std::string& text);
  void ShowAction(const std::string& text);
  std::string LogonInstruction() const;
  void Timer1Timer();
  void Timer2Timer();
  void btnExitClick();
  void FormClose();
  void EndApplication();
  void LetEventsRun();

  // ---- Console (tnsvt_console.cpp) ----
  void Memo1KeyPress(std::uint8_t c);
  void Memo1Change();
  // Console text helpers used by the terminal data path.
  void AppendConsoleBytes(std::span<const std::uint8_t> bytes);  // up to the first NUL
  void EndConsoleLine();  // CR LF unless the last line is empty
  void InsertConsoleBreak();
  void InsertConsoleText(std::string_view text);

  // ---- Begin (tnsvt_begin.cpp) ----
  void btnProcessClick();
  void DefaultGroupChange();
  void DefaultAccountChange();
  void OpenTrace();

  // ---- Connection and receive path (tnsvt_connection.cpp) ----
  void btnConnectClick();
  void OnRead();
  void OnError(int code, const QString& text);
  void OnDisconnect();
  // Frames bytes and dispatches each completed message; returns early when
  // the connection the bytes came from is gone.
  void AcceptBytes(std::span<const std::uint8_t> bytes);
  void DispatchMessage();
  void HandleReadRequest();
  void HandleLogonNotice(std::string_view text);
  void ReportError(int code, const std::string& text);
  // Writes bytes to the connection; negative on failure.
  qint64 SocketSend(std::span<const std::uint8_t> bytes);

  // ---- Terminal data (tnsvt_terminal.cpp) ----
  void ReceiveTermIo(nsvt::ConstBytes message);
  bool SendLine(std::string_view text);
  bool SendArray(std::span<const std::uint8_t> bytes);
  bool blk_out(std::span<std::uint8_t, install::kBlockSize> block);
  void ClearHostText(bool withRaw);
  void TraceMark(std::string_view text);
  void TraceLine(std::string_view text);
  void TraceHexDump(std::span<const std::uint8_t> bytes);

  // ---- Script interpreter (tnsvt_script.cpp) ----
  void NextScriptLine();
  void DialogueStep();
  // Outcomes shared by all states.
  void OutcomeContinue();
  void OutcomeErrorLine(int argument);
  bool NamesErrorLine(int argument) const;
  void OutcomeStop(const std::string& text);
  void OutcomeStopWithCode(int code, const std::string& text);
  void OutcomeAbortWithCode(int code, const std::string& text);
  bool HostTextContains(std::string_view text) const;
  // Ends the run as STOP does, after telling the operator why (used where the
  // script itself cannot go on: a broken line, no line, a loop).
  void EndRunWithMessage(const std::string& text);
  // The connection is gone (error, close, reconnect) while a run may be in
  // progress: end it without sending anything, stop Timer1, release the
  // payload, and leave nothing that claims success.
  void AbandonRun();
  void RestartScriptFromTop();
  // Sends a command of the run's own (not an answer) and keeps it as
  // LastCommand.
  bool SendCommand(std::string_view text);
  // Where the run stands ("copying ZORBELIX, after record 199 of 438"), and
  // the report shown when the host ends the connection there.
  std::string RunStepText() const;
  std::string IncompleteInstallationText(const std::string& step) const;

  // ---- Host dialogue states (tnsvt_dialogue.cpp) ----
  // Runs the handler of a host-command state; false when state is not one.
  bool RunDialogueState(std::int32_t state);

  // ---- Uploads (tnsvt_upload.cpp) ----
  bool RunUploadState(std::int32_t state);
  bool SendRecord();
  std::size_t FillDataBlock(std::span<std::uint8_t> data, std::size_t n);

  // ---- Payloads (tnsvt_payload.cpp) ----
  bool InitCodeGeneration(const std::string& name);
  bool UnpackPayloadInto();
  void PrepareTextTransfer(std::uint16_t recordSize, std::int64_t recordLimit);
  void PrepareBinaryTransfer();
  void PrepareNamedTransfer(const std::string& hostName);
  void ReleasePayload();

signals:
  // The program should end (Exit, closing, the host closing the connection),
  // with this exit status.
  void ApplicationEnd(int status);

protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape, unless a control used it, is the window's cancel key.
  void keyPressEvent(QKeyEvent* event) override;

private:
  void BuildControls();
  void SetUpGroupAccountRow();
  Platform platform_;
  Dialogs& dialogs_;

public:
  Dialogs& dialogs() { return dialogs_; }
  const QStringList& arguments() const { return platform_.arguments; }
  std::string TableString(int id) const;
  Qt::KeyboardModifiers keyboardModifiers() const;
};
