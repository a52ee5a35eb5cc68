// The command line of mpe-host-sim.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "session.h"

struct SimOptions {
  QHostAddress address = QHostAddress::LocalHost;
  quint16 port = 1570;
  int listenCount = 1;  // listeners at consecutive addresses from `address`, each its own store
  QString storeDir;     // empty: a fresh temporary folder
  QString transcriptFile;
  bool once = false;
  int maxSessions = 32;                    // connections beyond it are closed at once
  QList<QPair<QString, QString>> expects;  // host file name, local path
  QList<QPair<QString, QString>> puts;     // FILE[.GROUP.ACCOUNT][:CODE], local path
  QStringList inUse;
  SessionSettings session;
};

enum class ParseResult { Run, Help, Error };

// Parses the arguments (program name first). On Help, *text holds the help;
// on Error, the message.
ParseResult parseOptions(const QStringList& arguments, SimOptions* options, QString* text);
