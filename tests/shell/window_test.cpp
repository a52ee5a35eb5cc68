// The window at start, its phases, the console and the ways it ends,
// driven through a socket the test plays the host through.
#include "hostiletext.h"
#include "testdir.h"
#include "windowrig.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <functional>

using shell::StatusLabel;
using shell::TNSVT;
using support::Bytes;
using support::RecordingDialogs;
using support::WindowRig;
using Kind = RecordingDialogs::Kind;
namespace host = support::host;

namespace {

// The controls on screen a person can reach or read a value from (buttons,
// fields, the console, the bars) that a screen reader could not name.
QStringList UnnamedControls(QWidget* window) {
  QStringList unnamed;
  const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* parent) {
    for (int i = 0; i < parent->childCount(); ++i) {
      QAccessibleInterface* child = parent->child(i);
      if (child == nullptr || child->state().invisible) {
        continue;
      }
      const QAccessible::Role role = child->role();
      const bool interactive = child->state().focusable || role == QAccessible::PushButton ||
                               role == QAccessible::EditableText ||
                               role == QAccessible::ProgressBar;
      if (interactive && child->text(QAccessible::Name).isEmpty()) {
        unnamed << child->object()->objectName();
      }
      walk(child);
    }
  };
  walk(QAccessible::queryAccessibleInterface(window));
  return unnamed;
}

std::string Text(const QLabel* label) {
  return label->text().toLatin1().toStdString();
}

std::size_t CountTerminationRequests(const support::CaptureSocket& socket) {
  std::size_t count = 0;
  for (const Bytes& message : socket.sent) {
    if (message.size() == 10 && message[3] == 0 && message[5] == 2) {
      ++count;
    }
  }
  return count;
}

void TypeText(TNSVT& window, const std::string& text) {
  for (char c : text) {
    window.Memo1KeyPress(static_cast<std::uint8_t>(c));
  }
}

// The labels and buttons on screen whose text does not fit their
// rectangle, measured in the fonts this machine has; the status line is
// measured as it shows its text (cut with "…" when too long).
QStringList CutTexts(QWidget* window) {
  QStringList cut;
  for (const QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(window) || label->text().isEmpty()) {
      continue;
    }
    const auto* status = qobject_cast<const StatusLabel*>(label);
    const QString shown = status != nullptr ? status->ShownText() : label->text();
    const QFontMetrics metrics(label->font());
    const QRect room = label->contentsRect();
    const QRect needed = label->wordWrap()
                             ? metrics.boundingRect(room, Qt::TextWordWrap, shown)
                             : QRect(0, 0, metrics.horizontalAdvance(shown), metrics.height());
    if (needed.width() > room.width() || needed.height() > room.height()) {
      cut << label->objectName();
    }
  }
  for (const QPushButton* button : window->findChildren<QPushButton*>()) {
    if (!button->isVisibleTo(window)) {
      continue;
    }
    const QFontMetrics metrics(button->font());
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    const QString caption = QString(button->text()).remove('&');
    if (metrics.horizontalAdvance(caption) + 2 * margin > button->width() ||
        metrics.height() > button->height()) {
      cut << button->objectName();
    }
  }
  return cut;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

private slots:
  void startsInConnectPhase() {
    WindowRig rig;
    TNSVT& w = *rig.window;
    QCOMPARE(w.windowTitle(), QString("ZORBELIX MPEiX Installer"));
    QCOMPARE(w.centralWidget()->size(), QSize(592, 414));
    QCOMPARE(w.uiPhase(), 0);
    QCOMPARE(Text(w.ui().lblStatus), std::string("  Application ready "));
    QCOMPARE(Text(w.ui().lblAction),
             std::string("Type in the host name or IP address and press connect."));
    QVERIFY(w.ui().Panel1->isVisible());
    QVERIFY(!w.ui().Panel2->isVisible());
    QVERIFY(!w.ui().Panel3->isVisible());
    QVERIFY(!w.ui().btnProcess->isEnabled());
    QVERIFY(!w.ui().Memo1->isEnabled());
    QVERIFY(!w.ui().Port3->isVisible());
    QCOMPARE(w.ui().Port3->text(), QString("1570"));
    QVERIFY(!w.ui().DefaultGroup->isVisible());
    QVERIFY(!w.ui().DefaultAccount->isVisible());
    QVERIFY(!w.ui().Label1->isVisible());
    QCOMPARE(w.run().grandTotal(), 112128);
    QCOMPARE(w.session().HostReadLength(), 1);
    // A hidden row takes no room: the visible one sits right under Panel0.
    QCOMPARE(w.ui().Panel1->y(), w.ui().Panel0->height());
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().Host3));
    // The keyboard's way through the connect row: host, Connect, Exit.
    QTest::keyClick(w.windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().btnConnect));
    QTest::keyClick(w.windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().btnExit));
    for (const char* name :
         {"Memo1", "btnConnect", "btnExit", "btnProcess", "lblStatus", "lblAction", "lbl2", "Host3",
          "Port3", "pb1", "pb2", "Panel0", "Panel1", "Panel2", "Panel3", "lblLogonString",
          "DefaultGroup", "DefaultAccount"}) {
      QVERIFY2(w.findChild<QWidget*>(name) != nullptr, name);
    }
  }

  void groupAndAccountRow_data() {
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("rowVisible");
    QTest::addColumn<QString>("groupText");
    QTest::addColumn<bool>("groupEditable");
    QTest::addColumn<QString>("accountText");
    QTest::addColumn<bool>("accountEditable");
    QTest::addColumn<QString>("defaultAccount");
    QTest::newRow("both one space: hidden") << " "
                                            << " " << false << "" << false << "" << false << "";
    QTest::newRow("group SYS, account empty")
        << "SYS"
        << "" << true << "SYS" << true << "VORDANEX" << false << "VORDANEX";
    QTest::newRow("both blank") << "  "
                                << "\t" << true << "PUB" << false << "VORDANEX" << false
                                << "VORDANEX";
    QTest::newRow("lower case default shown filtered")
        << "sys"
        << "abc" << true << "SYS" << true << "ABC" << true << "abc";
  }
  void groupAndAccountRow() {
    QFETCH(QString, group);
    QFETCH(QString, account);
    WindowRig rig({{1071, group.toStdString()}, {1072, account.toStdString()}});
    TNSVT& w = *rig.window;
    w.SetUiPhase(1);
    QFETCH(bool, rowVisible);
    QCOMPARE(w.ui().DefaultGroup->isVisible(), rowVisible);
    QCOMPARE(w.ui().Label1->isVisible(), rowVisible);
    QTEST(w.ui().DefaultGroup->text(), "groupText");
    QTEST(w.ui().DefaultGroup->isEnabled(), "groupEditable");
    QTEST(w.ui().DefaultAccount->text(), "accountText");
    QTEST(w.ui().DefaultAccount->isEnabled(), "accountEditable");
    QTEST(QString::fromStdString(w.run().scriptVars()[12]), "defaultAccount");
  }

  void phases_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("logon");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("shown");
    QTest::newRow("2 from 0 shows 1") << 0 << "MANAGER.SYS,PUB" << 2 << 1;
    QTest::newRow("2 without the logon shows 1") << 1 << "OPERATOR.SYS" << 2 << 1;
    QTest::newRow("2 from 1 with the logon") << 1 << "S1,MANAGER.SYS,PUB" << 2 << 2;
    QTest::newRow("3 whatever the logon") << 1 << "" << 3 << 3;
    QTest::newRow("0 from 2") << 2 << "MANAGER.SYS,PUB" << 0 << 0;
  }
  void phases() {
    QFETCH(int, from);
    QFETCH(QString, logon);
    QFETCH(int, requested);
    WindowRig rig({{1071, "PUB"}, {1072, "SYS"}});  // the group row shown
    TNSVT& w = *rig.window;
    if (from > 0) {
      // The host's first read shows phase 1; its logon notice fills the
      // label; a later read shows phase 2 once the logon is accepted.
      rig.Connect();
      rig.Host(host::ReadRequest(80));
      rig.Host(host::LogonNotice(logon.toStdString()));
      if (from == 2) {
        rig.Host(host::ReadRequest(80));
      }
    }
    QCOMPARE(static_cast<int>(w.uiPhase()), from);
    w.SetUiPhase(requested);
    QTEST(static_cast<int>(w.uiPhase()), "shown");
    QCOMPARE(w.ui().Panel1->isVisible(), w.uiPhase() == 0);
    QCOMPARE(w.ui().Panel2->isVisible(), w.uiPhase() == 1 || w.uiPhase() == 2);
    QCOMPARE(w.ui().Panel3->isVisible(), w.uiPhase() == 3);
    // A screen reader names every control the phase shows, and reads the
    // bars' values.
    QCOMPARE(UnnamedControls(&w), QStringList{});
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(w.ui().pb2);
    QVERIFY(bar != nullptr && bar->valueInterface() != nullptr);
    QCOMPARE(bar->valueInterface()->currentValue().toInt(), w.ui().pb2->value());
    QCOMPARE(CutTexts(&w), QStringList{});
    const std::string hint = Text(w.ui().lblAction);
    switch (w.uiPhase()) {
      case 1:
        QCOMPARE(hint, w.LogonInstruction());
        break;
      case 2:
        QCOMPARE(hint, std::string("Use Begin button when you are at an MPE prompt."));
        break;
      case 3:
        QCOMPARE(hint, std::string("Upload in progress..."));
        break;
      default: {
        // A status longer than its line is cut with "…" and told whole
        // elsewhere.
        const std::string text =
            "Error creating new file\r\nDUPLICATE PERMANENT FILE NAME FOR ZORBELIX.PUB.SYS IN "
            "THE DIRECTORY. (CIERR 100)";
        const QString whole = "  Network Error: 4110, " + QString::fromStdString(text);
        w.ReportError(4110, text);
        QCOMPARE(w.ui().lblStatus->text(), whole);
        QVERIFY(w.ui().lblStatus->ShownText().endsWith(QChar(0x2026)));
        QCOMPARE(w.ui().lblStatus->toolTip(), whole);
        QCOMPARE(w.ui().lblStatus->accessibleDescription(), whole);
        QCOMPARE(CutTexts(&w), QStringList{});
        break;
      }
    }
  }

  // The host's logon notice is shown as the plain text it is (up to its
  // first NUL, as the label always showed it): no markup, no terminal.
  void hostTextStaysPlainText() {
    for (const support::HostileText& row : support::kHostileTexts) {
      WindowRig rig;
      rig.Connect();
      rig.Host(host::ReadRequest(80));
      const std::string notice = "MANAGER.SYS,PUB " + std::string(row.text);
      rig.Host(host::LogonNotice(notice));
      const QLabel* label = rig.window->ui().lblLogonString;
      QCOMPARE(label->textFormat(), Qt::PlainText);
      QCOMPARE(rig.window->ui().lblStatus->textFormat(), Qt::PlainText);
      QVERIFY2(Text(label) == notice.substr(0, notice.find('\0')), row.name);
    }
  }

  void logonInstructionJoinsItsParts() {
    WindowRig rig;
    QCOMPARE(rig.window->LogonInstruction(),
             std::string("Use the terminal window to logon as MANAGER.SYS,PUB.  Use session names, "
                         "passwords, and commands as needed to end at an MPE prompt."));
  }

  // ---- console ----

  void typingHonoursTheReadLength_data() {
    QTest::addColumn<int>("readLength");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("length 1 sends each letter") << 1 << "AB" << QStringList{"A", "B"};
    QTest::newRow("length 0 sends each letter") << 0 << "AB" << QStringList{"A", "B"};
    QTest::newRow("length 80, 79 letters send nothing") << 80 << QString(79, 'x') << QStringList{};
    QTest::newRow("length 80, the 80th sends all")
        << 80 << QString(80, 'x') << QStringList{QString(80, 'x')};
    QTest::newRow("enter ends the line")
        << 80 << "HELLO MANAGER.SYS\r" << QStringList{"HELLO MANAGER.SYS"};
    QTest::newRow("enter alone sends an empty line") << 80 << "\r" << QStringList{""};
    QTest::newRow("backspace edits the line") << 80 << "BYX\bE\r" << QStringList{"BYE"};
    QTest::newRow("control characters go as typed")
        << 80 << QString("A\x03\r") << QStringList{QString("A\x03")};
  }
  void typingHonoursTheReadLength() {
    QFETCH(int, readLength);
    QFETCH(QString, typed);
    QFETCH(QStringList, sent);
    WindowRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(static_cast<std::uint16_t>(readLength)));
    const std::size_t before = rig.socket->sent.size();
    TypeText(*rig.window, typed.toLatin1().toStdString());
    QStringList lines;
    for (const std::string& line : rig.SentLines(before)) {
      lines << QString::fromLatin1(line.c_str(), static_cast<qsizetype>(line.size()));
    }
    QCOMPARE(lines, sent);
  }

  void localEchoShowsTypingOnce() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    TypeText(*rig.window, "SHOW\r");
    QCOMPARE(rig.ConsoleText(), std::string("SHOW\n"));
    // With the host echoing, nothing typed appears locally.
    rig.Host(host::Settings(0x8000, 1));
    QVERIFY(!rig.window->session().LocalEcho());
    rig.Host(host::ReadRequest(80));
    TypeText(*rig.window, "pw\r");
    QCOMPARE(rig.ConsoleText(), std::string("SHOW\n"));
    QCOMPARE(rig.SentLines().back(), std::string("pw"));
  }

  void keysReachTheConsoleAsCharacters() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    QTest::keyClicks(rig.window->ui().Memo1, "ok");
    QTest::keyClick(rig.window->ui().Memo1, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(rig.window->ui().Memo1, Qt::Key_Left);  // no character: sends nothing
    // Keys that make no character on a terminal send nothing, whatever text
    // the platform gives them (X11 gives Delete a DEL).
    // Alt and Meta chords are for buttons and menus, never text.
    const struct {
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
      const char* text;
    } silent[] = {{Qt::Key_Delete, Qt::NoModifier, "\x7f"}, {Qt::Key_Insert, Qt::NoModifier, ""},
                  {Qt::Key_Home, Qt::NoModifier, ""},       {Qt::Key_F1, Qt::NoModifier, "\x1bOP"},
                  {Qt::Key_B, Qt::AltModifier, "b"},        {Qt::Key_B, Qt::MetaModifier, "b"}};
    for (const auto& key : silent) {
      QKeyEvent press(QEvent::KeyPress, key.key, key.modifiers, QString::fromLatin1(key.text));
      QApplication::sendEvent(rig.window->ui().Memo1, &press);
    }
    QTest::keyClick(rig.window->ui().Memo1, Qt::Key_Return);
    QCOMPARE(rig.SentLines().back(), std::string("ok\x03"));
  }

  // Only CR LF ends a console line, even split across two outputs; a lone
  // CR or LF adds no line.
  void consoleLineEnds_data() {
    QTest::addColumn<QStringList>("outputs");  // prompts: no line end of their own
    QTest::addColumn<QString>("console");
    QTest::newRow("CR LF in one output") << QStringList{"A\r\nB"} << "A\nB";
    QTest::newRow("CR LF split across two") << QStringList{"A\r", "\nB"} << "A\nB";
    QTest::newRow("lone CR") << QStringList{"A\rB"} << "AB";
    QTest::newRow("lone LF") << QStringList{"A\nB"} << "AB";
    QTest::newRow("CR at the end, then text") << QStringList{"A\r", "B"} << "AB";
  }
  void consoleLineEnds() {
    QFETCH(QStringList, outputs);
    WindowRig rig;
    rig.Connect();
    for (const QString& output : outputs) {
      rig.Host(host::TermIo(output.toStdString(), 0xD0));
    }
    QTEST(rig.window->ui().Memo1->toPlainText(), "console");
  }

  void consoleKeepsTwentyLines() {
    WindowRig rig;
    rig.Connect();
    for (int i = 1; i <= 25; ++i) {
      rig.Host(host::TermIo("line " + std::to_string(i)));
    }
    const QStringList lines = rig.window->ui().Memo1->toPlainText().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 20);
    QCOMPARE(lines.first(), QString("line 6"));
    QCOMPARE(lines.last(), QString("line 25"));
    QCOMPARE(rig.window->ui().Memo1->textCursor().position(),
             rig.window->ui().Memo1->document()->characterCount() - 1);
  }

  void hostOutputFeedsConsoleAndHostText() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::TermIo(std::string("A\0B", 3)));
    QCOMPARE(rig.window->run().hostText(), std::string("A~B"));
    QCOMPARE(rig.window->run().rawHostCount(), 3);
    QCOMPARE(rig.window->run().rawHostData()[1], std::uint8_t{0});
    QCOMPARE(rig.ConsoleText(), std::string("A\n"));
    rig.Host(host::TermIo("MPE XL:", 0xD0));
    rig.Host(host::TermIo("HELLO", 0xD0));
    QCOMPARE(rig.ConsoleText(), std::string("A\nMPE XL:HELLO"));
  }

  void rawHostDataNeverOverruns() {
    WindowRig rig;
    rig.Connect();
    const std::string block(30000, 'x');
    for (int i = 0; i < 4; ++i) {
      rig.Host(host::TermIo(block));
    }
    QCOMPARE(rig.window->run().rawHostCount(), static_cast<std::int32_t>(nsvt::kMaxFrame));
    QCOMPARE(rig.window->run().hostText().size(), std::size_t{120000});
  }

  // ---- Begin ----

  void beginChecksGroupAndAccount_data() {
    QTest::addColumn<QString>("group");    // entry 1071
    QTest::addColumn<QString>("account");  // entry 1072
    QTest::addColumn<QString>("typed");    // typed over the group field, if anything
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("stored");  // %0.%1, or empty when nothing started
    QTest::newRow("row hidden") << " "
                                << " "
                                << "" << true << false << ".";
    QTest::newRow("defaults kept") << "SYS"
                                   << "ABC"
                                   << "" << true << false << "SYS.ABC";
    QTest::newRow("group changed, yes") << "SYS"
                                        << "ABC"
                                        << "xyz" << true << true << "XYZ.ABC";
    QTest::newRow("group changed, no") << "SYS"
                                       << "ABC"
                                       << "XYZ" << false << true << "";
    // The account entry is blank, so the row showed VORDANEX: a No puts
    // that back, not the blank entry, and the next Begin runs without asking.
    QTest::newRow("blank account, no") << "SYS"
                                       << ""
                                       << "XYZ" << false << true << "";
    QTest::newRow("lower-case default always differs") << "sys"
                                                       << "ABC"
                                                       << "" << true << true << "SYS.ABC";
  }

  void beginChecksGroupAndAccount() {
    QFETCH(QString, group);
    QFETCH(QString, account);
    QFETCH(QString, typed);
    QFETCH(bool, yes);
    QFETCH(bool, asked);
    QFETCH(QString, stored);
    auto table = support::Script({{1, "MSGB~%0.%1"}, {2, "STOP"}});
    table[1071] = group.toStdString();
    table[1072] = account.toStdString();
    WindowRig rig(table);
    rig.Connect();
    rig.LogOn();
    TNSVT& w = *rig.window;
    const std::size_t sentBefore = rig.socket->sent.size();
    rig.dialogs.confirmAnswers = {yes};
    if (!typed.isEmpty()) {
      w.ui().DefaultGroup->setText(typed);
    }
    QTest::mouseClick(w.ui().btnProcess, Qt::LeftButton);
    if (asked) {
      QCOMPARE(rig.dialogs.Texts(Kind::Confirm),
               std::vector<std::string>{
                   "You have chosen to alter the default installation group and or account for "
                   "this product. This may result in support delays. \r\n\r\nDo you wish to "
                   "continue the installation using these values?"});
    } else {
      QCOMPARE(rig.dialogs.Count(Kind::Confirm), std::size_t{0});
    }
    if (stored.isEmpty()) {
      const QString shownAccount = account.isEmpty() ? QString("VORDANEX") : account;
      QVERIFY(rig.dialogs.Texts(Kind::Message).empty());
      QCOMPARE(w.ui().DefaultGroup->text(), QString("SYS"));
      QCOMPARE(w.ui().DefaultAccount->text(), shownAccount);
      QCOMPARE(w.ui().DefaultGroup->selectedText(), QString("SYS"));
      QVERIFY(rig.SentLines(sentBefore).empty());
      QTest::mouseClick(w.ui().btnProcess, Qt::LeftButton);
      QCOMPARE(rig.dialogs.Count(Kind::Confirm), std::size_t{1});
      QCOMPARE(rig.dialogs.Texts(Kind::Message),
               std::vector<std::string>{"SYS." + shownAccount.toStdString()});
    } else {
      QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector<std::string>{stored.toStdString()});
    }
  }

  void groupFieldFilterKeepsCaret() {
    auto table = support::Script({});
    table[1071] = "SYS";
    table[1072] = "ABC";
    WindowRig rig(table);
    rig.Connect();
    rig.LogOn();
    TNSVT& w = *rig.window;
    QLineEdit* field = w.ui().DefaultGroup;
    field->setFocus();
    field->setCursorPosition(1);
    // The caret goes back where it was after the keystroke, whatever the
    // filter removed.
    QTest::keyClicks(field, "-");
    QCOMPARE(field->text(), QString("SYS"));
    QCOMPARE(field->cursorPosition(), 2);
    QTest::keyClicks(field, "x9");
    QCOMPARE(field->text(), QString("SYX9S"));
    QCOMPARE(field->cursorPosition(), 4);
    field->setCursorPosition(0);
    QTest::keyClicks(field, "7");  // a leading digit becomes A
    QCOMPARE(field->text(), QString("ASYX9S"));
    QCOMPARE(field->cursorPosition(), 1);
    QTest::keyClicks(field, "abc");  // a ninth character is cut off
    QCOMPARE(field->text(), QString("AABCSYX9"));
  }

  void traceRequests_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("ctrl");
    QTest::addColumn<bool>("traced");
    QTest::newRow("Ctrl held") << QStringList{} << true << true;
    QTest::newRow("first argument with t") << QStringList{"-debug-t"} << false << true;
    QTest::newRow("first argument without") << QStringList{"-x"} << false << false;
    QTest::newRow("t only in the second argument") << QStringList{"-x", "t"} << false << false;
    QTest::newRow("Ctrl and argument") << QStringList{"T"} << true << true;
  }

  void traceRequests() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, ctrl);
    QFETCH(bool, traced);
    support::InTempDir dir;
    WindowRig rig(
        support::Script({{1, "MSGB~one"}, {2, "PAUSE~&Again"}, {3, "MSGB~two"}, {4, "STOP"}}),
        arguments);
    rig.Connect();
    rig.LogOn();
    TNSVT& w = *rig.window;
    if (ctrl) {
      rig.modifiers = Qt::ControlModifier;
    }
    QTest::mouseClick(w.ui().btnProcess, Qt::LeftButton);
    w.btnProcessClick();  // a second Begin asking again goes on in the same file
    QCOMPARE(w.session().TraceOn(), traced);
    QFile file("TRACEFIL");
    QCOMPARE(file.exists(), traced);
    if (!traced) {
      return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.startsWith("PELTRIMAX TRACE: Version"), text.left(80).constData());
    QCOMPARE(text.split('\n').value(1), QByteArray("ZORBELIX MPEiX Installation\r"));
    QCOMPARE(text.count("PELTRIMAX TRACE: "), 1);
  }

  // ---- ending ----

  void exitWithoutConnectionSendsNothing() {
    WindowRig rig;
    QTest::mouseClick(rig.window->ui().btnExit, Qt::LeftButton);
    QVERIFY(rig.ended);
    QVERIFY(rig.socket->sent.empty());
  }

  void twoExitsSendOneTerminationRequest() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::NegotiationRequest(0x1111));
    // The second click lands while the first is letting events run.
    QTimer::singleShot(0, rig.window.get(), [&rig] { rig.window->btnExitClick(); });
    rig.window->btnExitClick();
    QCOMPARE(CountTerminationRequests(*rig.socket), std::size_t{1});
    const Bytes& request = rig.socket->sent.back();
    QCOMPARE(request, (Bytes{0, 10, 2, 0, request[4], 2, 0x11, 0x11, 0, 0}));
    QVERIFY(rig.ended);
  }

  void closingWhileConnectedSendsTermination() {
    WindowRig rig;
    rig.Connect();
    rig.LogOn();
    QCOMPARE(rig.window->uiPhase(), 2);
    rig.window->close();
    QCOMPARE(CountTerminationRequests(*rig.socket), std::size_t{1});
    QVERIFY(rig.ended);
  }

  void escapePressesExitInConnectPhase() {
    WindowRig rig;
    QTest::keyClick(rig.window->ui().Host3, Qt::Key_Escape);
    QVERIFY(rig.ended);
  }

  void menuItemsDoNothing() {
    WindowRig rig;
    rig.window->ui().Exit1->trigger();
    rig.window->ui().About1->trigger();
    QVERIFY(!rig.ended);
    QVERIFY(rig.dialogs.boxes.empty());
  }

  void idleTimerCountsInTheCorner() {
    WindowRig rig;
    rig.window->Timer1Timer();
    rig.window->Timer1Timer();
    QCOMPARE(rig.window->ui().lbl2->text(), QString("2"));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
