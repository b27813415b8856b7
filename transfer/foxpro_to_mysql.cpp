#include "transfer/foxpro_to_mysql.h"

#include <algorithm>
#include <optional>

#include "ado/foxpro_access.h"
#include "ado/mysql_session.h"
#include "transfer/local_load.h"
#include "transfer/mysql_script.h"
#include "vfp/database.h"
#include "vfp/file.h"
#include "vfp/table.h"

namespace transfer {

namespace {

// Errors after which the server has rolled back the whole transaction or the connection is
// gone: retrying rows one by one would report every row and lose the rows already sent, so the
// copy stops instead.
bool EndsTheCopy(const ado::DataAccessError& e) {
  const int code = e.nativeCode();
  return code == 1205 /* lock wait timeout */ || code == 1213 /* deadlock */ ||
         (code >= 2000 && code < 3000) /* client side: connection lost, out of memory */;
}

std::string InsertHead(const std::string& table, const std::string& keyName,
                       const std::vector<ado::FieldInfo>& fields) {
  std::string sql =
      "INSERT INTO " + ado::quoteMySqlName(table) + " (" + ado::quoteMySqlName(keyName);
  for (const auto& f : fields) {
    sql += ',';
    sql += ado::quoteMySqlName(f.name);
  }
  return sql + ") VALUES ";
}

std::string InsertFor(const std::string& head, std::size_t width, int rows) {
  std::string tuple = "(?";
  for (std::size_t i = 1; i < width; ++i) tuple += ",?";
  tuple += ")";
  std::string sql = head;
  sql.reserve(head.size() + std::size_t(rows) * (tuple.size() + 1));
  for (int r = 0; r < rows; ++r) {
    if (r) sql += ",";
    sql += tuple;
  }
  return sql;
}

// Bytes a value adds to a statement's packet, roughly.
std::size_t SizeOnTheWire(const ado::Value& v) {
  switch (v.kind()) {
    case ado::Value::Kind::Decimal:
    case ado::Value::Kind::Text:
    case ado::Value::Kind::Bytes:
      return v.asString().size() + 9;
    default:
      return 16;
  }
}

// A value as the copy sends it: one MySQL cannot hold (see MySqlHoldsDouble) goes as NULL.
const ado::Value& AsSent(const ado::Value& v) {
  static const ado::Value kNull;
  return v.kind() == ado::Value::Kind::Double && !MySqlHoldsDouble(v.asDouble()) ? kNull : v;
}

// Bytes a row adds to a statement's packet, its types included.
std::size_t RowBytes(const ado::Value* row, std::size_t width) {
  std::size_t bytes = 2 * width;
  for (std::size_t k = 0; k < width; ++k) bytes += SizeOnTheWire(row[k]);
  return bytes;
}

std::string TooLargeText(std::size_t bytes, long long maxPacket) {
  return "its values take about " + std::to_string(bytes) +
         " bytes, more than one statement may carry on this server (max_allowed_packet is " +
         std::to_string(maxPacket) + " bytes); sent, it would make the server close the connection";
}

// A server closes the connection on a statement larger than its max_allowed_packet, and the
// client then only hears that the server has gone away. The likely cause goes beside its words
// when the statement came near that limit.
ado::DataAccessError WithLikelyCause(const ado::DataAccessError& e, std::size_t bytes,
                                     long long maxPacket) {
  const int code = e.nativeCode();
  const bool lost = code == 2006 || code == 2013 || code == 1153;
  if (!lost || maxPacket <= 0 || (long long)bytes * 2 < maxPacket ||
      std::string_view(e.what()).find("(likely cause: ") != std::string_view::npos)
    return e;
  return ado::DataAccessError(
      std::string(e.what()) + " (likely cause: the statement carried about " +
          std::to_string(bytes) + " bytes, near or over the server's max_allowed_packet of " +
          std::to_string(maxPacket) + " bytes)",
      code);
}

// The copy's own session runs in strict mode: a value the server would cut or convert is then a
// refused row, reported with the server's words, never a silent change. A 0 sent to an
// AUTO_INCREMENT column stays 0 rather than taking the next number (NO_AUTO_VALUE_ON_ZERO). The
// session's mode is given back afterwards, since the rest of the script runs on the same
// connection.
class StrictCopyMode {
 public:
  explicit StrictCopyMode(ado::MySqlSession& session) : session_(session) {
    auto rows = session_.query("SELECT @@SESSION.sql_mode");
    if (!rows.empty() && !rows[0].empty()) saved_ = rows[0][0].value_or("");
    // Mode names hold letters, digits, "_" and ","; nothing here needs escaping. An empty
    // element (",STRICT_ALL_TABLES") is refused by some servers.
    constexpr const char* kCopyModes = "STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO";
    const std::string mode =
        saved_ && !saved_->empty() ? *saved_ + "," + kCopyModes : std::string(kCopyModes);
    session_.execute("SET SESSION sql_mode = '" + mode + "'");
  }
  ~StrictCopyMode() {
    if (!saved_) return;
    try {
      session_.execute("SET SESSION sql_mode = '" + *saved_ + "'");
    } catch (...) {
      // The connection is gone; a new one starts with the server's default mode anyway.
    }
  }
  StrictCopyMode(const StrictCopyMode&) = delete;
  StrictCopyMode& operator=(const StrictCopyMode&) = delete;

 private:
  ado::MySqlSession& session_;
  std::optional<std::string> saved_;
};

// True when the table's engine undoes a refused statement as a whole. A MyISAM (or other
// non-transactional) table keeps the rows a multi-row INSERT stored before the one it refused.
bool UndoesRefusedStatements(ado::MySqlSession& session, const std::string& table) {
  auto rows = session.query(
      "SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
      "TABLE_NAME = " +
      ado::quoteMySqlText(table));
  if (rows.empty() || rows[0].empty() || !rows[0][0]) return false;
  const std::string engine = vfp::toUpperAscii(*rows[0][0]);
  return engine == "INNODB" || engine == "XTRADB" || engine == "ROCKSDB" || engine == "TOKUDB";
}

}  // namespace

std::string SelectAllFrom(const std::string& foxproTable) {
  return "SELECT * FROM \"" + foxproTable + "\"";
}

std::string MemoCount(long long n) { return std::to_string(n) + (n == 1 ? " memo" : " memos"); }

std::string ChunksRowByRowNote(const std::string& table, long long rowByRow, long long chunks,
                               const std::string& reason) {
  return "Table " + table + ": " + std::to_string(rowByRow) + " of " + std::to_string(chunks) +
         (chunks == 1 ? " chunk" : " chunks") +
         " of rows did not load as sent and went row by row with INSERT statements, which is "
         "slower; the server's first reason: " +
         reason;
}

int RowsPerInsert(long long rows) {
  if (rows <= 0) return 1;
  long long perPercent = (rows + 99) / 100;
  return int(std::clamp<long long>(perPercent, 1, kMaxRowsPerInsert));
}

RowCopyStats CopyRows(ado::Connection& source, const std::string& table,
                      const std::vector<ado::FieldInfo>& fields, const std::string& keyName,
                      ado::MySqlSession& target, const std::function<void(int)>& progress,
                      std::vector<std::string>& notes, const std::string& into,
                      bool localLoadAnnounced) {
  const std::string& mysqlTable = into.empty() ? table : into;
  ado::RecordSet rs;
  rs.open(SelectAllFrom(table), source, ado::adOpenForwardOnly, ado::adLockReadOnly);
  // What a damaged memo file still holds goes; the memos it lost go as NULL, and the report
  // before Execute named them.
  vfp::QueryResult* result = ado::foxproResultOf(rs);
  if (result) result->setUnreadableMemosNull(true);
  bool same = rs.fieldCount() == int(fields.size());
  for (int k = 0; same && k < rs.fieldCount(); ++k) same = rs.field(k).name == fields[k].name;
  if (!same)
    throw ado::DataAccessError("The FoxPro table " + table +
                               " no longer has the fields the script was made for.");

  StrictCopyMode strict(target);
  // The largest statement the server takes; a larger one makes it close the connection.
  long long maxPacket = 0;
  {
    auto limit = target.query("SELECT @@max_allowed_packet");
    if (!limit.empty() && !limit[0].empty() && limit[0][0]) maxPacket = std::stoll(*limit[0][0]);
  }
  RowCopyStats stats;
  // A FoxPro table's header counts its records, deleted ones included: enough for the progress
  // and the chunk sizes, and known at once, where the exact count reads the whole table first
  // (and the window would wait for that).
  const long long total = result ? (long long)result->table().recordCount() : rs.recordCount();
  const int perInsert = RowsPerInsert(total);
  const std::size_t width = fields.size() + 1;
  const std::string head = InsertHead(mysqlTable, keyName, fields);

  std::optional<ado::MySqlStatement> full;    // perInsert rows
  std::optional<ado::MySqlStatement> single;  // one row, for the tail and for retries
  std::optional<ado::MySqlTransaction> tx;
  int insertsInTransaction = 0;
  std::vector<ado::Value> params;
  params.reserve(std::size_t(perInsert) * width);
  long long firstRow = 0;  // row number of params' first row
  int rowsPending = 0;
  std::size_t bytesPending = 0;

  std::optional<bool> undoes;  // whether the table's engine undoes a refused statement

  auto one = [&]() -> ado::MySqlStatement& {
    if (!single) single.emplace(target, InsertFor(head, width, 1));
    return *single;
  };
  // Rows are named by their FoxPro record numbers (RECNO()), which count deleted records too;
  // the key holds the row's place among the rows sent.
  auto recordOf = [&](long long row) {
    return std::to_string(result ? result->recordNumber(std::uint32_t(row)) : row + 1);
  };
  auto rowsText = [&](long long first, int count) {
    return count == 1 ? "Record " + recordOf(first) + " of " + table
                      : "Records " + recordOf(first) + " to " + recordOf(first + count - 1) +
                            " of " + table;
  };
  // A value the server changed despite strict mode (a note or warning it still allows) is
  // named, with the rows of the statement it came from.
  auto readWarnings = [&](long long first, int count) {
    if (target.warningCount() == 0) return;
    for (const auto& w : target.warnings()) {
      ++stats.changed;
      notes.push_back(rowsText(first, count) + ": the server changed a value: " + w);
    }
  };
  // Key values of the pending rows that the server already holds: after a refused multi-row
  // statement on a table that keeps what was stored before the refusal.
  auto alreadyStored = [&]() {
    std::vector<bool> stored(std::size_t(rowsPending), false);
    if (!undoes) undoes = UndoesRefusedStatements(target, mysqlTable);
    if (*undoes) return stored;
    const std::string key = ado::quoteMySqlName(keyName);
    for (const auto& row :
         target.query("SELECT " + key + " FROM " + ado::quoteMySqlName(mysqlTable) + " WHERE " +
                      key + " BETWEEN " + std::to_string(firstRow) + " AND " +
                      std::to_string(firstRow + rowsPending - 1))) {
      if (row.empty() || !row[0]) continue;
      long long k = std::stoll(*row[0]) - firstRow;
      if (k >= 0 && k < rowsPending) stored[std::size_t(k)] = true;
    }
    return stored;
  };
  auto storeOneByOne = [&](const std::vector<bool>& skip) {
    std::vector<ado::Value> row(width);
    for (int r = 0; r < rowsPending; ++r) {
      if (!skip.empty() && skip[std::size_t(r)]) {
        ++stats.stored;
        continue;
      }
      std::copy_n(params.begin() + std::ptrdiff_t(std::size_t(r) * width), width, row.begin());
      try {
        one().execute(row);
        ++stats.stored;
        readWarnings(firstRow + r, 1);
      } catch (const ado::DataAccessError& e) {
        if (EndsTheCopy(e)) throw WithLikelyCause(e, RowBytes(row.data(), width), maxPacket);
        ++stats.refused;
        notes.push_back(rowsText(firstRow + r, 1) + " was not sent: " + e.what());
      }
    }
  };
  auto flush = [&] {
    if (rowsPending == 0) return;
    if (!tx) tx.emplace(target);
    try {
      if (rowsPending == 1) {
        storeOneByOne({});
      } else if (rowsPending == perInsert) {
        if (!full) full.emplace(target, InsertFor(head, width, perInsert));
        full->execute(params);
        stats.stored += rowsPending;
        readWarnings(firstRow, rowsPending);
      } else {
        ado::MySqlStatement tail(target, InsertFor(head, width, rowsPending));
        tail.execute(params);
        stats.stored += rowsPending;
        readWarnings(firstRow, rowsPending);
      }
    } catch (const ado::DataAccessError& e) {
      // The statement's rows are tried again one by one, so exactly the refused ones are
      // reported. A transactional table has undone the statement; another kind keeps the rows
      // stored before the refusal, which the key tells apart and which are not sent twice.
      if (EndsTheCopy(e)) throw WithLikelyCause(e, bytesPending, maxPacket);
      storeOneByOne(alreadyStored());
    }
    firstRow += rowsPending;
    rowsPending = 0;
    bytesPending = 0;
    params.clear();
    if (++insertsInTransaction >= kInsertsPerTransaction) {
      tx->commit();
      tx.reset();
      insertsInTransaction = 0;
    }
    if (progress)
      progress(total > 0 ? int(std::min<long long>(100, stats.rows * 100 / total)) : 100);
  };

  // The fast path: chunks through LOAD DATA LOCAL. A chunk it hands back goes through the
  // statements above, which find the refused rows one by one.
  std::vector<std::string> columns{keyName};
  std::vector<bool> logical{false};
  for (const auto& f : fields) {
    columns.push_back(f.name);
    logical.push_back(f.type == ado::adBoolean);
  }
  // A chunk per percent, so progress moves as it does with statements.
  std::unique_ptr<LocalRowLoad> load = LocalRowLoad::Start(
      target, mysqlTable, columns, std::size_t(std::max<long long>(1, (total + 99) / 100)), notes,
      logical, localLoadAnnounced);
  std::unique_ptr<LocalRowLoad::Source> rows;
  if (load) rows = LoadRowsOf(rs, stats.rows, false, load->digitLogicals());
  // One row into the pending statement. A row too large for any statement the server takes is
  // refused here: sent, it would make the server close the connection, losing the whole copy.
  auto addRow = [&](ado::Value* row) {
    const std::size_t bytes = RowBytes(row, width);
    if (maxPacket > 0 && (long long)bytes + kStatementRoom > maxPacket) {
      flush();
      ++stats.refused;
      notes.push_back(rowsText(firstRow, 1) + " was not sent: " + TooLargeText(bytes, maxPacket));
      ++firstRow;
      return;
    }
    if (rowsPending > 0 && maxPacket > 0 &&
        (long long)(bytesPending + bytes) + kStatementRoom > maxPacket)
      flush();
    params.insert(params.end(), std::make_move_iterator(row), std::make_move_iterator(row + width));
    bytesPending += bytes;
    if (++rowsPending == perInsert || bytesPending >= kMaxBytesPerInsert) flush();
  };
  auto sendWithInserts = [&](const std::vector<ado::Value>& rows, std::size_t w) {
    firstRow = rows.front().asInt();
    std::vector<ado::Value> row(w);
    for (std::size_t at = 0; at < rows.size(); at += w) {
      std::transform(rows.begin() + std::ptrdiff_t(at), rows.begin() + std::ptrdiff_t(at + w),
                     row.begin(), AsSent);
      addRow(row.data());
    }
    flush();
    if (tx) {
      tx->commit();
      tx.reset();
      insertsInTransaction = 0;
    }
  };
  while (load && !rs.eof()) {
    const long long loadedBefore = load->chunksLoaded();
    load->send(*rows, sendWithInserts);
    stats.stored = stats.rows - stats.refused;
    // A chunk handed back reported its progress through the statements.
    if (progress && load->chunksLoaded() > loadedBefore)
      progress(total > 0 ? int(std::min<long long>(100, stats.rows * 100 / total)) : 100);
  }

  if (load) {
    stats.chunks = load->chunksLoaded() + load->chunksHandedBack();
    stats.chunksRowByRow = load->chunksUndone();
    // Never silent: a chunk that went row by row costs the copy most of its speed.
    if (stats.chunksRowByRow > 0)
      notes.push_back(
          ChunksRowByRowNote(table, stats.chunksRowByRow, stats.chunks, load->firstUndoneReason()));
  }

  std::vector<ado::Value> row(width);
  while (!rs.eof()) {
    row[0] = ado::Value::fromInt(stats.rows);
    for (int k = 0; k < int(fields.size()); ++k) row[std::size_t(k) + 1] = AsSent(rs.value(k));
    ++stats.rows;
    addRow(row.data());
    rs.moveNext();
  }
  flush();
  if (tx) tx->commit();
  if (result) stats.lost = (long long)result->table().unreadableMemosGivenNull();
  if (stats.lost > 0)
    notes.push_back(MemoCount(stats.lost) + " of " + table +
                    " could not be read from its memo file and arrived as NULL (the report "
                    "before Execute names them).");
  // With deleted records the rows fall short of the header's count.
  if (progress && stats.rows != total) progress(100);
  return stats;
}

namespace {

// Drops a table this run made, on the session or, when that is lost, on a new one with the same
// login; the error when neither can.
std::optional<std::string> DropMadeTable(ado::MySqlSession& session, const std::string& table) {
  const std::string drop = MySqlScript::DropCommand(table);
  try {
    session.execute(drop);
  } catch (const ado::DataAccessError&) {
    try {
      session.reopen()->execute(drop);
    } catch (const ado::DataAccessError& e) {
      return std::string(e.what());
    }
  }
  return std::nullopt;
}

std::string AsItWas(const std::string& replaces) {
  return replaces.empty() ? std::string() : " The MySQL table " + replaces + " is as it was.";
}

}  // namespace

std::string RemoveAfterFailedCopy(ado::MySqlSession& session, const std::string& table,
                                  const std::string& built, const std::string& reason,
                                  const std::string& replaces) {
  const std::string head = "The rows of " + table + " could not be copied (" + reason + "); ";
  if (auto error = DropMadeTable(session, built))
    return head + "the half-filled table " + built + " could not be removed (" + *error +
           "); drop it before executing the script again." + AsItWas(replaces);
  return head + "the table " + built +
         " made by this run was removed again, so the script can be executed again." +
         AsItWas(replaces);
}

RowCopyJob::RowCopyJob(std::string foxproConnectionString, std::string table, std::string keyName,
                       std::vector<ado::FieldInfo> fields, std::string into, std::string replaces)
    : foxpro_(std::move(foxproConnectionString)),
      table_(std::move(table)),
      keyName_(std::move(keyName)),
      fields_(std::move(fields)),
      into_(into.empty() ? table_ : std::move(into)),
      replaces_(std::move(replaces)),
      createPrefix_("CREATE TABLE " + ado::quoteMySqlName(into_) + "("),
      swapPrefix_("RENAME TABLE " + ado::quoteMySqlName(replaces_) + " TO ") {}

bool RowCopyJob::runsAfter(const std::string& line) const {
  return line.compare(0, createPrefix_.size(), createPrefix_) == 0;
}

bool RowCopyJob::settledBy(std::string_view line) const {
  // A new table is whole once its rows are in; a replacing one once it has taken the old one's
  // place.
  return replaces_.empty() || line.substr(0, swapPrefix_.size()) == swapPrefix_;
}

void RowCopyJob::undo(ado::Connection& target, std::vector<std::string>& notes) {
  const std::string head = "The run ended before the new copy of " + table_ +
                           " took the place of the MySQL table " + replaces_ + ": ";
  ado::MySqlSession* session = ado::mysqlSessionOf(target);
  std::optional<std::string> error =
      session ? DropMadeTable(*session, into_) : std::optional<std::string>("not connected");
  if (error)
    notes.push_back(head + "the copy " + into_ + " could not be removed (" + *error +
                    "); drop it before executing the script again." + AsItWas(replaces_));
  else
    notes.push_back(head + "the copy " + into_ + " was removed again." + AsItWas(replaces_));
}

void RowCopyJob::run(ado::Connection& target, const std::function<void(int percent)>& progress,
                     std::vector<std::string>& notes) {
  ado::MySqlSession* session = ado::mysqlSessionOf(target);
  if (!session)
    throw ado::DataAccessError("The rows of " + table_ + " can only be copied to MySQL.");
  // The script may run long after it was made; the source is read as it is now.
  ado::Connection source;
  source.setCursorLocation(ado::adUseClient);
  source.setUnmarkedCodePage(sourceCodePage_);
  source.open(foxpro_);
  stats_ = {};
  try {
    stats_ = CopyRows(source, table_, fields_, keyName_, *session, progress, notes, into_,
                      localLoadAnnounced_);
  } catch (const std::exception& e) {
    // The table was made by the line just before this job. Half filled and with its key column,
    // it would make the next press of Execute fail at its creation; it goes again.
    notes.push_back(RemoveAfterFailedCopy(*session, table_, into_, e.what(), replaces_));
    throw;
  }
  source.close();
}

}  // namespace transfer
