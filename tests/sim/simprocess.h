// mpe-host-sim as a child process of a simulator test, on a free port with
// a fresh store whose files the test reads back.
#pragma once

#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include "simchild.h"

class SimProcess : public support::SimChild {
public:
  // Starts the simulator with `args` plus --listen 127.0.0.1:0 and --store;
  // waits for it to listen. False when it did not come up.
  bool start(const QStringList& args);

  QString storePath(const QString& account, const QString& group, const QString& file) const;
  QByteArray storedBytes(const QString& account, const QString& group, const QString& file) const;
  // The attribute side file as key=value pairs.
  QMap<QString, QString> attributes(const QString& account, const QString& group,
                                    const QString& file) const;

  QTemporaryDir store;
};
