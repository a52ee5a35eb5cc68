// Command-line parsing; every option with its default is listed by --help.
#include "options.h"

#include <QCommandLineParser>
#include <limits>

#include "commandinterpreter.h"

namespace {

using faults::Action;

struct FaultOption {
  const char* name;
  Action action;
  const char* value;
  const char* help;
};

constexpr FaultOption kFaultOptions[] = {
    {"drop-at", Action::Drop, "POINT", "Close the connection (FIN) at POINT."},
    {"reset-at", Action::Reset, "POINT", "Reset the connection (TCP RST) at POINT."},
    {"terminate-at", Action::Terminate, "POINT[:REASON]",
     "Send a termination request at POINT (reason default 2, STOP CANCEL FROM OP), "
     "then close."},
    {"silent-at", Action::Silent, "POINT",
     "Fall silent at POINT: send nothing more, ignore input, keep the connection."},
    {"bad-version-at", Action::BadVersion, "POINT",
     "At POINT send a TERM_IO whose version byte is 3, then go on."},
    {"short-length-at", Action::ShortLength, "POINT",
     "At POINT send a 10-byte header whose length field says 6, then go on."},
    {"read-length", Action::ReadLength, "POINT=LENGTH",
     "Post the read at POINT with LENGTH instead of its normal length."},
    {"stop-reading-at", Action::StopReading, "POINT",
     "At POINT stop reading from the socket, and send set-break requests in floods "
     "(3600 every 100 ms) that the terminal must answer."},
    {"chatter-at", Action::Chatter, "POINT=KIND",
     "At POINT stop asking for input but keep sending: KIND negotiation (a negotiation "
     "request every second), output (terminal output as fast as it goes) or trickle (one "
     "byte every 2 s of a message that never ends)."},
};

const char* kFaultHelp =
    "A fault takes effect at the host's next read request after its point (BYE: at the\n"
    "close), once per session, in every session or, with --fault-sessions N, in sessions\n"
    "1 to N only.\n"
    "Exit status with --once, or after SIGINT/SIGTERM: 0 all well, 1 an --expect check\n"
    "failed, 2 a protocol deviation was seen, 3 both; 64 bad usage, 70 cannot start.\n";

constexpr int kHelpPointWidth = 16;
constexpr int kHelpNameWidth = 10;

// The fault points, one a line, from their table.
QString pointList() {
  QString out = "Points (POINT):\n";
  for (const faults::PointEntry& entry : faults::kPoints)
    out +=
        QString("  %1%2\n").arg(faults::pointPattern(entry), -kHelpPointWidth).arg(entry.meaning);
  return out;
}

// The commands the ":" prompt understands, one a line, from the interpreter's table.
QString commandList() {
  QString out = "Commands at the \":\" prompt (any case):\n";
  for (const mpe::CommandHelp& c : mpe::CommandInterpreter::commandHelp())
    out += QString("  %1%2\n").arg(QString(c.verb), -kHelpNameWidth).arg(c.help);
  return out;
}

constexpr int kMaxListenCount = 4096;
constexpr int kMaxFaultSessions = std::numeric_limits<int>::max();
constexpr int kMaxSessionsLimit = 10000;
constexpr int kMaxIdleTimeoutSec = 24 * 60 * 60;  // a day; the timer counts milliseconds in an int

bool parseHostPort(const QString& text, SimOptions* o, QString* error) {
  const int colon = text.lastIndexOf(':');
  bool ok = false;
  const uint port = text.mid(colon + 1).toUInt(&ok);
  if (colon <= 0 || !ok || port > 65535 || !o->address.setAddress(text.left(colon))) {
    *error = QString("--listen '%1': expected ADDR:PORT").arg(text);
    return false;
  }
  o->port = static_cast<quint16>(port);
  return true;
}

bool parseUsers(const QStringList& users, mpe::HostConfig* host, QString* error) {
  if (users.isEmpty())
    return true;
  host->users.clear();
  for (const QString& u : users) {
    const QString userAccount = u.section(',', 0, 0).toUpper();
    mpe::UserEntry e{userAccount.section('.', 0, 0), userAccount.section('.', 1),
                     u.section(',', 1).toUpper()};
    if (e.homeGroup.isEmpty())
      e.homeGroup = "PUB";
    if (!mpe::isMpeName(e.user) || !mpe::isMpeName(e.account) || !mpe::isMpeName(e.homeGroup)) {
      *error = QString("--user '%1': expected USER.ACCOUNT[,HOMEGROUP]").arg(u);
      return false;
    }
    host->users << e;
  }
  return true;
}

bool parsePairs(const QStringList& values, const char* option, QList<QPair<QString, QString>>* out,
                QString* error) {
  for (const QString& v : values) {
    const int eq = v.indexOf('=');
    if (eq <= 0 || eq == v.size() - 1) {
      *error = QString("--%1 '%2': expected NAME=PATH").arg(option, v);
      return false;
    }
    out->append({v.left(eq), v.mid(eq + 1)});
  }
  return true;
}

bool parseCount(const QCommandLineParser& p, const char* name, int min, int max, int* out,
                QString* error) {
  if (!p.isSet(name))
    return true;
  bool ok = false;
  const int v = p.value(name).toInt(&ok);
  if (!ok || v < min || v > max) {
    *error = QString("--%1: expected a number from %2 to %3").arg(name).arg(min).arg(max);
    return false;
  }
  *out = v;
  return true;
}

}  // namespace

ParseResult parseOptions(const QStringList& arguments, SimOptions* o, QString* text) {
  QCommandLineParser p;
  p.setApplicationDescription(
      "An HP 3000 running MPE/iX, as far as an NS/VT installer can tell: logon, the command\n"
      "interpreter, FCOPY and the receiving host program, with faults on request.");
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({"h", "help"}, "Show this help.");
  p.addOption(help);
  p.addOptions({
      {"listen", "Address and port to listen on; port 0 picks a free one. Default 127.0.0.1:1570.",
       "ADDR:PORT"},
      {"listen-count",
       "Listen on N consecutive IPv4 addresses from ADDR, all on PORT, each address its own "
       "host with its store in DIR/1 to DIR/N (one process for many hosts). Default 1.",
       "N"},
      {"store", "The host's file system folder. Default: a fresh temporary folder (kept).", "DIR"},
      {"transcript", "Write every message both ways, decoded, to FILE. Default: none.", "FILE"},
      {"once", "Serve one session, then exit with its verdict."},
      {"expect",
       "At each session's end compare the stored file NAME (FILE[.GROUP.ACCOUNT], default the "
       "session's logon group) with the local file PATH. Repeatable.",
       "NAME=PATH"},
      {"put",
       "Before serving, store the local file PATH as FILE[.GROUP.ACCOUNT] (default "
       "PUB.SYS) with file code CODE (default NMPRG). Repeatable.",
       "FILE[:CODE]=PATH"},
      {"user",
       "A user allowed to log on, with its home group (default PUB). Repeatable. "
       "Default: MANAGER.SYS,PUB.",
       "USER.ACCOUNT[,GROUP]"},
      {"password", "Password of the users. Default: none.", "PW"},
      {"account-password", "Password of the accounts. Default: none.", "PW"},
      {"group-password", "Password of the logon groups. Default: none.", "PW"},
      {"latency-ms",
       "Delay each host message by N ms after it is produced (network latency). Default 0.", "N"},
      {"fail", "Answer the command VERB with a CIERR. Repeatable.", "VERB"},
      {"logon-notice", "Send TEXT as the logon notice instead of the session's logon.", "TEXT"},
      {"fcopy-question",
       "FCOPY asks \"EXIT FCOPY (Y OR N)?\" at its first N exits; "
       "N keeps it running. Default 0.",
       "N"},
      {"challenge-length", "Bytes of the host program's challenge. Default 256.", "N"},
      {"in-use", "Treat the file FILE[.GROUP.ACCOUNT] as in use (PURGE fails). Repeatable.",
       "FILE"},
      {"max-sessions",
       "Serve at most N sessions at a time; close further connections at once. "
       "Default 32.",
       "N"},
      {"idle-timeout", "End a session that sends nothing for N seconds; 0: never. Default 600.",
       "N"},
  });
  for (const FaultOption& f : kFaultOptions) {
    p.addOption({f.name, QString(f.help) + " Repeatable.", f.value});
  }
  p.addOption({"fault-sessions",
               "Commit the faults in the first N sessions only (numbered by connection), so "
               "that the next one can rehearse the recovery. Default 0: in every session.",
               "N"});
  if (!p.parse(arguments)) {
    *text = p.errorText();
    return ParseResult::Error;
  }
  if (p.isSet(help)) {
    *text = p.helpText() + "\n" + pointList() + kFaultHelp + "\n" + commandList();
    return ParseResult::Help;
  }
  if (!p.positionalArguments().isEmpty()) {
    *text = "unexpected argument " + p.positionalArguments().first();
    return ParseResult::Error;
  }
  mpe::HostConfig& host = o->session.host;
  if (p.isSet("listen") && !parseHostPort(p.value("listen"), o, text))
    return ParseResult::Error;
  if (p.isSet("listen-count") && o->address.protocol() != QAbstractSocket::IPv4Protocol) {
    *text = "--listen-count needs an IPv4 --listen address";
    return ParseResult::Error;
  }
  o->storeDir = p.value("store");
  o->transcriptFile = p.value("transcript");
  o->once = p.isSet("once");
  if (!parsePairs(p.values("expect"), "expect", &o->expects, text) ||
      !parsePairs(p.values("put"), "put", &o->puts, text) ||
      !parseUsers(p.values("user"), &host, text) ||
      !parseCount(p, "listen-count", 1, kMaxListenCount, &o->listenCount, text) ||
      !parseCount(p, "latency-ms", 0, 60000, &o->session.latencyMs, text) ||
      !parseCount(p, "fault-sessions", 0, kMaxFaultSessions, &o->session.faultSessions, text) ||
      !parseCount(p, "fcopy-question", 0, 1000, &host.fcopyQuestions, text) ||
      !parseCount(p, "challenge-length", 0, 4096, &host.challengeLength, text) ||
      !parseCount(p, "max-sessions", 1, kMaxSessionsLimit, &o->maxSessions, text) ||
      !parseCount(p, "idle-timeout", 0, kMaxIdleTimeoutSec, &o->session.idleTimeoutSec, text)) {
    return ParseResult::Error;
  }
  host.userPassword = p.value("password").toUpper();
  host.accountPassword = p.value("account-password").toUpper();
  host.groupPassword = p.value("group-password").toUpper();
  for (const QString& verb : p.values("fail"))
    host.failCommands << verb.toUpper();
  if (p.isSet("logon-notice"))
    host.logonNotice = p.value("logon-notice").toLatin1();
  o->inUse = p.values("in-use");
  for (const FaultOption& f : kFaultOptions) {
    for (const QString& faultText : p.values(f.name)) {
      if (!o->session.faults.add(f.action, faultText, text)) {
        text->prepend(QString("--%1: ").arg(f.name));
        return ParseResult::Error;
      }
    }
  }
  return ParseResult::Run;
}
