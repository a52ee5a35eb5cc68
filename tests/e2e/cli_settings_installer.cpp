// zorbelix-install with settings of its own for the installation group and
// account (PUB and SYS, both editable), so that the end-to-end test can
// choose a group that needs confirmation; the shipped settings fix both.
#include "cli/program.h"
#include "install/installtarget.h"
#include "install/stringtable.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  return cli::RunInstaller(QCoreApplication::arguments(), [](int id) {
    if (id == install::kIdDefaultGroup) {
      return std::string("PUB");
    }
    if (id == install::kIdDefaultAccount) {
      return std::string("SYS");
    }
    return LoadTableString(id);
  });
}
