// One open connection to a MySQL/MariaDB server through Connector/C, and prepared statements on
// it. The MySQL backend of the data-access layer is built on this; code that needs more speed
// than one record-set update per row (bulk copying: a multi-row INSERT prepared once and run
// inside a transaction) may use it directly:
//
//   ado::MySqlSession* s = ado::mysqlSessionOf(connection);  // nullptr for a FoxPro connection
//   ado::MySqlTransaction tx(*s);
//   auto insert = s->prepare("INSERT INTO `t` (`a`,`b`) VALUES (?,?),(?,?)");
//   insert.execute({a1, b1, a2, b2});
//   tx.commit();  // rolled back when destroyed without commit
//
// Callers may rely on: TCP even for "localhost", character set utf8mb4, a connect time-out of
// our own when none is given, every failure thrown as DataAccessError with the server's own text
// and error number, values never pasted into SQL text.
#pragma once

#include <mysql.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dataaccess.h"

namespace ado {

class MySqlStatement;

// How much the connection insists on TLS, from the connection string's SSLMODE key (the names
// MySQL's own clients use):
//   DISABLED         never TLS;
//   PREFERRED        TLS whenever the server offers it, else in the clear (the default);
//   REQUIRED         TLS or no connection, the server's certificate not checked;
//   VERIFY_CA,
//   VERIFY_IDENTITY  TLS, and the server's certificate must be signed by a trusted authority
//                    (SSLCA=<file>, else the system's authorities) for the host name connected
//                    to; this client checks the name in both modes.
enum class TlsMode { Disabled, Preferred, Required, Verify };

// Where and how to connect; parsed from SERVER, PORT, USER, PASSWORD, DATABASE, SSLMODE, SSLCA.
struct MySqlLogin {
  std::string host;
  unsigned port = 0;
  std::string user;
  std::string password;
  std::string database;
  TlsMode tls = TlsMode::Preferred;
  std::string tlsAuthority;  // SSLCA: a PEM file of trusted authorities

  // Throws DataAccessError for a port that is not a number from 1 to 65535 (empty included):
  // a typing mistake must not quietly reach whatever listens on the default port.
  static MySqlLogin fromConnectionString(const ConnectionString& cs);
};

class MySqlSession {
 public:
  MySqlSession(const MySqlLogin& login, const ConnectionOptions& options);
  ~MySqlSession();
  MySqlSession(const MySqlSession&) = delete;
  MySqlSession& operator=(const MySqlSession&) = delete;

  // Runs one statement and discards any rows it returns.
  void execute(const std::string& sql);
  unsigned long long affectedRows() const;
  MySqlStatement prepare(const std::string& sql);

  // Runs one statement and returns its rows as text (NULL as nullopt). For small answers:
  // settings, warnings, a list of keys.
  std::vector<std::vector<std::optional<std::string>>> query(const std::string& sql);
  // Warnings the last statement left (values the server changed instead of refusing).
  unsigned warningCount() const;
  // The texts of those warnings ("Level Code: Message"), read with SHOW WARNINGS.
  std::vector<std::string> warnings();
  // A new session with the same login and options, for cleaning up after this one was lost.
  std::unique_ptr<MySqlSession> reopen() const;

  // Throws the connection's current error as DataAccessError.
  [[noreturn]] void raise() const;

  // The raw handle, for what this class does not wrap. Before using it for a query, call
  // settle() so that no streaming result is still pending on the connection.
  MYSQL* handle() const { return mysql_; }

  // A streaming result, while it is pending, owns the connection's wire. The session asks it to
  // take its remaining rows into memory before the next command, so both keep working.
  class Pending {
   public:
    virtual ~Pending() = default;
    virtual void bufferRest() = 0;
  };
  void setPending(Pending* pending) { pending_ = pending; }
  void clearPending(Pending* pending) {
    if (pending_ == pending) pending_ = nullptr;
  }
  void settle();

 private:
  MYSQL* mysql_ = nullptr;
  Pending* pending_ = nullptr;
  MySqlLogin login_;
  ConnectionOptions options_;
};

// A prepared statement with "?" placeholders; parameters are bound from values by their kind
// (bytes as binary, decimal text as a decimal, dates as dates). It must not outlive its session.
class MySqlStatement {
 public:
  MySqlStatement(MySqlSession& session, const std::string& sql);
  ~MySqlStatement();
  MySqlStatement(MySqlStatement&& other) noexcept;
  MySqlStatement& operator=(MySqlStatement&&) = delete;
  MySqlStatement(const MySqlStatement&) = delete;

  unsigned paramCount() const;
  // Runs the statement with these parameters (exactly paramCount() of them).
  void execute(const std::vector<Value>& params);
  unsigned long long affectedRows() const;
  unsigned long long insertId() const;

 private:
  [[noreturn]] void raise() const;
  MySqlSession* session_;
  MYSQL_STMT* stmt_;
};

// Rolls back on destruction unless committed.
class MySqlTransaction {
 public:
  explicit MySqlTransaction(MySqlSession& session);
  ~MySqlTransaction();
  MySqlTransaction(const MySqlTransaction&) = delete;
  MySqlTransaction& operator=(const MySqlTransaction&) = delete;
  void commit();

 private:
  MySqlSession& session_;
  bool done_ = false;
};

// The session under an open MySQL connection; nullptr when the connection is closed or reaches
// another kind of database.
MySqlSession* mysqlSessionOf(Connection& connection);

// The data-access type code and size facts of one result column (exposed for tests).
FieldInfo mysqlFieldInfo(const MYSQL_FIELD& field);

}  // namespace ado
