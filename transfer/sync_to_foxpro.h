// Sending only what changed from MySQL tables to the FoxPro tables a typed send made of them
// (quillmere-transfer --sync --to-foxpro). Rows are matched by a key: the MySQL table's primary
// key, else a unique key of columns that take no NULL, else the columns the caller names. A
// MySQL row is compared with the FoxPro record of the same key in FoxPro's representation (each
// MySQL value as the typed copy would store it: whole seconds, the code page's characters,
// character fields without their trailing blanks), so a row that would arrive equal is not sent
// again. The script is FoxPro SQL, one statement a line: an INSERT per new row, an UPDATE of
// just the changed fields per changed row and, when asked, a DELETE (a record marked deleted,
// as FoxPro does) per record only FoxPro has. The engine writes each record whole, so a run cut
// short leaves part of the changes and no half-written row; the next sync sends the rest.
//
// Memory: the FoxPro table is read once, straight from its file, and each live record keeps
// only its key's bytes, its record number and a 64-bit hash of its values; the MySQL table is
// streamed once and compared row by row against those, reading a record again only when its
// hash differs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "transfer/foxpro_to_mysql.h"
#include "transfer/sync_common.h"

namespace transfer {

struct SyncToFoxproHooks {
  // The key columns for every table (--key); empty: each table's primary or unique key.
  std::vector<std::string> key;
  // Asked for a table that has no such key when `key` is empty: the columns to match its rows
  // by (none: the table is left out).
  std::function<std::vector<std::string>(const std::string& table)> keyFor;
  // Records only FoxPro has are deleted (--delete); otherwise they are counted in the report.
  bool deleteTargetOnly = false;
  // A table left out (not in FoxPro, another structure, no key, a key not unique), with why.
  std::function<void(const std::string& table, const std::string& why)> tableLeftOut;
  // As the tables are read, 0..100.
  std::function<void(int percent)> progress;
};

// Compares each named MySQL table with the FoxPro table a typed send made of it and puts the
// statements that bring FoxPro level into `sink` (and the report of all tables through
// sink.report). Throws when the MySQL server or the FoxPro database cannot be reached; a table
// that cannot be compared is left out through hooks.tableLeftOut and the others go on.
SyncOutcome BuildSyncToFoxpro(const std::vector<std::string>& mysqlTables,
                              const std::string& foxproConnectionString,
                              const std::string& mysqlConnectionString, ScriptSink& sink,
                              const SyncToFoxproHooks& hooks);

}  // namespace transfer
