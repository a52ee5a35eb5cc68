// Program start: the application title, the one window, the event loop.
#include "shell/TNSVT.h"
#include "shell/application.h"
#include "shell/dialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  shell::ConfigureApplication();

  shell::QtDialogs dialogs;
  shell::TNSVT::Platform platform;
  platform.dialogs = &dialogs;
  platform.arguments = QApplication::arguments().mid(1);
  shell::TNSVT window(std::move(platform));
  QObject::connect(
      &window, &shell::TNSVT::ApplicationEnd, &application,
      [](int status) { QCoreApplication::exit(status); }, Qt::QueuedConnection);
  window.setWindowTitle(shell::kWindowCaption);
  window.show();
  return QApplication::exec();
}
