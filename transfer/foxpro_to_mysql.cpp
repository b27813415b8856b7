#include "transfer/foxpro_to_mysql.h"

#include <QListWidget>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <optional>

#include "platform/application.h"
#include "platform/connection_strings.h"
#include "platform/dialogs.h"
#include "platform/error_trap.h"
#include "platform/main_module.h"
#include "platform/mysql_session.h"
#include "platform/pointer.h"
#include "platform/table_listing.h"
#include "platform/ui.h"
#include "transfer/form4.h"
#include "transfer/local_load.h"
#include "transfer/mysql_script.h"

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

// Thrown out of a progress callback when the program is closing during a long build.
struct ProgramEnding {};

}  // namespace

int RowsPerInsert(long long rows) {
  if (rows <= 0) return 1;
  long long perPercent = (rows + 99) / 100;
  return int(std::clamp<long long>(perPercent, 1, kMaxRowsPerInsert));
}

RowCopyStats CopyRows(ado::Connection& source, const std::string& table,
                      const std::vector<ado::FieldInfo>& fields, const std::string& keyName,
                      ado::MySqlSession& target, const std::function<void(int)>& progress,
                      std::vector<std::string>& notes) {
  ado::RecordSet rs;
  rs.open(SelectAll(table), source, ado::adOpenForwardOnly, ado::adLockReadOnly);
  bool same = rs.fieldCount() == int(fields.size());
  for (int k = 0; same && k < rs.fieldCount(); ++k) same = rs.field(k).name == fields[k].name;
  if (!same)
    throw ado::DataAccessError("The FoxPro table " + table +
                               " no longer has the fields the script was made for.");

  RowCopyStats stats;
  const long long total = rs.recordCount();
  const int perInsert = RowsPerInsert(total);
  const std::size_t width = fields.size() + 1;
  const std::string head = InsertHead(table, keyName, fields);

  std::optional<ado::MySqlStatement> full;    // perInsert rows
  std::optional<ado::MySqlStatement> single;  // one row, for the tail and for retries
  std::optional<ado::MySqlTransaction> tx;
  int insertsInTransaction = 0;
  std::vector<ado::Value> params;
  params.reserve(std::size_t(perInsert) * width);
  long long firstRow = 0;  // row number of params' first row
  int rowsPending = 0;
  std::size_t bytesPending = 0;

  auto one = [&]() -> ado::MySqlStatement& {
    if (!single) single.emplace(target, InsertFor(head, width, 1));
    return *single;
  };
  auto storeOneByOne = [&] {
    std::vector<ado::Value> row(width);
    for (int r = 0; r < rowsPending; ++r) {
      std::copy_n(params.begin() + std::ptrdiff_t(std::size_t(r) * width), width, row.begin());
      try {
        one().execute(row);
        ++stats.stored;
      } catch (const ado::DataAccessError& e) {
        if (EndsTheCopy(e)) throw;
        ++stats.refused;
        notes.push_back("Row " + std::to_string(firstRow + r) + " of " + table +
                        " was not sent: " + e.what());
      }
    }
  };
  auto flush = [&] {
    if (rowsPending == 0) return;
    if (!tx) tx.emplace(target);
    try {
      if (rowsPending == 1) {
        storeOneByOne();
      } else if (rowsPending == perInsert) {
        if (!full) full.emplace(target, InsertFor(head, width, perInsert));
        full->execute(params);
        stats.stored += rowsPending;
      } else {
        ado::MySqlStatement tail(target, InsertFor(head, width, rowsPending));
        tail.execute(params);
        stats.stored += rowsPending;
      }
    } catch (const ado::DataAccessError& e) {
      // A refused statement is undone by the server on its own; the transaction and the rows
      // before it stay, so only this statement's rows are tried again, one by one.
      if (EndsTheCopy(e)) throw;
      storeOneByOne();
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
  for (const auto& f : fields) columns.push_back(f.name);
  // A chunk per percent, so progress moves as it does with statements.
  std::unique_ptr<LocalRowLoad> load = LocalRowLoad::Start(
      target, table, columns, std::size_t(std::max<long long>(1, (total + 99) / 100)), notes);
  auto nextRow = [&](ado::Value* row) {
    if (rs.eof()) return false;
    row[0] = ado::Value::fromInt(stats.rows);
    for (int k = 0; k < int(fields.size()); ++k) row[k + 1] = rs.value(k);
    ++stats.rows;
    rs.moveNext();
    return true;
  };
  auto sendWithInserts = [&](const std::vector<ado::Value>& rows, std::size_t w) {
    firstRow = rows.front().asInt();
    for (std::size_t at = 0; at < rows.size(); at += w) {
      params.insert(params.end(), rows.begin() + std::ptrdiff_t(at),
                    rows.begin() + std::ptrdiff_t(at + w));
      for (std::size_t k = at; k < at + w; ++k) bytesPending += SizeOnTheWire(rows[k]);
      if (++rowsPending == perInsert || bytesPending >= kMaxBytesPerInsert) flush();
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
    load->send(nextRow, sendWithInserts);
    stats.stored = stats.rows - stats.refused;
    // A chunk handed back reported its progress through the statements.
    if (progress && load->chunksLoaded() > loadedBefore)
      progress(total > 0 ? int(std::min<long long>(100, stats.rows * 100 / total)) : 100);
  }

  while (!rs.eof()) {
    params.push_back(ado::Value::fromInt(stats.rows));
    for (int k = 0; k < int(fields.size()); ++k) {
      const ado::Value& v = rs.value(k);
      bytesPending += SizeOnTheWire(v);
      params.push_back(v);
    }
    ++stats.rows;
    if (++rowsPending == perInsert || bytesPending >= kMaxBytesPerInsert) flush();
    rs.moveNext();
  }
  flush();
  if (tx) tx->commit();
  return stats;
}

RowCopyJob::RowCopyJob(std::string foxproConnectionString, std::string table, std::string keyName,
                       std::vector<ado::FieldInfo> fields)
    : foxpro_(std::move(foxproConnectionString)),
      table_(std::move(table)),
      keyName_(std::move(keyName)),
      fields_(std::move(fields)),
      createPrefix_("CREATE TABLE " + MySqlScript::QuoteIdentifier(table_) + "(") {}

bool RowCopyJob::runsAfter(const std::string& line) const {
  return line.compare(0, createPrefix_.size(), createPrefix_) == 0;
}

void RowCopyJob::run(ado::Connection& target, const std::function<void(int percent)>& progress,
                     std::vector<std::string>& notes) {
  ado::MySqlSession* session = ado::mysqlSessionOf(target);
  if (!session)
    throw ado::DataAccessError("The rows of " + table_ + " can only be copied to MySQL.");
  // The script may run long after it was made; the source is read as it is now.
  ado::Connection source;
  source.setCursorLocation(ado::adUseClient);
  source.open(foxpro_);
  stats_ = {};
  stats_ = CopyRows(source, table_, fields_, keyName_, *session, progress, notes);
  source.close();
}

TableScript ScriptTable(ado::Connection& foxpro, const std::string& foxproConnectionString,
                        const std::string& table, bool overwrite) {
  ado::RecordSet rs;
  rs.open(SelectAll(table), foxpro, ado::adOpenForwardOnly, ado::adLockReadOnly);
  std::vector<ado::FieldInfo> fields;
  std::vector<std::string> names;
  for (int k = 0; k < rs.fieldCount(); ++k) {
    fields.push_back(rs.field(k));
    names.push_back(rs.field(k).name);
  }
  rs.close();
  TableScript part;
  const std::string key = MySqlScript::TempKeyName(names);
  if (overwrite) part.commands.push_back(MySqlScript::DropCommand(table));
  part.commands.push_back(MySqlScript::CreateCommand(table, key, fields));
  part.commands.push_back(MySqlScript::AlterCommand(table, key));
  part.job = std::make_unique<RowCopyJob>(foxproConnectionString, table, key, std::move(fields));
  return part;
}

int BuildSendToMySql(const std::vector<std::string>& tables,
                     const std::vector<std::string>& mysqlTables,
                     const std::string& foxproConnectionString, ScriptSink& sink,
                     const SendToMySqlHooks& hooks) {
  if (tables.empty()) return 0;
  auto held = [&](const std::string& name) {
    const QString wanted = QString::fromStdString(name);
    return std::any_of(mysqlTables.begin(), mysqlTables.end(), [&](const std::string& t) {
      return QString::fromStdString(t).compare(wanted, Qt::CaseInsensitive) == 0;
    });
  };

  ado::Connection foxpro;
  foxpro.setCursorLocation(ado::adUseClient);
  foxpro.open(foxproConnectionString);
  int scripted = 0;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const std::string& name = tables[i];
    bool overwrite = false;
    if (held(name)) {
      overwrite = hooks.confirmOverwrite && hooks.confirmOverwrite(name);
      if (!overwrite) continue;
    }
    // A table that cannot be read is reported and left out; the others still go.
    try {
      TableScript part = ScriptTable(foxpro, foxproConnectionString, name, overwrite);
      for (const auto& command : part.commands) sink.appendCommand(command);
      sink.addJob(std::move(part.job));
      ++scripted;
    } catch (const std::exception& e) {
      if (hooks.tableFailed) hooks.tableFailed(name, e.what());
    }
    if (hooks.progress) hooks.progress(int((i + 1) * 100 / tables.size()));
  }
  foxpro.close();
  return scripted;
}

void SendTablesToMySql(platform::MainWindowView& view) {
  auto& app = platform::Application::current();
  platform::ErrorTrap trap("Form2", "PushButton4_Click", &view.window);
  const std::vector<std::string> tables = platform::ChosenTables(view.List2);
  if (tables.empty()) {
    trap.step(100, [&] {
      platform::MsgBox("Please select a table to send.", platform::vbOKOnly, {}, &view.window);
    });
    return;
  }

  Form4 form(&view.window);
  struct FormSink : ScriptSink {
    Form4& form;
    explicit FormSink(Form4& f) : form(f) {}
    void appendCommand(const std::string& command) override {
      form.AppendCommand(QString::fromStdString(command));
    }
    void addJob(std::unique_ptr<ScriptJob> job) override { form.AddJob(std::move(job)); }
  } sink(form);

  bool built = false;
  {
    platform::WaitPointer wait(view.pointer);
    built = trap.step(102, [&] {
      try {
        SendToMySqlHooks hooks;
        hooks.confirmOverwrite = [&](const std::string& name) {
          return platform::MsgBox(
                     "Would you like to overwrite " + QString::fromStdString(name) + "?",
                     platform::vbYesNo, "Overwrite?", &view.window) == platform::vbYes;
        };
        // Reported as the build's own step, so the report names where it happened.
        hooks.tableFailed = [&](const std::string&, const std::string& error) {
          platform::ErrorTrap tableTrap("Form2", "PushButton4_Click", &view.window);
          tableTrap.step(118, [&] { throw platform::Error(error); });
        };
        hooks.progress = [&](int percent) {
          view.ProgressBar1.setValue(percent);
          platform::DoEvents();
          if (app.ending()) throw ProgramEnding{};
        };
        BuildSendToMySql(tables, platform::ListedTables(view.List1), FoxproConnectionString(), sink,
                         hooks);
      } catch (const ProgramEnding&) {
      }
    });
    view.ProgressBar1.setValue(0);
    view.ProgressBar1.setFormat("Progress Bar");
  }
  if (!built || app.ending()) return;

  form.m_SendType = 1;
  trap.step(104, [&] { platform::ShowModal(form); });
  if (app.ending()) return;
  // Whether or not the script ran, and however far, the list shows what the server now holds.
  MySQL::AddTablesToMySQLListbox(view.List1);
}

}  // namespace transfer
