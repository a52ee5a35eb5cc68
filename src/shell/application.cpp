#include "shell/application.h"

#include "shell/dialogs.h"

#include <QApplication>

namespace shell {

void ConfigureApplication() {
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);  // the window ends the program itself
}

}  // namespace shell
