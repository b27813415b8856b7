#include "transfer/local_load.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ado/foxpro_access.h"
#include "ado/mysql_session.h"
#include "transfer/mysql_script.h"
#include "vfp/database.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/table.h"

namespace transfer {

const char* const kLocalLoadRefusedNote =
    "The server does not allow loading local data (local_infile is off), so the rows were sent "
    "with INSERT statements, which is slower.";
const char* const kLocalLoadOffReport =
    "The server does not allow loading local data (local_infile is off): the rows will be sent "
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

// The bytes LOAD DATA needs escaped, marked in a table so the common byte costs one look-up.
struct EscapeTable {
  char to[256] = {};
  constexpr EscapeTable() {
    to[static_cast<unsigned char>('\\')] = '\\';
    to[static_cast<unsigned char>('\t')] = 't';
    to[static_cast<unsigned char>('\n')] = 'n';
    to[static_cast<unsigned char>('\r')] = 'r';
    to[0] = '0';
  }
};
constexpr EscapeTable kEscape;

// True when one of the eight bytes of w may need escaping: a byte below 0x0E (NUL, tab, line
// feed, carriage return and a few control bytes that do not) or a backslash. Exact for
// "none", so the common text goes eight bytes per step.
bool MayNeedEscaping(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  const std::uint64_t below = (w - kOnes * 0x0E) & ~w & kHighs;
  const std::uint64_t b = w ^ (kOnes * 0x5C);
  const std::uint64_t backslash = (b - kOnes) & ~b & kHighs;
  return (below | backslash) != 0;
}

void AppendEscaped(std::string& out, std::string_view s) {
  std::size_t from = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s.size() - i >= 8) {
      std::uint64_t w;
      std::memcpy(&w, s.data() + i, 8);
      if (!MayNeedEscaping(w)) {
        i += 8;
        continue;
      }
    }
    const std::size_t end = std::min(s.size(), i + 8);
    for (; i < end; ++i) {
      const char e = kEscape.to[static_cast<unsigned char>(s[i])];
      if (!e) continue;
      out.append(s.data() + from, i - from);
      out += '\\';
      out += e;
      from = i + 1;
    }
  }
  out.append(s.data() + from, s.size() - from);
}

template <typename T>
void AppendNumber(std::string& out, T value) {
  char buffer[32];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

// A logical as the byte a BIT column stores. The text 1 would be the byte 0x31, out of range
// for BIT(1): the server would refuse every chunk of a table with a logical field.
void AppendLogical(std::string& out, bool b, bool digit = false) {
  if (digit)
    out += b ? '1' : '0';
  else if (b)
    out += '\x01';
  else
    out += "\\0";
}

// An engine value as AppendLoadLine writes the data-access value the record set makes of it
// (see ado::fromEngineValue): a date-time has no fraction of a second.
void AppendEngineValue(std::string& out, const vfp::Value& v, bool digitLogical) {
  using Kind = vfp::Value::Kind;
  switch (v.kind) {
    case Kind::Null:
      out += "\\N";
      return;
    case Kind::Bool:
      AppendLogical(out, v.b, digitLogical);
      return;
    case Kind::Int:
      AppendNumber(out, v.i);
      return;
    case Kind::Double:
      if (MySqlHoldsDouble(v.d))
        AppendNumber(out, v.d);
      else
        out += "\\N";
      return;
    case Kind::Decimal:  // digits, sign and point only
      out += v.s;
      return;
    case Kind::Text:
    case Kind::Bytes:
      AppendEscaped(out, v.s);
      return;
    case Kind::Date:
      ado::appendDate(out, {v.when.date.year, v.when.date.month, v.when.date.day});
      return;
    case Kind::DateTime:
      ado::appendDate(out, {v.when.date.year, v.when.date.month, v.when.date.day});
      out += ' ';
      ado::appendTime(out, {false, v.when.hour, v.when.minute, v.when.second, 0});
      return;
  }
}

}  // namespace

void AppendLoadLine(std::string& out, const ado::Value* row, std::size_t width,
                    const std::vector<bool>& digitLogicals) {
  using Kind = ado::Value::Kind;
  for (std::size_t k = 0; k < width; ++k) {
    if (k) out += '\t';
    const ado::Value& v = row[k];
    switch (v.kind()) {
      case Kind::Null:
        out += "\\N";
        break;
      case Kind::Bool:
        AppendLogical(out, v.asBool(), k < digitLogicals.size() && digitLogicals[k]);
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
        if (MySqlHoldsDouble(v.asDouble()))
          AppendNumber(out, v.asDouble());
        else
          out += "\\N";
        break;
      case Kind::Decimal:
      case Kind::Text:
      case Kind::Bytes:
        AppendEscaped(out, v.asString());
        break;
      case Kind::Date:
        ado::appendDate(out, v.asDate());
        break;
      case Kind::Time:
        ado::appendTime(out, v.asTime());
        break;
      case Kind::DateTime: {
        auto dt = v.asDateTime();
        ado::appendDate(out, dt.date);
        out += ' ';
        ado::appendTime(out, dt.time);
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
                                                  std::vector<std::string>& notes,
                                                  const std::vector<bool>& logical, bool quiet) {
  auto refused = [&] {
    if (!quiet && std::find(notes.begin(), notes.end(), kLocalLoadRefusedNote) == notes.end())
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

  // The lines carry a logical as the byte a BIT column stores. A column of another type
  // (TINYINT(1), or a type changed in the preview) takes the digit instead, as the INSERT path
  // would store it. The column is loaded directly: a SET clause would make the server number a
  // 0 in an AUTO_INCREMENT column despite NO_AUTO_VALUE_ON_ZERO.
  std::vector<bool> digits(columns.size(), false);
  if (std::find(logical.begin(), logical.end(), true) != logical.end()) {
    std::vector<std::string> bits;
    const std::string ask = "SELECT * FROM " + ado::quoteMySqlName(table) + " LIMIT 0";
    if (target.realQuery(ask) != 0) target.raise();
    if (MYSQL_RES* shape = target.storeResult()) {
      const unsigned n = mysql_num_fields(shape);
      const MYSQL_FIELD* f = mysql_fetch_fields(shape);
      for (unsigned k = 0; k < n; ++k)
        if (f[k].type == MYSQL_TYPE_BIT) bits.emplace_back(f[k].name, f[k].name_length);
      mysql_free_result(shape);
    }
    // Column names ignore letter case on the server.
    for (std::size_t k = 0; k < columns.size() && k < logical.size(); ++k)
      digits[k] = logical[k] && std::none_of(bits.begin(), bits.end(), [&](const std::string& b) {
                    return vfp::equalsNoCase(b, columns[k]);
                  });
  }

  std::string statement = "LOAD DATA LOCAL INFILE 'quillmere-rows' INTO TABLE " +
                          ado::quoteMySqlName(table) +
                          " CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' "
                          "LINES TERMINATED BY '\\n' (";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k) statement += ',';
    statement += ado::quoteMySqlName(columns[k]);
  }
  statement += ')';
  std::string deleteHead = "DELETE FROM " + ado::quoteMySqlName(table) + " WHERE " +
                           ado::quoteMySqlName(columns.at(0)) + " BETWEEN ";
  return std::unique_ptr<LocalRowLoad>(new LocalRowLoad(target, std::move(statement),
                                                        std::move(deleteHead), columns.size(),
                                                        chunkRows, notes, std::move(digits)));
}

LocalRowLoad::LocalRowLoad(ado::MySqlSession& target, std::string statement, std::string deleteHead,
                           std::size_t width, std::size_t chunkRows,
                           std::vector<std::string>& notes, std::vector<bool> digitLogicals)
    : target_(target),
      statement_(std::move(statement)),
      deleteHead_(std::move(deleteHead)),
      width_(width),
      chunkRows_(std::clamp<std::size_t>(chunkRows, 1, kMaxChunkRows)),
      notes_(notes),
      digitLogicals_(std::move(digitLogicals)) {}

LocalRowLoad::~LocalRowLoad() = default;

bool LocalRowLoad::draw() {
  if (drawn_ >= chunkRows_ || drawnBytes_ >= kChunkBytes || exhausted_) return false;
  const std::size_t before = text_.size();
  if (!source_->next(refused_ ? nullptr : &text_)) {
    exhausted_ = true;
    return false;
  }
  ++drawn_;
  drawnBytes_ += text_.size() - before;
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
  // What was handed over goes, so the text stays about one piece long and stays in the cache
  // rather than growing to the whole chunk.
  if (self->sent_ > 0) {
    self->text_.erase(0, self->sent_);
    self->sent_ = 0;
  }
  try {
    while (self->text_.size() - self->sent_ < size && self->draw()) {
    }
  } catch (...) {
    // The source failed; the statement ends with an error and the failure is raised after it.
    self->failure_ = std::current_exception();
    return -1;
  }
  std::size_t n = std::min<std::size_t>(size, self->text_.size() - self->sent_);
  std::memcpy(buffer, self->text_.data() + self->sent_, n);
  self->sent_ += n;
  return int(n);
}

void LocalRowLoad::FeedEnd(void*) {}

int LocalRowLoad::FeedError(void* state, char* message, unsigned int size) {
  std::snprintf(
      message, size, "%s",
      state ? "The rows could not be read." : "This program sends no files to the server.");
  return CR_UNKNOWN_ERROR;
}

bool LocalRowLoad::load() {
  MYSQL* m = target_.handle();
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
  if (failure_) std::rethrow_exception(failure_);
  const unsigned warnings = ok ? mysql_warning_count(m) : 0;
  const unsigned long long stored = ok ? mysql_affected_rows(m) : 0;
  if (ok && warnings == 0 && stored == drawn_) {
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
  if (drawn_ == 0) return false;
  // The server's own words, read before the rollback clears them.
  if (!ok) {
    undone(mysql_error(m));
  } else if (warnings > 0) {
    const auto texts = target_.warnings();
    undone(texts.empty() ? std::to_string(warnings) + " warnings" : texts.front());
  } else {
    undone("the server stored " + std::to_string(stored) + " of the chunk's " +
           std::to_string(drawn_) + " rows");
  }
  source_->chunkRows(rows_);
  // A value was adjusted, a row skipped, or the chunk failed part way: undo the chunk, on any
  // storage engine (a table without transactions keeps what a rollback cannot undo, so its
  // rows go by key).
  target_.execute("ROLLBACK");
  target_.execute(deleteHead_ + rows_.front().toText() + " AND " +
                  rows_[rows_.size() - width_].toText());
  return false;
}

void LocalRowLoad::undone(std::string reason) {
  if (undone_++ == 0) firstReason_ = std::move(reason);
}

bool LocalRowLoad::send(Source& source, const Fallback& fallback) {
  source_ = &source;
  source.newChunk();
  rows_.clear();
  drawn_ = 0;
  exhausted_ = false;
  bool loaded = false;
  if (!refused_) loaded = load();
  if (refused_) {
    // No local loading: the chunk is drawn here and goes to the statements.
    drawnBytes_ = 0;
    while (draw()) {
    }
  }
  // A chunk that fails part way leaves rows unread: they stay for the next chunk.
  if (!loaded && drawn_ > 0) {
    if (rows_.empty()) source.chunkRows(rows_);
    ++handedBack_;
    fallback(rows_, width_);
  } else if (loaded && drawn_ > 0) {
    ++loaded_;
  }
  rows_.clear();
  source_ = nullptr;
  return !exhausted_;
}

namespace {

// Rows through the record set's values: any record set.
class ValueRows : public LocalRowLoad::Source {
 public:
  ValueRows(ado::RecordSet& rs, long long& key, std::vector<bool> digitLogicals)
      : rs_(rs),
        key_(key),
        width_(std::size_t(rs.fieldCount()) + 1),
        digitLogicals_(std::move(digitLogicals)) {}
  void newChunk() override { rows_.clear(); }
  bool next(std::string* line) override {
    if (rs_.eof()) return false;
    const std::size_t at = rows_.size();
    rows_.resize(at + width_);
    rows_[at] = ado::Value::fromInt(key_);
    for (std::size_t k = 1; k < width_; ++k) rows_[at + k] = rs_.value(int(k - 1));
    if (line) AppendLoadLine(*line, rows_.data() + at, width_, digitLogicals_);
    ++key_;
    rs_.moveNext();
    return true;
  }
  void chunkRows(std::vector<ado::Value>& rows) override { rows = rows_; }

 private:
  ado::RecordSet& rs_;
  long long& key_;
  std::size_t width_;
  std::vector<bool> digitLogicals_;
  std::vector<ado::Value> rows_;
};

// Rows of a FoxPro table decoded from their record bytes straight into the line, with no value
// of the data-access layer made per field. The chunk keeps only its records' bytes; their values
// are made when the chunk goes to the fallback.
class FoxproRecordRows : public LocalRowLoad::Source {
 public:
  FoxproRecordRows(ado::RecordSet& rs, vfp::QueryResult& result, long long& key,
                   const std::vector<bool>& digitLogicals)
      : rs_(rs),
        result_(result),
        table_(result.table()),
        fields_(table_.userFields()),
        recordLength_(table_.header().recordLength),
        key_(key),
        digitLogicals_(fields_.size(), false) {
    // The lines' column k + 1 is the k-th field.
    for (std::size_t k = 0; k < fields_.size(); ++k)
      digitLogicals_[k] = k + 1 < digitLogicals.size() && digitLogicals[k + 1];
  }
  void newChunk() override {
    records_.clear();
    firstKey_ = key_;
  }
  bool next(std::string* line) override {
    if (rs_.eof()) return false;
    const std::uint8_t* record = result_.record();
    records_.append(reinterpret_cast<const char*>(record), recordLength_);
    if (line) {
      AppendNumber(*line, key_);
      for (std::size_t k = 0; k < fields_.size(); ++k) {
        *line += '\t';
        decode(record, fields_[k]);
        AppendEngineValue(*line, value_, digitLogicals_[k]);
      }
      *line += '\n';
    }
    ++key_;
    rs_.moveNext();
    return true;
  }
  void chunkRows(std::vector<ado::Value>& rows) override {
    rows.clear();
    const std::size_t count = records_.size() / recordLength_;
    rows.reserve(count * (fields_.size() + 1));
    for (std::size_t r = 0; r < count; ++r) {
      const auto* record =
          reinterpret_cast<const std::uint8_t*>(records_.data()) + r * recordLength_;
      rows.push_back(ado::Value::fromInt(firstKey_ + (long long)r));
      for (int field : fields_) {
        decode(record, field);
        rows.push_back(ado::fromEngineValue(value_));
      }
    }
  }

 private:
  void decode(const std::uint8_t* record, int field) {
    try {
      table_.decodeField(record, std::size_t(field), value_);
    } catch (const vfp::Error& e) {
      // As the record set reports it.
      throw ado::DataAccessError(e.what());
    }
  }

  ado::RecordSet& rs_;
  vfp::QueryResult& result_;
  const vfp::Table& table_;
  const std::vector<int>& fields_;
  std::size_t recordLength_;
  long long& key_;
  long long firstKey_ = 0;
  std::vector<char> digitLogicals_;  // per field: a logical goes as 1 or 0
  std::string records_;              // the chunk's records as stored
  vfp::Value value_;                 // reused, so a row costs no allocation
};

}  // namespace

std::unique_ptr<LocalRowLoad::Source> LoadRowsOf(ado::RecordSet& rs, long long& key, bool general,
                                                 std::vector<bool> digitLogicals) {
  vfp::QueryResult* result = general ? nullptr : ado::foxproResultOf(rs);
  if (result) return std::make_unique<FoxproRecordRows>(rs, *result, key, digitLogicals);
  return std::make_unique<ValueRows>(rs, key, std::move(digitLogicals));
}

}  // namespace transfer
