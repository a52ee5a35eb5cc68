// The hosts an unattended installation goes to: one from --host, or many
// from a hosts file.
//
// A hosts file holds one host a line:
//
//   HOST[:PORT] [USER.ACCOUNT[,GROUP]]
//
// HOST is a name or an address (an IPv6 address in brackets: [::1]:1570);
// PORT defaults to --port; the logon defaults to --logon. Blank lines and
// lines whose first non-blank character is # are skipped, as is anything
// after a # that follows a blank. The same host (in any case) and port twice
// is an error: two installations on one host at once would overwrite each
// other.
#pragma once

#include "cli/logon.h"
#include "nsvt/vtpkt.h"

#include <QtGlobal>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

using nsvt::kNsvtPort;

struct HostEntry {
  std::string host;
  quint16 port = kNsvtPort;
  Logon logon;

  // How reports name the host: "HOST", or "HOST:PORT" when the port is
  // not 1570 ("[::1]:1571" for an IPv6 address).
  std::string Label() const;
};

// What a hosts file line may leave out.
struct HostDefaults {
  quint16 port = kNsvtPort;
  std::optional<Logon> logon;
};

struct HostListResult {
  std::vector<HostEntry> hosts;
  std::string error;  // "line 3: ...", empty when the text is well formed
};

HostListResult ParseHostList(std::string_view text, const HostDefaults& defaults);

// A port number 1 to 65535; nothing otherwise.
std::optional<quint16> ParsePort(std::string_view text);

}  // namespace cli
