// The unattended installer's readers of what it is given: the hosts file,
// the password file, the environment, the command line, the host's prompts
// and error lines, and the group and account choice; and how the text
// reports show what a host or a file said. The end-to-end test runs the
// program; these tables cover the forms it meets only on a real site.
#include "../support/hostiletext.h"
#include "cli/descriptors.h"
#include "cli/hostlist.h"
#include "cli/hosttext.h"
#include "cli/installchoice.h"
#include "cli/options.h"
#include "cli/passwords.h"
#include "cli/reporters.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace cli {
namespace {

// An error that starts with the expected text; an empty expectation wants
// no error at all.
::testing::AssertionResult ErrorIs(const std::string& error, const std::string& expected) {
  const bool matches = expected.empty() ? error.empty() : error.starts_with(expected);
  if (matches) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "error '" << error << "', expected '" << expected
                                       << (expected.empty() ? "' (none)" : "...'");
}

std::string Labels(const HostListResult& list) {
  std::string text;
  for (const HostEntry& host : list.hosts) {
    text += host.Label() + " " + host.logon.Text() + ";";
  }
  return text;
}

TEST(ParseHostList, LinesAndTheirErrors) {
  const struct {
    const char* text;
    const char* hosts;  // "LABEL LOGON;" each, or the error
  } cases[] = {
      {"a\n# note\n\n  b:1571  op.acct,grp  # the second\n", "a MANAGER.SYS;b:1571 OP.ACCT,GRP;"},
      {"[fd00::5]\n[::1]:1571\r\n", "fd00::5 MANAGER.SYS;[::1]:1571 MANAGER.SYS;"},
      {"a#b\n", "line 1: 'a#b' is not a host name or address"},
      {"a\nb c d\n", "line 2: expected HOST[:PORT] [USER.ACCOUNT[,GROUP]], found 3 words"},
      {"a:0\n", "line 1: '0' is not a port number (1 to 65535)"},
      {"fd00::5\n", "line 1: 'fd00::5': an IPv6 address goes in brackets, as [::1]:1570"},
      {"[::1\n", "line 1: '[::1': an IPv6 address needs its closing ]"},
      {"a\nA:1570\n", "line 2: A is listed twice"},  // names in any case
      {"a\na:1571\n", ""},                           // another port: two hosts
      {"a MANAGER/PW.SYS\n", "line 1: 'MANAGER/PW.SYS' is not a logon of the form"},
      {"# nothing\n", "no host in it"},
  };
  for (const auto& c : cases) {
    const HostListResult list = ParseHostList(c.text, {kNsvtPort, ParseLogon("MANAGER.SYS")});
    const std::string got = list.error.empty() ? Labels(list) : list.error;
    if (std::string(c.hosts).empty()) {
      EXPECT_EQ(list.hosts.size(), 2u) << c.text;
    } else {
      EXPECT_EQ(got.substr(0, std::string(c.hosts).size()), c.hosts) << c.text;
    }
  }
  EXPECT_EQ(ParseHostList("a\n", {}).error,
            "line 1: no logon for a, and no --logon to use instead");
}

TEST(ParseLogon, MpeNamesOnly) {
  const struct {
    const char* text;
    const char* logon;  // empty: refused
  } cases[] = {
      {"manager.sys", "MANAGER.SYS"}, {"Op1.Acct,Pub", "OP1.ACCT,PUB"},
      {"MANAGER.SYS,", ""},           {"MANAGER", ""},
      {"MANAGER/PW.SYS", ""},         {"MANAGER.SYS/PW", ""},
      {"MGR,MANAGER.SYS", ""},        {"1MGR.SYS", ""},
      {"ABCDEFGHI.SYS", ""},          {"A.B.C", ""},
  };
  for (const auto& c : cases) {
    const auto logon = ParseLogon(c.text);
    EXPECT_EQ(logon ? logon->Text() : "", c.logon) << c.text;
  }
}

TEST(HostText, PasswordPromptsAndErrorLines) {
  const struct {
    const char* text;
    std::optional<PasswordKind> kind;
  } prompts[] = {
      {"ENTER ACCOUNT (SYS) PASSWORD:", PasswordKind::Account},
      {"ENTER USER (MANAGER) PASSWORD:", PasswordKind::User},
      {"ENTER ACCOUNT (USER) PASSWORD:", PasswordKind::Account},  // an account called USER
      {"ENTER GROUP (PUB) PASSWORD:", PasswordKind::Group},
      {"INCORRECT PASSWORD. (CIERR 1441)\nENTER USER (MGR) PASSWORD:", PasswordKind::User},
      {"enter group password:", PasswordKind::Group},
      {"ENTER PASSWORD:", std::nullopt},
      {"USERNAME:", std::nullopt},
  };
  for (const auto& c : prompts) {
    EXPECT_EQ(PasswordKindIn(c.text), c.kind) << c.text;
  }
  EXPECT_EQ(ErrorLineIn("PURGE ZORBELIX\n PURGE FAILED. (CIERR 9999)\n:\n"),
            "PURGE FAILED. (CIERR 9999)");
  EXPECT_EQ(ErrorLineIn("NONEXISTENT FILE. (CIWARN 383)\n:"), "");
  EXPECT_EQ(FirstLineIn("\x11 \t\n\x11 READY\x07\n"), "READY");  // control bytes trimmed too
  EXPECT_EQ(OneLine(" a\r\n\r\nb\tc  "), "a b c");
}

// What a reporter wrote to an in-memory stream while feed drove it; the
// live display's timer needs the application object, and never fires here,
// so the terminal's live block shows only around its permanent lines.
std::string Written(std::unique_ptr<Reporter> (*make)(std::FILE*),
                    const std::function<void(Reporter&)>& feed) {
  char name[] = "cli_core_tests";
  char* argv[] = {name, nullptr};
  int argc = 1;
  const QCoreApplication application(argc, argv);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&buffer, &size);
  if (out == nullptr) {
    return "(no stream)";
  }
  feed(*make(out));
  std::fclose(out);
  std::string written(buffer, size);
  std::free(buffer);
  return written;
}

// Each reporter fed one run of two hosts: what it shows of each event, the
// progress a second apart at most (the first and last always), the result
// lines and the summary. The JSON's timestamps are left out.
TEST(Reporters, ShowEachEvent) {
  const auto feed = [](Reporter& reporter) {
    reporter.Connected("a", "hp3000");
    reporter.LoggedOn("a", "MANAGER.SYS,PUB");
    reporter.CommandSent("a", "PURGE ZORBELIX");
    for (const std::int32_t sent : {1, 2, 3}) {
      reporter.Progress("a", {"ZORBELIX", true, sent, 3, sent * 33, sent * 10, sent * 256, 12.34});
    }
    reporter.Box("a", ConfirmBox("Go on?\nNow", false));
    reporter.Box("a", InputBox("Name:", "X", 1));
    reporter.Box("a", ErrorBox(4004, "Bad"));
    const std::vector<HostResult> results = {
        {"a", Outcome::Installed, "", 4.25},
        {"b", Outcome::Checked, "installed version none", 0.3, VersionCheck{std::nullopt, "2.5"}}};
    for (const HostResult& result : results) {
      reporter.Result(result);
    }
    reporter.Summary(results, true, 0, 5);
  };
  const char* const plainLines =
      "a: connected to hp3000\n"
      "a: logged on as MANAGER.SYS,PUB\n"
      "a: sent PURGE ZORBELIX\n"
      "a: ZORBELIX record 1 of 3 (33%), 12 KB/s\n"
      "a: ZORBELIX record 3 of 3 (99%), 12 KB/s\n"
      "a: confirm: Go on? Now -> no\n"
      "a: input %1: Name: -> \"X\"\n"
      "a: error 4004: Bad\n"
      "host a: installed (EXIT) in 4.2 s\n"
      "host b: checked in 0.3 s: installed version none\n";
  const char* const summary =
      "\n"
      "HOST  OUTCOME    TIME   INSTALLED  PAYLOAD  ACTION   REASON\n"
      "a     installed  4.2 s                               \n"
      "b     checked    0.3 s  none       2.5      install  installed version none\n"
      "summary: 1 of 2 hosts installed, 1 checked in 5.0 s; exit status 0\n";
  const std::string erase = "\x1b[1A\r\x1b[J";
  const std::string live = "a: ZORBELIX record 3 of 3 (99%), 12 KB/s\x1b[K\n";
  const struct {
    const char* name;
    std::unique_ptr<Reporter> (*make)(std::FILE*);
    std::string written;
  } cases[] = {
      {"plain", &MakePlainReporter, std::string(plainLines) + summary},
      {"terminal", &MakeTerminalReporter,
       "a: confirm: Go on? Now -> no\n" + live + erase + "a: input %1: Name: -> \"X\"\n" + live +
           erase + "a: error 4004: Bad\n" + live + erase + "host a: installed (EXIT) in 4.2 s\n" +
           "host b: checked in 0.3 s: installed version none\n" + summary},
      {"json", &MakeJsonReporter,
       R"({"event":"connected","host":"a","peer":"hp3000"}
{"event":"logged_on","host":"a","logon":"MANAGER.SYS,PUB"}
{"command":"PURGE ZORBELIX","event":"command","host":"a"}
{"bytes":256,"event":"progress","host":"a","kb_per_s":12.3,"overall_percent":10,"payload":"ZORBELIX","percent":33,"sent":1,"total":3,"unit":"record"}
{"bytes":768,"event":"progress","host":"a","kb_per_s":12.3,"overall_percent":30,"payload":"ZORBELIX","percent":99,"sent":3,"total":3,"unit":"record"}
{"answer":"no","event":"box","host":"a","kind":"confirm","text":"Go on?\nNow"}
{"answer":"X","event":"box","host":"a","kind":"input","text":"Name:","variable":1}
{"code":4004,"event":"box","host":"a","kind":"error","text":"Bad"}
{"elapsed_s":4.25,"event":"result","exit_status":0,"host":"a","outcome":"installed","reason":""}
{"action":"install","elapsed_s":0.3,"event":"result","exit_status":0,"host":"b","installed_version":null,"outcome":"checked","payload_version":"2.5","reason":"installed version none"}
{"checked":1,"current":0,"elapsed_s":5,"event":"summary","exit_status":0,"failed":0,"hosts":2,"installed":1,"interrupted":0,"not_logged_on":0,"skipped":0}
)"},
  };
  for (const auto& c : cases) {
    const QString written = QString::fromStdString(Written(c.make, feed))
                                .remove(QRegularExpression(R"("time":"[^"]*",?)"))
                                .replace(",}", "}");
    EXPECT_EQ(written.toStdString(), c.written) << c.name;
  }
}

// Every text output shows a hostile text's control characters, never obeys
// them: the filter itself, then each text reporter fed the table through
// the events that carry host or file text (the reporters' own cursor
// movements aside).
TEST(VisibleText, HostileTextsAreShownNotObeyed) {
  for (const auto& row : support::kHostileTexts) {
    EXPECT_EQ(VisibleText(row.text), row.shown) << row.name;
  }
  for (const auto make : {&MakePlainReporter, &MakeTerminalReporter}) {
    const std::string written = Written(make, [](Reporter& reporter) {
      std::vector<HostResult> results;
      for (const auto& row : support::kHostileTexts) {
        const std::string text(row.text);
        reporter.Connected("h", text);
        reporter.LoggedOn("h", "MANAGER.SYS,PUB" + text);
        reporter.Box("h", MessageBox(text));
        results.push_back({text, Outcome::Failed, text, 1});
        reporter.Result(results.back());
      }
      reporter.Summary(results, true, 1, 1);
    });
    const QString shown =
        QString::fromLatin1(written.data(), static_cast<qsizetype>(written.size()))
            .remove(QRegularExpression("\x1b\\[K|\x1b\\[\\d+A\r\x1b\\[J"));
    EXPECT_FALSE(QRegularExpression("[\\x00-\\x08\\x0b-\\x1f\\x7f-\\x9f]").match(shown).hasMatch())
        << shown.toStdString();
    EXPECT_TRUE(shown.contains("MANAGER.SYS,PUBOK^[]0;HOSTILE TITLE^G^[[2J"));
  }
}

TEST(ParsePasswordFile, KeysValuesAndErrors) {
  const struct {
    const char* text;
    const char* user;  // nullptr: not set
    const char* account;
    const char* error;  // empty: none
  } cases[] = {
      {"# mine\nuser=pw one\r\n\naccount = x=y\n", "pw one", "x=y", ""},
      {"user=\n", "", nullptr, ""},
      {"user=\t\x01pw\x07 \n", "\x01pw\x07", nullptr, ""},  // only blanks trimmed
      {"user=a\nuser=b\n", "b", nullptr, ""},
      {"user=a\npassword=SECRET\n", "a", nullptr, "line 2: expected user=..."},
      {"SECRET\n", nullptr, nullptr, "line 1: expected user=..."},
  };
  for (const auto& c : cases) {
    Passwords passwords;
    const std::string error = ParsePasswordFile(c.text, passwords);
    EXPECT_TRUE(ErrorIs(error, c.error)) << c.text;
    EXPECT_EQ(error.find("SECRET"), std::string::npos) << "a value shows in: " << error;
    const auto& user = passwords.For(PasswordKind::User);
    const auto& account = passwords.For(PasswordKind::Account);
    EXPECT_EQ(user.value_or("(none)"), c.user ? c.user : "(none)") << c.text;
    EXPECT_EQ(account.value_or("(none)"), c.account ? c.account : "(none)") << c.text;
  }
}

TEST(PasswordsFromEnvironment, KeptInMemoryOnly) {
  ::setenv("ZORBELIX_USER_PASSWORD", "ENVPW", 1);
  ::setenv("ZORBELIX_GROUP_PASSWORD", "", 1);
  ::unsetenv("ZORBELIX_ACCOUNT_PASSWORD");
  const Passwords passwords = PasswordsFromEnvironment();
  EXPECT_EQ(passwords.For(PasswordKind::User), "ENVPW");
  EXPECT_EQ(passwords.For(PasswordKind::Group), "");
  EXPECT_EQ(passwords.For(PasswordKind::Account), std::nullopt);
  EXPECT_EQ(std::getenv("ZORBELIX_USER_PASSWORD"), nullptr);
  EXPECT_EQ(std::getenv("ZORBELIX_GROUP_PASSWORD"), nullptr);
}

TEST(ParseOptions, BadUsage) {
  const struct {
    QStringList args;
    const char* error;  // the start of it; empty: accepted
  } cases[] = {
      {{"--host", "h", "--logon", "A.B"}, ""},
      {{"--hosts", "f"}, ""},
      {{"--host", "h"}, "--host needs --logon"},
      {{"--logon", "A.B"}, "say where to install"},
      {{"--host", "h", "--hosts", "f", "--logon", "A.B"}, "--host and --hosts exclude"},
      {{"--hosts", "f", "--answer", "3=x"}, "--answer '3=x': expected N=TEXT"},
      {{"--hosts", "f", "--answer", "1=x", "--answer", "1=y"}, "--answer 1 is given twice"},
      {{"--hosts", "f", "--jobs", "0"}, "--jobs '0'"},
      {{"--hosts", "f", "--timeout", "-1"}, "--timeout '-1'"},
      {{"--hosts", "f", "--port", "70000"}, "--port '70000'"},
      {{"--hosts", "f", "--password", "x"}, "Unknown option 'password'"},
      {{"--hosts", "f", "extra"}, "unexpected argument 'extra'"},
      {{"--hosts", "f", "--check", "--skip-current"}, "--check and --skip-current exclude"},
      {{"--host", "h", "--host", "[::1]:1571", "--logon", "A.B", "--deadline", "9"}, ""},
      {{"--host", "h # x", "--logon", "A.B"}, "--host 'h # x': expected HOST"},
      {{"--hosts", "f", "--deadline", "1.5"}, "--deadline '1.5': expected a number of seconds"},
      {{"--hosts", "f", "--connect-timeout", "x"}, "--connect-timeout 'x'"},
      {{"--hosts", "f", "--max-fail", "-1"}, "--max-fail '-1'"},
  };
  for (const auto& c : cases) {
    const OptionsResult result = ParseOptions(QStringList{"zorbelix-install"} + c.args);
    EXPECT_TRUE(ErrorIs(result.error, c.error)) << c.args.join(' ').toStdString();
  }
  const Options answers =
      ParseOptions({"zorbelix-install", "--hosts", "f", "--answer", "2=a=b", "--answer", "0="})
          .options;
  EXPECT_EQ(answers.answers[0], "");
  EXPECT_EQ(answers.answers[1], std::nullopt);
  EXPECT_EQ(answers.answers[2], "a=b");
}

TEST(ChooseInstallTarget, SettingsFixOrOfferTheFields) {
  const struct {
    const char* groupSetting;
    const char* accountSetting;
    std::optional<std::string> group;
    std::optional<std::string> account;
    const char* chosen;  // "GROUP.ACCOUNT", "!" for a confirmation, or the error's start
  } cases[] = {
      {" ", " ", std::nullopt, std::nullopt, "."},
      {" ", " ", "XYZ", std::nullopt, "the program's settings fix the installation group (empty)"},
      {"", "", std::nullopt, std::nullopt, "PUB.VORDANEX"},
      {"", "", "PUB", "vordanex", "PUB.VORDANEX"},
      {"PUB", "SYS", std::nullopt, std::nullopt, "PUB.SYS"},
      {"PUB", "SYS", "xyz", std::nullopt, "XYZ.SYS!"},
      {"PUB", "SYS", std::nullopt, "ACCT", "PUB.ACCT!"},
      {"PUB", "SYS", "1AB", std::nullopt, "--group '1AB' is not an MPE name"},
      {"pub", "SYS", std::nullopt, std::nullopt, "PUB.SYS!"},  // the window compares as typed
  };
  for (const auto& c : cases) {
    const InstallChoiceResult result =
        ChooseInstallTarget(c.groupSetting, c.accountSetting, c.group, c.account);
    const std::string got = result.error.empty()
                                ? result.choice.group + "." + result.choice.account +
                                      (result.choice.needsConfirmation ? "!" : "")
                                : result.error;
    EXPECT_EQ(got.substr(0, std::string(c.chosen).size()), c.chosen)
        << "'" << c.groupSetting << "' '" << c.accountSetting << "'";
  }
}

TEST(JobsThatFit, TheLimitLessTheOpenAndTheReserve) {
  const long reserve = kReservedDescriptors + kLookupDescriptors;
  EXPECT_EQ(JobsThatFit(100, 64, 0, false), 64 - reserve);
  EXPECT_EQ(JobsThatFit(100, 64, 0, true), (64 - reserve) / 2);  // a trace file each
  EXPECT_EQ(JobsThatFit(100, 64, 10, false), 64 - 10 - reserve);
  EXPECT_EQ(JobsThatFit(100, 30, 0, false), 1);    // never none
  EXPECT_EQ(JobsThatFit(8, 1024, 3, false), 8);    // never more than asked
  EXPECT_EQ(JobsThatFit(1000, 0, 3, true), 1000);  // no limit to go by
  EXPECT_TRUE(IsDescriptorShortage(10024));        // EMFILE
  EXPECT_TRUE(IsDescriptorShortage(10023));        // ENFILE
  EXPECT_FALSE(IsDescriptorShortage(10061));       // a refused connection is the host's
}

}  // namespace
}  // namespace cli
