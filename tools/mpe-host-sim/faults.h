// Faults the host commits on request, at named points of the dialogue
// (faultpoints.h). Each fault fires at most once per session, in every
// session of the run or in the first N (SessionSettings::faultSessions).
#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "faultpoints.h"

namespace faults {

enum class Action {
  Drop,         // close the connection normally
  Reset,        // abort it with a TCP reset
  Terminate,    // send a termination request with `value` as the reason
  Silent,       // send nothing more, keep the connection open
  BadVersion,   // send a TERM_IO whose version byte is not 2, then go on
  ShortLength,  // send a header whose length field is below 10, then go on
  ReadLength,   // post the read with `value` as its length
  StopReading,  // read nothing more from the socket, and flood set-break requests
  Chatter,      // never ask for input again, but keep talking: `value` a ChatterKind
};

// What a chattering host keeps sending.
enum class ChatterKind {
  Negotiation,  // a negotiation request every second
  Output,       // terminal output, as fast as it goes
  Trickle,      // one byte every two seconds of a message that never completes
};

struct Fault {
  Action action;
  QString point;  // normalized: lower-case kind, upper-case command verb
  int value = 0;
};

// Brings a point name into its normal form, or explains why it is not one.
std::optional<QString> normalizePoint(const QString& text, QString* error);

class FaultPlan {
public:
  static constexpr int kDefaultTerminateReason = 2;  // STOP CANCEL FROM OP

  // Adds a fault from its option argument: POINT for most actions,
  // POINT[:REASON] for Terminate, POINT=LENGTH for ReadLength,
  // POINT=negotiation|output|trickle for Chatter.
  bool add(Action action, const QString& faultText, QString* error);
  QList<Fault> at(const QString& point) const;
  bool empty() const { return faults_.isEmpty(); }

private:
  QList<Fault> faults_;
};

QString actionName(Action action);

}  // namespace faults
