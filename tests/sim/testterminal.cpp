// The tests' NS/VT terminal.
#include "testterminal.h"

#include <QDeadlineTimer>
#include <QHostAddress>

namespace {

void put16(QByteArray& m, int at, int v) {
  m[at] = static_cast<char>((v >> 8) & 0xFF);
  m[at + 1] = static_cast<char>(v & 0xFF);
}

int get16(const QByteArray& m, int at) {
  return (static_cast<uint8_t>(m[at]) << 8) | static_cast<uint8_t>(m[at + 1]);
}

QByteArray shortReply(int cls, int type, const QByteArray& echo, int word) {
  QByteArray m(10, '\0');
  put16(m, 0, 10);
  m[2] = 2;
  m[3] = static_cast<char>(cls);
  m[5] = static_cast<char>(type);
  m.replace(6, 2, echo);
  put16(m, 8, word);
  return m;
}

}  // namespace

QByteArray TestTerminal::negotiationReply() {
  QByteArray m(26, '\0');
  put16(m, 0, 26);
  m[2] = 2;
  m[3] = 1;
  m[5] = 1;
  put16(m, 6, 1);
  put16(m, 8, 0x8000);
  put16(m, 10, 0x8000);
  put16(m, 12, 0x8000);
  put16(m, 14, 43);
  put16(m, 16, 12020);
  m[18] = 6;
  m[19] = 8;
  put16(m, 22, 2);
  put16(m, 24, 1);
  return m;
}

QByteArray TestTerminal::openRequest(const QByteArray& address) {
  QByteArray m(71, '\0');
  put16(m, 0, 71);
  m[2] = 2;
  put16(m, 6, 1);
  m[8] = 1;
  put16(m, 10, 4);
  m.replace(12, 6, "      ");
  put16(m, 18, static_cast<int>(address.size()));
  m.replace(20, address.size(), address);
  m.resize(71);
  return m;
}

QByteArray TestTerminal::input(const QByteArray& data) const {
  QByteArray m(14, '\0');
  put16(m, 0, 14 + static_cast<int>(data.size()));
  m[2] = 2;
  m[3] = 3;
  m.replace(6, 2, echo_);
  put16(m, 8, 0x8000);
  put16(m, 10, 0x8000);
  put16(m, 12, static_cast<int>(data.size()));
  return m + data;
}

bool TestTerminal::connectTo(quint16 port) {
  socket.connectToHost(QHostAddress::LocalHost, port);
  return socket.waitForConnected(3000);
}

bool TestTerminal::negotiate() {
  // The host speaks first.
  QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired()) {
    if (buffer_.size() >= 10 && buffer_.size() >= get16(buffer_, 0)) {
      const QByteArray m = buffer_.left(get16(buffer_, 0));
      buffer_.remove(0, m.size());
      received << m;
      if (m[3] != 0 || m[5] != 1)
        return false;
      sendRaw(negotiationReply());
      sendRaw(openRequest(socket.localAddress().toString().toLatin1()));
      return true;
    }
    if (!fill(static_cast<int>(deadline.remainingTime())))
      return false;
  }
  return false;
}

bool TestTerminal::fill(int timeoutMs) {
  if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(qMax(timeoutMs, 1))) {
    if (socket.state() != QAbstractSocket::ConnectedState)
      closed = true;
    return false;
  }
  buffer_.append(socket.readAll());
  return true;
}

int TestTerminal::nextRead(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (true) {
    while (buffer_.size() >= 10) {
      const int length = get16(buffer_, 0);
      if (length < 10) {
        // A length below the header: skip the header and go on.
        ++shortLengthHeaders;
        buffer_.remove(0, 10);
        continue;
      }
      if (buffer_.size() < length)
        break;
      const QByteArray m = buffer_.left(length);
      buffer_.remove(0, length);
      const int read = handle(m);
      if (read >= 0)
        return read;
    }
    if (closed || deadline.hasExpired())
      return -1;
    if (!fill(static_cast<int>(deadline.remainingTime()))) {
      if (closed || deadline.hasExpired())
        return -1;
    }
  }
}

int TestTerminal::handle(const QByteArray& m) {
  received << m;
  if (m[2] != 2) {
    ++badVersionMessages;
    return -1;
  }
  echo_ = m.mid(6, 2);
  const int cls = m[3];
  const int type = m[5];
  if (cls == 2) {
    if (type == 0)
      return get16(m, 10);
    if (type == 1) {
      const QByteArray data = m.mid(19, get16(m, 16) - 1);
      raw_ += data;
      text_ += data;
      if (static_cast<uint8_t>(m[18]) != 0xD0)
        text_ += '\n';
    }
    return -1;
  }
  if (cls == 0 && type == 3)
    logonNotices << m.mid(16, qMin(get16(m, 14), 80));
  if (cls == 0 && type == 2)
    terminationReasons << (static_cast<uint8_t>(m[10]) + 256 * static_cast<uint8_t>(m[11]));
  if (cls == 4 && type == 1)
    echoSettings << static_cast<uint8_t>(m[10]);
  if (!answerControl)
    return -1;
  if (cls == 0 && (type == 2 || type == 3))
    sendRaw(shortReply(1, type, echo_, 0x8000));
  if (cls == 4 && type == 0)
    sendRaw(shortReply(5, 0, echo_, 0x8000));
  if (cls == 4 && type == 1) {
    QByteArray r = shortReply(5, 1, echo_, 0x8000);
    r.append("\x80\x00", 2);
    put16(r, 0, 12);
    sendRaw(r);
  }
  if (cls == 8 && type == 0)
    sendRaw(shortReply(9, 0, echo_, 0x0800));
  return -1;
}

void TestTerminal::send(const QByteArray& data) {
  sendRaw(input(data));
}

int TestTerminal::answer(const QByteArray& data, int timeoutMs) {
  send(data);
  return nextRead(timeoutMs);
}

void TestTerminal::sendRaw(const QByteArray& bytes) {
  socket.write(bytes);
  socket.waitForBytesWritten(1000);
}

QByteArray TestTerminal::takeText() {
  return std::exchange(text_, {});
}
QByteArray TestTerminal::takeRaw() {
  return std::exchange(raw_, {});
}

bool TestTerminal::waitClosed(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!closed && !deadline.hasExpired()) {
    if (nextRead(static_cast<int>(deadline.remainingTime())) >= 0)
      continue;
  }
  return closed;
}
