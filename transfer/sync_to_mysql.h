// Sending only what changed from FoxPro tables to the MySQL tables a typed send made of them
// (quillmere-transfer --sync --to-mysql). Rows are matched by a key: the FoxPro table's primary
// tag, else a candidate tag, else the columns the caller names. A FoxPro row is compared with
// the MySQL row of the same key in MySQL's representation (each FoxPro value as the typed copy
// would store it, against what MySQL gives back for the column), so a row that would arrive
// equal is not sent again. The script holds, per table and inside one transaction, one INSERT
// per new row, one UPDATE of just the changed columns per changed row and, when asked, one
// DELETE per row MySQL alone has; each statement is one line, and a run cut short leaves a
// table as it was.
//
// Memory: the FoxPro table's file is read once, and each row keeps only its key (the key's
// bytes), its record number and a 64-bit hash of its values; the MySQL table is streamed once
// and compared row by row against those, and only the new and changed records are read again. A
// million rows with short keys take some tens of megabytes. A changed row whose hash happens to
// equal the old one's (one chance in 2^64) would not be seen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "transfer/foxpro_to_mysql.h"
#include "transfer/sync_common.h"

namespace transfer {

struct SyncToMySqlHooks {
  // The key columns for every table (--key); empty: each table's primary or candidate tag.
  std::vector<std::string> key;
  // Asked for a table that has no such tag when `key` is empty: the columns to match its rows
  // by (none: the table is left out).
  std::function<std::vector<std::string>(const std::string& table)> keyFor;
  // Rows only MySQL has are deleted (--delete); otherwise they are counted in the report.
  bool deleteTargetOnly = false;
  // The code page of FoxPro tables whose header names none (0: judged from their text).
  int unmarkedCodePage = 0;
  // A table left out (not in MySQL, another structure, no key, a key not unique), with why.
  std::function<void(const std::string& table, const std::string& why)> tableLeftOut;
  // As the tables are read, 0..100.
  std::function<void(int percent)> progress;
};

// Compares each named FoxPro table with its MySQL table and puts the statements that bring
// MySQL level into `sink` (and the report of all tables through sink.report). Throws when the
// FoxPro database or the MySQL server cannot be reached; a table that cannot be compared is
// left out through hooks.tableLeftOut and the others go on.
SyncOutcome BuildSyncToMySql(const std::vector<std::string>& tables,
                             const std::vector<std::string>& mysqlTables,
                             const std::string& foxproConnectionString,
                             const std::string& mysqlConnectionString, ScriptSink& sink,
                             const SyncToMySqlHooks& hooks);

// A value as a MySQL literal on one line: text quoted with its line breaks, quotes, backslashes
// and NUL written as escapes, bytes as X'..', numbers bare, NULL for none.
std::string MySqlLiteral(const ado::Value& value);

}  // namespace transfer
