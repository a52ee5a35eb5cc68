// A terminal for the tests: speaks the terminal side of NS/VT at the byte
// level, over a blocking socket, with its own message layouts (it shares no
// code with the simulator). It answers the host's control requests as an
// installer does and stops at each read request.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpSocket>

class TestTerminal {
public:
  // Connects and, unless told otherwise, answers the negotiation request.
  bool connectTo(quint16 port);
  bool negotiate();

  // Waits for the host's next read request, answering control requests on
  // the way. Returns its length, or -1 when the connection closed or no read
  // came within the time.
  int nextRead(int timeoutMs = 5000);
  // Sends terminal input (the answer to a read).
  void send(const QByteArray& data);
  // send() then nextRead().
  int answer(const QByteArray& data, int timeoutMs = 5000);
  // Sends raw bytes as they are.
  void sendRaw(const QByteArray& bytes);

  // Host output since the last take: as text (a line that moves the cursor
  // ends with "\n") and as the raw data bytes.
  QByteArray takeText();
  QByteArray takeRaw();
  // Waits until the host closes the connection.
  bool waitClosed(int timeoutMs = 5000);

  // Builders of what a terminal sends (public so tests can spoil them).
  static QByteArray negotiationReply();
  static QByteArray openRequest(const QByteArray& address);
  QByteArray input(const QByteArray& data) const;

  QTcpSocket socket;
  QList<QByteArray> logonNotices;
  QList<int> echoSettings;  // byte 10 of each settings request
  QList<int> terminationReasons;
  QList<QByteArray> received;  // every host message
  int badVersionMessages = 0;
  int shortLengthHeaders = 0;
  bool closed = false;
  bool answerControl = true;  // reply to class 0/4/8 requests

private:
  // Handles one host message; returns the read length for a read request,
  // else -1.
  int handle(const QByteArray& m);
  bool fill(int timeoutMs);
  QByteArray buffer_;
  QByteArray text_;
  QByteArray raw_;
  QByteArray echo_{"\x00\x01", 2};
};
