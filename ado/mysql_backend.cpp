// The MySQL backend of the data-access layer on MariaDB Connector/C: record sets over results,
// and the backend a connection opens.
#include <mysql.h>

#include <deque>
#include <map>

#include "ado/dataaccess.h"
#include "ado/mysql_internal.h"
#include "ado/mysql_session.h"

namespace ado {

// ---- cursor -----------------------------------------------------------------------------------

namespace {

// The rows of one result: all stored (client-side, exact count) or streamed from the server.
// Added rows go to the result's original table through a prepared INSERT built from the
// column metadata.
class MySqlCursor final : public Cursor, private MySqlSession::Pending {
 public:
  MySqlCursor(std::shared_ptr<MySqlSession> session, MYSQL_RES* res, bool streaming, bool updatable)
      : session_(std::move(session)), res_(res), streaming_(streaming), updatable_(updatable) {
    unsigned n = mysql_num_fields(res_);
    MYSQL_FIELD* f = mysql_fetch_fields(res_);
    for (unsigned i = 0; i < n; ++i) {
      fields_.push_back(mysqlFieldInfo(f[i]));
      origin_.push_back({f[i].db ? f[i].db : "", f[i].org_table ? f[i].org_table : "",
                         f[i].org_name ? f[i].org_name : ""});
      autoIncrement_.push_back((f[i].flags & AUTO_INCREMENT_FLAG) != 0);
    }
    count_ = streaming_ ? -1 : static_cast<long long>(mysql_num_rows(res_));
    if (streaming_) session_->setPending(this);
    fetch();
  }

  ~MySqlCursor() override {
    statements_.clear();
    releaseResult();
  }

  const std::vector<FieldInfo>& fields() const override { return fields_; }
  long long recordCount() const override { return count_; }
  bool eof() const override { return !adding_ && eof_; }
  void moveNext() override {
    if (adding_) {
      // A row just added is current until the caller moves on; then the result resumes.
      adding_ = false;
      if (!eof_) return;
    }
    fetch();
  }
  const Value& value(int index) const override {
    return adding_ ? row_new_[static_cast<std::size_t>(index)]
                   : row_[static_cast<std::size_t>(index)];
  }

  void addNew() override {
    requireUpdatable();
    adding_ = true;
    stored_ = false;
    row_new_.assign(fields_.size(), Value::null());
    assigned_.assign(fields_.size(), false);
  }

  void setValue(int index, Value value) override {
    requireUpdatable();
    if (!adding_ || stored_)
      throw DataAccessError("Only a record begun with AddNew can be given values here.");
    auto i = static_cast<std::size_t>(index);
    if (origin_[i].table.empty() || origin_[i].column.empty())
      throw DataAccessError("Field '" + fields_[i].name +
                            "' is not a table column and cannot be updated.");
    row_new_[i] = std::move(value);
    assigned_[i] = true;
  }

  void update() override {
    requireUpdatable();
    if (!adding_ || stored_) return;  // nothing pending
    std::vector<Value> params;
    std::string key(assigned_.size(), '0');
    for (std::size_t i = 0; i < assigned_.size(); ++i)
      if (assigned_[i]) {
        key[i] = '1';
        params.push_back(row_new_[i]);
      }
    auto it = statements_.find(key);
    if (it == statements_.end())
      it = statements_.emplace(key, session_->prepare(insertSql())).first;
    it->second.execute(params);
    for (std::size_t i = 0; i < assigned_.size(); ++i)
      if (!assigned_[i] && autoIncrement_[i] && it->second.insertId() != 0)
        row_new_[i] = fields_[i].type == adUnsignedBigInt || fields_[i].type == adUnsignedInt
                          ? Value::fromUInt(it->second.insertId())
                          : Value::fromInt(static_cast<std::int64_t>(it->second.insertId()));
    stored_ = true;
    if (count_ >= 0) ++count_;
  }

 private:
  struct Origin {
    std::string db, table, column;
  };

  void requireUpdatable() const {
    if (!updatable_) throw DataAccessError("This record set cannot be updated.");
  }

  std::string insertSql() const {
    std::string table;
    std::string columns, marks;
    for (std::size_t i = 0; i < assigned_.size(); ++i) {
      if (!assigned_[i]) continue;
      std::string t = (origin_[i].db.empty() ? "" : quoteMySqlName(origin_[i].db) + ".") +
                      quoteMySqlName(origin_[i].table);
      if (table.empty())
        table = t;
      else if (t != table)
        throw DataAccessError("A new record can only be stored into one table.");
      if (!columns.empty()) {
        columns += ",";
        marks += ",";
      }
      columns += quoteMySqlName(origin_[i].column);
      marks += "?";
    }
    if (table.empty()) {
      // No value given: a row of defaults into the result's first table column.
      for (const auto& o : origin_)
        if (!o.table.empty()) {
          table = (o.db.empty() ? "" : quoteMySqlName(o.db) + ".") + quoteMySqlName(o.table);
          break;
        }
      if (table.empty()) throw DataAccessError("This record set has no table to add records to.");
    }
    return "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
  }

  void fetch() {
    if (!buffered_.empty()) {
      row_ = std::move(buffered_.front());
      buffered_.pop_front();
      eof_ = false;
      return;
    }
    if (!res_) {
      eof_ = true;
      row_.assign(fields_.size(), Value::null());
      return;
    }
    MYSQL_ROW r = streaming_ ? session_->fetchRow(res_) : mysql_fetch_row(res_);
    if (!r) {
      // For a streamed result a missing row is either the end or a broken connection.
      if (streaming_ && mysql_errno(session_->handle()) != 0) {
        DataAccessError error(mysql_error(session_->handle()),
                              static_cast<int>(mysql_errno(session_->handle())));
        releaseResult();
        throw error;
      }
      eof_ = true;
      row_.assign(fields_.size(), Value::null());
      if (streaming_) releaseResult();
      return;
    }
    row_ = decodeRow(r);
    eof_ = false;
  }

  std::vector<Value> decodeRow(MYSQL_ROW r) const {
    unsigned long* lengths = mysql_fetch_lengths(res_);
    std::vector<Value> out;
    out.reserve(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i)
      out.push_back(mysql_detail::decodeText(fields_[i], r[i], lengths[i]));
    return out;
  }

  // Another command needs the connection: keep the rest of the stream in memory.
  void bufferRest() override {
    if (!res_) return;
    while (MYSQL_ROW r = session_->fetchRow(res_)) buffered_.push_back(decodeRow(r));
    releaseResult();
  }

  // Never throws: a waiting callback that throws while the rest of a streamed result is
  // dropped abandons the connection, and the result is freed all the same.
  void releaseResult() noexcept {
    if (!res_) return;
    MYSQL_RES* res = res_;
    res_ = nullptr;
    if (!streaming_) return mysql_free_result(res);
    session_->clearPending(this);
    try {
      session_->freeResult(res);  // reads and drops what is left of the result
    } catch (...) {
    }
  }

  std::shared_ptr<MySqlSession> session_;
  MYSQL_RES* res_;
  bool streaming_;
  bool updatable_;
  std::vector<FieldInfo> fields_;
  std::vector<Origin> origin_;
  std::vector<bool> autoIncrement_;
  long long count_ = -1;
  bool eof_ = true;
  std::vector<Value> row_;
  std::deque<std::vector<Value>> buffered_;

  bool adding_ = false;
  bool stored_ = false;
  std::vector<Value> row_new_;
  std::vector<bool> assigned_;
  std::map<std::string, MySqlStatement> statements_;  // by the set of columns given
};

// Record sets share the session with the backend: closing the connection while a record set
// is still open leaves the server connection to that record set until it is released, so its
// rows stay readable.
class MySqlBackend final : public Backend {
 public:
  void open(const ConnectionString& cs, const ConnectionOptions& options) override {
    options_ = options;
    session_ = std::make_shared<MySqlSession>(MySqlLogin::fromConnectionString(cs), options);
  }

  std::unique_ptr<Cursor> execute(std::string_view sql) override {
    return run(std::string(sql), options_.cursorLocation == adUseServer, false, false);
  }

  std::unique_ptr<Cursor> openRecordSet(const std::string& sql, CursorType,
                                        LockType lockType) override {
    return run(sql, options_.cursorLocation == adUseServer, lockType != adLockReadOnly, true);
  }

  std::unique_ptr<Cursor> tablesSchema() override {
    return run(
        "SELECT TABLE_SCHEMA AS TABLE_CATALOG, NULL AS TABLE_SCHEMA, TABLE_NAME, "
        "CASE TABLE_TYPE WHEN 'BASE TABLE' THEN 'TABLE' ELSE TABLE_TYPE END AS TABLE_TYPE "
        "FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() ORDER BY TABLE_NAME",
        false, false, true);
  }

  void close() override { session_.reset(); }

  void setWaiting(Waiting waiting) override {
    options_.waiting = waiting;
    if (session_) session_->setWaiting(std::move(waiting));
  }

  bool abandoned() const override { return session_ && session_->abandoned(); }

  MySqlSession* session() const { return session_.get(); }

 private:
  MySqlSession& live() {
    if (!session_) throw DataAccessError("Operation is not allowed when the object is closed.");
    return *session_;
  }

  std::unique_ptr<Cursor> run(const std::string& sql, bool streaming, bool updatable,
                              bool needRows) {
    MySqlSession& s = live();
    s.settle();
    if (s.realQuery(sql) != 0) s.raise();
    MYSQL_RES* res = streaming ? mysql_use_result(s.handle()) : s.storeResult();
    if (!res) {
      if (mysql_field_count(s.handle()) != 0) s.raise();  // rows expected but not received
      if (needRows) throw DataAccessError("The statement returned no rows to open: " + sql);
      return nullptr;
    }
    return std::make_unique<MySqlCursor>(session_, res, streaming, updatable);
  }

  ConnectionOptions options_;
  std::shared_ptr<MySqlSession> session_;
};

}  // namespace

std::unique_ptr<Backend> makeMySqlBackend() { return std::make_unique<MySqlBackend>(); }

MySqlSession* mysqlSessionOf(Connection& connection) {
  if (connection.state() != adStateOpen) return nullptr;
  auto* backend = dynamic_cast<MySqlBackend*>(&connection.backend());
  return backend ? backend->session() : nullptr;
}

}  // namespace ado
