// zorbelix-install with settings of its own for the installation group and
// account (PUB and SYS, both editable), so that the end-to-end test can
// choose a group that needs confirmation; the shipped settings fix both.
// E2E_SCRIPT_LINE=ID=LINE puts LINE in place of script line ID.
// E2E_RESOLVER=silent gives the hosts' names to a resolver that never
// answers, E2E_RESOLVER=slow:MS to one that answers "slow.example" after MS.
#include "cli/program.h"
#include "install/installtarget.h"
#include "install/stringtable.h"
#include "nsvt/hostlookup.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

namespace {

void InstallTestResolver(const QString& kind) {
  if (kind == "silent") {
    // Sleeps rather than waits on a condition, whose destruction at exit
    // would wait for this thread in turn.
    nsvt::SetDefaultReverseResolver([](const QString&) {
      for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
      }
      return QString();
    });
  } else if (kind.startsWith("slow:")) {
    const int delayMs = kind.section(':', 1).toInt();
    nsvt::SetDefaultReverseResolver([delayMs](const QString&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      return QStringLiteral("slow.example");
    });
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  InstallTestResolver(qEnvironmentVariable("E2E_RESOLVER"));
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
