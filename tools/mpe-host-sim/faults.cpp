// Parsing and lookup of the fault plan.
#include "faults.h"

#include <QStringList>

namespace faults {

namespace {

QString nameOf(const PointEntry& entry) {
  return QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

const PointEntry* findPoint(const QString& name) {
  for (const PointEntry& entry : kPoints) {
    if (name == nameOf(entry))
      return &entry;
  }
  return nullptr;
}

// Splits "KIND:ARG:REST" into the point and what follows it.
std::pair<QString, QString> splitPoint(const QString& faultText) {
  QStringList parts = faultText.split(':');
  const PointEntry* entry = findPoint(parts.first().trimmed().toLower());
  const int pointParts = entry && entry->argument != PointArgument::None ? 2 : 1;
  const QString point = parts.mid(0, pointParts).join(':');
  const QString rest = parts.mid(pointParts).join(':');
  return {point, rest};
}

}  // namespace

PointName pointName(Point point) {
  Q_ASSERT(pointEntry(point).argument == PointArgument::None);
  return PointName(nameOf(pointEntry(point)));
}

PointName pointName(Point point, int number) {
  Q_ASSERT(pointEntry(point).argument == PointArgument::Number);
  return PointName(nameOf(pointEntry(point)) + ":" + QString::number(number));
}

PointName pointName(Point point, const QString& verb) {
  Q_ASSERT(pointEntry(point).argument == PointArgument::Verb);
  return PointName(nameOf(pointEntry(point)) + ":" + verb.toUpper());
}

QString pointPattern(const PointEntry& entry) {
  switch (entry.argument) {
    case PointArgument::None:
      break;
    case PointArgument::Number:
      return nameOf(entry) + ":N";
    case PointArgument::Verb:
      return nameOf(entry) + ":VERB";
  }
  return nameOf(entry);
}

std::optional<QString> normalizePoint(const QString& text, QString* error) {
  const QString kind = text.section(':', 0, 0).trimmed().toLower();
  const QString arg = text.section(':', 1).trimmed();
  const PointEntry* entry = findPoint(kind);
  if (entry) {
    switch (entry->argument) {
      case PointArgument::None:
        if (arg.isEmpty())
          return kind;
        break;
      case PointArgument::Verb:
        if (!arg.isEmpty() && !arg.contains(' '))
          return pointName(entry->point, arg).text();
        break;
      case PointArgument::Number: {
        bool ok = false;
        const int n = arg.toInt(&ok);
        if (ok && n >= 1)
          return pointName(entry->point, n).text();
        break;
      }
    }
  }
  *error = QString("unknown point '%1' (see --help for the list)").arg(text);
  return std::nullopt;
}

bool FaultPlan::add(Action action, const QString& faultText, QString* error) {
  Fault f{action, QString(), 0};
  QString pointText = faultText;
  if (action == Action::ReadLength) {
    pointText = faultText.section('=', 0, 0);
    bool ok = false;
    f.value = faultText.section('=', 1).toInt(&ok);
    if (!faultText.contains('=') || !ok || f.value < 0 || f.value > 65535) {
      *error = QString("'%1': expected POINT=LENGTH with a length of 0 to 65535").arg(faultText);
      return false;
    }
  } else if (action == Action::Chatter) {
    static const QStringList kinds = {"negotiation", "output", "trickle"};
    pointText = faultText.section('=', 0, 0);
    f.value = static_cast<int>(kinds.indexOf(faultText.section('=', 1).toLower()));
    if (!faultText.contains('=') || f.value < 0) {
      *error =
          QString("'%1': expected POINT=negotiation, POINT=output or POINT=trickle").arg(faultText);
      return false;
    }
  } else if (action == Action::Terminate) {
    const auto [point, reason] = splitPoint(faultText);
    pointText = point;
    f.value = kDefaultTerminateReason;
    if (!reason.isEmpty()) {
      bool ok = false;
      f.value = reason.toInt(&ok);
      if (!ok || f.value < 0 || f.value > 65535) {
        *error = QString("'%1': the reason must be a number from 0 to 65535").arg(faultText);
        return false;
      }
    }
  }
  const std::optional<QString> point = normalizePoint(pointText, error);
  if (!point)
    return false;
  f.point = *point;
  faults_ << f;
  return true;
}

QList<Fault> FaultPlan::at(const QString& point) const {
  QList<Fault> out;
  for (const Fault& f : faults_) {
    if (f.point == point)
      out << f;
  }
  return out;
}

QString actionName(Action action) {
  switch (action) {
    case Action::Drop:
      return "drop";
    case Action::Reset:
      return "reset";
    case Action::Terminate:
      return "terminate";
    case Action::Silent:
      return "silence";
    case Action::BadVersion:
      return "bad version byte";
    case Action::ShortLength:
      return "length below 10";
    case Action::ReadLength:
      return "read length";
    case Action::StopReading:
      return "stop reading";
    case Action::Chatter:
      return "chatter";
  }
  return "?";
}

}  // namespace faults
