// --retry-file: the hosts of a run that did not install, in the hosts
// file's format with their logons, so that the file can be the next run's
// --hosts as it stands.
#pragma once

#include "cli/hostinstall.h"
#include "cli/outcome.h"

#include <string>
#include <vector>

namespace cli {

// "# ...\nHOST[:PORT] USER.ACCOUNT[,GROUP]\n" for each host whose outcome
// calls for another run (not installed, current or checked).
std::string RetryList(const std::vector<HostPlan>& plans, const std::vector<HostResult>& results);

// Whether path can take the list: its folder exists and is writable. The
// error is empty when it can.
std::string CheckRetryFile(const std::string& path);

// Writes the list whole or not at all (a crash leaves the old file); the
// error is empty on success.
std::string WriteRetryFile(const std::string& path, const std::string& list);

}  // namespace cli
