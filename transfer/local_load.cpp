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

void AppendTime(std::string& out, const ado::Time& t) {
  char buffer[32];
  int n = std::snprintf(buffer, sizeof buffer, "%s%02d:%02d:%02d", t.negative ? "-" : "", t.hour,
                        t.minute, t.second);
  out.append(buffer, std::size_t(n));
  if (t.microsecond) {
    n = std::snprintf(buffer, sizeof buffer, ".%06d", t.microsecond);
    out.append(buffer, std::size_t(n));
  }
}

void AppendDate(std::string& out, const ado::Date& d) {
  char buffer[16];
  int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
  out.append(buffer, std::size_t(n));
}

// Feeds the "file" the server asks for from memory. Whatever name the server asks for, only
// this text is sent: the client never reads a file on the server's behalf.
struct Feed {
  const std::string* text = nullptr;
  std::size_t at = 0;
};

int FeedInit(void** state, const char*, void* userdata) {
  *state = userdata;
  auto* feed = static_cast<Feed*>(userdata);
  if (!feed || !feed->text) return 1;
  feed->at = 0;
  return 0;
}

int FeedRead(void* state, char* buffer, unsigned int size) {
  auto* feed = static_cast<Feed*>(state);
  std::size_t n = std::min<std::size_t>(size, feed->text->size() - feed->at);
  std::memcpy(buffer, feed->text->data() + feed->at, n);
  feed->at += n;
  return int(n);
}

void FeedEnd(void*) {}

int FeedError(void*, char* message, unsigned int size) {
  std::snprintf(message, size, "This program sends no files to the server.");
  return CR_UNKNOWN_ERROR;
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
  MYSQL* m = target.handle();
  static const char kAsk[] = "SELECT @@local_infile";
  if (mysql_real_query(m, kAsk, sizeof kAsk - 1) != 0) target.raise();
  MYSQL_RES* res = mysql_store_result(m);
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
  text_.reserve(kChunkBytes + (kChunkBytes >> 2));
}

LocalRowLoad::~LocalRowLoad() = default;

void LocalRowLoad::add(const ado::Value* row) {
  rows_.insert(rows_.end(), row, row + width_);
  if (!refused_) AppendLoadLine(text_, row, width_);
}

bool LocalRowLoad::full() const {
  return rows_.size() >= chunkRows_ * width_ || text_.size() >= kChunkBytes;
}

bool LocalRowLoad::load() {
  MYSQL* m = target_.handle();
  Feed feed{&text_, 0};
  mysql_set_local_infile_handler(m, FeedInit, FeedRead, FeedEnd, FeedError, &feed);
  ado::MySqlTransaction tx(target_);
  bool ok = mysql_real_query(m, statement_.data(), statement_.size()) == 0;
  // The handler must not outlive the feed: any later request is refused.
  mysql_set_local_infile_handler(m, FeedInit, FeedRead, FeedEnd, FeedError, nullptr);
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
  // A value was adjusted, a row skipped, or the chunk failed part way: undo the chunk, on any
  // storage engine (a table without transactions keeps what a rollback cannot undo, so its
  // rows go by key).
  target_.execute("ROLLBACK");
  target_.execute(deleteHead_ + rows_.front().toText() + " AND " +
                  rows_[rows_.size() - width_].toText());
  return false;
}

void LocalRowLoad::send(const Fallback& fallback) {
  if (rows_.empty()) return;
  if (!refused_ && load()) {
    ++loaded_;
  } else {
    ++handedBack_;
    fallback(rows_, width_);
  }
  rows_.clear();
  text_.clear();
}

}  // namespace transfer
