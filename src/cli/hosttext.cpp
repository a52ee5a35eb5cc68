#include "cli/hosttext.h"

#include "install/asciitext.h"

#include <array>
#include <vector>

namespace cli {

namespace {

using install::Trimmed;

const char kPasswordWord[] = "PASSWORD";

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kLastC1 = 0x9F;
constexpr unsigned char kControlBits = 0x1F;  // a C0 or C1 character's place in its set
constexpr unsigned char kCaretOffset = 0x40;  // ESC (0x1B) shows as ^[ (0x5B)
const char kC1Prefix[] = "M-";
const char kErrorMark[] = "ERR";

struct KindWord {
  PasswordKind kind;
  const char* word;
};
constexpr std::array<KindWord, kPasswordKinds> kKindWords = {{
    {PasswordKind::User, "USER"},
    {PasswordKind::Account, "ACCOUNT"},
    {PasswordKind::Group, "GROUP"},
}};

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
      if (i > start) {
        lines.push_back(text.substr(start, i - start));
      }
      start = i + 1;
    }
  }
  return lines;
}

// The text with every "(...)" removed.
std::string WithoutParentheses(std::string_view text) {
  std::string kept;
  int depth = 0;
  for (char c : text) {
    if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0) {
      kept.push_back(c);
    }
  }
  return kept;
}

bool HoldsWord(std::string_view text, std::string_view word) {
  const auto isLetter = [](char c) { return c >= 'A' && c <= 'Z'; };
  for (std::size_t at = text.find(word); at != std::string_view::npos;
       at = text.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    if ((at == 0 || !isLetter(text[at - 1])) && (end == text.size() || !isLetter(text[end]))) {
      return true;
    }
  }
  return false;
}

}  // namespace

const char* PasswordKindName(PasswordKind kind) {
  switch (kind) {
    case PasswordKind::User:
      return "user";
    case PasswordKind::Account:
      return "account";
    case PasswordKind::Group:
      return "group";
  }
  return "unknown";
}

std::optional<PasswordKind> PasswordKindIn(std::string_view hostText) {
  const std::vector<std::string_view> lines = Lines(hostText);
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    const std::string upper = WithoutParentheses(install::UpperAscii(std::string(*line)));
    if (upper.find(kPasswordWord) == std::string::npos) {
      continue;
    }
    for (const KindWord& entry : kKindWords) {
      if (HoldsWord(upper, entry.word)) {
        return entry.kind;
      }
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::string ErrorLineIn(std::string_view hostText) {
  const std::vector<std::string_view> lines = Lines(hostText);
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (install::UpperAscii(std::string(*line)).find(kErrorMark) != std::string::npos) {
      return std::string(Trimmed(*line, install::IsBlankOrControl));
    }
  }
  return {};
}

std::string FirstLineIn(std::string_view hostText) {
  for (std::string_view line : Lines(hostText)) {
    if (const std::string_view trimmed = Trimmed(line, install::IsBlankOrControl);
        !trimmed.empty()) {
      return std::string(trimmed);
    }
  }
  return {};
}

std::string OneLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    const char shown = (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    if (shown == ' ' && (line.empty() || line.back() == ' ')) {
      continue;
    }
    line.push_back(shown);
  }
  while (!line.empty() && line.back() == ' ') {
    line.pop_back();
  }
  return line;
}

std::string VisibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\t' || (byte >= kFirstPrintable && byte < kDelete) || byte > kLastC1) {
      shown.push_back(c);
      continue;
    }
    if (byte > kDelete) {
      shown += kC1Prefix;
    }
    shown.push_back('^');
    shown.push_back(byte == kDelete ? '?'
                                    : static_cast<char>((byte & kControlBits) + kCaretOffset));
  }
  return shown;
}

}  // namespace cli
