// What an operator meets on a real X11 desktop, run under Xvfb: the
// captions the window manager shows (read back from the X server, not from
// the widgets), where the keyboard focus goes while the host is busy, and
// which keys type and which press buttons. Keys go in through the window,
// as the platform delivers them, not straight to a widget.
#include "windowrig.h"

#include "shell/application.h"

#include <QtGui/qguiapplication_platform.h>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstring>
#include <memory>

using shell::ConfigureApplication;
using shell::kWindowCaption;
using shell::QtDialogs;
using shell::TNSVT;
using support::WindowRig;
namespace host = support::host;

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The caption a window manager shows: _NET_WM_NAME as the X server holds it.
QString ShownCaption(QWidget* window) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr) {
    return QStringLiteral("(not on X11)");
  }
  xcb_connection_t* connection = x11->connection();
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, static_cast<xcb_window_t>(window->winId()),
                       Atom(connection, "_NET_WM_NAME"), Atom(connection, "UTF8_STRING"), 0, 1024);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(connection, cookie, nullptr), &std::free);
  if (!reply) {
    return {};
  }
  return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
}

void TypeIntoWindow(QWidget* window, const QString& keys) {
  for (const QChar c : keys) {
    const char latin = c.toLatin1();
    const Qt::Key key = latin == '\r'   ? Qt::Key_Return
                        : latin == ' '  ? Qt::Key_Space
                        : latin == '\t' ? Qt::Key_Tab
                                        : static_cast<Qt::Key>(c.toUpper().unicode());
    QTest::keyClick(window->windowHandle(), key, Qt::NoModifier);
  }
}

// A key with its text, as X11 gives it also under Alt ("b" for Alt+B).
void PressInWindow(QWidget* window, char key, Qt::KeyboardModifiers modifiers = {}) {
  QTest::keyClick(window->windowHandle(), key, modifiers);
}

// A logged-on window that has the keyboard, at the host's prompt.
std::unique_ptr<WindowRig> ActiveRig(std::map<int, std::string> table = {},
                                     const std::string& logon = "MANAGER.SYS,PUB") {
  auto rig = std::make_unique<WindowRig>(std::move(table));
  rig->window->activateWindow();
  if (!QTest::qWaitForWindowActive(rig->window.get())) {
    return nullptr;
  }
  rig->Connect();
  rig->LogOn(logon);
  return rig;
}

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { ConfigureApplication(); }

  void captionsAreTheProgramsOwn() {
    WindowRig rig;
    rig.window->setWindowTitle(kWindowCaption);  // as the program's start does
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QTRY_COMPARE(ShownCaption(rig.window.get()), QString("ZORBELIX MPEiX Installer"));

    // Each kind of box, read while it is open and then closed.
    QtDialogs dialogs;
    QStringList shown;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      QWidget* box = QApplication::activeModalWidget();
      if (box == nullptr || !box->windowHandle() || !box->windowHandle()->isExposed()) {
        return;
      }
      const QString caption = ShownCaption(box);
      if (caption.isEmpty()) {
        return;  // not set on the server yet
      }
      shown << caption;
      box->close();
    });
    poll.start();
    dialogs.Message(rig.window.get(), "text");
    dialogs.Error(rig.window.get(), "text");
    dialogs.Confirm(rig.window.get(), "text");
    dialogs.Input(rig.window.get(), "Input Box", "prompt", "");
    QCOMPARE(shown, (QStringList{"ZORBELIX MPEiX Installation", "Error", "Confirm", "Input Box"}));
  }

  // Keys typed after a line is sent and before the host reads again go
  // nowhere: not to Begin, not to the group field, and Tab moves no focus.
  void typingAheadTouchesNoControl_data() {
    QTest::addColumn<QString>("logon");  // the host's logon notice
    QTest::addColumn<QString>("ahead");  // typed before the host reads again
    QTest::newRow("at the prompt, Begin enabled") << "MANAGER.SYS,PUB"
                                                  << " Q\r";
    QTest::newRow("logon refused, group editable") << "OPERATOR.SYS"
                                                   << " Q\r";
    QTest::newRow("Tab, Space: not Begin") << "MANAGER.SYS,PUB"
                                           << "\t ";
    QTest::newRow("Tab, Tab, q: not the group") << "MANAGER.SYS,PUB"
                                                << "\t\tq";
  }
  void typingAheadTouchesNoControl() {
    QFETCH(QString, logon);
    QFETCH(QString, ahead);
    auto rig = ActiveRig({{1071, "SYS"}, {1072, "ABC"}}, logon.toStdString());
    QVERIFY(rig);
    TNSVT& w = *rig->window;
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().Memo1));
    const std::size_t before = rig->socket->sent.size();
    TypeIntoWindow(&w, "listf\r");
    TypeIntoWindow(&w, ahead);
    const auto sent = rig->SentLines(before);
    QCOMPARE(sent, std::vector<std::string>{"listf"});
    QCOMPARE(w.run().actionCode(), 0);
    QCOMPARE(w.ui().DefaultGroup->text(), QString("SYS"));
    QVERIFY(QApplication::focusWidget() != w.ui().btnProcess);
    rig->Host(host::ReadRequest(80));  // the host reads again: the console has the keys
    TypeIntoWindow(&w, "bye\r");
    QCOMPARE(rig->SentLines(before).back(), std::string("bye"));
  }

  // Begin pressed twice before a slow host reads: the script starts once.
  void beginTwiceStartsOneRun() {
    auto rig = ActiveRig();
    QVERIFY(rig);
    TNSVT& w = *rig->window;
    const std::size_t before = rig->socket->sent.size();
    QTest::mouseClick(w.ui().btnProcess, Qt::LeftButton);
    QTest::mouseClick(w.ui().btnProcess, Qt::LeftButton, {}, {}, 80);
    QTest::qWait(100);
    QCOMPARE(rig->SentLines(before), std::vector<std::string>{"ECHO !HPUSER.!HPACCOUNT"});
  }

  // Alt chords press buttons by their mnemonics, whatever has the focus,
  // and never reach the host as text.
  void altKeysPressButtonsNeverType() {
    auto rig = ActiveRig({}, "OPERATOR.SYS");
    QVERIFY(rig);
    TNSVT& w = *rig->window;
    const std::size_t before = rig->socket->sent.size();

    // Logon refused: Begin is off, so Alt+B does nothing at all.
    QVERIFY(!w.ui().btnProcess->isEnabled());
    PressInWindow(&w, 'b', Qt::AltModifier);
    QTest::qWait(200);  // longer than a mnemonic's click takes
    QVERIFY(rig->SentLines(before).empty());

    // Logged on: with the console focused, Alt+B is Begin.
    rig->Host(host::LogonNotice("MANAGER.SYS,PUB"));
    rig->Host(host::ReadRequest(80));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().Memo1));
    PressInWindow(&w, 'b', Qt::AltModifier);
    // A mnemonic clicks its button a moment later, as a click would show.
    QTRY_COMPARE(rig->SentLines(before), std::vector<std::string>{"ECHO !HPUSER.!HPACCOUNT"});

    // Back at the connect row, Alt+X is Exit.
    w.ReportError(4150, "x");
    PressInWindow(&w, 'x', Qt::AltModifier);
    QTRY_VERIFY(rig->ended);
  }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
