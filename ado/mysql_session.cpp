// The MySQL backend's connection: the login read from the connection string, the session with
// its calls that wait without blocking, prepared statements and transactions.
#include "ado/mysql_session.h"

#include <errmsg.h>
#include <fcntl.h>
#include <mysql.h>
#include <mysqld_error.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "ado/mysql_internal.h"
#include "vfp/file.h"

namespace ado {

using mysql_detail::parseNumber;

// ---- connection string ------------------------------------------------------------------------

MySqlLogin MySqlLogin::fromConnectionString(const ConnectionString& cs) {
  MySqlLogin login;
  login.host = cs.trimmed("SERVER");
  if (login.host.empty()) login.host = "localhost";
  std::string port = cs.trimmed("PORT", "3306");
  unsigned long value = 0;
  if (!parseNumber(std::string_view(port), value) || value < 1 || value > 65535)
    throw DataAccessError("Invalid port \"" + port +
                          "\": the port must be a number from 1 to 65535.");
  login.port = static_cast<unsigned>(value);
  login.user = cs.has("USER") ? cs.get("USER") : cs.get("UID");
  login.password = cs.has("PASSWORD") ? cs.get("PASSWORD") : cs.get("PWD");
  login.database = cs.trimmed("DATABASE");
  const std::string mode = vfp::toUpperAscii(cs.trimmed("SSLMODE", "PREFERRED"));
  if (mode == "DISABLED") {
    login.tls = TlsMode::Disabled;
  } else if (mode == "PREFERRED" || mode.empty()) {
    login.tls = TlsMode::Preferred;
  } else if (mode == "REQUIRED") {
    login.tls = TlsMode::Required;
  } else if (mode == "VERIFY_CA" || mode == "VERIFY_IDENTITY") {
    login.tls = TlsMode::Verify;
  } else {
    throw DataAccessError("Invalid SSLMODE \"" + mode +
                          "\": use DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY.");
  }
  login.tlsAuthority = cs.trimmed("SSLCA");
  return login;
}

// ---- session ----------------------------------------------------------------------------------

namespace {

int RefuseInit(void** state, const char*, void*) {
  *state = nullptr;
  return 1;
}
int RefuseRead(void*, char*, unsigned int) { return -1; }
void RefuseEnd(void*) {}
int RefuseError(void*, char* message, unsigned int size) {
  std::snprintf(message, size, "This program sends no files to the server.");
  return CR_UNKNOWN_ERROR;
}

// How long the socket is watched before the waiting callback may run again.
constexpr int kWaitSliceMs = 20;
// The client library runs a waiting call on a stack of its own. Its default (about 60 KB) is
// tight for a TLS handshake and for the rows a LOAD DATA LOCAL handler makes on it; the pages
// are only reserved until touched.
constexpr std::size_t kCallStackBytes = 1024 * 1024;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// ---- waiting without blocking ------------------------------------------------------------------

void MySqlSession::setWaiting(Waiting waiting) {
  options_.waiting = waiting;
  waiting_ = std::move(waiting);
}

void MySqlSession::enter() const {
  if (abandoned_)
    throw DataAccessError(
        "The connection to the server was closed while a statement was waiting for it.");
  if (inCall_)
    throw DataAccessError(
        "A statement on this connection is still waiting for the server; another cannot start "
        "until it ends.");
}

int MySqlSession::socket() const {
  const auto fd = mysql_get_socket(mysql_);
  return static_cast<long long>(fd) >= 0 ? static_cast<int>(fd) : -1;
}

// Watches the socket for what the suspended call waits on, in slices, calling the waiting
// callback between them; returns the events for the call's _cont function: those that
// occurred, or MYSQL_WAIT_TIMEOUT once the call's own time limit has passed. A wait inside TLS
// comes without a limit of the library's; the session's own (limitMs) then applies, and the
// connection is cut when it passes, as the library cuts it when a blocking read times out.
int MySqlSession::awaitSocket(int status, std::int64_t& lastCallMs, std::int64_t limitMs) {
  const bool timed = (status & MYSQL_WAIT_TIMEOUT) != 0;
  const std::int64_t deadline =
      NowMs() + (timed ? static_cast<std::int64_t>(mysql_get_timeout_value_ms(mysql_)) : limitMs);
  pollfd watch{};
  watch.fd = socket();
  if (status & MYSQL_WAIT_READ) watch.events |= POLLIN;
  if (status & MYSQL_WAIT_WRITE) watch.events |= POLLOUT;
  if (status & MYSQL_WAIT_EXCEPT) watch.events |= POLLPRI;
  for (;;) {
    int slice = kWaitSliceMs;
    slice = static_cast<int>(std::clamp<std::int64_t>(deadline - NowMs(), 0, slice));
    watch.revents = 0;
    const int ready = ::poll(&watch, 1, slice);
    if (ready > 0) {
      int events = 0;
      if (watch.revents & (POLLIN | POLLHUP | POLLERR)) events |= MYSQL_WAIT_READ;
      if (watch.revents & (POLLOUT | POLLHUP | POLLERR)) events |= MYSQL_WAIT_WRITE;
      if (watch.revents & POLLPRI) events |= MYSQL_WAIT_EXCEPT;
      // Whatever woke the poll, the call itself finds out what it means.
      return events ? events : status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE | MYSQL_WAIT_EXCEPT);
    }
    if (ready < 0 && errno != EINTR)
      return status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE | MYSQL_WAIT_EXCEPT);
    const std::int64_t now = NowMs();
    if (now >= deadline) {
      if (timed) return MYSQL_WAIT_TIMEOUT;
      if (watch.fd >= 0) ::shutdown(watch.fd, SHUT_RDWR);
      return MYSQL_WAIT_READ | MYSQL_WAIT_WRITE;
    }
    if (now - lastCallMs >= kWaitSliceMs) {
      lastCallMs = now;
      waiting_();
    }
  }
}

// Runs one non-blocking call to its end. When the callback throws, the call must still end
// inside the client library (its stack holds the call's state): the socket is cut, every
// further wait is answered with a timeout, and the call finishes with a connection error.
//
// The client library reads TLS records with SSL_read on the socket itself, and leaves the socket
// blocking once connected: a non-blocking call would then sit in read() and never come back to
// wait here. So the socket is non-blocking for the length of the call, and blocking again
// after it (the blocking calls cannot take a non-blocking TLS socket).
template <class Start, class Cont>
int MySqlSession::drive(Start start, Cont cont, std::int64_t limitMs) {
  inCall_ = true;
  struct Leave {
    MySqlSession& session;
    int fd;
    int flags;
    ~Leave() {
      session.inCall_ = false;
      if (flags >= 0 && session.socket() == fd) ::fcntl(fd, F_SETFL, flags);
    }
  } leave{*this, socket(), -1};
  // Plain connections read with MSG_DONTWAIT and need nothing: no system calls per streamed row.
  if (leave.fd >= 0 && mysql_get_ssl_cipher(mysql_) != nullptr) {
    const int flags = ::fcntl(leave.fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0 &&
        ::fcntl(leave.fd, F_SETFL, flags | O_NONBLOCK) == 0)
      leave.flags = flags;
  }
  int status = start();
  std::int64_t lastCallMs = NowMs();
  try {
    while (status != 0) status = cont(awaitSocket(status, lastCallMs, limitMs));
  } catch (...) {
    abandoned_ = true;
    const unsigned long thread = mysql_thread_id(mysql_);
    if (const int fd = socket(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
    for (int i = 0; status != 0 && i < 1000; ++i)
      status = cont(MYSQL_WAIT_TIMEOUT | MYSQL_WAIT_READ | MYSQL_WAIT_WRITE);
    endOnServer(thread);
    throw;
  }
  return status;
}

template <class R, class Plain, class Start, class Cont>
R MySqlSession::call(Plain plain, Start start, Cont cont) {
  enter();
  if (!waiting_) return plain();
  R ret{};
  drive([&] { return start(&ret); }, [&](int events) { return cont(&ret, events); }, commandMs_);
  return ret;
}

int MySqlSession::realQuery(std::string_view sql) {
  return call<int>(
      [&] { return mysql_real_query(mysql_, sql.data(), sql.size()); },
      [&](int* ret) { return mysql_real_query_start(ret, mysql_, sql.data(), sql.size()); },
      [&](int* ret, int events) { return mysql_real_query_cont(ret, mysql_, events); });
}

int MySqlSession::nextResult() {
  return call<int>(
      [&] { return mysql_next_result(mysql_); },
      [&](int* ret) { return mysql_next_result_start(ret, mysql_); },
      [&](int* ret, int events) { return mysql_next_result_cont(ret, mysql_, events); });
}

int MySqlSession::setServerOption(enum_mysql_set_option option) {
  return call<int>(
      [&] { return mysql_set_server_option(mysql_, option); },
      [&](int* ret) { return mysql_set_server_option_start(ret, mysql_, option); },
      [&](int* ret, int events) { return mysql_set_server_option_cont(ret, mysql_, events); });
}

MYSQL_RES* MySqlSession::storeResult() {
  return call<MYSQL_RES*>(
      [&] { return mysql_store_result(mysql_); },
      [&](MYSQL_RES** ret) { return mysql_store_result_start(ret, mysql_); },
      [&](MYSQL_RES** ret, int events) { return mysql_store_result_cont(ret, mysql_, events); });
}

MYSQL_ROW MySqlSession::fetchRow(MYSQL_RES* result) {
  return call<MYSQL_ROW>(
      [&] { return mysql_fetch_row(result); },
      [&](MYSQL_ROW* ret) { return mysql_fetch_row_start(ret, result); },
      [&](MYSQL_ROW* ret, int events) { return mysql_fetch_row_cont(ret, result, events); });
}

void MySqlSession::freeResult(MYSQL_RES* result) {
  // Freeing a streamed result reads and drops the rows still on their way; an abandoned
  // session has nothing left to read. While a call is suspended this throws (enter), and the
  // result stays allocated for that call.
  if (!waiting_ || abandoned_) return mysql_free_result(result);
  enter();
  drive([&] { return mysql_free_result_start(result); },
        [&](int events) { return mysql_free_result_cont(result, events); }, commandMs_);
}

int MySqlSession::prepareStatement(MYSQL_STMT* stmt, std::string_view sql) {
  return call<int>(
      [&] { return mysql_stmt_prepare(stmt, sql.data(), sql.size()); },
      [&](int* ret) { return mysql_stmt_prepare_start(ret, stmt, sql.data(), sql.size()); },
      [&](int* ret, int events) { return mysql_stmt_prepare_cont(ret, stmt, events); });
}

int MySqlSession::executeStatement(MYSQL_STMT* stmt) {
  return call<int>(
      [&] { return mysql_stmt_execute(stmt); },
      [&](int* ret) { return mysql_stmt_execute_start(ret, stmt); },
      [&](int* ret, int events) { return mysql_stmt_execute_cont(ret, stmt, events); });
}

int MySqlSession::storeStatementResult(MYSQL_STMT* stmt) {
  return call<int>(
      [&] { return mysql_stmt_store_result(stmt); },
      [&](int* ret) { return mysql_stmt_store_result_start(ret, stmt); },
      [&](int* ret, int events) { return mysql_stmt_store_result_cont(ret, stmt, events); });
}

MySqlSession::MySqlSession(const MySqlLogin& login, const ConnectionOptions& options)
    : login_(login), options_(options), waiting_(options.waiting) {
  mysql_ = mysql_init(nullptr);
  if (!mysql_) throw DataAccessError("MySQL client: out of memory");
  try {
    // TCP even for "localhost": the server named in the window is reached by its port, never
    // through whatever local socket the client library would guess.
    unsigned protocol = MYSQL_PROTOCOL_TCP;
    mysql_optionsv(mysql_, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_optionsv(mysql_, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // A dead host must not freeze the program for the operating system's minutes, nor a
    // server that stops answering in the middle of a statement.
    const Limits& limits = DefaultLimits();
    auto chosen = [](int given, int fallback) {
      return static_cast<unsigned>(given > 0 ? given : fallback);
    };
    unsigned connect = chosen(options.connectionTimeout, limits.connectSeconds);
    unsigned command = chosen(options.commandTimeout, limits.commandSeconds);
    commandMs_ = std::int64_t{command} * 1000;
    mysql_optionsv(mysql_, MYSQL_OPT_CONNECT_TIMEOUT, &connect);
    mysql_optionsv(mysql_, MYSQL_OPT_READ_TIMEOUT, &command);
    mysql_optionsv(mysql_, MYSQL_OPT_WRITE_TIMEOUT, &command);
    // Rows are bulk loaded with LOAD DATA LOCAL, which the client must announce when it
    // connects. The data always comes from memory through a handler set for that statement;
    // outside it this handler refuses, so a server can never make the client read a file.
    my_bool yes = 1;
    mysql_optionsv(mysql_, MYSQL_OPT_LOCAL_INFILE, &yes);
    mysql_set_local_infile_handler(mysql_, RefuseInit, RefuseRead, RefuseEnd, RefuseError, nullptr);
    // Every connection can wait without blocking, so a window may hand it a waiting callback
    // at any time; calls made without one block exactly as plain calls do.
    std::size_t stack = kCallStackBytes;
    if (mysql_optionsv(mysql_, MYSQL_OPT_NONBLOCK, &stack) != 0)
      throw DataAccessError("MySQL client: out of memory");

    // TLS whenever the server offers it: the password exchange and every row would otherwise
    // cross the network in the clear, and hosted servers often refuse plain connections. The
    // client falls back to a plain connection only when the server offers no TLS at all and
    // nothing more was asked for.
    if (login.tls != TlsMode::Disabled) {
      my_bool use = 1;
      mysql_optionsv(mysql_, MYSQL_OPT_SSL_ENFORCE, &use);
      if (!login.tlsAuthority.empty())
        mysql_optionsv(mysql_, MYSQL_OPT_SSL_CA, login.tlsAuthority.c_str());
      if (login.tls == TlsMode::Verify) {
        my_bool verify = 1;
        mysql_optionsv(mysql_, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
      }
    }

    const char* database = login.database.empty() ? nullptr : login.database.c_str();
    MYSQL* connected = nullptr;
    if (!waiting_) {
      connected = mysql_real_connect(mysql_, login.host.c_str(), login.user.c_str(),
                                     login.password.c_str(), database, login.port, nullptr, 0);
    } else {
      drive(
          [&] {
            return mysql_real_connect_start(&connected, mysql_, login.host.c_str(),
                                            login.user.c_str(), login.password.c_str(), database,
                                            login.port, nullptr, 0);
          },
          [&](int events) { return mysql_real_connect_cont(&connected, mysql_, events); },
          std::int64_t{connect} * 1000);
    }
    if (!connected) raise();
    if ((login.tls == TlsMode::Required || login.tls == TlsMode::Verify) &&
        !mysql_get_ssl_cipher(mysql_))
      throw DataAccessError("The server " + login.host +
                            " offers no TLS, and the connection string requires it (SSLMODE).");
    // A statement that waits on a table another session holds gives up within the limit with
    // the server's own message: the metadata lock (DROP, RENAME, ALTER, listing) and the row
    // lock (InnoDB). The read limit above must stay longer, or the client would cut the
    // connection before the server can say why.
    std::string lockWait = std::to_string(std::min(
        chosen(options.lockWaitTimeout, limits.lockWaitSeconds), command > 1 ? command - 1 : 1u));
    execute("SET SESSION lock_wait_timeout = " + lockWait +
            ", SESSION innodb_lock_wait_timeout = " + lockWait);
  } catch (...) {
    mysql_close(mysql_);
    throw;
  }
}

// Cursors hold the session they read from, so no result can be pending here.
MySqlSession::~MySqlSession() { mysql_close(mysql_); }

void MySqlSession::raise() const {
  throw DataAccessError(mysql_error(mysql_), static_cast<int>(mysql_errno(mysql_)));
}

void MySqlSession::settle() {
  enter();
  if (!pending_) return;
  auto* p = pending_;
  pending_ = nullptr;
  p->bufferRest();
}

void MySqlSession::execute(const std::string& sql) {
  settle();
  if (realQuery(sql) != 0) raise();
  if (MYSQL_RES* res = storeResult())
    mysql_free_result(res);
  else if (mysql_field_count(mysql_) != 0)
    raise();
}

void MySqlSession::executeEach(const std::vector<std::string>& statements, std::size_t& succeeded) {
  succeeded = 0;
  if (statements.empty()) return;
  settle();
  std::size_t size = statements.size();
  for (const auto& s : statements) size += s.size();
  std::string sql;
  sql.reserve(size);
  for (const auto& s : statements) {
    if (!sql.empty()) sql += ';';
    sql += s;
  }
  if (setServerOption(MYSQL_OPTION_MULTI_STATEMENTS_ON) != 0) raise();
  // From here on the option must be switched off again, whatever the statements did.
  std::optional<DataAccessError> failure;
  auto failed = [&] {
    failure.emplace(mysql_error(mysql_), static_cast<int>(mysql_errno(mysql_)));
  };
  if (realQuery(sql) != 0) {
    failed();
  } else {
    for (;;) {
      if (MYSQL_RES* res = storeResult()) {
        mysql_free_result(res);
      } else if (mysql_field_count(mysql_) != 0) {
        failed();
        break;
      }
      ++succeeded;
      if (!mysql_more_results(mysql_)) break;
      const int next = nextResult();
      if (next > 0) failed();
      if (next != 0) break;
    }
  }
  // The server sends nothing after a failing statement: the connection has nothing pending.
  if (!failure && succeeded != statements.size())
    failure.emplace("The server ran " + std::to_string(succeeded) + " statements where " +
                    std::to_string(statements.size()) + " were sent.");
  if (setServerOption(MYSQL_OPTION_MULTI_STATEMENTS_OFF) != 0 && !failure) raise();
  if (failure) throw *failure;
}

bool MySqlSession::readsBackslashEscapes() const {
  unsigned status = 0;
  if (mariadb_get_infov(mysql_, MARIADB_CONNECTION_SERVER_STATUS, &status) != 0) return false;
  return (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) == 0;
}

unsigned long long MySqlSession::affectedRows() const { return mysql_affected_rows(mysql_); }

std::vector<std::vector<std::optional<std::string>>> MySqlSession::query(const std::string& sql) {
  settle();
  if (realQuery(sql) != 0) raise();
  std::vector<std::vector<std::optional<std::string>>> rows;
  MYSQL_RES* res = storeResult();
  if (!res) {
    if (mysql_field_count(mysql_) != 0) raise();
    return rows;
  }
  const unsigned width = mysql_num_fields(res);
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    const unsigned long* lengths = mysql_fetch_lengths(res);
    auto& out = rows.emplace_back();
    for (unsigned k = 0; k < width; ++k)
      out.push_back(row[k] ? std::optional<std::string>(std::string(row[k], lengths[k]))
                           : std::nullopt);
  }
  mysql_free_result(res);
  return rows;
}

unsigned MySqlSession::warningCount() const { return mysql_warning_count(mysql_); }

std::vector<std::string> MySqlSession::warnings() {
  std::vector<std::string> out;
  for (const auto& row : query("SHOW WARNINGS")) {
    if (row.size() < 3) continue;
    out.push_back(row[0].value_or("") + " " + row[1].value_or("") + ": " + row[2].value_or(""));
  }
  return out;
}

void MySqlSession::endOnServer(unsigned long thread) const noexcept {
  // The server goes on with a statement whose client went away until it next looks at the
  // connection: a DROP waiting on a lock would still drop the table once the lock is released.
  // Ending the statement from a second connection makes an abandoned statement end here.
  if (thread == 0) return;
  try {
    ConnectionOptions plain = options_;
    plain.waiting = {};
    plain.connectionTimeout = 2;
    MySqlSession other(login_, plain);
    const std::string kill = "KILL QUERY " + std::to_string(thread);
    mysql_real_query(other.handle(), kill.data(), kill.size());
  } catch (...) {
    // The server cannot be reached: it ends the statement itself when it notices.
  }
}

std::unique_ptr<MySqlSession> MySqlSession::reopen() const {
  return std::make_unique<MySqlSession>(login_, options_);
}

MySqlStatement MySqlSession::prepare(const std::string& sql) { return MySqlStatement(*this, sql); }

MySqlStatement::MySqlStatement(MySqlSession& session, const std::string& sql)
    : session_(&session), stmt_(nullptr) {
  session.settle();
  stmt_ = mysql_stmt_init(session.handle());
  if (!stmt_) session.raise();
  int failed = 1;
  try {
    failed = session.prepareStatement(stmt_, sql);
  } catch (...) {
    mysql_stmt_close(stmt_);
    throw;
  }
  if (failed != 0) {
    DataAccessError error(mysql_stmt_error(stmt_), static_cast<int>(mysql_stmt_errno(stmt_)));
    mysql_stmt_close(stmt_);
    throw error;
  }
}

MySqlStatement::MySqlStatement(MySqlStatement&& other) noexcept
    : session_(other.session_), stmt_(other.stmt_) {
  other.stmt_ = nullptr;
}

MySqlStatement::~MySqlStatement() {
  if (stmt_) mysql_stmt_close(stmt_);
}

void MySqlStatement::raise() const {
  throw DataAccessError(mysql_stmt_error(stmt_), static_cast<int>(mysql_stmt_errno(stmt_)));
}

unsigned MySqlStatement::paramCount() const {
  return static_cast<unsigned>(mysql_stmt_param_count(stmt_));
}

void MySqlStatement::execute(const std::vector<Value>& params) {
  if (params.size() != paramCount())
    throw DataAccessError("The statement takes " + std::to_string(paramCount()) +
                          " parameters, not " + std::to_string(params.size()) + ".");
  session_->settle();
  mysql_detail::ParamBuffers buffers;
  buffers.bind(params);
  if (!params.empty() && mysql_stmt_bind_param(stmt_, buffers.binds.data())) raise();
  if (session_->executeStatement(stmt_) != 0) raise();
  // A statement with rows (rare here) must not leave them on the wire.
  if (mysql_stmt_field_count(stmt_) != 0) {
    session_->storeStatementResult(stmt_);
    mysql_stmt_free_result(stmt_);
  }
}

unsigned long long MySqlStatement::affectedRows() const { return mysql_stmt_affected_rows(stmt_); }
unsigned long long MySqlStatement::insertId() const { return mysql_stmt_insert_id(stmt_); }

MySqlTransaction::MySqlTransaction(MySqlSession& session) : session_(session) {
  session_.execute("START TRANSACTION");
}

MySqlTransaction::~MySqlTransaction() {
  if (done_) return;
  try {
    session_.execute("ROLLBACK");
  } catch (...) {
    // The connection is broken; the server rolls back on its own.
  }
}

void MySqlTransaction::commit() {
  session_.execute("COMMIT");
  done_ = true;
}

}  // namespace ado
