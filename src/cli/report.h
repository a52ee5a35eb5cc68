// What the unattended installer tells about its hosts as they go, in one of
// three forms: live lines on a terminal, plain lines in a log, or one JSON
// object a line (--json). Every call names the host by its label.
#pragma once

#include "cli/outcome.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct ProgressEvent {
  std::string_view payload;  // the payload's name
  bool records = true;       // records of 256 bytes, else blocks of 1024
  std::int32_t sent = 0;     // records or blocks sent so far
  std::int32_t total = 0;    // in all
  int percent = 0;           // of this payload
  int overallPercent = 0;    // of the whole installation
  std::int32_t bytes = 0;    // of this payload sent so far
  double kbPerSecond = 0;    // since this payload's transfer began
};

// A box the run (or the installer itself) showed, and the answer it got.
enum class BoxKind { Message, Confirm, Input, Error };
struct BoxEvent {
  BoxKind kind = BoxKind::Message;
  std::string text;
  std::string answer;  // Confirm: "yes" or "no"; Input: the text given
  int variable = -1;   // Input: the script variable 0 to 2
  int code = 0;        // Error: the report's code
};

BoxEvent MessageBox(const std::string& text);
BoxEvent ConfirmBox(const std::string& text, bool yes);
BoxEvent InputBox(const std::string& prompt, const std::string& answer, int variable);
BoxEvent ErrorBox(int code, const std::string& text);

class Reporter {
public:
  virtual ~Reporter() = default;

  virtual void Connected(const std::string& host, const std::string& peerName) = 0;
  // The host's name by reverse lookup, found after it connected (the live
  // and plain reports show the host as it was given, and skip it).
  virtual void PeerNamed(const std::string& host, const std::string& name) {
    static_cast<void>(host);
    static_cast<void>(name);
  }
  virtual void LoggedOn(const std::string& host, const std::string& logon) = 0;
  virtual void CommandSent(const std::string& host, std::string_view command) = 0;
  // Called for every record or block: a reporter keeps only what it shows.
  virtual void Progress(const std::string& host, const ProgressEvent& progress) = 0;
  virtual void Box(const std::string& host, const BoxEvent& box) = 0;
  virtual void Result(const HostResult& result) = 0;
  // The end of the whole run: the results in the order the hosts were
  // given; many is true for a hosts file (a summary table), false for one
  // --host (its result line is the last line).
  virtual void Summary(const std::vector<HostResult>& results, bool many, int exitStatus,
                       double seconds) = 0;
};

enum class ReportStyle { Terminal, Plain, Json };

// Terminal when standard output is a terminal that takes cursor movement
// (TERM set, and not "dumb"), else Plain; Json when asked for.
ReportStyle ChooseReportStyle(bool json);

std::unique_ptr<Reporter> MakeReporter(ReportStyle style);

// The error (an errno value) of the first report that could not be
// written; 0 while every write has succeeded.
int OutputError();

}  // namespace cli
