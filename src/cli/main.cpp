// zorbelix-install: the unattended installer. Everything but the
// application object lives in the cli library (program.cpp).
#include "cli/program.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  return cli::RunInstaller(QCoreApplication::arguments());
}
