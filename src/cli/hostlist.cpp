#include "cli/hostlist.h"

#include <charconv>
#include <set>
#include <utility>

namespace cli {

namespace {

const char kCommentMark = '#';

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The line's blank-separated words, up to a comment.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) {
      ++at;
    }
    if (at == line.size() || line[at] == kCommentMark) {
      break;
    }
    const std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) {
      ++at;
    }
    words.push_back(line.substr(start, at - start));
  }
  return words;
}

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':';
}

bool IsHostName(std::string_view host) {
  if (host.empty()) {
    return false;
  }
  for (char c : host) {
    if (!IsHostCharacter(c)) {
      return false;
    }
  }
  return true;
}

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT"; the error is empty on success.
std::string SplitHostPort(std::string_view word, quint16 defaultPort, HostEntry& entry) {
  std::string_view host = word;
  std::string_view port;
  if (word.front() == '[') {
    const std::size_t close = word.find(']');
    if (close == std::string_view::npos) {
      return "'" + std::string(word) + "': an IPv6 address needs its closing ]";
    }
    host = word.substr(1, close - 1);
    const std::string_view after = word.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') {
        return "'" + std::string(word) + "': expected :PORT after the ]";
      }
      port = after.substr(1);
      if (port.empty()) {
        return "'" + std::string(word) + "': the port after : is missing";
      }
    }
  } else if (const std::size_t colon = word.find(':'); colon != std::string_view::npos) {
    if (word.find(':', colon + 1) != std::string_view::npos) {
      return "'" + std::string(word) + "': an IPv6 address goes in brackets, as [::1]:1570";
    }
    host = word.substr(0, colon);
    port = word.substr(colon + 1);
    if (port.empty()) {
      return "'" + std::string(word) + "': the port after : is missing";
    }
  }
  if (!IsHostName(host)) {
    return "'" + std::string(word) + "' is not a host name or address";
  }
  entry.host = std::string(host);
  entry.port = defaultPort;
  if (!port.empty()) {
    const auto number = ParsePort(port);
    if (!number) {
      return "'" + std::string(port) + "' is not a port number (1 to 65535)";
    }
    entry.port = *number;
  }
  return {};
}

}  // namespace

std::string HostEntry::Label() const {
  const bool v6 = host.find(':') != std::string::npos;
  if (port == kNsvtPort) {
    return host;
  }
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<quint16> ParsePort(std::string_view text) {
  constexpr unsigned kLastPort = 65535;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > kLastPort) {
    return std::nullopt;
  }
  return static_cast<quint16>(value);
}

HostListResult ParseHostList(std::string_view text, const HostDefaults& defaults) {
  HostListResult result;
  std::set<std::pair<std::string, quint16>> seen;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) {
      continue;
    }
    const auto fail = [&](const std::string& why) {
      result.hosts.clear();
      result.error = "line " + std::to_string(lineNumber) + ": " + why;
      return result;
    };
    if (words.size() > 2) {
      return fail("expected HOST[:PORT] [USER.ACCOUNT[,GROUP]], found " +
                  std::to_string(words.size()) + " words");
    }
    HostEntry entry;
    if (std::string problem = SplitHostPort(words[0], defaults.port, entry); !problem.empty()) {
      return fail(problem);
    }
    if (words.size() == 2) {
      const auto logon = ParseLogon(words[1]);
      if (!logon) {
        return fail("'" + std::string(words[1]) +
                    "' is not a logon of the form USER.ACCOUNT[,GROUP]");
      }
      entry.logon = *logon;
    } else if (defaults.logon) {
      entry.logon = *defaults.logon;
    } else {
      return fail("no logon for " + entry.Label() + ", and no --logon to use instead");
    }
    // Names are not case-sensitive: "HP3000" and "hp3000" are one host.
    std::string key = entry.host;
    for (char& c : key) {
      c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!seen.emplace(std::move(key), entry.port).second) {
      return fail(entry.Label() + " is listed twice");
    }
    result.hosts.push_back(std::move(entry));
  }
  if (result.hosts.empty()) {
    result.error = "no host in it";
  }
  return result;
}

}  // namespace cli
