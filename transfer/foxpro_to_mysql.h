// "Send Table/s To MySQL": the selected FoxPro tables become a MySQL script in the preview
// window (creation with a temporary key column first, removal of that key column) plus, per
// table, a row-copy job that the preview runs right after the table's creation line. A table
// that replaces one MySQL has (an accepted overwrite) is built under a name of its own and then
// swapped in, so the old one stays until its replacement is complete. Nothing reaches MySQL
// until the user executes the preview.
//
// The pieces are plain functions so that tests and the benchmark run them without windows:
// ScriptTable makes one table's part, BuildSendToMySql walks the chosen tables, CopyRows moves
// the rows, and SendTablesToMySql (preview/send_tables.h) wires them to the main window and the
// preview.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/dataaccess.h"
#include "transfer/script_job.h"

namespace ado {
class MySqlSession;
}

namespace transfer {

class TypedMySqlScript;

// Rows per multi-row INSERT when the source has `rows` rows: small tables go one row per
// statement so the progress moves by row (4 rows give 25, 50, 75, 100); larger ones at most 100
// rows per statement, which keeps a statement well inside the server's packet and placeholder
// limits while giving bulk speed. Progress is reported after every statement.
inline constexpr int kMaxRowsPerInsert = 100;
int RowsPerInsert(long long rows);
// A statement is sent early once its values reach this size: a statement larger than the
// server's max_allowed_packet (1 MB on old servers, 16 MB on MariaDB) makes the server drop the
// connection. A single row larger than that still fails, with the server's message.
inline constexpr std::size_t kMaxBytesPerInsert = 512 * 1024;
// Statements between two commits: a commit forces a log flush, so they are spread out.
inline constexpr int kInsertsPerTransaction = 100;

// A row whose values take more than the server's max_allowed_packet less this many bytes cannot
// go in an INSERT statement (the rest of the statement, the key and its types need room): the
// server would close the connection, losing the whole table's copy. Such a row is refused.
inline constexpr long long kStatementRoom = 1024;

struct RowCopyStats {
  long long rows = 0;            // rows read from the source
  long long stored = 0;          // rows the server took
  long long refused = 0;         // rows reported in the notes
  long long changed = 0;         // values the server stored otherwise than sent (its warnings)
  long long lost = 0;            // memos the FoxPro memo file could not give, sent as NULL
  long long chunks = 0;          // chunks of rows sent through LOAD DATA LOCAL
  long long chunksRowByRow = 0;  // of them, undone and sent again with INSERT statements
};

// The query that reads a FoxPro table's rows with its fields in order: the script is made from
// the fields it gives, and the row copy reads the rows the same way.
std::string SelectAllFrom(const std::string& foxproTable);
// "1 memo", "3 memos": how the notes and the report count memos.
std::string MemoCount(long long n);

// The note a copy leaves when chunks of `table` went row by row, with the server's first reason.
std::string ChunksRowByRowNote(const std::string& table, long long rowByRow, long long chunks,
                               const std::string& reason);

// Copies every row of the FoxPro table `table` (SELECT * FROM "table" on `source`) into the
// MySQL table of the same name, whose columns are the key column and then the source's fields
// in order. The key holds the 0-based row number. Rows go in multi-row prepared INSERTs inside
// transactions; when a statement fails its rows are tried one by one, so exactly the refused
// rows are reported (one note each, with the FoxPro record number and the server's text) and the
// others arrive. A memo the memo file cannot give goes as NULL, as does a double MySQL cannot
// hold. Memory does not grow with the table. progress(percent) is called after each statement.
// Throws when the source cannot be read, when it no longer has the fields the script was made
// for, or when the connection fails as a whole.
// `into` names the MySQL table when it is not `table` (one built to replace another).
// The rows go in chunks through LOAD DATA LOCAL when the server allows it; a chunk the server
// refuses or changes is undone and goes as above, and one note per table says how many did.
// localLoadAnnounced: the report before Execute said the server does not allow local loading,
// so the copy does not say it again.
RowCopyStats CopyRows(ado::Connection& source, const std::string& table,
                      const std::vector<ado::FieldInfo>& fields, const std::string& keyName,
                      ado::MySqlSession& target, const std::function<void(int)>& progress,
                      std::vector<std::string>& notes, const std::string& into = {},
                      bool localLoadAnnounced = false);

// After a row copy that failed as a whole: drops the table the run made (`built`, for the rows
// of `table`), on the copy's session or, when that is lost, on a new one with the same login.
// Returns the note that says so, and that `replaces`, when given, is as it was.
std::string RemoveAfterFailedCopy(ado::MySqlSession& session, const std::string& table,
                                  const std::string& built, const std::string& reason,
                                  const std::string& replaces = {});

// The row copy of one table as the preview runs it: after the table's creation line (recognised
// by its "CREATE TABLE `name`(" start, so replacing column types in the preview keeps it), it
// reopens the FoxPro database the script was made from and copies the rows on the connection
// the preview executes on. For a table built to replace another, a run that ends before the swap
// line drops the copy again (undo), and the old table is as it was.
class RowCopyJob : public ScriptJob {
 public:
  // into: the MySQL table the rows go to; replaces: the one it takes the place of, or empty.
  RowCopyJob(std::string foxproConnectionString, std::string table, std::string keyName,
             std::vector<ado::FieldInfo> fields, std::string into = {}, std::string replaces = {});
  std::string table() const override { return table_; }
  bool runsAfter(const std::string& line) const override;
  void run(ado::Connection& target, const std::function<void(int percent)>& progress,
           std::vector<std::string>& notes) override;
  bool settledBy(std::string_view line) const override;
  void undo(ado::Connection& target, std::vector<std::string>& notes) override;

  // The report before Execute said the server does not allow local loading: the run does not
  // say it again.
  void setLocalLoadAnnounced(bool announced) { localLoadAnnounced_ = announced; }

  // The code page the table's text was read in when the script was made, for a table whose
  // header names none: the rows are read in the same one (0: judged again, or the header's).
  void setSourceCodePage(int codePage) { sourceCodePage_ = codePage; }
  int sourceCodePage() const { return sourceCodePage_; }
  const std::string& keyName() const { return keyName_; }
  const std::vector<ado::FieldInfo>& fields() const { return fields_; }
  const std::string& into() const { return into_; }
  const std::string& replaces() const { return replaces_; }
  const RowCopyStats& stats() const { return stats_; }  // of the last run
  Losses losses() const override { return {stats_.refused, stats_.changed + stats_.lost}; }

 private:
  std::string foxpro_;
  std::string table_;
  std::string keyName_;
  std::vector<ado::FieldInfo> fields_;
  std::string into_;
  std::string replaces_;
  std::string createPrefix_;
  std::string swapPrefix_;
  bool localLoadAnnounced_ = false;
  int sourceCodePage_ = 0;
  RowCopyStats stats_;
};

// One table's part of the script: its commands in order and the job that copies its rows.
struct TableScript {
  std::vector<std::string> commands;  // create, alter; when replacing: swap, drop of the old
  std::unique_ptr<RowCopyJob> job;
  std::vector<std::string> report;  // what MySQL will show differently, one line each
};

// What the MySQL table will show differently from the FoxPro table, one line per column and
// kind: overflow marks (a row of "*"), blank numbers and dates, numbers that read as none,
// infinite or NaN doubles and memos a damaged memo file cannot give, all of which arrive as
// NULL (the last two named by record number); numbers too wide for their column; and dates,
// times and currency that go as text. Reads the table's records once, and of their memos only
// the block headers. progress(percent) is called every few thousand records.
// typed: the columns are typed (typed_mysql.h), so dates, times and currency are not named;
// arrivesNull, when given, receives per field whether any of its values arrive as NULL.
std::vector<std::string> FoxproTableReport(const std::string& foxproConnectionString,
                                           const std::string& table,
                                           const std::vector<ado::FieldInfo>& fields,
                                           const std::function<void(int percent)>& progress = {},
                                           bool typed = false,
                                           std::vector<bool>* arrivesNull = nullptr);

// What the report before Execute needs to know of the MySQL server a script is for.
struct TargetServer {
  bool localLoading = true;        // @@local_infile: rows go in bulk through LOAD DATA LOCAL
  long long maxAllowedPacket = 0;  // @@max_allowed_packet, the largest statement; 0 unknown
  // MariaDB runs a compound statement (BEGIN NOT ATOMIC ... END) on its own, which the typed
  // script's check of a relation's rows needs; MySQL does not.
  bool compoundStatements = true;
};
// Asks the server at the connection string; nullopt when it cannot be asked (the run will say
// why the server cannot be reached).
std::optional<TargetServer> AskTargetServer(const std::string& mysqlConnectionString);

// The records of the FoxPro table whose memos alone take more than an INSERT statement may
// carry on a server of max_allowed_packet `maxPacket` (see kStatementRoom), one line each
// (record as FoxPro numbers it, 1 for the first, its largest memo field and the bytes stored):
// sent with INSERT statements, their rows will be refused. Reads only the memos' block headers,
// and nothing at all when the whole memo file fits.
std::vector<std::string> OversizedRowsReport(const std::string& foxproConnectionString,
                                             const std::string& table,
                                             const std::vector<ado::FieldInfo>& fields,
                                             long long maxPacket);

// The report of a whole FoxPro-to-MySQL script from its tables' lines, or the one line that
// says nothing changes.
std::string FoxproToMySqlReport(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& tables);

// The MySQL table a FoxPro table called `name` would replace: the one of that name, else the one
// whose name differs from it only in letter case (FoxPro's names ignore case; a server on Linux
// keeps both spellings apart); empty when MySQL has neither. Throws ado::DataAccessError, naming
// them, when several differ from it only in letter case.
std::string ReplacedMySqlTable(const std::vector<std::string>& mysqlTables,
                               const std::string& name);

// Reads the structure of `table` through the open FoxPro connection and makes its part of the
// script. foxproConnectionString is what the job reopens when it runs. replaces: the MySQL table
// it takes the place of (empty: a new table); it is then built under a name neither it nor
// mysqlTables holds, swapped in once complete, and keeps the old table's name.
// For a table whose header names no code page the report says which one its text is read in
// and why (namedBy: who named the connection's unmarked code page, "named by ..."), and the
// job reads the rows in the same one. progress(percent) follows the report's reading of the
// records.
// typed: the typed script the table is the typedIndex-th table of (typed columns, then after
// the rows its keys and indexes); null for the classic script.
TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, const std::string& replaces,
                        const std::vector<std::string>& mysqlTables,
                        const std::string& namedBy = "as named",
                        const std::function<void(int percent)>& progress = {},
                        const TypedMySqlScript* typed = nullptr, std::size_t typedIndex = 0);
// The same replacing a MySQL table of the same name when overwrite is set.
TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, bool overwrite);

// Where a transfer puts what it makes: the preview window, or a collector in tests.
class ScriptSink {
 public:
  virtual ~ScriptSink() = default;
  virtual void appendCommand(const std::string& command) = 0;
  virtual void addJob(std::unique_ptr<ScriptJob> job) = 0;
  // The report of what the target will show differently, once the script is complete.
  virtual void report(const std::string& /*text*/) {}
};

// What the caller supplies to one build besides the tables. Unset members mean: no overwrite
// (a table the target holds is skipped), failures are not reported, no progress.
struct SendToMySqlHooks {
  // "Would you like to overwrite <name>?": true overwrites the MySQL table, false skips it.
  std::function<bool(const std::string& table)> confirmOverwrite;
  // A table that cannot be read is left out, the others go on; here is why.
  std::function<void(const std::string& table, const std::string& error)> tableFailed;
  // While a table's records are read for the report and after each table, 0..100; typed, once
  // more while the child tables' keys are read against their parents'.
  std::function<void(int percent)> progress;
  // The server the script is for, as AskTargetServer found it: the report then says whether
  // rows go in bulk and names the rows too large for the statements they would go in.
  std::optional<TargetServer> server;
  // The code page of tables whose header names none, as the user named it (0: judged per table
  // from its text), and who named it, for the report ("named by --source-codepage").
  int unmarkedCodePage = 0;
  std::string unmarkedNamedBy = "as named";
  // Typed columns, keys and indexes (the window's "Keep types, keys and indexes",
  // quillmere-transfer --typed); false: the classic script, unchanged.
  bool typed = false;
};

// The script for the chosen FoxPro tables, in the order given (the main window passes its
// selection from the bottom of the list up). A table that would replace one mysqlTables holds
// (see ReplacedMySqlTable) is sent only when confirmOverwrite says so. Returns how many tables
// were scripted. Throws when the FoxPro database cannot be opened.
// Typed (hooks.typed), every overwrite is asked first, since the tables sent together decide
// which relations become foreign keys; those come last, after every table's rows and keys.
int BuildSendToMySql(const std::vector<std::string>& tables,
                     const std::vector<std::string>& mysqlTables,
                     const std::string& foxproConnectionString, ScriptSink& sink,
                     const SendToMySqlHooks& hooks);

}  // namespace transfer
