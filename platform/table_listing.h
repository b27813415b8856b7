// The tables of each database, for everything that lists them: the main window's two lists, the
// transfers refilling a list after the preview closed, and the command-line transfer tool.
//
// The names come from ado/table_names.h, read without any window. The list fillers replace a list's
// whole content (earlier entries and selections go) and yield to window events once per table they
// add, so a long catalogue keeps the window live. They report failures through the error trap; a
// listing whose connection or catalogue cannot be read leaves the list empty.
//
// A listing started while an earlier one of the same list is still yielding supersedes it: the
// earlier one stops adding, so the list holds one listing, never two mixed.
#pragma once

#include <string>
#include <vector>

#include "ado/table_names.h"

class QListWidget;

namespace platform {

// The names the lists show, read without any window (ado/table_names.h).
using ado::FoxproTableNames;
using ado::MySqlTableNames;

// The selected entries of a table list, from the bottom of the list up: the order in which the
// transfers handle the chosen tables. Whatever made the selection (mouse, keyboard, "Select
// All") counts; the current entry plays no part.
std::vector<std::string> ChosenTables(const QListWidget& list);
// Every entry of a list, top down.
std::vector<std::string> ListedTables(const QListWidget& list);

}  // namespace platform

namespace Foxpro {

// Fills the list with FoxproTableNames(connectionString).
void AddTablesToFoxproListbox(QListWidget& list, const std::string& connectionString);

}  // namespace Foxpro

namespace MySQL {

// Fills the list with MySqlTableNames of the connection window's current MySQL settings, or of
// the connection string given.
void AddTablesToMySQLListbox(QListWidget& list);
void AddTablesToMySQLListbox(QListWidget& list, const std::string& connectionString);

}  // namespace MySQL
