// The MySQL backend of the data-access layer on MariaDB Connector/C.
#include <errmsg.h>
#include <fcntl.h>
#include <mysql.h>
#include <mysqld_error.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>

#include "ado/dataaccess.h"
#include "ado/mysql_session.h"

namespace ado {

namespace {

constexpr unsigned kBinaryCharset = 63;  // charsetnr of binary strings

std::string trimmed(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::string quoteName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  return out + "`";
}

// ---- decoding the text protocol ---------------------------------------------------------------

template <typename T>
bool parseNumber(std::string_view text, T& out) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

int digits(std::string_view text, std::size_t pos, std::size_t count) {
  int v = 0;
  for (std::size_t i = pos; i < pos + count && i < text.size(); ++i)
    v = v * 10 + (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : 0);
  return v;
}

Date parseDate(std::string_view t) {  // YYYY-MM-DD
  return Date{digits(t, 0, 4), digits(t, 5, 2), digits(t, 8, 2)};
}

Time parseTime(std::string_view t) {  // [-]H..H:MM:SS[.ffffff]
  Time out;
  if (!t.empty() && t.front() == '-') {
    out.negative = true;
    t.remove_prefix(1);
  }
  auto c1 = t.find(':');
  if (c1 == std::string_view::npos) return out;
  out.hour = digits(t, 0, c1);
  out.minute = digits(t, c1 + 1, 2);
  out.second = digits(t, c1 + 4, 2);
  auto dot = t.find('.', c1);
  if (dot != std::string_view::npos) {
    std::string frac(t.substr(dot + 1, 6));
    frac.resize(6, '0');
    out.microsecond = digits(frac, 0, 6);
  }
  return out;
}

Value decode(const FieldInfo& info, const char* data, unsigned long length) {
  if (!data) return Value::null();
  std::string_view text(data, length);
  switch (info.type) {
    case adTinyInt:
    case adSmallInt:
    case adInteger:
    case adBigInt: {
      std::int64_t v = 0;
      if (parseNumber(text, v)) return Value::fromInt(v);
      break;
    }
    case adUnsignedTinyInt:
    case adUnsignedSmallInt:
    case adUnsignedInt:
    case adUnsignedBigInt: {
      std::uint64_t v = 0;
      if (parseNumber(text, v)) return Value::fromUInt(v);
      break;
    }
    case adSingle:
    case adDouble: {
      double v = 0;
      if (parseNumber(text, v)) return Value::fromDouble(v);
      break;
    }
    case adNumeric:
      return Value::fromDecimal(std::string(text));
    case adBoolean:  // BIT(1) arrives as one raw byte
      return Value::fromBool(std::any_of(text.begin(), text.end(), [](char c) { return c != 0; }));
    case adDBDate:
      return Value::fromDate(parseDate(text));
    case adDBTime:
      return Value::fromTime(parseTime(text));
    case adDBTimeStamp:
      return Value::fromDateTime(DateTime{
          parseDate(text), parseTime(text.substr(std::min<std::size_t>(11, text.size())))});
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
      return Value::fromBytes(std::string(text));
    default:
      return Value::fromText(std::string(text));
  }
  // A number the server sent in a form we do not read: keep its text rather than lose it.
  return Value::fromText(std::string(text));
}

// ---- binding values to statement parameters ---------------------------------------------------

struct ParamBuffers {
  std::vector<MYSQL_BIND> binds;
  std::deque<std::string> strings;  // deque: stable addresses
  std::deque<MYSQL_TIME> times;
  std::deque<std::int64_t> ints;
  std::deque<double> doubles;
  std::deque<unsigned long> lengths;
  std::deque<my_bool> flags;

  void bind(const std::vector<Value>& values) {
    binds.assign(values.size(), MYSQL_BIND{});
    for (std::size_t i = 0; i < values.size(); ++i) bindOne(binds[i], values[i]);
  }

 private:
  void bindString(MYSQL_BIND& b, enum_field_types type, const std::string& s) {
    strings.push_back(s);
    lengths.push_back(static_cast<unsigned long>(s.size()));
    b.buffer_type = type;
    b.buffer = strings.back().data();
    b.buffer_length = lengths.back();
    b.length = &lengths.back();
  }
  MYSQL_TIME& time(enum_mysql_timestamp_type kind) {
    times.push_back(MYSQL_TIME{});
    times.back().time_type = kind;
    return times.back();
  }

  void bindOne(MYSQL_BIND& b, const Value& v) {
    switch (v.kind()) {
      case Value::Kind::Null:
        b.buffer_type = MYSQL_TYPE_NULL;
        return;
      case Value::Kind::Bool:
        ints.push_back(v.asBool() ? 1 : 0);
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &ints.back();
        return;
      case Value::Kind::Int:
        ints.push_back(v.asInt());
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &ints.back();
        return;
      case Value::Kind::UInt:
        ints.push_back(static_cast<std::int64_t>(v.asUInt()));
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &ints.back();
        b.is_unsigned = 1;
        return;
      case Value::Kind::Double:
        doubles.push_back(v.asDouble());
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &doubles.back();
        return;
      case Value::Kind::Decimal:
        bindString(b, MYSQL_TYPE_NEWDECIMAL, v.asString());
        return;
      case Value::Kind::Text:
        bindString(b, MYSQL_TYPE_STRING, v.asString());
        return;
      case Value::Kind::Bytes:  // the server takes blob parameters as binary, unconverted
        bindString(b, MYSQL_TYPE_BLOB, v.asString());
        return;
      case Value::Kind::Date: {
        auto d = v.asDate();
        auto& t = time(MYSQL_TIMESTAMP_DATE);
        t.year = static_cast<unsigned>(d.year);
        t.month = static_cast<unsigned>(d.month);
        t.day = static_cast<unsigned>(d.day);
        b.buffer_type = MYSQL_TYPE_DATE;
        b.buffer = &t;
        return;
      }
      case Value::Kind::Time: {
        auto tm = v.asTime();
        auto& t = time(MYSQL_TIMESTAMP_TIME);
        t.neg = tm.negative;
        t.hour = static_cast<unsigned>(tm.hour);
        t.minute = static_cast<unsigned>(tm.minute);
        t.second = static_cast<unsigned>(tm.second);
        t.second_part = static_cast<unsigned long>(tm.microsecond);
        b.buffer_type = MYSQL_TYPE_TIME;
        b.buffer = &t;
        return;
      }
      case Value::Kind::DateTime: {
        auto dt = v.asDateTime();
        auto& t = time(MYSQL_TIMESTAMP_DATETIME);
        t.year = static_cast<unsigned>(dt.date.year);
        t.month = static_cast<unsigned>(dt.date.month);
        t.day = static_cast<unsigned>(dt.date.day);
        t.hour = static_cast<unsigned>(dt.time.hour);
        t.minute = static_cast<unsigned>(dt.time.minute);
        t.second = static_cast<unsigned>(dt.time.second);
        t.second_part = static_cast<unsigned long>(dt.time.microsecond);
        b.buffer_type = MYSQL_TYPE_DATETIME;
        b.buffer = &t;
        return;
      }
    }
  }
};

}  // namespace

// ---- type table -------------------------------------------------------------------------------

FieldInfo mysqlFieldInfo(const MYSQL_FIELD& f) {
  FieldInfo info;
  info.name = f.name ? std::string(f.name, f.name_length) : std::string();
  info.nullable = (f.flags & NOT_NULL_FLAG) == 0;
  const bool isUnsigned = (f.flags & UNSIGNED_FLAG) != 0;
  const bool binary = f.charsetnr == kBinaryCharset;
  // Text lengths come in bytes of the result's character set; the declared width is in characters.
  unsigned maxBytesPerChar = 1;
  if (!binary)
    if (const auto* cs = mariadb_get_charset_by_nr(f.charsetnr); cs && cs->char_maxlen > 0)
      maxBytesPerChar = cs->char_maxlen;
  info.definedSize = static_cast<long long>(f.length / maxBytesPerChar);

  switch (f.type) {
    case MYSQL_TYPE_TINY:
      info.type = isUnsigned ? adUnsignedTinyInt : adTinyInt;
      break;
    case MYSQL_TYPE_SHORT:
      info.type = isUnsigned ? adUnsignedSmallInt : adSmallInt;
      break;
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
      info.type = isUnsigned ? adUnsignedInt : adInteger;
      break;
    case MYSQL_TYPE_LONGLONG:
      info.type = isUnsigned ? adUnsignedBigInt : adBigInt;
      break;
    case MYSQL_TYPE_YEAR:
      info.type = adSmallInt;
      break;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: {
      info.type = adNumeric;
      info.scale = static_cast<int>(f.decimals);
      // The display length counts a sign (unless unsigned) and a decimal point (when scaled).
      long long precision =
          static_cast<long long>(f.length) - (f.decimals > 0 ? 1 : 0) - (isUnsigned ? 0 : 1);
      info.precision = static_cast<int>(std::max<long long>(precision, info.scale));
      info.definedSize = info.precision;
      break;
    }
    case MYSQL_TYPE_FLOAT:
      info.type = adSingle;
      break;
    case MYSQL_TYPE_DOUBLE:
      info.type = adDouble;
      break;
    case MYSQL_TYPE_BIT:
      info.type = f.length == 1 ? adBoolean : adBinary;
      info.definedSize = static_cast<long long>((f.length + 7) / 8);
      break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
      info.type = adDBDate;
      break;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
      info.type = adDBTime;
      break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
      info.type = adDBTimeStamp;
      break;
    case MYSQL_TYPE_STRING:  // CHAR, BINARY, ENUM, SET
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
      info.type = binary ? adBinary : adWChar;
      break;
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
      info.type = binary ? adVarBinary : adVarWChar;
      break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_JSON:
      info.type = binary ? adLongVarBinary : adLongVarWChar;
      break;
    case MYSQL_TYPE_GEOMETRY:
      info.type = adLongVarBinary;
      break;
    default:  // NULL literal columns and anything newer: text is the safest carrier
      info.type = adVarWChar;
      break;
  }
  return info;
}

// ---- connection string ------------------------------------------------------------------------

MySqlLogin MySqlLogin::fromConnectionString(const ConnectionString& cs) {
  MySqlLogin login;
  login.host = trimmed(cs.get("SERVER"));
  if (login.host.empty()) login.host = "localhost";
  std::string port = trimmed(cs.get("PORT", "3306"));
  unsigned long value = 0;
  if (!parseNumber(std::string_view(port), value) || value < 1 || value > 65535)
    throw DataAccessError("Invalid port \"" + port +
                          "\": the port must be a number from 1 to 65535.");
  login.port = static_cast<unsigned>(value);
  login.user = cs.has("USER") ? cs.get("USER") : cs.get("UID");
  login.password = cs.has("PASSWORD") ? cs.get("PASSWORD") : cs.get("PWD");
  login.database = trimmed(cs.get("DATABASE"));
  std::string mode = trimmed(cs.get("SSLMODE", "PREFERRED"));
  std::transform(mode.begin(), mode.end(), mode.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
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
  login.tlsAuthority = trimmed(cs.get("SSLCA"));
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

int MySqlSession::realQuery(std::string_view sql) {
  enter();
  if (!waiting_) return mysql_real_query(mysql_, sql.data(), sql.size());
  int ret = 0;
  drive([&] { return mysql_real_query_start(&ret, mysql_, sql.data(), sql.size()); },
        [&](int events) { return mysql_real_query_cont(&ret, mysql_, events); }, commandMs_);
  return ret;
}

MYSQL_RES* MySqlSession::storeResult() {
  enter();
  if (!waiting_) return mysql_store_result(mysql_);
  MYSQL_RES* ret = nullptr;
  drive([&] { return mysql_store_result_start(&ret, mysql_); },
        [&](int events) { return mysql_store_result_cont(&ret, mysql_, events); }, commandMs_);
  return ret;
}

MYSQL_ROW MySqlSession::fetchRow(MYSQL_RES* result) {
  enter();
  if (!waiting_) return mysql_fetch_row(result);
  MYSQL_ROW ret = nullptr;
  drive([&] { return mysql_fetch_row_start(&ret, result); },
        [&](int events) { return mysql_fetch_row_cont(&ret, result, events); }, commandMs_);
  return ret;
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
  enter();
  if (!waiting_) return mysql_stmt_prepare(stmt, sql.data(), sql.size());
  int ret = 0;
  drive([&] { return mysql_stmt_prepare_start(&ret, stmt, sql.data(), sql.size()); },
        [&](int events) { return mysql_stmt_prepare_cont(&ret, stmt, events); }, commandMs_);
  return ret;
}

int MySqlSession::executeStatement(MYSQL_STMT* stmt) {
  enter();
  if (!waiting_) return mysql_stmt_execute(stmt);
  int ret = 0;
  drive([&] { return mysql_stmt_execute_start(&ret, stmt); },
        [&](int events) { return mysql_stmt_execute_cont(&ret, stmt, events); }, commandMs_);
  return ret;
}

int MySqlSession::storeStatementResult(MYSQL_STMT* stmt) {
  enter();
  if (!waiting_) return mysql_stmt_store_result(stmt);
  int ret = 0;
  drive([&] { return mysql_stmt_store_result_start(&ret, stmt); },
        [&](int events) { return mysql_stmt_store_result_cont(&ret, stmt, events); }, commandMs_);
  return ret;
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
  ParamBuffers buffers;
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
      std::string t = (origin_[i].db.empty() ? "" : quoteName(origin_[i].db) + ".") +
                      quoteName(origin_[i].table);
      if (table.empty())
        table = t;
      else if (t != table)
        throw DataAccessError("A new record can only be stored into one table.");
      if (!columns.empty()) {
        columns += ",";
        marks += ",";
      }
      columns += quoteName(origin_[i].column);
      marks += "?";
    }
    if (table.empty()) {
      // No value given: a row of defaults into the result's first table column.
      for (const auto& o : origin_)
        if (!o.table.empty()) {
          table = (o.db.empty() ? "" : quoteName(o.db) + ".") + quoteName(o.table);
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
      out.push_back(decode(fields_[i], r[i], lengths[i]));
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
