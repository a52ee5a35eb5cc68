// The password file and the environment on Windows.
#include "cli/passwords_platform.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace cli {

// On Windows the file's access list is left to the user.
std::string ReadPasswordFile(const std::string& path, std::string& text) {
  QFile file(QString::fromLocal8Bit(path.c_str()));
  if (!file.open(QIODevice::ReadOnly)) {
    return "cannot read the password file " + path + ": " + file.errorString().toStdString();
  }
  text = file.readAll().toStdString();
  return {};
}

// Nothing here: the caller removes the variable.
void BlankEnvironmentValue(char* /*value*/) {}

}  // namespace cli
