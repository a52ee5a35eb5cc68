// --json: one compact JSON object a line for each event, each with the
// event's name, the host and a UTC timestamp; progress at most once a second
// per host (and always a payload's first and last record or block); a
// summary object last. The fields are listed in src/cli/README.md.
#include "cli/reporters.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cmath>

namespace cli {

namespace {

constexpr double kRateSteps = 10.0;  // KB/s to a tenth

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

const char* BoxKindKey(BoxKind kind) {
  switch (kind) {
    case BoxKind::Message:
      return "message";
    case BoxKind::Confirm:
      return "confirm";
    case BoxKind::Input:
      return "input";
    case BoxKind::Error:
      return "error";
  }
  return "message";
}

class JsonReporter final : public Reporter {
public:
  explicit JsonReporter(std::FILE* out) : out_(out) {}

  void Connected(const std::string& host, const std::string& peerName) override {
    QJsonObject object = Event("connected", host);
    object["peer"] = Text(peerName);
    Write(object);
  }
  void PeerNamed(const std::string& host, const std::string& name) override {
    QJsonObject object = Event("peer_name", host);
    object["name"] = Text(name);
    Write(object);
  }
  void LoggedOn(const std::string& host, const std::string& logon) override {
    QJsonObject object = Event("logged_on", host);
    object["logon"] = Text(logon);
    Write(object);
  }
  void CommandSent(const std::string& host, std::string_view command) override {
    QJsonObject object = Event("command", host);
    object["command"] = Text(command);
    Write(object);
  }
  void Progress(const std::string& host, const ProgressEvent& progress) override {
    if (!throttle_.Due(host, progress)) {
      return;
    }
    QJsonObject object = Event("progress", host);
    object["payload"] = Text(progress.payload);
    object["unit"] = progress.records ? "record" : "block";
    object["sent"] = progress.sent;
    object["total"] = progress.total;
    object["percent"] = progress.percent;
    object["overall_percent"] = progress.overallPercent;
    object["bytes"] = progress.bytes;
    object["kb_per_s"] = std::round(progress.kbPerSecond * kRateSteps) / kRateSteps;
    Write(object);
  }
  void Box(const std::string& host, const BoxEvent& box) override {
    QJsonObject object = Event("box", host);
    object["kind"] = BoxKindKey(box.kind);
    object["text"] = Text(box.text);
    if (box.kind == BoxKind::Confirm || box.kind == BoxKind::Input) {
      object["answer"] = Text(box.answer);
    }
    if (box.kind == BoxKind::Input) {
      object["variable"] = box.variable;
    }
    if (box.kind == BoxKind::Error) {
      object["code"] = box.code;
    }
    Write(object);
  }
  void Result(const HostResult& result) override {
    throttle_.Forget(result.host);
    QJsonObject object = Event("result", result.host);
    object["outcome"] = OutcomeKey(result.outcome);
    object["exit_status"] = ExitStatusFor(result.outcome);
    object["reason"] = Text(result.reason);
    object["elapsed_s"] = result.seconds;
    if (result.versions) {
      object["installed_version"] =
          result.versions->installed ? QJsonValue(Text(*result.versions->installed)) : QJsonValue();
      object["payload_version"] = Text(result.versions->payload);
      object["action"] = ActionWord(*result.versions);
    }
    Write(object);
  }
  void Summary(const std::vector<HostResult>& results, bool /*many*/, int exitStatus,
               double seconds) override {
    QJsonObject object;
    object["event"] = "summary";
    object["time"] = Now();
    object["hosts"] = static_cast<int>(results.size());
    for (const Outcome outcome :
         {Outcome::Installed, Outcome::Failed, Outcome::NotLoggedOn, Outcome::Interrupted,
          Outcome::Current, Outcome::Checked, Outcome::Skipped}) {
      int count = 0;
      for (const HostResult& result : results) {
        count += result.outcome == outcome ? 1 : 0;
      }
      object[OutcomeKey(outcome)] = count;
    }
    object["exit_status"] = exitStatus;
    object["elapsed_s"] = seconds;
    Write(object);
  }

private:
  static QString Now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }
  static QJsonObject Event(const char* name, const std::string& host) {
    QJsonObject object;
    object["event"] = name;
    object["host"] = Text(host);
    object["time"] = Now();
    return object;
  }
  void Write(const QJsonObject& object) {
    WriteOut(out_, QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n");
  }

  std::FILE* out_;
  ProgressThrottle throttle_;
};

}  // namespace

std::unique_ptr<Reporter> MakeJsonReporter(std::FILE* out) {
  return std::make_unique<JsonReporter>(out);
}

}  // namespace cli
