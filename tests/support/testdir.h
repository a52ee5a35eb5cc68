// Runs a test in a fresh temporary folder, where script files and the trace
// are made, and goes back to the previous folder after it.
#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

namespace support {

class InTempDir {
public:
  InTempDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~InTempDir() { QDir::setCurrent(previous_); }
  QString Path(const QString& name) const { return dir_.filePath(name); }

private:
  QString previous_;
  QTemporaryDir dir_;
};

}  // namespace support
