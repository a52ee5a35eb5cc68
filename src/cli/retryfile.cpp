#include "cli/retryfile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace cli {

namespace {

const char kHeading[] = "# hosts that did not install: zorbelix-install --hosts THIS_FILE\n";

bool NeedsRetry(Outcome outcome) {
  return ExitStatusFor(outcome) != kExitInstalled;
}

QString Local(const std::string& path) {
  return QString::fromLocal8Bit(path.c_str());
}

}  // namespace

std::string RetryList(const std::vector<HostPlan>& plans, const std::vector<HostResult>& results) {
  std::string list = kHeading;
  for (std::size_t i = 0; i < plans.size() && i < results.size(); ++i) {
    if (NeedsRetry(results[i].outcome)) {
      list += plans[i].entry.Label() + " " + plans[i].entry.logon.Text() + "\n";
    }
  }
  return list;
}

std::string CheckRetryFile(const std::string& path) {
  const QFileInfo file(Local(path));
  const QFileInfo folder(file.absolutePath());
  if (file.isDir()) {
    return "the retry file " + path + " is a folder";
  }
  if (!folder.isDir() || !folder.isWritable()) {
    return "cannot write the retry file " + path + ": its folder is missing or not writable";
  }
  return {};
}

std::string WriteRetryFile(const std::string& path, const std::string& list) {
  QSaveFile file(Local(path));
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(list.data(), static_cast<qint64>(list.size())) !=
          static_cast<qint64>(list.size()) ||
      !file.commit()) {
    return "cannot write the retry file " + path + ": " + file.errorString().toStdString();
  }
  return {};
}

}  // namespace cli
