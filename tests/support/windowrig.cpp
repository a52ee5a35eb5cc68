#include "windowrig.h"

#include "shell/consoleedit.h"
#include "shell/controls.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using shell::TNSVT;

namespace support {

// ---- WindowRig ----

WindowRig::WindowRig(std::map<int, std::string> table, QStringList arguments)
    : table_(std::move(table)) {
  TNSVT::Platform platform;
  platform.dialogs = &dialogs;
  platform.arguments = std::move(arguments);
  platform.makeSocket = [this](QObject* parent) {
    socket = new CaptureSocket(parent);
    return socket;
  };
  platform.keyboardModifiers = [this] { return modifiers; };
  platform.tableString = support::TableWithOverrides(table_);
  window = std::make_unique<TNSVT>(std::move(platform));
  QObject::connect(window.get(), &TNSVT::ApplicationEnd, [this](int status) {
    ended = true;
    exitStatus = status;
  });
  window->show();
}

WindowRig::~WindowRig() = default;

void WindowRig::Connect(const QString& hostName) {
  window->ui().Host3->setText(hostName);
  QTest::mouseClick(window->ui().btnConnect, Qt::LeftButton);
}

void WindowRig::LogOn(const std::string& logon) {
  Host(host::NegotiationRequest());
  Host(host::ReadRequest(80));
  Host(host::LogonNotice(logon));
  Host(host::TermIo(":", 0xD0));
  Host(host::ReadRequest(80));
}

std::vector<std::string> WindowRig::SentLines(std::size_t from) const {
  std::vector<std::string> lines;
  for (std::size_t i = from; i < socket->sent.size(); ++i) {
    if (host::IsTerminalInput(socket->sent[i])) {
      lines.push_back(host::InputText(socket->sent[i]));
    }
  }
  return lines;
}

std::string WindowRig::ConsoleText() const {
  return window->ui().Memo1->toPlainText().toLatin1().toStdString();
}

}  // namespace support
