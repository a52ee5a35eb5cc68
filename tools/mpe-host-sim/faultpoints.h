// The points of the dialogue where a fault can be armed: one list, which the
// markPoint calls name by enumerator, the option parser and --help read, and
// a test checks against the README and the man page. A misspelt point does
// not compile (markPoint takes only a PointName); a point missing from the
// documents fails that test.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

namespace faults {

enum class Point {
  Connect,
  Logon,
  Password,
  AfterLogon,
  Command,
  FcopyRecord,
  FcopyEnd,
  Challenge,
  Descriptor,
  Header,
  BlockConfirm,
  Block,
};

// What follows a point's name after a ":" (a family of points).
enum class PointArgument {
  None,
  Number,  // from 1: "block:3"
  Verb,    // an MPE command, upper case: "command:BUILD"
};

struct PointEntry {
  Point point;
  std::string_view name;
  PointArgument argument;
  const char* meaning;  // for --help
};

inline constexpr std::array kPoints{
    PointEntry{Point::Connect, "connect", PointArgument::None,
               "before the host's first message (the negotiation request)"},
    PointEntry{Point::Logon, "logon", PointArgument::None, "the read after each MPE XL: prompt"},
    PointEntry{Point::Password, "password", PointArgument::None,
               "the read after each password prompt"},
    PointEntry{Point::AfterLogon, "after-logon", PointArgument::None,
               "the first \":\" read after a successful logon"},
    PointEntry{Point::Command, "command", PointArgument::Verb,
               "the read after the command VERB (RUN: the program's first read; BYE: the close)"},
    PointEntry{Point::FcopyRecord, "fcopy-record", PointArgument::Number,
               "FCOPY's status read before record N (from 1; :EOD answers the one after the last)"},
    PointEntry{Point::FcopyEnd, "fcopy-end", PointArgument::None,
               "FCOPY's \">\" read after it reported the record count"},
    PointEntry{Point::Challenge, "challenge", PointArgument::None,
               "the host program's read for the echo of the challenge"},
    PointEntry{Point::Descriptor, "descriptor", PointArgument::None,
               "its read of 1032 for the descriptor block"},
    PointEntry{Point::Header, "header", PointArgument::None,
               "its read of 1032 for the header block (binary transfers)"},
    PointEntry{Point::BlockConfirm, "block-confirm", PointArgument::None,
               "its read of 1 that \"1\" answers"},
    PointEntry{Point::Block, "block", PointArgument::Number,
               "its read of 1032 for data block N (from 1; the one after the last: the end block)"},
};

// The table is indexed by the enumerator, so the two must stay in step.
constexpr bool pointsInEnumOrder() {
  for (std::size_t i = 0; i < kPoints.size(); ++i) {
    if (static_cast<std::size_t>(kPoints[i].point) != i)
      return false;
  }
  return kPoints.back().point == Point::Block;
}
static_assert(pointsInEnumOrder(), "kPoints must list every Point in enumerator order");

constexpr const PointEntry& pointEntry(Point point) {
  return kPoints[static_cast<std::size_t>(point)];
}

// A point's name as the fault options give it: "logon", "block:3",
// "command:BUILD". Only the functions below make one, from the table, so a
// point the host marks is always one the options can name.
class PointName {
public:
  const QString& text() const { return text_; }

private:
  explicit PointName(QString text) : text_(std::move(text)) {}
  friend PointName pointName(Point point);
  friend PointName pointName(Point point, int number);
  friend PointName pointName(Point point, const QString& verb);

  QString text_;
};

// The argument must be the one the point takes.
PointName pointName(Point point);
PointName pointName(Point point, int number);
PointName pointName(Point point, const QString& verb);

// A point's name with its argument as a placeholder: "block:N".
QString pointPattern(const PointEntry& entry);

}  // namespace faults
