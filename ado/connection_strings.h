// The program's two connection strings, built from the connection's fields at the moment of use;
// no string is ever cached. Every operation that opens a database (tests, listings, deletion,
// renaming, transfers, script execution) builds its string here.
//
// FoxPro:  "Provider=vfpoledb.1;Data Source=<path>;Collating Sequence=machine;" for a .dbc file,
//          "...;Collating Sequence=general;" for a folder of free tables.
// MySQL:   "DRIVER={MySQL ODBC 5.1 Driver};SERVER=..;PORT=..;USER=..;DATABASE=..;PASSWORD=..;"
//          (the database before the password).
// Values are inserted as typed; only a value containing ";" or starting with "{" is written in
// braces with "}" doubled inside, so that such a password or path reaches the server whole.
#pragma once

#include <string>

namespace ado {

// The fields both strings are built from, as UTF-8.
struct ConnectionFields {
  bool useDbcFile = true;
  std::string dbcFile;
  std::string freeTableFolder;
  std::string server;
  std::string port;
  std::string user;
  std::string password;
  std::string database;
  // More MySQL connection-string keys ("SSLMODE=VERIFY_IDENTITY;SSLCA=/path/ca.pem"), appended
  // as written (surrounding white space dropped).
  std::string mysqlOptions;
};

std::string FoxproConnectionString(const ConnectionFields& fields);
std::string MySQLConnectionString(const ConnectionFields& fields);

}  // namespace ado
