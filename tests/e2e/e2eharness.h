// End-to-end harness: the real installer window, on its native socket,
// against mpe-host-sim running as a child process on a free loopback port.
//
// SimHost starts the simulator with a fresh store and a transcript and reads
// back what the host received and stored. Installer makes the window with
// recording boxes and drives it the way an operator does: typing in the
// console, clicking Connect and Begin.
#pragma once

#include "simchild.h"
#include "windowrig.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

// Generous bounds for waits on the other process; nothing waits a fixed time.
inline constexpr int kStartWaitMs = 10000;
inline constexpr int kRunWaitMs = 30000;

// Runs the event loop until condition holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kRunWaitMs);

// A running mpe-host-sim.
class SimHost {
public:
  // Starts the simulator with args added to --listen, --store and
  // --transcript (a --listen among args takes the place of 127.0.0.1:0).
  // ok() waits until it listens and tells whether it came up, so a
  // simulator can be started ahead of its use.
  explicit SimHost(const QStringList& args = {});
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  bool ok();
  quint16 port();
  const QStringList& args() const { return args_; }
  QString storeDir() const { return dir_.path() + "/store"; }
  QString log();  // what the simulator printed on stderr so far
  QString transcript() const;

  // The data of every terminal input message the host received, in order.
  std::vector<QByteArray> Received() const;
  // The same as text lines, for the messages of at most maxLine bytes; a
  // longer message (a record or a block) shows as "<N bytes>".
  QStringList ReceivedLines(int maxLine = 80) const;
  bool SawEvent(const QString& text) const;  // an "event" line containing text
  QStringList Deviations() const;

  bool HasFile(const QString& account, const QString& group, const QString& file) const;
  QByteArray Stored(const QString& account, const QString& group, const QString& file) const;
  QMap<QString, QString> Attributes(const QString& account, const QString& group,
                                    const QString& file) const;

private:
  QTemporaryDir dir_;
  // Asked to end (it stops cleanly) before the store and transcript go.
  support::SimChild child_{support::SimChild::Ending::Terminate, kStartWaitMs};
  QStringList args_;
  bool waited_ = false;
  bool listening_ = false;
  // SawEvent is polled on every event while an installation runs, so it reads
  // only what the transcript gained since the last call.
  mutable qint64 eventScanEnd_ = 0;
  mutable QStringList events_;
};

// The installer's window with recording boxes and the native socket.
class Installer {
public:
  // table overrides string-table entries (the rest come from the program's
  // own table); arguments are the command line after the program name.
  // A window that is not shown is not painted, which makes long runs faster.
  explicit Installer(std::map<int, std::string> table = {}, QStringList arguments = {},
                     bool shown = true);
  ~Installer();

  support::RecordingDialogs dialogs;
  std::unique_ptr<shell::TNSVT> window;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
  bool ended = false;  // the window asked the program to end
  int exitStatus = 0;  // with this status

  // Types the address, sets the port and clicks Connect.
  void Connect(quint16 port);
  // Waits for the logon prompt, types the HELLO line and waits for Begin.
  bool LogOn(const QString& hello = QStringLiteral("HELLO MANAGER.SYS"));
  // Types a line into the console and presses Enter.
  void Type(const QString& line);
  void Begin();
  // Types BYE at the console until the host closes the connection and the
  // program ends; false when it does not.
  bool LogOff();
  // Connect, log on and Begin.
  bool StartInstallation(quint16 port);

  std::string Status() const;
  bool SuccessShown() const;
  // All box texts, kind first, for failure messages.
  std::string BoxSummary() const;

private:
  std::map<int, std::string> table_;
};

// The shipped payload as it lies in the source tree.
QByteArray ShippedPayload();
// A payload compiled into this test under ":/payloads/", unpacked when it is
// a zlib stream.
QByteArray Resource(const QString& name);
QByteArray Unpacked(const QByteArray& packed);
// What the host stores for a text transfer: line ends made LF, each line
// blank-filled to records of recordSize bytes.
QByteArray TextRecords(const QByteArray& text, int recordSize);

// Writes a script file in dir and returns its path.
QString WriteScript(const QString& dir, const QString& name, const QStringList& lines);

}  // namespace e2e
