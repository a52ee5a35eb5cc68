// The program's string table, compiled in as ":/strings.txt" and parsed once
// on first use.
#include "install/stringtable.h"

#include <QFile>

#include <charconv>
#include <limits>
#include <optional>

namespace install {

namespace {

const char kTableResource[] = ":/strings.txt";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

void Report(std::string* errors, std::size_t lineNo, std::string_view what) {
  if (errors == nullptr) {
    return;
  }
  errors->append("line ");
  errors->append(std::to_string(lineNo));
  errors->append(": ");
  errors->append(what);
  errors->push_back('\n');
}

// Reads `"TEXT"` from the start of rest into text and returns what follows
// the closing quote; nothing when the text is unterminated or uses an
// unknown escape.
std::optional<std::string_view> ReadQuoted(std::string_view rest, std::string& text,
                                           std::string_view& problem) {
  if (rest.empty() || rest.front() != '"') {
    problem = "expected a quoted text";
    return std::nullopt;
  }
  for (std::size_t i = 1; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '"') {
      return rest.substr(i + 1);
    }
    if (c != '\\') {
      text.push_back(c);
      continue;
    }
    if (++i == rest.size()) {
      break;
    }
    switch (rest[i]) {
      case '\\':
        text.push_back('\\');
        break;
      case '"':
        text.push_back('"');
        break;
      case 'r':
        text.push_back('\r');
        break;
      case 'n':
        text.push_back('\n');
        break;
      case 't':
        text.push_back('\t');
        break;
      default:
        problem = "unknown escape";
        return std::nullopt;
    }
  }
  problem = "unterminated text";
  return std::nullopt;
}

}  // namespace

std::map<int, std::string> ParseStringTable(std::string_view source, std::string* errors) {
  std::map<int, std::string> table;
  std::size_t lineNo = 0;
  while (!source.empty()) {
    ++lineNo;
    const std::size_t end = source.find('\n');
    std::string_view line = source.substr(0, end);
    source = end == std::string_view::npos ? std::string_view{} : source.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);  // a table saved with CR LF line ends
    }
    while (!line.empty() && IsBlank(line.front())) {
      line.remove_prefix(1);
    }
    if (line.empty() || line.front() == '#') {
      continue;
    }

    int id = 0;
    const auto [idEnd, ec] = std::from_chars(line.data(), line.data() + line.size(), id);
    if (ec != std::errc{} || idEnd == line.data() || id <= 0) {
      Report(errors, lineNo, "expected a positive id");
      continue;
    }
    std::string_view rest = line.substr(static_cast<std::size_t>(idEnd - line.data()));
    if (rest.empty() || !IsBlank(rest.front())) {
      Report(errors, lineNo, "expected a blank after the id");
      continue;
    }
    while (!rest.empty() && IsBlank(rest.front())) {
      rest.remove_prefix(1);
    }

    std::string text;
    std::string_view problem;
    const std::optional<std::string_view> after = ReadQuoted(rest, text, problem);
    if (!after) {
      Report(errors, lineNo, problem);
      continue;
    }
    if (after->find_first_not_of(" \t") != std::string_view::npos) {
      Report(errors, lineNo, "text after the closing quote");
      continue;
    }
    if (!table.emplace(id, std::move(text)).second) {
      Report(errors, lineNo, "duplicate id " + std::to_string(id) + ", first kept");
    }
  }
  return table;
}

}  // namespace install

std::string LoadTableString(int id) {
  // Parsed once; the resource is part of the program, so its entries never
  // change while it runs.
  static const std::map<int, std::string> table = [] {
    QFile file(QString::fromLatin1(install::kTableResource));
    if (!file.open(QIODevice::ReadOnly)) {
      return std::map<int, std::string>{};
    }
    const QByteArray bytes = file.readAll();
    return install::ParseStringTable(std::string_view(bytes.constData(), bytes.size()));
  }();
  const auto entry = table.find(id);
  if (entry == table.end()) {
    return {};
  }
  return entry->second.substr(0, install::kTableStringLimit);
}
