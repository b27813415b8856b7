// The tables of each database, read from its catalogue without any window: for the main
// window's two lists, the transfers refilling a list, and the command-line transfer tool.
#pragma once

#include <string>
#include <vector>

#include "ado/dataaccess.h"

namespace ado {

// The tables (catalogue rows whose TABLE_TYPE is exactly "TABLE": no views, no system tables)
// of the FoxPro database or free-table folder that the connection string names, in catalogue
// order. Throws the data-access error when the catalogue cannot be read.
std::vector<std::string> FoxproTableNames(const std::string& connectionString);
// Every name "SHOW TABLES;" returns, views included, in the server's order. Throws likewise.
// waiting: see Connection::setWaiting.
std::vector<std::string> MySqlTableNames(const std::string& connectionString,
                                         const Waiting& waiting = {});

}  // namespace ado
