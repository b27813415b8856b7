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
//
// With a waiting callback (ConnectionOptions::waiting, setWaiting) every call that may wait on
// the server runs through Connector/C's non-blocking interface: the socket is watched in 20 ms
// slices and the callback runs between them, on the caller's own stack, never inside the client
// library. The read, write and connect limits count as they do for a blocking call. When the
// callback throws, the session abandons the statement: it cuts the socket, lets the client
// library finish the call with a connection error (so it frees what the call held), and from
// then on refuses every statement. Raw Connector/C calls on handle() block as before; code
// that wants them to wait the same way uses realQuery/storeResult/fetchRow/freeResult.
#pragma once

#include <mysql.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/dataaccess.h"

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
  // Runs the statements in order as one command (joined with ";"), so they cost one round trip
  // instead of one each, discarding any rows they return. Multi statements are allowed for
  // this command only: a text given to execute() that holds two statements still fails as one.
  // Each statement must therefore be exactly one, with no ";" or comment outside its quotes.
  // The server stops at the first statement that fails; its error is thrown as execute()
  // throws it, none after it ran, and the connection stays usable. `succeeded` counts the
  // statements that ran, as they complete, so it holds even when the waiting callback throws.
  void executeEach(const std::vector<std::string>& statements, std::size_t& succeeded);
  // False while the session's SQL mode reads a backslash inside quotes as itself
  // (NO_BACKSLASH_ESCAPES), as the server reported it with its last answer.
  bool readsBackslashEscapes() const;
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

  // Empty: every call blocks until the server answers (the default).
  void setWaiting(Waiting waiting);
  // The Connector/C calls that may wait on the server, waiting as the session does. Each
  // returns what the plain call returns and leaves its error on the handle likewise; they
  // throw only what the waiting callback throws, or DataAccessError when the session cannot
  // start a statement now (abandoned, or a statement of its own is still waiting).
  int realQuery(std::string_view sql);                // mysql_real_query
  int nextResult();                                   // mysql_next_result
  int setServerOption(enum_mysql_set_option option);  // mysql_set_server_option
  MYSQL_RES* storeResult();                           // mysql_store_result
  MYSQL_ROW fetchRow(MYSQL_RES* result);              // mysql_fetch_row of a streamed result
  void freeResult(MYSQL_RES* result);                 // mysql_free_result of a streamed result
  int prepareStatement(MYSQL_STMT* stmt, std::string_view sql);  // mysql_stmt_prepare
  int executeStatement(MYSQL_STMT* stmt);                        // mysql_stmt_execute
  int storeStatementResult(MYSQL_STMT* stmt);                    // mysql_stmt_store_result
  // True once a waiting callback threw during a call: the connection is gone.
  bool abandoned() const { return abandoned_; }

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
  // Ends the statement a connection we let go of left running on the server (best effort).
  void endOnServer(unsigned long thread) const noexcept;
  // Refuses a call on an abandoned session, or one made from inside the waiting callback.
  void enter() const;
  template <class Start, class Cont>
  int drive(Start start, Cont cont, std::int64_t limitMs);
  // A call that may wait, with its result: the plain call without a waiting callback, else its
  // _start and _cont functions, which hand the result back through their first argument.
  template <class R, class Plain, class Start, class Cont>
  R call(Plain plain, Start start, Cont cont);
  int awaitSocket(int status, std::int64_t& lastCallMs, std::int64_t limitMs);
  int socket() const;  // -1 when there is none

  MYSQL* mysql_ = nullptr;
  Pending* pending_ = nullptr;
  MySqlLogin login_;
  ConnectionOptions options_;
  Waiting waiting_;
  bool inCall_ = false;  // a call is suspended while the callback runs
  bool abandoned_ = false;
  std::int64_t commandMs_ = 0;  // the read/write limit, for waits the library gives none
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

// A table, column or database name as MySQL reads it in a statement: in backquotes, each
// backquote inside doubled.
std::string quoteMySqlName(std::string_view name);

// A text literal as MySQL reads it in a statement: in single quotes, with backslash, quote, NUL,
// Ctrl-Z and both line ends escaped, so that the literal never spans lines of a script (a script
// is run one line per command).
std::string quoteMySqlText(std::string_view text);

}  // namespace ado
