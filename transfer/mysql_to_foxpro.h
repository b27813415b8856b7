// "Send Table/s To FoxPro": turns the selected MySQL tables into a FoxPro script (a drop after an
// accepted overwrite, one creation and one insertion per row) that the preview window runs when
// the user asks for it. Nothing on the FoxPro side changes while the script is built: the
// creation command replaces an existing table only when the script is executed.
//
// BuildFoxproScript is the whole transfer over narrow inputs, so it runs in tests and benchmarks
// without a window; SendTablesToFoxpro wires it to the main window.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.h"

namespace ado {
class Connection;
}

namespace platform {
struct MainWindowView;
}

namespace transfer {

// The folder the new tables go to: the container's folder when a .dbc is chosen, else the
// free-table folder, ending in a separator ("\" when the path uses them, else "/"). An empty
// folder stays empty, so the tables land beside the database the script runs on rather than
// in the file system's root.
std::string FoxproTargetFolder(const platform::ConnectionFields& fields);

// Opens the run's one MySQL connection: server-side cursor, so rows stream and a large table
// never sits in memory whole; command and connection time-outs of 5000 seconds.
void OpenSourceConnection(ado::Connection& mysql, const std::string& connectionString);

// What the caller supplies to one script build. Every member must be set.
struct FoxproScriptHooks {
  // True when the FoxPro side already lists a table of that name, letter case ignored.
  std::function<bool(const std::string& table)> targetHas;
  // Asked for such a table: true overwrites it, false skips the table entirely.
  std::function<bool(const std::string& table)> confirmOverwrite;
  // A column name that reads as a number: the name to use instead, as typed.
  std::function<std::string(const std::string& bareName)> renameNumericColumn;
  // Before a table's rows (0, total) and after each row (done, total).
  std::function<void(long long done, long long total)> progress;
  // An overwrite was accepted: the table's lowercase name is dropped by the script.
  std::function<void(const std::string& lowercaseName)> tableDropped;
  // All commands of the table are out.
  std::function<void(const std::string& table)> tableScripted;
  // Receives each command, one line's worth, without a line break. The view is valid only
  // during the call.
  std::function<void(std::string_view command)> command;
};

struct FoxproScriptSummary {
  int tablesScripted = 0;
  int tablesDeclined = 0;
  long long commands = 0;
};

// Reads each table ("SELECT * FROM `name`", its rows counted first for the progress) on the
// open connection, in the order given (the
// main window passes its selection from the bottom of the list up), and hands out its commands.
// Throws the data-access layer's error, with the table named, when a table cannot be read.
FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const std::string& targetFolder,
                                      const FoxproScriptHooks& hooks);

// The main window's "Send Table/s To FoxPro".
void SendTablesToFoxpro(platform::MainWindowView& view);

}  // namespace transfer
