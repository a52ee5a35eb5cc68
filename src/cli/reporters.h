// The three reporters behind MakeReporter, and what two of them share.
#pragma once

#include "cli/report.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace cli {

std::unique_ptr<Reporter> MakePlainReporter(std::FILE* out);
std::unique_ptr<Reporter> MakeJsonReporter(std::FILE* out);
std::unique_ptr<Reporter> MakeTerminalReporter(std::FILE* out);

// Whether a host's progress is worth a line now: at most one a second per
// host, except that the first and the last record or block of a payload
// always are, so a log shows every transfer's start and end.
class ProgressThrottle {
public:
  bool Due(const std::string& host, const ProgressEvent& progress);
  // Forgets a host (its installation ended).
  void Forget(const std::string& host) { lastShown_.erase(host); }

private:
  static constexpr std::chrono::seconds kInterval{1};
  std::map<std::string, std::chrono::steady_clock::time_point> lastShown_;
};

// Writes text and flushes, so that a log follows the installation as it
// goes. A failed write is remembered for OutputError.
void WriteOut(std::FILE* out, const std::string& text);

}  // namespace cli
