#include "transfer/local_load.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/mysql_session.h"
#include "transfer/mysql_script.h"

namespace transfer {

const char* const kLocalLoadRefusedNote =
    "The server does not allow loading local data (local_infile is off), so the rows were sent "
    "with INSERT statements, which is slower.";

namespace {

// A chunk is sent once it holds this many rows or this much text, whichever comes first: large
// enough that the per-statement cost vanishes, small enough that memory stays flat and a
// refused chunk is cheap to send again row by row.
constexpr std::size_t kChunkBytes = 4 << 20;

// The server's answers that mean "no local loading here": the server's switch is off, or the
// client's.
bool RefusesLocalLoading(int code) {
  return code == ER_NOT_ALLOWED_COMMAND || code == 3948 /* local files disabled (MySQL 8) */ ||
         code == 2068 /* the client library rejected it */;
}

void AppendEscaped(std::string& out, const std::string& s) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char e;
    switch (s[i]) {
      case '\\':
        e = '\\';
        break;
      case '\t':
        e = 't';
        break;
      case '\n':
        e = 'n';
        break;
      case '\r':
        e = 'r';
        break;
      case '\0':
        e = '0';
        break;
      default:
        continue;
    }
    out.append(s, from, i - from);
    out += '\\';
    out += e;
    from = i + 1;
  }
  out.append(s, from, s.size() - from);
}

template <typename T>
void AppendNumber(std::string& out, T value) {
  char buffer[32];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

// n decimal digits of v (0 <= v), zero-padded; more digits when v needs them.
void AppendDigits(std::string& out, long v, int n) {
  char buffer[24];
  int k = sizeof buffer;
  do {
    buffer[--k] = char('0' + v % 10);
    v /= 10;
  } while ((v > 0 || sizeof buffer - std::size_t(k) < std::size_t(n)) && k > 0);
  out.append(buffer + k, sizeof buffer - std::size_t(k));
}

void AppendTime(std::string& out, const ado::Time& t) {
  if (t.negative) out += '-';
  AppendDigits(out, t.hour, 2);
  out += ':';
  AppendDigits(out, t.minute, 2);
  out += ':';
  AppendDigits(out, t.second, 2);
  if (t.microsecond) {
    out += '.';
    AppendDigits(out, t.microsecond, 6);
  }
}

void AppendDate(std::string& out, const ado::Date& d) {
  AppendDigits(out, d.year, 4);
  out += '-';
  AppendDigits(out, d.month, 2);
  out += '-';
  AppendDigits(out, d.day, 2);
}

}  // namespace

void AppendLoadLine(std::string& out, const ado::Value* row, std::size_t width) {
  using Kind = ado::Value::Kind;
  for (std::size_t k = 0; k < width; ++k) {
    if (k) out += '\t';
    const ado::Value& v = row[k];
    switch (v.kind()) {
      case Kind::Null:
        out += "\\N";
        break;
      case Kind::Bool:
        out += v.asBool() ? '1' : '0';
        break;
      case Kind::Int:
        AppendNumber(out, v.asInt());
        break;
      case Kind::UInt:
        AppendNumber(out, v.asUInt());
        break;
      case Kind::Double:
        // The shortest text that reads back as the same double: what the server makes of a
        // bound double, so a DECIMAL column rounds it the same way on both paths.
        AppendNumber(out, v.asDouble());
        break;
      case Kind::Decimal:
      case Kind::Text:
      case Kind::Bytes:
        AppendEscaped(out, v.asString());
        break;
      case Kind::Date:
        AppendDate(out, v.asDate());
        break;
      case Kind::Time:
        AppendTime(out, v.asTime());
        break;
      case Kind::DateTime: {
        auto dt = v.asDateTime();
        AppendDate(out, dt.date);
        out += ' ';
        AppendTime(out, dt.time);
        break;
      }
    }
  }
  out += '\n';
}

std::unique_ptr<LocalRowLoad> LocalRowLoad::Start(ado::MySqlSession& target,
                                                  const std::string& table,
                                                  const std::vector<std::string>& columns,
                                                  std::size_t chunkRows,
                                                  std::vector<std::string>& notes) {
  auto refused = [&] {
    if (std::find(notes.begin(), notes.end(), kLocalLoadRefusedNote) == notes.end())
      notes.push_back(kLocalLoadRefusedNote);
    return nullptr;
  };
  // Asking first spares a failing statement on servers that have it off (MySQL 8's default).
  target.settle();
  static const char kAsk[] = "SELECT @@local_infile";
  if (target.realQuery(std::string_view(kAsk, sizeof kAsk - 1)) != 0) target.raise();
  MYSQL_RES* res = target.storeResult();
  if (!res) target.raise();
  MYSQL_ROW r = mysql_fetch_row(res);
  bool on = r && r[0] && (std::strcmp(r[0], "1") == 0 || std::strcmp(r[0], "ON") == 0);
  mysql_free_result(res);
  if (!on) return refused();

  std::string statement = "LOAD DATA LOCAL INFILE 'quillmere-rows' INTO TABLE " +
                          MySqlScript::QuoteIdentifier(table) +
                          " CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' "
                          "LINES TERMINATED BY '\\n' (";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k) statement += ',';
    statement += MySqlScript::QuoteIdentifier(columns[k]);
  }
  statement += ')';
  std::string deleteHead = "DELETE FROM " + MySqlScript::QuoteIdentifier(table) + " WHERE " +
                           MySqlScript::QuoteIdentifier(columns.at(0)) + " BETWEEN ";
  return std::unique_ptr<LocalRowLoad>(new LocalRowLoad(
      target, std::move(statement), std::move(deleteHead), columns.size(), chunkRows, notes));
}

LocalRowLoad::LocalRowLoad(ado::MySqlSession& target, std::string statement, std::string deleteHead,
                           std::size_t width, std::size_t chunkRows,
                           std::vector<std::string>& notes)
    : target_(target),
      statement_(std::move(statement)),
      deleteHead_(std::move(deleteHead)),
      width_(width),
      chunkRows_(std::clamp<std::size_t>(chunkRows, 1, kMaxChunkRows)),
      notes_(notes) {
  rows_.reserve(chunkRows_ * width_);
}

LocalRowLoad::~LocalRowLoad() = default;

bool LocalRowLoad::draw(const Source& source) {
  if (rows_.size() >= chunkRows_ * width_ || drawnBytes_ >= kChunkBytes || exhausted_) return false;
  const std::size_t at = rows_.size();
  rows_.resize(at + width_);
  if (!source(rows_.data() + at)) {
    rows_.resize(at);
    exhausted_ = true;
    return false;
  }
  if (!refused_) {
    const std::size_t before = text_.size();
    AppendLoadLine(text_, rows_.data() + at, width_);
    drawnBytes_ += text_.size() - before;
  }
  return true;
}

// The client library asks for the "file" piece by piece while the server reads it. Each piece
// is made from the next rows as it is asked for, so the server parses one piece while the next
// is being read from the source. Whatever name the server asks for, only these rows are sent:
// the client never reads a file on the server's behalf.
int LocalRowLoad::FeedInit(void** state, const char*, void* userdata) {
  *state = userdata;
  return userdata ? 0 : 1;
}

int LocalRowLoad::FeedRead(void* state, char* buffer, unsigned int size) {
  auto* self = static_cast<LocalRowLoad*>(state);
  try {
    while (self->text_.size() - self->sent_ < size && self->draw(*self->source_)) {
    }
  } catch (...) {
    // The source failed; the statement ends with an error and the failure is raised after it.
    self->failure_ = std::current_exception();
    return -1;
  }
  std::size_t n = std::min<std::size_t>(size, self->text_.size() - self->sent_);
  std::memcpy(buffer, self->text_.data() + self->sent_, n);
  self->sent_ += n;
  if (self->sent_ == self->text_.size()) {
    self->text_.clear();
    self->sent_ = 0;
  }
  return int(n);
}

void LocalRowLoad::FeedEnd(void*) {}

int LocalRowLoad::FeedError(void* state, char* message, unsigned int size) {
  std::snprintf(
      message, size, "%s",
      state ? "The rows could not be read." : "This program sends no files to the server.");
  return CR_UNKNOWN_ERROR;
}

bool LocalRowLoad::load(const Source& source) {
  MYSQL* m = target_.handle();
  source_ = &source;
  text_.clear();
  sent_ = 0;
  drawnBytes_ = 0;
  failure_ = nullptr;
  target_.settle();
  ado::MySqlTransaction tx(target_);
  mysql_set_local_infile_handler(m, FeedInit, FeedRead, FeedEnd, FeedError, this);
  // The rows are fed on the client library's own stack when the session waits without
  // blocking; FeedRead keeps every exception there.
  bool ok = false;
  try {
    ok = target_.realQuery(statement_) == 0;
  } catch (...) {
    mysql_set_local_infile_handler(m, FeedInit, FeedRead, FeedEnd, FeedError, nullptr);
    source_ = nullptr;
    throw;
  }
  // Any later request is refused.
  mysql_set_local_infile_handler(m, FeedInit, FeedRead, FeedEnd, FeedError, nullptr);
  source_ = nullptr;
  if (failure_) std::rethrow_exception(failure_);
  const std::size_t rows = rows_.size() / width_;
  if (ok && mysql_warning_count(m) == 0 && mysql_affected_rows(m) == rows) {
    tx.commit();
    return true;
  }
  if (!ok) {
    const int code = int(mysql_errno(m));
    if (RefusesLocalLoading(code)) {
      refused_ = true;
      if (std::find(notes_.begin(), notes_.end(), kLocalLoadRefusedNote) == notes_.end())
        notes_.push_back(kLocalLoadRefusedNote);
      return false;
    }
    // The connection itself failed: nothing further can be sent, by any path.
    if (code >= 2000 && code < 3000) target_.raise();
  }
  if (rows_.empty()) return false;
  // A value was adjusted, a row skipped, or the chunk failed part way: undo the chunk, on any
  // storage engine (a table without transactions keeps what a rollback cannot undo, so its
  // rows go by key).
  target_.execute("ROLLBACK");
  target_.execute(deleteHead_ + rows_.front().toText() + " AND " +
                  rows_[rows_.size() - width_].toText());
  return false;
}

bool LocalRowLoad::send(const Source& source, const Fallback& fallback) {
  rows_.clear();
  exhausted_ = false;
  bool loaded = false;
  if (!refused_) loaded = load(source);
  if (refused_) {
    // No local loading: the chunk is drawn here and goes to the statements.
    drawnBytes_ = 0;
    while (draw(source)) {
    }
  }
  // A chunk that fails part way leaves rows unread: they stay for the next chunk.
  if (!loaded && !rows_.empty()) {
    ++handedBack_;
    fallback(rows_, width_);
  } else if (loaded && !rows_.empty()) {
    ++loaded_;
  }
  rows_.clear();
  return !exhausted_;
}

}  // namespace transfer
