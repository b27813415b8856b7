// The program's two connection strings, built from the connection window's fields at the moment
// of use; no string is ever cached. Every operation that opens a database (tests, listings,
// deletion, renaming, transfers, script execution) builds its string here.
//
// FoxPro:  "Provider=vfpoledb.1;Data Source=<path>;Collating Sequence=machine;" for a .dbc file,
//          "...;Collating Sequence=general;" for a folder of free tables.
// MySQL:   "DRIVER={MySQL ODBC 5.1 Driver};SERVER=..;PORT=..;USER=..;DATABASE=..;PASSWORD=..;"
//          (the database before the password).
// Values are inserted as typed; only a value containing ";" or starting with "{" is written in
// braces with "}" doubled inside, so that such a password or path reaches the server whole.
#pragma once

#include <string>

#include "platform/application.h"

namespace platform {

std::string FoxproConnectionString(const ConnectionFields& fields);
std::string MySQLConnectionString(const ConnectionFields& fields);

// The stored setting that names the code page of FoxPro tables whose header names none.
inline constexpr const char* kFoxproCodePageSetting = "FoxproCodePage";
// The code page fields.foxproCodePage names; 0 when it is empty (judge from the text). Throws
// platform::Error, naming the setting, when it names no code page FoxPro knows.
int UnmarkedFoxproCodePage(const ConnectionFields& fields);

}  // namespace platform

// From the connection window's current fields (Application::current().connectionFields); throw
// platform::Error when no connection window exists.
std::string FoxproConnectionString();
std::string MySQLConnectionString();
int UnmarkedFoxproCodePage();
