// Filling the main window's table lists from the databases. Each listing opens its own
// connection, replaces the list's whole content (earlier entries and selections go), and yields
// to window events once per table it adds, so a long catalogue keeps the window live. Failures
// are reported through the error trap; a listing whose connection or catalogue cannot be read
// leaves the list empty.
//
// A listing started while an earlier one of the same list is still yielding supersedes it: the
// earlier one stops adding, so the list holds one listing, never two mixed.
#pragma once

#include <string>

class QListWidget;

namespace Foxpro {

// The tables (catalogue rows whose TABLE_TYPE is exactly "TABLE": no views, no system tables)
// of the FoxPro database or free-table folder that the connection string names.
void AddTablesToFoxproListbox(QListWidget& list, const std::string& connectionString);

}  // namespace Foxpro

namespace MySQL {

// Every name "SHOW TABLES;" returns, views included, from the connection window's current
// MySQL settings.
void AddTablesToMySQLListbox(QListWidget& list);

}  // namespace MySQL
