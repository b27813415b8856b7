// The main window's two send buttons: each builds its script with the transfer core
// (transfer/foxpro_to_mysql.h, transfer/mysql_to_foxpro.h) from the window's lists and the
// connection window's fields, and shows it in a new preview window.
#pragma once

namespace platform {
struct MainWindowView;
}

namespace transfer {

// "Send Table/s To MySQL" of the main window: "Please select a table to send." without a
// selected FoxPro entry; else the script and jobs into a new preview window (a MySQL script), shown
// modally; afterwards the MySQL list is refilled from the server.
void SendTablesToMySql(platform::MainWindowView& view);

// "Send Table/s To FoxPro" of the main window: "Please select a table" without a selected MySQL
// entry; else the script into a new preview window (a FoxPro script), shown modally when it holds
// a command or names a table left out; afterwards the FoxPro list shows what the database holds.
void SendTablesToFoxpro(platform::MainWindowView& view);

}  // namespace transfer
