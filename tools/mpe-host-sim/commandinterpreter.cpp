// Logon and the MPE command interpreter.
#include "commandinterpreter.h"

#include <QRegularExpression>

#include "blockprogram.h"
#include "faultpoints.h"
#include "fcopy.h"
#include "mpetexts.h"

namespace mpe {

namespace {

constexpr int kDefaultRecordBytes = 256;
constexpr qint64 kDefaultLimit = 1023;
constexpr int kMaxFileCode = 32767;
// MPE records hold at most 32767 bytes: REC=16383 half-words or REC=-32767.
constexpr int kMaxRecordBytes = 32767;
constexpr int kProgramCodes[] = {1029, 1030};
inline const char* kTempName = "$OLDPASS";
inline const char* kNewTempName = "$NEWPASS";
inline const FileRef kFcopy{"FCOPY", "PUB", "SYS"};
inline const char* kBlockProgramName = "ZORBELIX";
inline const char* kDetailedListLevel = "2";
constexpr int kSectorBytes = 256;
// Guesses at the numbers a real host hands out: MPE numbers sessions
// host-wide from a number well above 1, and the terminals' logical devices
// follow the system's disc and tape devices.
constexpr int kFirstSessionNumber = 101;
constexpr int kFirstTerminalLdev = 20;

QByteArray latin(const QString& s) {
  return s.toLatin1();
}

// Splits "NAME/PASSWORD" into its two halves, upper-cased.
std::pair<QString, QString> splitPassword(const QString& part) {
  const int slash = part.indexOf('/');
  if (slash < 0)
    return {part.trimmed().toUpper(), QString()};
  return {part.left(slash).trimmed().toUpper(), part.mid(slash + 1).trimmed().toUpper()};
}

// MPE numbers sessions across the whole host, whichever connection they use.
int nextSessionNumber() {
  static int next = kFirstSessionNumber;
  return next++;
}

// Parses a number; MPE accepts a leading sign on record sizes.
std::optional<int> number(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  return ok ? std::optional<int>(v) : std::nullopt;
}

}  // namespace

CommandInterpreter::CommandInterpreter(HostTerminal& terminal, HostStore& store,
                                       const HostConfig& config, int sessionId)
    : terminal_(terminal), store_(store), config_(config) {
  session_.id = sessionId;
  session_.ldev = kFirstTerminalLdev + sessionId - 1;
}

CommandInterpreter::~CommandInterpreter() {
  if (programFile_)
    store_.release(*programFile_);
}

void CommandInterpreter::start() {
  logonPrompt();
}

void CommandInterpreter::input(const QByteArray& data) {
  switch (phase_) {
    case Phase::Logon:
      logon(QString::fromLatin1(data));
      break;
    case Phase::Password:
      password(data);
      break;
    case Phase::Command:
      command(QString::fromLatin1(data));
      break;
    case Phase::Program:
      if (program_->input(data))
        endProgram();
      break;
    case Phase::Over:
      break;
  }
}

// ---- Logon -------------------------------------------------------------

void CommandInterpreter::logonPrompt() {
  phase_ = Phase::Logon;
  terminal_.setEcho(true);
  terminal_.markPoint(faults::pointName(faults::Point::Logon));
  terminal_.writeInPlace(text::kLogonPrompt);
  terminal_.postRead(kLogonReadLength);
}

void CommandInterpreter::logon(const QString& rawLine) {
  QString line = rawLine.trimmed();
  if (line.startsWith(':'))
    line.remove(0, 1);
  if (line.isEmpty()) {
    logonPrompt();
    return;
  }
  const QString verb = line.section(QRegularExpression("[\\s;,]"), 0, 0).toUpper();
  if (verb != "HELLO") {
    error(text::kExpectedHello);
    logonPrompt();
    return;
  }
  QString rest = line.mid(verb.size()).section(';', 0, 0).trimmed();
  QStringList parts = rest.split(',');
  if (!parts.isEmpty() && !parts.first().contains('.')) {
    session_.sessionName = parts.takeFirst().trimmed().toUpper();
  }
  const QStringList userAccount = parts.isEmpty() ? QStringList() : parts.first().split('.');
  if (parts.size() > 2 || userAccount.size() != 2) {
    logonFailed(text::kBadLogonSyntax);
    return;
  }
  const auto [user, userPass] = splitPassword(userAccount[0]);
  const auto [account, accountPass] = splitPassword(userAccount[1]);
  const UserEntry* entry = nullptr;
  for (const UserEntry& u : config_.users) {
    if (u.user == user && u.account == account)
      entry = &u;
  }
  if (!entry) {
    logonFailed(text::kUnknownUser);
    return;
  }
  auto [group, groupPass] =
      parts.size() > 1 ? splitPassword(parts[1]) : std::pair<QString, QString>{};
  if (group.isEmpty())
    group = entry->homeGroup;
  if (!isMpeName(group) || (!session_.sessionName.isEmpty() && !isMpeName(session_.sessionName))) {
    logonFailed(text::kBadLogonSyntax);
    return;
  }
  session_.user = user;
  session_.account = account;
  session_.group = group;

  // MPE asks for the account's, the user's and the group's password in turn;
  // one given on the HELLO line is checked without asking.
  passwords_.clear();
  const PasswordCheck checks[] = {{"ACCOUNT", account, config_.accountPassword},
                                  {"USER", user, config_.userPassword},
                                  {"GROUP", group, config_.groupPassword}};
  const QString given[] = {accountPass, userPass, groupPass};
  for (int i = 0; i < 3; ++i) {
    if (checks[i].expected.isEmpty())
      continue;
    if (given[i].isEmpty()) {
      passwords_ << checks[i];
    } else if (given[i].compare(checks[i].expected, Qt::CaseInsensitive) != 0) {
      logonFailed(text::kIncorrectPassword);
      return;
    }
  }
  passwordTries_ = 0;
  if (passwords_.isEmpty()) {
    completeLogon();
  } else {
    askPassword();
  }
}

int CommandInterpreter::uncutRecordSize() const {
  const bool fcopy = phase_ == Phase::Program && dynamic_cast<const Fcopy*>(program_.get());
  return fcopy && session_.tempFile ? session_.tempFile->attr.recordSize : 0;
}

void CommandInterpreter::askPassword() {
  phase_ = Phase::Password;
  const PasswordCheck& check = passwords_.first();
  terminal_.setEcho(false);
  terminal_.markPoint(faults::pointName(faults::Point::Password));
  terminal_.writeInPlace(text::passwordPrompt(check.kind, check.name));
  terminal_.postRead(kPasswordReadLength);
}

void CommandInterpreter::password(const QByteArray& answer) {
  terminal_.setEcho(true);
  // With echo off the terminal showed neither the password nor its Return:
  // the host ends the prompt's line itself, so what follows (the next
  // prompt, an error) starts on a line of its own.
  terminal_.writeLine({});
  const PasswordCheck check = passwords_.first();
  if (QString::fromLatin1(answer).trimmed().compare(check.expected, Qt::CaseInsensitive) != 0) {
    terminal_.logEvent(QString("wrong %1 password").arg(check.kind.toLower()));
    if (++passwordTries_ >= kPasswordTries) {
      logonFailed(text::kIncorrectPassword);
    } else {
      askPassword();
    }
    return;
  }
  passwords_.removeFirst();
  passwordTries_ = 0;
  if (passwords_.isEmpty()) {
    completeLogon();
  } else {
    askPassword();
  }
}

void CommandInterpreter::logonFailed(const QByteArray& why) {
  error(why);
  session_.sessionName.clear();
  terminal_.logEvent("logon failed: " + QString::fromLatin1(why));
  if (++failedLogons_ >= kLogonAttempts) {
    phase_ = Phase::Over;
    terminal_.terminate(kTerminateLogonFailed);
    return;
  }
  logonPrompt();
}

void CommandInterpreter::completeLogon() {
  session_.loggedOn = true;
  session_.number = nextSessionNumber();
  const QDateTime now = QDateTime::currentDateTime();
  session_.connectedAt = now;
  // A later HELLO in this connection has its own three tries.
  failedLogons_ = 0;
  terminal_.writeLine(text::kBannerRelease + text::bannerDate(now));
  terminal_.writeLine(text::kBannerCopyright);
  terminal_.sendLogonNotice(config_.logonNotice.value_or(latin(logonText())));
  terminal_.logEvent("logged on as " + logonText());
  terminal_.markPoint(faults::pointName(faults::Point::AfterLogon));
  commandPrompt();
}

// What MPE shows at the end of a session.
void CommandInterpreter::showLogoff() {
  terminal_.writeLine(text::logoffLine(session_.connectedAt, QDateTime::currentDateTime()));
  terminal_.logEvent("logged off");
}

QString CommandInterpreter::logonText() const {
  const QString logon = session_.user + "." + session_.account + "," + session_.group;
  return session_.sessionName.isEmpty() ? logon : session_.sessionName + "," + logon;
}

// ---- Command interpreter ----------------------------------------------

void CommandInterpreter::commandPrompt() {
  phase_ = Phase::Command;
  terminal_.writeInPlace(text::kCiPrompt);
  terminal_.postRead(kCommandReadLength);
}

void CommandInterpreter::command(const QString& rawLine) {
  QString line = rawLine.trimmed();
  if (line.startsWith(':'))
    line.remove(0, 1);
  if (line.isEmpty()) {
    commandPrompt();
    return;
  }
  static const QRegularExpression verbEnd("[\\s;,]");
  const int end = line.indexOf(verbEnd);
  const QString verb = (end < 0 ? line : line.left(end)).toUpper();
  const QString args = end < 0 ? QString() : line.mid(end).trimmed();
  terminal_.logEvent("command " + line);
  terminal_.markPoint(faults::pointName(faults::Point::Command, verb));

  const CommandRow* row = findCommand(verb);
  if (config_.failCommands.contains(verb, Qt::CaseInsensitive)) {
    error(text::failedOnRequestError(verb));
  } else if (row) {
    (this->*row->handler)({line, args, end < 0 ? QString() : line.mid(end + 1)});
    if (row->promptsItself)
      return;
  } else {
    // The caret stands under the bad word, one column in for the ":" prompt.
    terminal_.writeLine(" ^");
    error(text::kUnknownCommand);
  }
  if (phase_ == Phase::Command)
    commandPrompt();
}

std::span<const CommandInterpreter::CommandRow> CommandInterpreter::commands() {
  static const CommandRow kCommands[] = {
      {"ECHO", &CommandInterpreter::echo,
       "show the text, with !HPUSER, !HPACCOUNT, !HPGROUP and !HPJOBNAME expanded"},
      {"PURGE", &CommandInterpreter::purge, "remove a file"},
      {"BUILD", &CommandInterpreter::build,
       "create a file (REC=, CODE=, DISC=, ASCII, BINARY, TEMP); $NEWPASS: the temporary one"},
      {"SAVE", &CommandInterpreter::save, "SAVE $OLDPASS,name: keep the temporary file"},
      {"HELLO", &CommandInterpreter::hello, "end the session and log on anew", true},
      {"LISTFILE", &CommandInterpreter::listFile,
       "a file's code, record size, type, count, limit; no name: the group's files"},
      {"LISTF", &CommandInterpreter::listFile, "the same as LISTFILE"},
      {"SHOWME", &CommandInterpreter::showMe, "the session's user, numbers and times"},
      {"SHOWTIME", &CommandInterpreter::showTime, "the date and time"},
      {"DSTAT", &CommandInterpreter::dstat, "the disc table"},
      {"VERSION", &CommandInterpreter::version, "the version lines in a file's bytes"},
      {"RUN", &CommandInterpreter::run,
       "run FCOPY.PUB.SYS, or the receiving host program ZORBELIX once stored"},
      {"BYE", &CommandInterpreter::bye, "end the session and close the connection"},
  };
  return kCommands;
}

const CommandInterpreter::CommandRow* CommandInterpreter::findCommand(const QString& verb) {
  for (const CommandRow& row : commands()) {
    if (verb == QLatin1String(row.verb))
      return &row;
  }
  return nullptr;
}

QList<CommandHelp> CommandInterpreter::commandHelp() {
  QList<CommandHelp> out;
  for (const CommandRow& row : commands())
    out.append(CommandHelp{row.verb, row.help});
  return out;
}

std::optional<FileRef> CommandInterpreter::fileArgument(const QString& text) {
  const std::optional<FileRef> ref = parseFileName(text, session_.group, session_.account);
  if (!ref)
    error(text::invalidFileNameError(text.trimmed().toUpper()));
  return ref;
}

void CommandInterpreter::echo(const CommandLine& c) {
  const QString& args = c.text;
  static const QRegularExpression name("^[A-Za-z_][A-Za-z0-9_]*");
  const QHash<QString, QString> vars{{"HPUSER", session_.user},
                                     {"HPACCOUNT", session_.account},
                                     {"HPGROUP", session_.group},
                                     {"HPJOBNAME", session_.sessionName}};
  QString out;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] != '!') {
      out += args[i];
      continue;
    }
    if (i + 1 < args.size() && args[i + 1] == '!') {
      out += '!';
      ++i;
      continue;
    }
    const QRegularExpressionMatch m = name.match(args.mid(i + 1));
    const QString var = m.captured(0).toUpper();
    if (!m.hasMatch() || !vars.contains(var)) {
      error(text::unknownVariableError(var));
      return;
    }
    out += vars.value(var);
    i += m.capturedLength();
  }
  terminal_.writeLine(latin(out));
}

void CommandInterpreter::purge(const CommandLine& c) {
  const QString name = c.args.section(',', 0, 0).trimmed().toUpper();
  if (name == kTempName) {
    session_.tempFile.reset();
    return;
  }
  const std::optional<FileRef> ref = fileArgument(name);
  if (!ref)
    return;
  if (!store_.exists(*ref)) {
    error(text::nonexistentFileWarning(ref->qualified()));
  } else if (store_.inUse(*ref)) {
    error(text::fileInUseError(ref->qualified()));
  } else {
    store_.purge(*ref);
    terminal_.logEvent("purged " + ref->qualified());
  }
}

void CommandInterpreter::build(const CommandLine& c) {
  QStringList parts = c.args.split(';');
  const QString name = parts.takeFirst().trimmed().toUpper();
  MpeFile file;
  file.attr.recordSize = kDefaultRecordBytes;
  file.attr.limit = kDefaultLimit;
  for (const QString& raw : parts) {
    const QString option = raw.trimmed().toUpper();
    const QString key = option.section('=', 0, 0).trimmed();
    const QString value = option.section('=', 1).trimmed();
    if (key == "REC") {
      // A positive record size counts half-words, a negative one bytes.
      const std::optional<int> rec = number(value.section(',', 0, 0));
      const qint64 bytes = rec ? (*rec > 0 ? qint64{*rec} * 2 : -qint64{*rec}) : 0;
      if (bytes <= 0 || bytes > kMaxRecordBytes)
        return error(text::kBuildBadRecord);
      file.attr.recordSize = static_cast<int>(bytes);
      if (value.contains("ASCII"))
        file.attr.ascii = true;
    } else if (key == "CODE") {
      std::optional<int> code = number(value);
      if (!code)
        code = fileCodeForMnemonic(value);
      if (!code || *code < 0 || *code > kMaxFileCode)
        return error(text::kBuildBadCode);
      file.attr.code = *code;
    } else if (key == "DISC") {
      const std::optional<int> limit = number(value.section(',', 0, 0));
      if (!limit || *limit <= 0)
        return error(text::kBuildBadDisc);
      file.attr.limit = *limit;
    } else if (option == "ASCII" || option == "BINARY") {
      file.attr.ascii = option == "ASCII";
    } else if (option != "TEMP" && !option.isEmpty()) {
      return error(text::kBuildBadOption);
    }
  }
  if (file.attr.limit * file.attr.recordSize > kMaxFileBytes)
    return error(text::kOutOfDiscSpace);
  if (name == kNewTempName) {
    session_.tempFile = file;
    terminal_.logEvent(QString("built $NEWPASS rec=%1 code=%2 limit=%3")
                           .arg(file.attr.recordSize)
                           .arg(file.attr.code)
                           .arg(file.attr.limit));
    return;
  }
  const std::optional<FileRef> ref = fileArgument(name);
  if (!ref)
    return;
  if (store_.exists(*ref))
    return error(text::duplicateFileError(ref->qualified()));
  saveToStore(*ref, file, "built");
}

void CommandInterpreter::save(const CommandLine& c) {
  const QStringList parts = c.args.toUpper().split(',');
  if (parts.size() != 2 || parts[0].trimmed() != kTempName)
    return error(text::kSaveSyntax);
  if (!session_.tempFile)
    return error(text::kNoTempFile);
  const std::optional<FileRef> ref = fileArgument(parts[1]);
  if (!ref)
    return;
  if (store_.exists(*ref))
    return error(text::duplicateFileError(ref->qualified()));
  saveToStore(*ref, *session_.tempFile, "saved");
  session_.tempFile.reset();
}

void CommandInterpreter::saveToStore(const FileRef& ref, const MpeFile& file, const char* what) {
  QString problem;
  if (!store_.save(ref, file, &problem)) {
    terminal_.logEvent("store error: " + problem);
    error(latin(QString("FILE SYSTEM ERROR ON %1. (CIERR 1092)").arg(ref.qualified())));
    return;
  }
  terminal_.logEvent(QString("%1 %2 size %3 crc32 %4")
                         .arg(what, ref.qualified())
                         .arg(file.data.size())
                         .arg(crc32Hex(file.data)));
}

// HELLO within a session ends it and logs on anew, on the same connection:
// how an operator logged on as the wrong user starts over.
void CommandInterpreter::hello(const CommandLine& c) {
  showLogoff();
  // The connection stays; the session's names and temporary file go.
  SessionState fresh;
  fresh.id = session_.id;
  fresh.ldev = session_.ldev;
  session_ = fresh;
  logon(c.line);
}

void CommandInterpreter::listFile(const CommandLine& c) {
  const QString fileSet = c.args.section(',', 0, 0).trimmed();
  if (fileSet.isEmpty())
    return listGroup(c.args.section(',', 1).trimmed());
  const std::optional<FileRef> ref = fileArgument(fileSet);
  if (!ref)
    return;
  const std::optional<MpeFile> file = store_.load(*ref);
  if (!file)
    return error(text::nonexistentFileError(ref->qualified()));
  writeListHead(*ref);
  writeListRow(*ref, *file);
}

// LISTF without a file set lists the logon group.
void CommandInterpreter::listGroup(const QString& level) {
  const QStringList names = store_.files(session_.group, session_.account);
  if (names.isEmpty())
    return error(text::kNoFilesFound);
  if (level != kDetailedListLevel) {
    for (const QByteArray& line : text::listNames(names))
      terminal_.writeLine(line);
    return;
  }
  writeListHead({QString(), session_.group, session_.account});
  for (const QString& name : names) {
    const FileRef ref{name, session_.group, session_.account};
    if (const std::optional<MpeFile> file = store_.load(ref))
      writeListRow(ref, *file);
  }
}

void CommandInterpreter::writeListHead(const FileRef& group) {
  terminal_.writeLine(text::listAccountGroup(group.account, group.group));
  terminal_.writeLine("");
  terminal_.writeLine(text::kListHead1);
  terminal_.writeLine(text::kListHead2);
  terminal_.writeLine("");
}

void CommandInterpreter::writeListRow(const FileRef& ref, const MpeFile& file) {
  const FileAttributes& a = file.attr;
  const QString size = a.recordSize % 2 == 0 ? QString("%1W").arg(a.recordSize / 2)
                                             : QString("%1B").arg(a.recordSize);
  const qint64 sectors = (file.data.size() + kSectorBytes - 1) / kSectorBytes;
  terminal_.writeLine(latin(QString("%1  %2 %3  %4  %5 %6   1 %7  1  1")
                                .arg(ref.file, -8)
                                .arg(mnemonicForFileCode(a.code), -5)
                                .arg(size, 6)
                                .arg(a.ascii ? "FA" : "FB", -3)
                                .arg(a.recordCount, 10)
                                .arg(a.limit, 10)
                                .arg(sectors, 8)));
}

void CommandInterpreter::showMe(const CommandLine& /*c*/) {
  const text::ShowMeFacts facts{logonText(), session_.number, session_.ldev, session_.connectedAt,
                                QDateTime::currentDateTime()};
  for (const QByteArray& line : text::showMe(facts))
    terminal_.writeLine(line);
}

void CommandInterpreter::showTime(const CommandLine& /*c*/) {
  terminal_.writeLine(text::bannerDate(QDateTime::currentDateTime()));
}

void CommandInterpreter::dstat(const CommandLine& /*c*/) {
  terminal_.writeLine(text::kDstatHead);
  terminal_.writeLine(text::kDstatRule);
  terminal_.writeLine(text::kDstatRow1);
  terminal_.writeLine(text::kDstatRow2);
}

void CommandInterpreter::version(const CommandLine& c) {
  const std::optional<FileRef> ref = fileArgument(c.args.section(',', 0, 0));
  if (!ref)
    return;
  const std::optional<MpeFile> file = store_.load(*ref);
  if (!file)
    return error(text::nonexistentFileError(ref->qualified()));
  // A module name blank-filled to 8, " - ", a four-part dotted version.
  static const QRegularExpression line(R"([A-Z][A-Z0-9 ]{7} - \d{1,5}\.\d{1,5}\.\d{1,5}\.\d{1,5})");
  auto it = line.globalMatch(QString::fromLatin1(file->data));
  int found = 0;
  while (it.hasNext()) {
    terminal_.writeLine(latin(it.next().captured(0)));
    ++found;
  }
  if (found == 0) {
    terminal_.writeLine(latin("NO VERSION INFORMATION IN " + ref->qualified()));
  }
}

void CommandInterpreter::run(const CommandLine& c) {
  const std::optional<FileRef> ref =
      fileArgument(c.args.section(QRegularExpression("[;\\s]"), 0, 0));
  if (!ref)
    return;
  if (*ref == kFcopy) {
    program_ = std::make_unique<Fcopy>(terminal_, session_, config_);
  } else if (!store_.exists(*ref)) {
    return error(text::nonexistentFileError(ref->qualified()));
  } else if (ref->file == kBlockProgramName) {
    program_ = std::make_unique<BlockProgram>(terminal_, store_, session_, config_);
    programFile_ = *ref;
    store_.acquire(*ref);
  } else {
    const std::optional<MpeFile> file = store_.load(*ref);
    if (!file || std::find(std::begin(kProgramCodes), std::end(kProgramCodes), file->attr.code) ==
                     std::end(kProgramCodes)) {
      return error(text::kNotAProgram);
    }
    // Any other program file runs and ends at once.
    terminal_.writeLine(text::kEndOfProgram);
    return;
  }
  terminal_.logEvent("running " + ref->qualified());
  phase_ = Phase::Program;
  program_->start();
}

void CommandInterpreter::endProgram() {
  if (programFile_)
    store_.release(*programFile_);
  programFile_.reset();
  program_.reset();
  terminal_.writeLine(text::kEndOfProgram);
  commandPrompt();
}

void CommandInterpreter::bye(const CommandLine& /*c*/) {
  phase_ = Phase::Over;
  showLogoff();
  terminal_.logOff();
}

}  // namespace mpe
