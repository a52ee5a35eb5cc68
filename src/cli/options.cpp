#include "cli/options.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <charconv>
#include <limits>
#include <utility>

namespace cli {

namespace {

constexpr int kMaxTimeoutSeconds = 7 * 24 * 60 * 60;  // a week: any longer is a mistake

std::string Std(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

std::optional<int> ParseCount(const QString& text, int least, int most) {
  const std::string digits = Std(text);
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || value < least ||
      value > most) {
    return std::nullopt;
  }
  return value;
}

// "N=TEXT" with N 0, 1 or 2.
std::string ParseAnswers(const QStringList& values, Options& options) {
  for (const QString& value : values) {
    const qsizetype equals = value.indexOf('=');
    const auto variable =
        equals > 0 ? ParseCount(value.left(equals), 0, kScriptAnswers - 1) : std::nullopt;
    if (!variable) {
      return "--answer '" + Std(value) + "': expected N=TEXT with N 0, 1 or 2";
    }
    auto& answer = options.answers[static_cast<std::size_t>(*variable)];
    if (answer) {
      return "--answer " + std::to_string(*variable) + " is given twice";
    }
    answer = value.mid(equals + 1).toLatin1().toStdString();
  }
  return {};
}

std::string CheckTargets(const QCommandLineParser& parser, Options& options) {
  if (parser.isSet("host") == parser.isSet("hosts")) {
    return parser.isSet("host") ? "--host and --hosts exclude each other"
                                : "say where to install: --host HOST or --hosts FILE";
  }
  if (parser.isSet("host")) {
    for (const QString& host : parser.values("host")) {
      // One word each, as a hosts file line's first: no blank, no comment.
      if (host.isEmpty() || host.contains(QRegularExpression("[\\s#]"))) {
        return "--host '" + Std(host) + "': expected HOST, HOST:PORT or [V6]:PORT";
      }
      options.hosts.push_back(Std(host));
    }
    if (!options.logon) {
      return "--host needs --logon USER.ACCOUNT[,GROUP]";
    }
  } else {
    options.hostsFile = Std(parser.value("hosts"));
  }
  return {};
}

}  // namespace

OptionsResult ParseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOptions({
      {"host", "", "HOST"},
      {"hosts", "", "FILE"},
      {"port", "", "PORT"},
      {"logon", "", "LOGON"},
      {"group", "", "GROUP"},
      {"account", "", "ACCOUNT"},
      {"trace", "", "PATH"},
      {"password-file", "", "FILE"},
      {"answer", "", "N=TEXT"},
      {"yes", ""},
      {"json", ""},
      {{"no-reverse-lookup", "n"}, ""},
      {"check", ""},
      {"skip-current", ""},
      {"jobs", "", "N"},
      {"timeout", "", "SECONDS"},
      {"connect-timeout", "", "SECONDS"},
      {"deadline", "", "SECONDS"},
      {"max-fail", "", "N"},
      {"retry-file", "", "FILE"},
      {{"help", "h"}, ""},
      {"version", ""},
  });
  OptionsResult result;
  Options& options = result.options;
  if (!parser.parse(arguments)) {
    result.error = Std(parser.errorText());
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    result.error = "unexpected argument '" + Std(parser.positionalArguments().first()) + "'";
    return result;
  }
  options.help = parser.isSet("help");
  options.version = parser.isSet("version");
  if (options.help || options.version) {
    return result;
  }
  options.yes = parser.isSet("yes");
  options.json = parser.isSet("json");
  options.reverseLookup = !parser.isSet("no-reverse-lookup");
  const auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return result;
  };
  if (parser.isSet("check") && parser.isSet("skip-current")) {
    return fail("--check and --skip-current exclude each other");
  }
  if (parser.isSet("check")) {
    options.versionMode = VersionMode::Check;
  } else if (parser.isSet("skip-current")) {
    options.versionMode = VersionMode::SkipCurrent;
  }
  if (parser.isSet("port")) {
    const auto port = ParsePort(Std(parser.value("port")));
    if (!port) {
      return fail("--port '" + Std(parser.value("port")) + "' is not a port number (1 to 65535)");
    }
    options.port = *port;
  }
  if (parser.isSet("logon")) {
    options.logon = ParseLogon(Std(parser.value("logon")));
    if (!options.logon) {
      return fail("--logon '" + Std(parser.value("logon")) +
                  "' is not of the form USER.ACCOUNT[,GROUP] (MPE names; no passwords)");
    }
  }
  if (std::string error = CheckTargets(parser, options); !error.empty()) {
    return fail(std::move(error));
  }
  if (parser.isSet("group")) {
    options.group = Std(parser.value("group"));
  }
  if (parser.isSet("account")) {
    options.account = Std(parser.value("account"));
  }
  if (parser.isSet("trace")) {
    options.trace = Std(parser.value("trace"));
  }
  if (parser.isSet("password-file")) {
    options.passwordFile = Std(parser.value("password-file"));
  }
  if (std::string error = ParseAnswers(parser.values("answer"), options); !error.empty()) {
    return fail(std::move(error));
  }
  if (parser.isSet("jobs")) {
    const auto jobs = ParseCount(parser.value("jobs"), 1, kMaxJobs);
    if (!jobs) {
      return fail("--jobs '" + Std(parser.value("jobs")) + "': expected 1 to " +
                  std::to_string(kMaxJobs));
    }
    options.jobs = *jobs;
  }
  for (const auto& [name, field] : {std::pair{"timeout", &Options::timeoutSeconds},
                                    std::pair{"connect-timeout", &Options::connectTimeoutSeconds},
                                    std::pair{"deadline", &Options::deadlineSeconds}}) {
    if (parser.isSet(name)) {
      const auto seconds = ParseCount(parser.value(name), 0, kMaxTimeoutSeconds);
      if (!seconds) {
        return fail(std::string("--") + name + " '" + Std(parser.value(name)) +
                    "': expected a number of seconds (0: no limit)");
      }
      options.*field = *seconds;
    }
  }
  if (parser.isSet("max-fail")) {
    const auto count = ParseCount(parser.value("max-fail"), 0, std::numeric_limits<int>::max());
    if (!count) {
      return fail("--max-fail '" + Std(parser.value("max-fail")) +
                  "': expected a number of hosts (0: no limit)");
    }
    options.maxFail = *count;
  }
  if (parser.isSet("retry-file")) {
    options.retryFile = Std(parser.value("retry-file"));
    if (options.retryFile->empty()) {
      return fail("--retry-file needs a file name");
    }
  }
  return result;
}

}  // namespace cli
