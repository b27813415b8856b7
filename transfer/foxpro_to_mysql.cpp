#include "transfer/foxpro_to_mysql.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <optional>

#include "ado/foxpro_access.h"
#include "ado/mysql_session.h"
#include "platform/connection_strings.h"
#include "transfer/local_load.h"
#include "transfer/mysql_script.h"
#include "transfer/typed_mysql.h"
#include "vfp/database.h"
#include "vfp/file.h"
#include "vfp/schema.h"
#include "vfp/table.h"

namespace transfer {

namespace {

std::string SelectAll(const std::string& table) { return "SELECT * FROM \"" + table + "\""; }

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
  std::string sql = "INSERT INTO " + MySqlScript::QuoteIdentifier(table) + " (" +
                    MySqlScript::QuoteIdentifier(keyName);
  for (const auto& f : fields) {
    sql += ',';
    sql += MySqlScript::QuoteIdentifier(f.name);
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

// "1 memo", "3 memos".
std::string Memos(long long n) { return std::to_string(n) + (n == 1 ? " memo" : " memos"); }

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
// refused row, reported with the server's words, never a silent change. The session's mode is
// given back afterwards, since the rest of the script runs on the same connection.
class StrictCopyMode {
 public:
  explicit StrictCopyMode(ado::MySqlSession& session) : session_(session) {
    auto rows = session_.query("SELECT @@SESSION.sql_mode");
    if (!rows.empty() && !rows[0].empty()) saved_ = rows[0][0].value_or("");
    // Mode names hold letters, digits, "_" and ","; nothing here needs escaping. An empty
    // element (",STRICT_ALL_TABLES") is refused by some servers.
    const std::string mode = saved_ && !saved_->empty() ? *saved_ + ",STRICT_ALL_TABLES"
                                                        : std::string("STRICT_ALL_TABLES");
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

// A text literal for a statement on this session (for the rare queries that are not prepared).
std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\\' || c == '\'') out += c;
    out += c;
  }
  return out + "'";
}

// True when the table's engine undoes a refused statement as a whole. A MyISAM (or other
// non-transactional) table keeps the rows a multi-row INSERT stored before the one it refused.
bool UndoesRefusedStatements(ado::MySqlSession& session, const std::string& table) {
  auto rows = session.query(
      "SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
      "TABLE_NAME = " +
      QuoteText(table));
  if (rows.empty() || rows[0].empty() || !rows[0][0]) return false;
  std::string engine = *rows[0][0];
  for (auto& c : engine) c = char(std::toupper(static_cast<unsigned char>(c)));
  return engine == "INNODB" || engine == "XTRADB" || engine == "ROCKSDB" || engine == "TOKUDB";
}

}  // namespace

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
  rs.open(SelectAll(table), source, ado::adOpenForwardOnly, ado::adLockReadOnly);
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
    const std::string key = MySqlScript::QuoteIdentifier(keyName);
    for (const auto& row :
         target.query("SELECT " + key + " FROM " + MySqlScript::QuoteIdentifier(mysqlTable) +
                      " WHERE " + key + " BETWEEN " + std::to_string(firstRow) + " AND " +
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
  if (load) rows = LoadRowsOf(rs, stats.rows);
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
    notes.push_back(Memos(stats.lost) + " of " + table +
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
      createPrefix_("CREATE TABLE " + MySqlScript::QuoteIdentifier(into_) + "("),
      swapPrefix_("RENAME TABLE " + MySqlScript::QuoteIdentifier(replaces_) + " TO ") {}

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

namespace {

// Records named one by one in the report: the first few, and how many more.
std::string RecordList(const std::vector<std::uint32_t>& records, long long count) {
  std::string text = count == 1 ? "record " : "records ";
  for (std::size_t k = 0; k < records.size(); ++k)
    text += (k ? ", " : "") + std::to_string(records[k]);
  if (count > (long long)records.size())
    text += " and " + std::to_string(count - (long long)records.size()) + " more";
  return text;
}

// Spaces, an optional "-", then digits with at most one point among them, to the field's end.
bool PlainStoredNumber(std::string_view raw) {
  std::size_t i = raw.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  if (raw[i] == '-') ++i;
  bool digit = false, point = false;
  for (; i < raw.size(); ++i) {
    const char ch = raw[i];
    if (ch >= '0' && ch <= '9')
      digit = true;
    else if (ch == '.' && !point)
      point = true;
    else
      return false;
  }
  return digit;
}

}  // namespace

std::vector<std::string> FoxproTableReport(const std::string& foxproConnectionString,
                                           const std::string& table,
                                           const std::vector<ado::FieldInfo>& fields,
                                           const std::function<void(int percent)>& progress,
                                           bool typed, std::vector<bool>* arrivesNull) {
  std::vector<std::string> lines;
  if (arrivesNull) arrivesNull->assign(fields.size(), false);
  const auto catalog =
      vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
  const auto path = catalog->findTable(table);
  if (!path) return lines;
  vfp::Table t(*path);
  // Values named by their record numbers (RECNO()), the first few of them.
  constexpr std::size_t kRecordsNamed = 10;
  struct Column {
    std::size_t column;  // index into fields
    std::size_t field;   // index into the header's fields
    std::string name;    // as MySQL will name it
    char type;
    int digits = 0;           // digits DECIMAL keeps before the point (N, F)
    long long marks = 0;      // overflow marks
    long long wide = 0;       // values wider than the column
    long long blank = 0;      // blank dates or numbers, not null-flagged
    long long notNumber = 0;  // N, F text that reads as no number
    long long unheld = 0;     // B values MySQL cannot hold (infinite, NaN), or memos that
                              // cannot be read
    std::vector<std::uint32_t> records = {};  // of the unheld ones
    std::string why = {};                     // the first memo's reason
  };
  std::vector<Column> columns;
  const auto& user = t.userFields();
  for (std::size_t k = 0; k < user.size() && k < fields.size(); ++k) {
    const auto& f = t.header().fields[std::size_t(user[k])];
    const std::string& name = fields[k].name;
    // Typed columns hold these as MySQL's own types.
    if (!typed) switch (f.type) {
        case 'Y':
          lines.push_back("column " + name + ": currency goes as text (12.5000), as always");
          break;
        case 'D':
          lines.push_back("column " + name + ": dates go as text (2024-01-31), as always");
          break;
        case 'T':
          lines.push_back("column " + name +
                          ": date-times go as text (2024-01-31 08:30:00), as always");
          break;
        default:
          break;
      }
    if (f.type == 'N' || f.type == 'F' || (f.type == 'B' && f.length == 8) || f.isMemo() ||
        ((f.type == 'D' || f.type == 'T') && !f.isNullable())) {
      Column c{k, std::size_t(user[k]), name, f.type};
      const std::string sql = MySqlScript::ColumnType(fields[k]);  // DECIMAL(p,s)
      const auto open = sql.find('('), comma = sql.find(',');
      if (open != std::string::npos && comma != std::string::npos)
        c.digits = std::stoi(sql.substr(open + 1)) - std::stoi(sql.substr(comma + 1));
      columns.push_back(c);
    }
  }
  if (!columns.empty()) {
    vfp::RecordScanner scan(t);
    vfp::Value value;
    // A million records take a good part of a second: the caller hears of the progress often
    // enough to keep its window answering.
    constexpr std::uint32_t kRecordsPerProgress = 8192;
    std::uint32_t untilProgress = kRecordsPerProgress;
    while (const std::uint8_t* rec = scan.nextLive()) {
      if (--untilProgress == 0) {
        untilProgress = kRecordsPerProgress;
        if (progress) progress(int(std::uint64_t(scan.recno()) * 100 / t.recordCount()));
      }
      for (auto& c : columns) {
        const auto& f = t.header().fields[c.field];
        const char* p = reinterpret_cast<const char*>(rec) + f.offset;
        if (f.isMemo()) {
          // A memo file cut short, or a pointer into nowhere: the rest of the table still goes,
          // this value as NULL. Only the memo's block header is read.
          std::string why = t.memoProblem(rec, c.field);
          if (why.empty()) continue;
          if (c.records.size() < kRecordsNamed) c.records.push_back(scan.recno() + 1);
          if (!c.unheld++) c.why = std::move(why);
          continue;
        }
        if (c.type == 'B') {
          // The exponent's bits all set: infinite or NaN, which FoxPro holds and MySQL's
          // DOUBLE does not; the copy sends them as NULL.
          if ((rec[f.offset + 7] & 0x7F) != 0x7F || (rec[f.offset + 6] & 0xF0) != 0xF0) continue;
          if (t.isNullFlagged(rec, c.field)) continue;
          if (c.records.size() < kRecordsNamed) c.records.push_back(scan.recno() + 1);
          ++c.unheld;
          continue;
        }
        if (c.type == 'D' || c.type == 'T') {
          // Blank is spaces (as FoxPro writes a D) or zeros (as it writes a T); other tools
          // use either.
          if (std::all_of(p, p + f.length, [](char ch) { return ch == ' ' || ch == 0; })) ++c.blank;
          continue;
        }
        const std::string_view raw(p, f.length);
        if (raw.find('*') != std::string_view::npos) {
          ++c.marks;
          continue;
        }
        if (raw.find_first_not_of(' ') == std::string_view::npos) {
          // FoxPro reads a blank number as 0; MySQL gets NULL. A null-flagged one is NULL on
          // both sides.
          if (!t.isNullFlagged(rec, c.field)) ++c.blank;
          continue;
        }
        // The shape FoxPro writes always reads as a number of at most the field's digits; only
        // other shapes (an exponent, stray characters) are decoded.
        if (PlainStoredNumber(raw)) continue;
        t.decodeField(rec, c.field, value);
        if (value.kind != vfp::Value::Kind::Decimal) {
          if (!t.isNullFlagged(rec, c.field)) ++c.notNumber;
          continue;
        }
        std::string_view digits = value.s;
        if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
        if (int(digits.substr(0, digits.find('.')).size()) > c.digits) ++c.wide;
      }
    }
    for (const auto& c : columns) {
      if (arrivesNull && (c.marks || c.notNumber || c.blank || c.unheld))
        (*arrivesNull)[c.column] = true;
      if (c.marks)
        lines.push_back("column " + c.name + ": " + std::to_string(c.marks) +
                        " overflow marks (*) arrive as NULL");
      if (c.wide)
        lines.push_back("column " + c.name + ": " + std::to_string(c.wide) +
                        " values are too wide for the column; their rows will be refused");
      if (c.notNumber)
        lines.push_back("column " + c.name + ": " + std::to_string(c.notNumber) +
                        " values that read as no number arrive as NULL");
      if (c.blank)
        lines.push_back("column " + c.name + ": " + std::to_string(c.blank) +
                        (c.type == 'D' || c.type == 'T' ? " blank dates" : " blank numbers") +
                        " arrive as NULL");
      if (c.unheld && !c.why.empty())
        lines.push_back("column " + c.name + ": " + Memos(c.unheld) +
                        " cannot be read and arrive as NULL (" + RecordList(c.records, c.unheld) +
                        "): " + c.why);
      else if (c.unheld)
        lines.push_back("column " + c.name + ": " + std::to_string(c.unheld) +
                        " infinite or NaN values, which MySQL cannot hold, arrive as NULL (" +
                        RecordList(c.records, c.unheld) + ")");
    }
  }
  return lines;
}

std::optional<TargetServer> AskTargetServer(const std::string& mysqlConnectionString) {
  try {
    ado::Connection c;
    c.open(mysqlConnectionString);
    ado::MySqlSession* session = ado::mysqlSessionOf(c);
    if (!session) return std::nullopt;
    auto rows = session->query("SELECT @@local_infile, @@max_allowed_packet");
    if (rows.empty() || rows[0].size() < 2) return std::nullopt;
    TargetServer server;
    const std::string local = rows[0][0].value_or("");
    server.localLoading = local == "1" || local == "ON";
    if (rows[0][1]) server.maxAllowedPacket = std::stoll(*rows[0][1]);
    return server;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<std::string> OversizedRowsReport(const std::string& foxproConnectionString,
                                             const std::string& table,
                                             const std::vector<ado::FieldInfo>& fields,
                                             long long maxPacket) {
  std::vector<std::string> lines;
  if (maxPacket <= 0) return lines;
  const auto catalog =
      vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
  const auto path = catalog->findTable(table);
  if (!path) return lines;
  vfp::Table t(*path);
  const long long room = maxPacket - kStatementRoom - (long long)t.header().recordLength;
  // No row can be too large when the whole memo file would fit in one statement.
  if ((long long)t.memoFileSize() <= room) return lines;
  std::vector<std::pair<std::size_t, std::string>> memos;  // header index, name as MySQL has it
  const auto& user = t.userFields();
  for (std::size_t k = 0; k < user.size() && k < fields.size(); ++k)
    if (t.header().fields[std::size_t(user[k])].isMemo())
      memos.emplace_back(std::size_t(user[k]), fields[k].name);
  constexpr int kMostNamed = 20;
  long long more = 0;
  vfp::RecordScanner scan(t);
  while (const std::uint8_t* rec = scan.nextLive()) {
    long long sum = 0, largest = -1;
    const std::string* field = nullptr;
    for (const auto& [index, name] : memos) {
      const long long n = (long long)t.memoLength(rec, index);
      sum += n;
      if (n > largest) largest = n, field = &name;
    }
    if (sum <= room || !field) continue;
    if (int(lines.size()) >= kMostNamed) {
      ++more;
      continue;
    }
    lines.push_back("record " + std::to_string(scan.recno() + 1) + ", field " + *field + ": " +
                    std::to_string(largest) +
                    " bytes, more than one INSERT statement may carry on this server "
                    "(max_allowed_packet is " +
                    std::to_string(maxPacket) + " bytes); the row will be refused");
  }
  if (more) lines.push_back("and " + std::to_string(more) + " more records with memos that large");
  return lines;
}

std::string FoxproToMySqlReport(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& tables) {
  std::string text;
  for (const auto& [table, lines] : tables) {
    if (lines.empty()) continue;
    text += "Table " + table + ":\n";
    for (const auto& line : lines) text += "  " + line + "\n";
  }
  if (text.empty()) return "Nothing in this script changes or drops a value.";
  text.pop_back();
  return text;
}

namespace {

// Where a replacing table is built, or the old one waits for its drop: the table's name with the
// suffix (then a number), cut to MySQL's 64 characters, in no letter case among `taken`.
std::string AsideName(const std::string& table, const std::string& suffix,
                      const std::vector<std::string>& taken) {
  constexpr qsizetype kMySqlNameCharacters = 64;
  for (int n = 1;; ++n) {
    const QString end = QString::fromStdString(suffix + (n == 1 ? "" : std::to_string(n)));
    QString stem = QString::fromStdString(table).left(kMySqlNameCharacters - end.size());
    if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);  // never half a character
    const QString name = stem + end;
    const bool used = std::any_of(taken.begin(), taken.end(), [&](const std::string& t) {
      return QString::fromStdString(t).compare(name, Qt::CaseInsensitive) == 0;
    });
    if (!used) return name.toStdString();
  }
}

}  // namespace

std::string ReplacedMySqlTable(const std::vector<std::string>& mysqlTables,
                               const std::string& name) {
  if (std::find(mysqlTables.begin(), mysqlTables.end(), name) != mysqlTables.end()) return name;
  std::vector<std::string> alike;
  for (const auto& t : mysqlTables)
    if (QString::fromStdString(t).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
      alike.push_back(t);
  if (alike.size() <= 1) return alike.empty() ? std::string() : alike.front();
  std::string list;
  for (const auto& t : alike) list += (list.empty() ? "" : ", ") + t;
  throw ado::DataAccessError("MySQL holds " + list +
                             ", which differ from it only in letter case; it is not clear which "
                             "one it would replace");
}

TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, bool overwrite) {
  return ScriptTable(foxpro, foxproConnectionString, table, overwrite ? table : std::string(),
                     overwrite ? std::vector<std::string>{table} : std::vector<std::string>{});
}

TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, const std::string& replaces,
                        const std::vector<std::string>& mysqlTables, const std::string& namedBy,
                        const std::function<void(int percent)>& progress,
                        const TypedMySqlScript* typed, std::size_t typedIndex) {
  ado::RecordSet rs;
  rs.open(SelectAll(table), foxpro, ado::adOpenForwardOnly, ado::adLockReadOnly);
  std::string codePageLine;  // what the report says of the page the text is read in
  int readIn = 0;            // that page, when the header names none
  if (const vfp::QueryResult* rows = ado::foxproResultOf(rs)) {
    const vfp::CodePageChoice& cp = rows->codePageChoice();
    using Source = vfp::CodePageChoice::Source;
    if (cp.unmarked()) readIn = cp.codePage;
    if (cp.unmarked() && cp.source != Source::Plain)
      codePageLine = cp.describe(namedBy);
    else if (cp.source == Source::Header && foxpro.unmarkedCodePage())
      codePageLine =
          cp.describe() + "; the code page " + namedBy + " is for tables whose header names none";
  }
  std::vector<ado::FieldInfo> fields;
  std::vector<std::string> names;
  for (int k = 0; k < rs.fieldCount(); ++k) {
    fields.push_back(rs.field(k));
    names.push_back(rs.field(k).name);
  }
  rs.close();
  // MySQL refuses longer names at Execute; a container's long names may be up to 128.
  constexpr int kMySqlNameCharacters = 64;
  auto tooLong = [](const std::string& n) {
    return QString::fromStdString(n).size() > kMySqlNameCharacters;
  };
  if (tooLong(table))
    throw ado::DataAccessError("the table name has more than 64 characters, MySQL's limit");
  for (const auto& n : names)
    if (tooLong(n))
      throw ado::DataAccessError("the field name " + n +
                                 " has more than 64 characters, MySQL's limit");
  TableScript part;
  const std::string key = MySqlScript::TempKeyName(names);
  // A table that replaces another is built apart and swapped in whole, keeping the old one's
  // name (its letter case included, which other programs may rely on).
  std::string into = table, aside;
  if (!replaces.empty()) {
    std::vector<std::string> taken = mysqlTables;
    taken.push_back(replaces);
    into = AsideName(replaces, "_qmnew", taken);
    taken.push_back(into);
    aside = AsideName(replaces, "_qmold", taken);
  }
  if (typed) {
    // The shape read from the table's files must be the one the rows come in.
    const vfp::TableSchema& shape = typed->schema(typedIndex);
    bool same = shape.fields.size() == fields.size();
    for (std::size_t k = 0; same && k < fields.size(); ++k)
      same = shape.fields[k].name == fields[k].name;
    if (!same)
      throw ado::DataAccessError("the fields of " + table +
                                 " read from its files differ from those its rows give");
    std::vector<bool> arrivesNull;
    part.report =
        FoxproTableReport(foxproConnectionString, table, fields, progress, true, &arrivesNull);
    TypedMySqlScript::Table typedPart = typed->table(typedIndex, into, key, arrivesNull);
    part.commands.push_back(typedPart.create);
    part.commands.insert(part.commands.end(), typedPart.afterRows.begin(),
                         typedPart.afterRows.end());
    part.report.insert(part.report.end(), typedPart.report.begin(), typedPart.report.end());
  } else {
    part.commands.push_back(MySqlScript::CreateCommand(into, key, fields));
    part.commands.push_back(MySqlScript::AlterCommand(into, key));
  }
  if (!replaces.empty()) {
    part.commands.push_back(MySqlScript::SwapCommand(replaces, aside, into));
    part.commands.push_back(MySqlScript::DropCommand(aside));
  }
  if (!typed) part.report = FoxproTableReport(foxproConnectionString, table, fields, progress);
  if (!codePageLine.empty()) part.report.insert(part.report.begin(), codePageLine);
  if (!replaces.empty())
    part.report.insert(part.report.begin(), "replaces the MySQL table " + replaces + ": built as " +
                                                into + ", which takes its place once complete");
  part.job = std::make_unique<RowCopyJob>(foxproConnectionString, table, key, std::move(fields),
                                          into, replaces);
  part.job->setSourceCodePage(readIn);
  return part;
}

int BuildSendToMySql(const std::vector<std::string>& tables,
                     const std::vector<std::string>& mysqlTables,
                     const std::string& foxproConnectionString, ScriptSink& sink,
                     const SendToMySqlHooks& hooks) {
  if (tables.empty()) return 0;

  ado::Connection foxpro;
  foxpro.setCursorLocation(ado::adUseClient);
  foxpro.setUnmarkedCodePage(hooks.unmarkedCodePage);
  foxpro.open(foxproConnectionString);
  int scripted = 0;
  std::vector<std::pair<std::string, std::vector<std::string>>> report;
  std::optional<TypedMySqlScript> typed;
  std::vector<std::size_t> typedIndex(tables.size(), std::size_t(-1));
  std::vector<std::string> typedReplaces(tables.size());
  if (hooks.typed) {
    // Every table's shape first: a table's columns and foreign keys depend on which of the
    // others go with it.
    std::vector<vfp::TableSchema> shapes;
    std::vector<std::string> names;
    const auto catalog =
        vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
    std::string container;
    for (std::size_t i = 0; i < tables.size(); ++i) {
      const std::string& name = tables[i];
      try {
        typedReplaces[i] = ReplacedMySqlTable(mysqlTables, name);
        if (!typedReplaces[i].empty() && !(hooks.confirmOverwrite && hooks.confirmOverwrite(name)))
          continue;
        const auto path = catalog->findTable(name);
        if (!path) throw ado::DataAccessError("the table " + name + " is not in the database");
        shapes.push_back(vfp::describeTable(*path));
        if (container.empty()) container = shapes.back().container;
        names.push_back(typedReplaces[i].empty() ? name : typedReplaces[i]);
        typedIndex[i] = shapes.size() - 1;
      } catch (const std::exception& e) {
        if (hooks.tableFailed) hooks.tableFailed(name, e.what());
        report.emplace_back(
            name, std::vector<std::string>{std::string("left out of the script: ") + e.what()});
      }
    }
    typed.emplace(
        std::move(shapes), std::move(names),
        container.empty() ? std::vector<vfp::RelationSchema>{} : vfp::describeRelations(container));
  }
  std::vector<std::string> scriptedNames;  // of the typed tables scripted
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const std::string& name = tables[i];
    if (typed && typedIndex[i] == std::size_t(-1)) continue;  // declined, or reported above
    // A table that cannot be read is reported and left out; the others still go.
    try {
      const std::string replaces = typed ? typedReplaces[i] : ReplacedMySqlTable(mysqlTables, name);
      if (!typed && !replaces.empty() && !(hooks.confirmOverwrite && hooks.confirmOverwrite(name)))
        continue;
      std::function<void(int)> within;
      if (hooks.progress)
        within = [&](int percent) {
          hooks.progress(int((i * 100 + std::size_t(percent)) / tables.size()));
        };
      TableScript part =
          ScriptTable(foxpro, foxproConnectionString, name, replaces, mysqlTables,
                      hooks.unmarkedNamedBy, within, typed ? &*typed : nullptr, typedIndex[i]);
      if (hooks.server && !hooks.server->localLoading) {
        // Rows then go with INSERT statements, which the server's packet limit bounds.
        auto oversized = OversizedRowsReport(foxproConnectionString, name, part.job->fields(),
                                             hooks.server->maxAllowedPacket);
        part.report.insert(part.report.end(), oversized.begin(), oversized.end());
        part.job->setLocalLoadAnnounced(true);
      }
      for (const auto& command : part.commands) sink.appendCommand(command);
      sink.addJob(std::move(part.job));
      report.emplace_back(name, std::move(part.report));
      if (typed) scriptedNames.push_back(typed->schema(typedIndex[i]).name);
      ++scripted;
    } catch (const std::exception& e) {
      if (hooks.tableFailed) hooks.tableFailed(name, e.what());
      report.emplace_back(
          name, std::vector<std::string>{std::string("left out of the script: ") + e.what()});
    }
    if (hooks.progress) hooks.progress(int((i + 1) * 100 / tables.size()));
  }
  foxpro.close();
  if (typed && scripted > 0) {
    // Only between tables that made it into the script.
    std::vector<std::pair<std::string, std::string>> refused;
    for (const auto& line : typed->foreignKeys(refused, scriptedNames)) sink.appendCommand(line);
    for (const auto& [table, line] : refused) {
      auto at = std::find_if(report.begin(), report.end(),
                             [&](const auto& r) { return vfp::equalsNoCase(r.first, table); });
      if (at == report.end()) at = report.insert(report.end(), {table, {}});
      at->second.push_back(line);
    }
  }
  std::string text = FoxproToMySqlReport(report);
  if (scripted > 0 && hooks.server && !hooks.server->localLoading)
    text += std::string("\n") + kLocalLoadOffReport;
  sink.report(text);
  return scripted;
}

}  // namespace transfer
