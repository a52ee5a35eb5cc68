#include "application.h"

#include "dialogs.h"

#include <QApplication>

void ConfigureApplication() {
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);  // the window ends the program itself
}
