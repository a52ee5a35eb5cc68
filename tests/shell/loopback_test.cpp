// The window on the platform socket against a real host on 127.0.0.1: a
// normal close must end the program with the termination request still
// sent, a reset must leave the window open, a refused port must fail.
#include "reservedport.h"
#include "windowrig.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using support::Bytes;
using support::LoopbackHost;
using support::RecordingDialogs;
using support::ReservedPort;
namespace host = support::host;
using Kind = RecordingDialogs::Kind;

namespace {

struct NativeRig {
  RecordingDialogs dialogs;
  std::unique_ptr<TNSVT> window;
  bool ended = false;

  NativeRig() {
    TNSVT::Platform platform;
    platform.dialogs = &dialogs;
    window = std::make_unique<TNSVT>(std::move(platform));
    QObject::connect(window.get(), &TNSVT::ApplicationEnd, [this] { ended = true; });
    window->show();
  }

  void Connect(quint16 port) {
    window->ui().Host3->setText("127.0.0.1");
    window->ui().Port3->setText(QString::number(port));
    QTest::mouseClick(window->ui().btnConnect, Qt::LeftButton);
  }

  std::string Status() const { return window->ui().lblStatus->text().toLatin1().toStdString(); }
};

// The messages in a received byte stream, by their length fields.
std::vector<Bytes> Split(const Bytes& stream) {
  std::vector<Bytes> messages;
  std::size_t at = 0;
  while (at + 2 <= stream.size()) {
    const std::size_t length = (std::size_t{stream[at]} << 8) | stream[at + 1];
    if (length < 10 || at + length > stream.size()) {
      break;
    }
    messages.emplace_back(stream.begin() + at, stream.begin() + at + length);
    at += length;
  }
  return messages;
}

}  // namespace

class LoopbackTest : public QObject {
  Q_OBJECT

private slots:
  void negotiatesWithTheLocalAddress() {
    LoopbackHost server;
    NativeRig rig;
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    QVERIFY(rig.Status().starts_with("  Connected to: "));
    server.Send(host::NegotiationRequest());
    QTRY_COMPARE(Split(server.received).size(), std::size_t{2});
    const Bytes open = Split(server.received)[1];
    QCOMPARE(open.size(), std::size_t{71});
    QCOMPARE(std::string(open.begin() + 20, open.begin() + 29), std::string("127.0.0.1"));
    QCOMPARE(open[19], std::uint8_t{9});
  }

  void normalCloseEndsTheProgramAfterTermination() {
    LoopbackHost server;
    NativeRig rig;
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    server.Send(host::NegotiationRequest());
    server.Send(host::ReadRequest(80));
    QTRY_COMPARE(rig.window->uiPhase(), 1);
    server.CloseNormally();
    QTRY_VERIFY(rig.ended);
    QTRY_COMPARE(Split(server.received).size(), std::size_t{3});
    const Bytes termination = Split(server.received)[2];
    QCOMPARE(termination.size(), std::size_t{10});
    QCOMPARE(termination[3], std::uint8_t{0});
    QCOMPARE(termination[5], std::uint8_t{2});
  }

  void resetLeavesTheWindowOpen() {
    LoopbackHost server;
    NativeRig rig;
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    server.Send(host::ReadRequest(80));
    QTRY_COMPARE(rig.window->uiPhase(), 1);
    server.Reset();
    QTRY_VERIFY(rig.Status().starts_with("  Network Error: 10054, "));
    QVERIFY(!rig.ended);
    QCOMPARE(rig.window->uiPhase(), 0);
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{0});
  }

  void addressLiteralNeedsNoResolver() {
    LoopbackHost server;
    // A resolver that never answers: a literal must connect without it.
    QObject owner;
    int lookups = 0;
    TClientSocket* socket =
        CreateNativeSocket(&owner, [&lookups](const QString&, QObject*, HostResolved) {
          ++lookups;
          return -1;
        });
    socket->Open("127.0.0.1", server.port());
    QVERIFY(server.WaitForClient());
    QCOMPARE(lookups, 1);  // only the peer's name, once connected
  }

  void refusedPortFailsAtOnce() {
    const ReservedPort closed;
    QVERIFY(closed.port() != 0);
    NativeRig rig;
    rig.Connect(closed.port());
    QVERIFY(rig.Status().starts_with("  Network Error: 10061, "));
    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector<std::string>{"Connection failed"});
    QVERIFY(rig.window->connectWaitTicks() >= 31);
  }
};

QTEST_MAIN(LoopbackTest)
#include "loopback_test.moc"
