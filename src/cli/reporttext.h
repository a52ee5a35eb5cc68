// The words of the text reports (terminal and plain): one event of a host
// as a line, and the summary table.
#pragma once

#include "cli/report.h"

#include <string>
#include <vector>

namespace cli {

// "ZORBELIX record 199 of 438 (45%), 812 KB/s".
std::string ProgressText(const ProgressEvent& progress);
// "message: Successful installation.", "confirm: ... -> no", ...
std::string BoxText(const BoxEvent& box);
// The table of hosts (host, outcome, time, reason) and the closing line
// that counts them and names the exit status; every line ends in '\n', and
// the hosts and reasons are shown through VisibleText.
std::string SummaryText(const std::vector<HostResult>& results, int exitStatus, double seconds);

}  // namespace cli
