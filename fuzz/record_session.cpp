// Records what a host sends the installer in one real session, for the seed
// corpus: the installer window (offscreen) connects to a host (normally
// mpe-host-sim), logs on as MANAGER.SYS from its console, presses Begin and
// runs the shipped script until the connection ends. Every byte the window
// receives is written to OUT.before (until Begin) or OUT.after (from Begin).
//
// Usage: record_session PORT OUT [LOGON-LINE]
#include "windowrig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using shell::TNSVT;

namespace {

// The platform socket, with every received byte kept.
class RecordingSocket final : public TClientSocket {
public:
  explicit RecordingSocket(QObject* parent)
      : TClientSocket(parent), inner_(CreateNativeSocket(this)) {
    connect(inner_, &TClientSocket::OnRead, this, &TClientSocket::OnRead);
    connect(inner_, &TClientSocket::OnError, this, &TClientSocket::OnError);
    connect(inner_, &TClientSocket::OnDisconnect, this, &TClientSocket::OnDisconnect);
  }
  void Open(const QString& host, quint16 port) override { inner_->Open(host, port); }
  void Close() override { inner_->Close(); }
  bool Connected() const override { return inner_->Connected(); }
  qint64 Send(std::span<const std::uint8_t> bytes) override { return inner_->Send(bytes); }
  qint64 Receive(std::span<std::uint8_t> buffer) override {
    const qint64 n = inner_->Receive(buffer);
    if (n > 0) {
      (begun ? after : before)
          .insert((begun ? after : before).end(), buffer.begin(), buffer.begin() + n);
    }
    return n;
  }
  QString LocalAddress() const override { return inner_->LocalAddress(); }
  QString RemoteHost() const override { return inner_->RemoteHost(); }
  void SetReadEnabled(bool enabled) override { inner_->SetReadEnabled(enabled); }

  bool begun = false;
  std::vector<std::uint8_t> before;
  std::vector<std::uint8_t> after;

private:
  TClientSocket* inner_;
};

void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PORT OUT [LOGON-LINE]\n", argv[0]);
    return 64;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string logon = argc > 3 ? argv[3] : "HELLO MANAGER.SYS";

  support::RecordingDialogs dialogs;
  RecordingSocket* socket = nullptr;
  TNSVT::Platform platform;
  platform.dialogs = &dialogs;
  platform.makeSocket = [&socket](QObject* parent) {
    socket = new RecordingSocket(parent);
    return socket;
  };
  platform.keyboardModifiers = [] { return Qt::KeyboardModifiers(); };
  TNSVT window(std::move(platform));
  bool ended = false;
  QObject::connect(&window, &TNSVT::ApplicationEnd, [&ended](int) { ended = true; });
  window.show();

  window.ui().Host3->setText(QStringLiteral("127.0.0.1"));
  window.ui().Port3->setText(QString::fromLatin1(argv[1]));
  window.ui().btnConnect->click();

  bool typed = false;
  bool wasConnected = socket->Connected();
  QElapsedTimer clock;
  clock.start();
  while (!ended && clock.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!socket->Connected()) {
      if (wasConnected) {
        break;
      }
      continue;
    }
    wasConnected = true;
    if (!typed && window.ui().Memo1->isEnabled() && window.uiPhase() == 1) {
      typed = true;
      for (const char c : logon) {
        window.Memo1KeyPress(static_cast<std::uint8_t>(c));
      }
      window.Memo1KeyPress('\r');
    } else if (!socket->begun && window.ui().btnProcess->isEnabled() && window.uiPhase() == 2) {
      socket->begun = true;
      window.ui().btnProcess->click();
    }
  }
  // Boxes the session showed, for the record.
  for (const auto& box : dialogs.boxes) {
    std::fprintf(stderr, "box: %s\n", box.text.c_str());
  }
  Write(std::string(argv[2]) + ".before", socket->before);
  Write(std::string(argv[2]) + ".after", socket->after);
  std::fprintf(stderr, "received %zu bytes before Begin, %zu after; %s\n", socket->before.size(),
               socket->after.size(), ended ? "the program ended" : "the window stayed open");
  return 0;
}
