// zorbelix-install with settings of its own for the installation group and
// account (PUB and SYS, both editable), so that the end-to-end test can
// choose a group that needs confirmation; the shipped settings fix both.
// E2E_SCRIPT_LINE=ID=LINE puts LINE in place of script line ID.
#include "cli/program.h"
#include "install/installtarget.h"
#include "install/stringtable.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  const QString replaced = qEnvironmentVariable("E2E_SCRIPT_LINE");
  const int replacedId = replaced.section('=', 0, 0).toInt();
  const std::string replacedLine = replaced.section('=', 1).toStdString();
  return cli::RunInstaller(QCoreApplication::arguments(), [=](int id) {
    if (replacedId != 0 && id == replacedId) {
      return replacedLine;
    }
    if (id == install::kIdDefaultGroup) {
      return std::string("PUB");
    }
    if (id == install::kIdDefaultAccount) {
      return std::string("SYS");
    }
    return LoadTableString(id);
  });
}
