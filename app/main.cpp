// Quillmere: copies tables between Visual FoxPro databases and MySQL/MariaDB, both ways.
#include <QApplication>

#include "catalogue/form2.h"
#include "platform/application.h"
#include "preview/send_tables.h"
#include "shell/form1.h"
#include "transfer/foxpro_to_mysql.h"
#include "transfer/mysql_to_foxpro.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
  QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
  // Closing the connection window or the main window ends the program explicitly; a message box
  // closed while neither is visible yet (during start-up) must not.
  QApplication::setQuitOnLastWindowClosed(false);

  platform::Application app;
  QApplication::setWindowIcon(app.icon());

  // "Next >" fills the main window's lists and shows it; its "< Back" shows the connection
  // window again.
  WireMainWindow(app);
  WireConnectionWindow(app);

  // The main window's send buttons start the transfers (platform/main_window_view.h).
  app.transfers.sendToFoxpro = transfer::SendTablesToFoxpro;
  app.transfers.sendToMySql = transfer::SendTablesToMySql;

  app.window<Form1>().start();
  if (app.ending()) return 0;
  return qapp.exec();
}
