// Quillmere: copies tables between Visual FoxPro databases and MySQL/MariaDB, both ways.
#include <QApplication>

#include "platform/application.h"
#include "shell/form1.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
  QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
  // Closing the connection window or the main window ends the program explicitly; a message box
  // closed while neither is visible yet (during start-up) must not.
  QApplication::setQuitOnLastWindowClosed(false);

  platform::Application app;
  QApplication::setWindowIcon(app.icon());

  // "Next >" hands on to the main window through app.mainWindow (platform/application.h). The
  // main window comes with the table catalogue; wire it here when it lands, for example:
  //   app.mainWindow.fillFoxproList = [&](const std::string& cs) {
  //     Foxpro::AddTablesToFoxproListbox(*app.window<Form2>().List2, cs); };
  //   app.mainWindow.fillMySqlList = [&] {
  //   MySQL::AddTablesToMySQLListbox(*app.window<Form2>().List1); }; app.mainWindow.show = [&] {
  //   app.window<Form2>().showCentred(); }; app.showConnectionWindow = [&] {
  //   app.window<Form1>().show(); };
  app.showConnectionWindow = [&app] { app.window<Form1>().show(); };

  app.window<Form1>().start();
  if (app.ending()) return 0;
  return qapp.exec();
}
