#include "cli/console.h"
#include "cli/reporters.h"

#include <cerrno>

namespace cli {

namespace {

int firstOutputError = 0;  // see OutputError

}  // namespace

BoxEvent MessageBox(const std::string& text) {
  BoxEvent box;
  box.text = text;
  return box;
}

BoxEvent ConfirmBox(const std::string& text, bool yes) {
  BoxEvent box;
  box.kind = BoxKind::Confirm;
  box.text = text;
  box.answer = yes ? "yes" : "no";
  return box;
}

BoxEvent InputBox(const std::string& prompt, const std::string& answer, int variable) {
  BoxEvent box;
  box.kind = BoxKind::Input;
  box.text = prompt;
  box.answer = answer;
  box.variable = variable;
  return box;
}

BoxEvent ErrorBox(int code, const std::string& text) {
  BoxEvent box;
  box.kind = BoxKind::Error;
  box.text = text;
  box.code = code;
  return box;
}

bool ProgressThrottle::Due(const std::string& host, const ProgressEvent& progress) {
  const auto now = std::chrono::steady_clock::now();
  const bool edge = progress.sent <= 1 || progress.sent >= progress.total;
  auto [last, added] = lastShown_.try_emplace(host, now);
  if (!added && !edge && now - last->second < kInterval) {
    return false;
  }
  last->second = now;
  return true;
}

void WriteOut(std::FILE* out, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if ((std::fflush(out) != 0 || !written) && firstOutputError == 0) {
    firstOutputError = errno != 0 ? errno : EIO;
  }
}

int OutputError() {
  return firstOutputError;
}

ReportStyle ChooseReportStyle(bool json) {
  if (json) {
    return ReportStyle::Json;
  }
  return StdoutIsLiveTerminal() ? ReportStyle::Terminal : ReportStyle::Plain;
}

std::unique_ptr<Reporter> MakeReporter(ReportStyle style) {
  switch (style) {
    case ReportStyle::Terminal:
      return MakeTerminalReporter(stdout);
    case ReportStyle::Json:
      return MakeJsonReporter(stdout);
    case ReportStyle::Plain:
      break;
  }
  return MakePlainReporter(stdout);
}

}  // namespace cli
