// "Send Table/s To FoxPro": turns the selected MySQL tables into a FoxPro script (one creation
// and one insertion per row) that the preview window runs when the user asks for it. A table that
// replaces one FoxPro has (an accepted overwrite) is built under a name of its own; the script
// then drops the old table and renames the new one, so the old one stays until its replacement
// is complete. Nothing on the FoxPro side changes while the script is built.
//
// BuildFoxproScript is the whole transfer over narrow inputs, so it runs in tests and benchmarks
// without a window; SendTablesToFoxpro (preview/send_tables.h) wires it to the main window.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/connection_strings.h"
#include "transfer/script_job.h"

namespace ado {
class Connection;
}

namespace transfer {

// The folder the new tables go to: the container's folder when a .dbc is chosen, else the
// free-table folder, ending in a separator ("\" when the path uses them, else "/"). An empty
// folder stays empty, so the tables land beside the database the script runs on rather than
// in the file system's root.
std::string FoxproTargetFolder(const platform::ConnectionFields& fields);

// Where new FoxPro tables go and what they are made with.
struct FoxproTarget {
  std::string folder;          // as FoxproTargetFolder gives it
  bool container = false;      // a database container keeps long field names
  int codePage = 1252;         // of every new table
  std::string codePageReason;  // why that one, for the report
};

// The code page of the tables already in the target: the container's own (its .dbc file's
// mark), else the one most of the folder's tables carry; 0 when there is none to go by.
int CodePageOfTarget(const std::string& folder, const std::string& dbcFile);
// The Windows code page a locale name ("ru_RU", "el", "pl_PL.UTF-8") implies; 0 when none.
int CodePageOfLocale(const std::string& localeName);
// The target for the connection window's fields: folder, container or not, and the code page
// of the tables already there; when none of them names one, the one named for such tables
// (fields.foxproCodePage) or the one their text is judged to be in; else the locale's, else
// 1252. Throws platform::Error when fields.foxproCodePage names no FoxPro code page.
FoxproTarget ChooseFoxproTarget(const platform::ConnectionFields& fields,
                                const std::string& localeName);

// The name the FoxPro list shows for a table the script creates: FoxPro keeps a table's name in
// lower case.
std::string FoxproListedName(const std::string& table);

// Opens the run's one MySQL connection: server-side cursor, so rows stream and a large table
// never sits in memory whole; a command time-out of 5000 seconds for reading, while connecting
// keeps the usual connect limit (ado::DefaultLimits), so a server that never answers is given
// up in seconds.
void OpenSourceConnection(ado::Connection& mysql, const std::string& connectionString);

// What the caller supplies to one script build. Every function member must be set.
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
  // The last `count` commands handed out are taken back (each is one line: commands hold no
  // line break): a table whose reading broke off is left out whole. Without it (tests whose
  // server never goes away) such a break fails the whole build.
  std::function<void(long long count)> withdraw;
  // Optional: about this many more bytes of commands are coming (told once a table's first
  // rows show how long its lines are), so the receiver can make room once instead of growing
  // step by step.
  std::function<void(long long bytes)> expect;
  // Optional: receives each table's job (see HalfWrittenTableJob), to be run with the script.
  std::function<void(std::unique_ptr<ScriptJob> job)> job;
  // Optional: receives the report once the script is built. Without it the values are not
  // examined (a table left out is still reported in the summary).
  std::function<void(const std::string& report)> report;
  // Typed fields, keys and indexes (the window's "Keep types, keys and indexes",
  // quillmere-transfer --typed); false: the classic script, unchanged.
  bool typed = false;
};

// Takes away a FoxPro table that a run leaves half written. It runs (doing nothing) once the
// table's creation line has run and is settled by the first line after it that is not one of
// the table's insertions (for a table that replaces another: the drop of the old one). A run that
// fails or stops before then drops the new table, and the notes say so; an old table it was to
// replace is dropped only after that point, so it is as it was.
class HalfWrittenTableJob : public ScriptJob {
 public:
  // table: as the user knows it; path: the file built; created, inserted: that path delimited as
  // the creation and the insertions write it; replacing: the table takes an old one's place.
  HalfWrittenTableJob(std::string table, std::string path, const std::string& created,
                      const std::string& inserted, bool replacing);
  std::string table() const override { return table_; }
  bool runsAfter(const std::string& line) const override;
  void run(ado::Connection&, const std::function<void(int)>&, std::vector<std::string>&) override {}
  bool settledBy(std::string_view line) const override;
  void undo(ado::Connection& target, std::vector<std::string>& notes) override;
  std::string skippedNote() const override { return {}; }  // a missing creation loses nothing

 private:
  std::string table_;
  std::string path_;
  std::string createPrefix_;
  std::string insertPrefix_;
  std::string usePrefix_;
  std::string alterPrefix_;
  std::string drop_;
  bool replacing_;
};

struct FoxproScriptSummary {
  int tablesScripted = 0;
  int tablesDeclined = 0;
  int tablesLeftOut = 0;  // could not be sent; named in the report with the reason
  long long commands = 0;
  std::string report;  // what the target will show differently from the source
};

// The one line of a report that finds nothing to say.
inline constexpr const char* kNothingChanges = "Nothing in this script changes or drops a value.";

// Reads each table ("SELECT * FROM `name`", its rows counted first for the progress) on the
// open connection, in the order given (the main window passes its selection from the bottom of
// the list up), and hands out its commands.
//
// The names become what FoxPro takes (see foxpro_names.h); a table that cannot be sent at all
// (unreadable, more than 255 columns, a table file beyond 2 GB, reading broken off part-way) is
// left out and the others go; the commands of a table whose reading broke off are withdrawn.
// With hooks.typed, each table gets its typed fields, its rows typed literals, then its
// autoincrement and its tags; the foreign keys between tables of the run follow at the end in a
// container.
// The report lists, per table, every name changed and why, the characters the code page
// cannot hold (count and first example per column), the NULLs written as empty text, and the
// memo files that would pass 2 GB; it is one line when there is nothing to say.
FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const FoxproTarget& target, const FoxproScriptHooks& hooks);
// The same for a free-table folder in code page 1252.
FoxproScriptSummary BuildFoxproScript(ado::Connection& mysql,
                                      const std::vector<std::string>& tables,
                                      const std::string& targetFolder,
                                      const FoxproScriptHooks& hooks);

}  // namespace transfer
