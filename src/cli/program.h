// zorbelix-install as a whole: the command line read and checked, the
// hosts, passwords and traces set up, the installations run on the event
// loop, and the exit status. main() only makes the application object.
#pragma once

#include "install/run.h"

#include <QStringList>

namespace cli {

// arguments: the program's name first. table: the string table (empty: the
// program's own). Needs a QCoreApplication; runs its event loop.
int RunInstaller(const QStringList& arguments, const install::TableLookup& table = {});

}  // namespace cli
