// The program's two connection strings, built from the connection window's fields at the moment
// of use (the builders themselves: ado/connection_strings.h), and the setting that names the code
// page of tables whose header names none.
#pragma once

#include <QString>
#include <string>

#include "ado/connection_strings.h"

namespace platform {

// The connection window's fields at one moment, from which both connection strings are built.
struct ConnectionFields {
  bool useDbcFile = true;   // Option1 "DBC File:" selected; otherwise the free-table folder
  QString dbcFile;          // Text1
  QString freeTableFolder;  // Text2
  QString server;           // Text3
  QString port;             // Text4
  QString user;             // Text5
  QString password;         // Text6
  QString database;         // Text7
  // More MySQL connection-string keys ("SSLMODE=VERIFY_IDENTITY;SSLCA=/path/ca.pem"), from the
  // stored setting MySQLOptions; the window has no field for them.
  QString mysqlOptions;
  // The code page of FoxPro tables whose header names none, from the stored setting
  // FoxproCodePage ("866"); empty: judged per table from the text.
  QString foxproCodePage;
};

// The same fields as UTF-8, for the data-access layer.
ado::ConnectionFields ToAdo(const ConnectionFields& fields);

std::string FoxproConnectionString(const ConnectionFields& fields);
std::string MySQLConnectionString(const ConnectionFields& fields);

// The stored setting that names the code page of FoxPro tables whose header names none.
inline constexpr const char* kFoxproCodePageSetting = "FoxproCodePage";
// The code page fields.foxproCodePage names; 0 when it is empty (judge from the text). Throws
// platform::Error, naming the setting, when it names no code page FoxPro knows.
int UnmarkedFoxproCodePage(const ConnectionFields& fields);

}  // namespace platform
