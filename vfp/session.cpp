#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vfp/convert.h"
#include "vfp/database.h"
#include "vfp/error.h"
#include "vfp/names.h"

namespace vfp {

namespace {

constexpr auto kFlushInterval = std::chrono::milliseconds(50);
constexpr std::size_t kFlushBytes = 4 << 20;

Error syntaxError() { return Error("Syntax error."); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// A cursor over one statement's text.
struct Lexer {
  std::string_view s;
  std::size_t p;

  void skip() {
    while (p < s.size() && isSpace(s[p])) ++p;
  }
  bool atEnd() {
    skip();
    // A statement may end with ";" as users type it.
    while (p < s.size() && s[p] == ';') {
      ++p;
      skip();
    }
    return p >= s.size();
  }
  bool peek(char c) {
    skip();
    return p < s.size() && s[p] == c;
  }
  bool accept(char c) {
    if (!peek(c)) return false;
    ++p;
    return true;
  }
  void expect(char c) {
    if (!accept(c)) throw syntaxError();
  }
  // Case-insensitive keyword; FoxPro also accepts any abbreviation of four letters or more, but
  // the engine only takes the full words and the common short forms it is given.
  bool keyword(std::string_view k) {
    skip();
    if (s.size() - p < k.size()) return false;
    for (std::size_t i = 0; i < k.size(); ++i) {
      char c = s[p + i];
      if (c >= 'a' && c <= 'z') c = char(c - 32);
      if (c != k[i]) return false;
    }
    if (p + k.size() < s.size() && isWordChar(s[p + k.size()])) return false;
    p += k.size();
    return true;
  }
  std::string word() {
    skip();
    std::size_t b = p;
    while (p < s.size() && isWordChar(s[p])) ++p;
    return std::string(s.substr(b, p - b));
  }
  // A name as the program writes them: bare, [..], `..`, "..", '..'.
  std::string name() {
    skip();
    if (p >= s.size()) throw syntaxError();
    char open = s[p];
    char close = open == '[' ? ']' : open;
    if (open == '[' || open == '`' || open == '"' || open == '\'') {
      auto e = s.find(close, p + 1);
      if (e == std::string_view::npos) throw syntaxError();
      std::string n(s.substr(p + 1, e - p - 1));
      p = e + 1;
      return n;
    }
    // A bare name may be a path: take everything up to a space or "(".
    std::size_t b = p;
    while (p < s.size() && !isSpace(s[p]) && s[p] != '(' && s[p] != ';' && s[p] != ',' &&
           s[p] != ')')
      ++p;
    if (b == p) throw syntaxError();
    return std::string(s.substr(b, p - b));
  }
};

// One value expression of VALUES(...): literals joined by "+".
void parseTerm(Lexer& lx, Value& v, std::string& scratch) {
  lx.skip();
  if (lx.p >= lx.s.size()) throw syntaxError();
  char c = lx.s[lx.p];
  if (c == '\'' || c == '"' || c == '[') {
    char close = c == '[' ? ']' : c;
    std::string& out = v.setString(Value::Kind::Text);
    std::size_t i = lx.p + 1;
    for (;;) {
      auto e = lx.s.find(close, i);
      if (e == std::string_view::npos) throw Error("Command contains unrecognized phrase/keyword.");
      out.append(lx.s.data() + i, e - i);
      // A doubled quote stands for one quote inside the literal.
      if (close != ']' && e + 1 < lx.s.size() && lx.s[e + 1] == close) {
        out += close;
        i = e + 2;
        continue;
      }
      lx.p = e + 1;
      return;
    }
  }
  if (c == '{') {
    auto e = lx.s.find('}', lx.p);
    if (e == std::string_view::npos) throw syntaxError();
    std::string_view inner = lx.s.substr(lx.p + 1, e - lx.p - 1);
    lx.p = e + 1;
    while (!inner.empty() && isSpace(inner.front())) inner.remove_prefix(1);
    while (!inner.empty() && isSpace(inner.back())) inner.remove_suffix(1);
    if (inner.empty() || inner == "//" || inner == "/ /" || inner == "/ / : :" || inner == "--") {
      v.setString(Value::Kind::Text);  // empty date: a blank value
      return;
    }
    if (inner.front() != '^') throw Error("Date/Datetime evaluated to an invalid value.");
    inner.remove_prefix(1);
    scratch.assign(inner);
    for (auto& ch : scratch)
      if (ch == '/' || ch == '.') ch = '-';
    // {^2021-08-31 12:34} and {^2021-8-31} are both legal FoxPro.
    int y, m, d, hh = 0, mi = 0, ss = 0, n = 0;
    int got = std::sscanf(scratch.c_str(), "%d-%d-%d%n", &y, &m, &d, &n);
    if (got != 3) throw Error("Date/Datetime evaluated to an invalid value.");
    std::string_view rest = std::string_view(scratch).substr(std::size_t(n));
    while (!rest.empty() && (isSpace(rest.front()) || rest.front() == ',' || rest.front() == 'T'))
      rest.remove_prefix(1);
    DateTime dt{{y, m, d}, 0, 0, 0};
    if (!validDate(dt.date)) throw Error("Date/Datetime evaluated to an invalid value.");
    if (rest.empty()) {
      v.setDate(dt.date);
      return;
    }
    // hh[:mm[:ss]] [AM|PM]: anything else after the time is not a time.
    auto invalid = [] { return Error("Date/Datetime evaluated to an invalid value."); };
    auto number = [&](int& out) {
      std::size_t k = 0;
      out = 0;
      while (k < rest.size() && k < 2 && rest[k] >= '0' && rest[k] <= '9')
        out = out * 10 + (rest[k++] - '0');
      if (k == 0) throw invalid();
      rest.remove_prefix(k);
    };
    number(hh);
    for (int* part : {&mi, &ss}) {
      if (rest.empty() || rest.front() != ':') break;
      rest.remove_prefix(1);
      number(*part);
    }
    while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
    std::string ap = toUpperAscii(std::string(rest));
    if (ap == "A" || ap == "P") ap += "M";
    if (!ap.empty() && ap != "AM" && ap != "PM") throw invalid();
    if (!ap.empty() && hh > 12) throw invalid();
    if (ap == "PM" && hh < 12) hh += 12;
    if (ap == "AM" && hh == 12) hh = 0;
    if (hh > 23 || mi > 59 || ss > 59) throw invalid();
    dt.hour = hh, dt.minute = mi, dt.second = ss;
    v.setDateTime(dt);
    return;
  }
  if (c == '.') {
    for (auto [kw, val] : {std::pair{".T.", 1}, {".F.", 0}, {".Y.", 1}, {".N.", 0}}) {
      if (lx.s.size() - lx.p >= 3 && equalsNoCase(std::string(lx.s.substr(lx.p, 3)), kw)) {
        lx.p += 3;
        v.setBool(val);
        return;
      }
    }
    if (lx.s.size() - lx.p >= 6 && equalsNoCase(std::string(lx.s.substr(lx.p, 6)), ".NULL.")) {
      lx.p += 6;
      v.setNull();
      return;
    }
  }
  if (c == '0' && lx.p + 1 < lx.s.size() && (lx.s[lx.p + 1] == 'h' || lx.s[lx.p + 1] == 'H')) {
    std::size_t i = lx.p + 2;
    std::string& out = v.setString(Value::Kind::Bytes);
    auto hex = [](char h) -> int {
      if (h >= '0' && h <= '9') return h - '0';
      if (h >= 'a' && h <= 'f') return h - 'a' + 10;
      if (h >= 'A' && h <= 'F') return h - 'A' + 10;
      return -1;
    };
    std::size_t b = i;
    while (i < lx.s.size() && hex(lx.s[i]) >= 0) ++i;
    std::string_view digits = lx.s.substr(b, i - b);
    std::size_t k = 0;
    if (digits.size() % 2) out += char(hex(digits[k++]));  // odd count: leading nibble
    for (; k + 1 < digits.size() + 1 && k < digits.size(); k += 2)
      out += char(hex(digits[k]) * 16 + hex(digits[k + 1]));
    lx.p = i;
    return;
  }
  if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
    std::size_t b = lx.p;
    std::size_t i = lx.p + 1;
    while (i < lx.s.size() &&
           ((lx.s[i] >= '0' && lx.s[i] <= '9') || lx.s[i] == '.' || lx.s[i] == 'e' ||
            lx.s[i] == 'E' ||
            ((lx.s[i] == '-' || lx.s[i] == '+') && (lx.s[i - 1] == 'e' || lx.s[i - 1] == 'E'))))
      ++i;
    std::string_view num = lx.s.substr(b, i - b);
    auto d = parseDecimal(num);
    if (!d) throw syntaxError();
    lx.p = i;
    v.setString(Value::Kind::Decimal) = std::string(num);
    return;
  }
  if (lx.keyword("NULL")) {
    v.setNull();
    return;
  }
  if (lx.keyword("CHR")) {
    lx.expect('(');
    lx.skip();
    std::size_t b = lx.p;
    while (lx.p < lx.s.size() && lx.s[lx.p] >= '0' && lx.s[lx.p] <= '9') ++lx.p;
    if (b == lx.p || lx.p - b > 3) throw syntaxError();
    int code = std::stoi(std::string(lx.s.substr(b, lx.p - b)));
    lx.expect(')');
    if (code > 255) throw Error("Invalid argument used with CHR().");
    // CHR() gives a byte of the code page; below 128 that is the same character in UTF-8.
    if (code < 128) {
      v.setString(Value::Kind::Text) = std::string(1, char(code));
    } else {
      std::string b1(1, char(code));
      std::string& out = v.setString(Value::Kind::Text);
      converterFor(kDefaultCodePage)->toUtf8(b1, out);
    }
    return;
  }
  throw Error("Command contains unrecognized phrase/keyword.");
}

void parseExpression(Lexer& lx, Value& v, Value& term, std::string& scratch) {
  parseTerm(lx, v, scratch);
  while (lx.accept('+')) {
    parseTerm(lx, term, scratch);
    bool vs = v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes;
    bool ts = term.kind == Value::Kind::Text || term.kind == Value::Kind::Bytes;
    if (vs && ts) {
      v.s += term.s;
      if (term.kind == Value::Kind::Bytes) v.kind = Value::Kind::Bytes;
      continue;
    }
    if (v.isNull() || term.isNull()) {
      v.setNull();
      continue;
    }
    throw Error("Operator/operand type mismatch.");
  }
}

// The INSERT a transfer writes for every row, and nothing else:
//   INSERT INTO [target] VALUES('text', 'it''s'+CHR(13)+CHR(10)+'more', '')
// one space where the transfer puts one, quoted text with doubled quotes, CHR(10) and CHR(13)
// joined by "+", ", " between values, nothing after the ")". Reads the target and fills values
// the way the general parser does; returns false on any other text, which then goes through
// the general parser, so the two cannot disagree on a line both accept.
bool scanTransferInsert(std::string_view s, std::string_view& ref, std::vector<Value>& values,
                        std::size_t& count) {
  constexpr std::string_view kHead = "INSERT INTO [";
  constexpr std::string_view kValues = " VALUES(";
  if (!s.starts_with(kHead)) return false;
  std::size_t p = kHead.size();
  std::size_t close = s.find(']', p);
  if (close == std::string_view::npos || close == p) return false;
  ref = s.substr(p, close - p);
  p = close + 1;
  if (s.substr(p, kValues.size()) != kValues) return false;
  p += kValues.size();
  std::size_t n = 0;
  const std::size_t end = s.size();
  for (;;) {
    if (values.size() <= n) values.resize(n + 1);
    std::string& out = values[n].setString(Value::Kind::Text);
    for (;;) {
      if (p < end && s[p] == '\'') {
        ++p;
        for (;;) {
          std::size_t q = s.find('\'', p);
          if (q == std::string_view::npos) return false;
          out.append(s.data() + p, q - p);
          p = q + 1;
          if (p < end && s[p] == '\'') {  // a doubled quote is one quote of the text
            out += '\'';
            ++p;
            continue;
          }
          break;
        }
      } else if (s.substr(p, 7) == "CHR(10)" || s.substr(p, 7) == "CHR(13)") {
        out += s[p + 5] == '0' ? '\n' : '\r';
        p += 7;
      } else {
        return false;
      }
      if (p < end && s[p] == '+') {
        ++p;
        continue;
      }
      break;
    }
    ++n;
    if (p + 1 < end && s[p] == ',' && s[p + 1] == ' ') {
      p += 2;
      continue;
    }
    if (p + 1 == end && s[p] == ')') break;
    return false;
  }
  count = n;
  return true;
}

struct TypeName {
  const char* name;
  char letter;
};
constexpr TypeName kTypeNames[] = {
    {"CHARACTER", 'C'}, {"CHAR", 'C'},   {"C", 'C'},       {"VARCHAR", 'V'},  {"V", 'V'},
    {"VARBINARY", 'Q'}, {"Q", 'Q'},      {"NUMERIC", 'N'}, {"NUM", 'N'},      {"DECIMAL", 'N'},
    {"N", 'N'},         {"FLOAT", 'F'},  {"F", 'F'},       {"INTEGER", 'I'},  {"INT", 'I'},
    {"I", 'I'},         {"DOUBLE", 'B'}, {"B", 'B'},       {"CURRENCY", 'Y'}, {"Y", 'Y'},
    {"DATETIME", 'T'},  {"T", 'T'},      {"DATE", 'D'},    {"D", 'D'},        {"LOGICAL", 'L'},
    {"L", 'L'},         {"MEMO", 'M'},   {"M", 'M'},       {"GENERAL", 'G'},  {"G", 'G'},
    {"BLOB", 'W'},      {"W", 'W'},
};

}  // namespace

// ------------------------------------------------------------------------------ catalogs

void TableCatalog::checkDroppable(const std::string&) const {}

FolderCatalog::FolderCatalog(std::string folder) : folder_(std::move(folder)) {
  if (pathKind(folder_) != PathKind::Folder)
    throw Error("Invalid path or file name: '" + folder_ + "' is not a folder.");
}

std::vector<CatalogEntry> FolderCatalog::tables() const {
  std::vector<CatalogEntry> out;
  auto entries = folderEntries(folder_);
  if (!entries) throw Error("Cannot read folder '" + folder_ + "'.");
  for (const auto& n : *entries) {
    if (n.size() <= 4 || !equalsNoCase(n.substr(n.size() - 4), ".dbf")) continue;
    std::string full = joinPath(folder_, n);
    if (pathKind(full) != PathKind::File) continue;
    out.push_back({n.substr(0, n.size() - 4), "TABLE", full});
  }
  std::sort(out.begin(), out.end(),
            [](const CatalogEntry& a, const CatalogEntry& b) { return a.name < b.name; });
  return out;
}

std::optional<std::string> FolderCatalog::findTable(const std::string& name) const {
  return findFileNoCase(folder_, name + ".dbf");
}

// ---------------------------------------------------------------------------- QueryResult

QueryResult::QueryResult(const std::string& path, std::vector<std::string> longNames)
    : table_(path), longNames_(std::move(longNames)), scan_(table_) {
  if (longNames_.size() != table_.userFields().size()) longNames_.clear();
  count_ = table_.countLiveRecords();
  values_.resize(fieldCount());
  decoded_.assign(fieldCount(), false);
}

bool QueryResult::next() {
  row_ = scan_.nextLive();
  std::fill(decoded_.begin(), decoded_.end(), false);
  return row_ != nullptr;
}

const Value& QueryResult::value(std::size_t i) {
  if (!row_) throw Error("No current record.");
  if (!decoded_[i]) {
    table_.decodeField(row_, std::size_t(table_.userFields()[i]), values_[i]);
    decoded_[i] = true;
  }
  return values_[i];
}

// -------------------------------------------------------------------------------- Session

Session::Session(std::shared_ptr<TableCatalog> catalog) : catalog_(std::move(catalog)) {}

Session::~Session() {
  try {
    flush();
  } catch (...) {
    // The caller that cares calls flush() and sees the error.
  }
}

void Session::flush() {
  for (auto& [path, w] : writers_) w->flush();
  pending_ = false;
}

void Session::abandon(const std::string& path) {
  byRef_.clear();
  auto it = writers_.find(pathKey(path));
  if (it == writers_.end()) return;
  it->second->discard();
  writers_.erase(it);
}

void Session::forget(const std::string& path) {
  byRef_.clear();
  auto it = writers_.find(pathKey(path));
  if (it == writers_.end()) return;
  auto w = std::move(it->second);
  writers_.erase(it);
  w->flush();
}

std::string Session::resolve(const std::string& ref, bool mustExist) const {
  std::string r = ref;
  while (!r.empty() && isSpace(r.back())) r.pop_back();
  if (r.empty()) throw syntaxError();
  checkReference(r);
  bool isPath = r.find_first_of("/\\") != std::string::npos ||
                (r.size() > 4 && equalsNoCase(r.substr(r.size() - 4), ".dbf"));
  if (!isPath) {
    if (auto p = catalog_->findTable(r)) return *p;
    if (mustExist) throw Error("File '" + toLowerAscii(r) + ".dbf' does not exist.");
    return joinPath(catalog_->folder(), r + ".dbf");
  }
  std::string path = r;
  bool drive = path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
#ifndef _WIN32
  // Paths typed by Windows users: "\" separates folders here too. A drive letter names
  // nothing on this system.
  std::replace(path.begin(), path.end(), '\\', '/');
  if (drive) throw Error("Invalid path or file name: '" + r + "'.");
#endif
  bool absolute = path[0] == '/' || path[0] == '\\' || drive;
  if (!absolute) path = joinPath(catalog_->folder(), path);
  if (!(path.size() > 4 && equalsNoCase(path.substr(path.size() - 4), ".dbf"))) path += ".dbf";
  if (auto p = findPathNoCase(path)) return *p;
  if (mustExist) throw Error("File '" + fileNameOf(path) + "' does not exist.");
  if (pathKind(folderOf(path)) != PathKind::Folder)
    throw Error("Invalid path or file name: folder '" + folderOf(path) + "' does not exist.");
  return path;
}

std::unique_ptr<QueryResult> Session::execute(std::string_view sql) {
  std::string_view ref;
  std::size_t count = 0;
  if (fastInsert_ && scanTransferInsert(sql, ref, values_, count)) {
    ++fastInserts_;
    appendRow(writerFor(ref), count);
    if (pending_ && std::chrono::steady_clock::now() - firstPending_ > kFlushInterval) flush();
    return nullptr;
  }
  Lexer lx{sql, 0};
  if (lx.atEnd()) throw syntaxError();
  if (lx.keyword("INSERT")) {
    insert(sql, lx.p);
    if (pending_ && std::chrono::steady_clock::now() - firstPending_ > kFlushInterval) flush();
    return nullptr;
  }
  // Before the queued rows are written: rows of the table being dropped go with it, even where
  // they can no longer be written (a full disk).
  if (lx.keyword("DROP")) {
    drop(sql, lx.p);
    return nullptr;
  }
  flush();
  if (lx.keyword("SELECT")) return select(sql, lx.p);
  if (lx.keyword("CREATE")) {
    create(sql, lx.p);
    return nullptr;
  }
  if (lx.keyword("RENAME")) {
    rename(sql, lx.p);
    return nullptr;
  }
  static const char* const kKnownVerbs[] = {"UPDATE", "DELETE", "ALTER",   "USE",   "PACK",
                                            "ZAP",    "APPEND", "REPLACE", "INDEX", "SET",
                                            "COPY",   "MODIFY", "REINDEX", "BROWSE"};
  for (const char* v : kKnownVerbs)
    if (lx.keyword(v))
      throw Error("Command " + std::string(v) + " is not supported by this FoxPro engine.");
  throw Error("Unrecognized command verb.");
}

TableWriter& Session::writerFor(std::string_view ref) {
  if (auto it = byRef_.find(ref); it != byRef_.end()) return *it->second;
  std::string path = resolve(std::string(ref), true);
  catalog_->checkWritable(path);
  // One writer per file, however its path was written.
  const std::string key = pathKey(path);
  auto it = writers_.find(key);
  if (it == writers_.end()) it = writers_.emplace(key, TableWriter::openForAppend(path)).first;
  byRef_.emplace(std::string(ref), it->second.get());
  return *it->second;
}

void Session::insert(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (!lx.keyword("INTO")) throw syntaxError();
  std::string ref = lx.name();
  if (lx.peek('('))
    throw Error("INSERT with a field list is not supported; give VALUES for every field.");
  if (!lx.keyword("VALUES")) throw Error("Command contains unrecognized phrase/keyword.");
  lx.expect('(');
  TableWriter& w = writerFor(ref);
  std::size_t n = 0;
  Value term;
  std::string scratch;
  if (!lx.peek(')')) {
    do {
      if (values_.size() <= n) values_.resize(n + 1);
      parseExpression(lx, values_[n], term, scratch);
      ++n;
    } while (lx.accept(','));
  }
  lx.expect(')');
  if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");
  appendRow(w, n);
}

void Session::appendRow(TableWriter& w, std::size_t n) {
  if (n > w.userFields().size()) throw Error("Field count and value count do not match.");
  try {
    replaced_ += (long long)w.append(std::span<const Value>(values_.data(), n));
  } catch (const Error& e) {
    // The writer names the field; the message adds the table.
    std::string m = e.what();
    if (m.ends_with(".")) m.pop_back();
    throw Error(m + " in table '" + fileNameOf(w.path()) + "'.");
  }
  if (!pending_) {
    pending_ = true;
    firstPending_ = std::chrono::steady_clock::now();
  }
  if (w.pendingBytes() > kFlushBytes) w.flush();
}

void Session::create(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (lx.keyword("CURSOR") || lx.keyword("DATABASE") || lx.keyword("INDEX") || lx.keyword("VIEW"))
    throw Error("This CREATE is not supported: the FoxPro engine runs CREATE TABLE.");
  if (!(lx.keyword("TABLE") || lx.keyword("DBF"))) throw syntaxError();
  std::string ref = lx.name();
  const bool free = lx.keyword("FREE");
  int codePage = kDefaultCodePage;
  if (lx.keyword("CODEPAGE")) {
    lx.expect('=');
    std::string n = lx.word();
    if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos || n.size() > 5)
      throw syntaxError();
    codePage = std::stoi(n);
    if (!markFromCodePage(codePage))
      throw Error("Code page " + n + " is not supported for a table.");
  }
  lx.expect('(');
  std::vector<ColumnSpec> cols;
  std::vector<std::string> seen;
  do {
    ColumnSpec c;
    c.name = lx.name();
    checkFieldName(c.name);
    std::string tw = toUpperAscii(lx.word());
    char letter = 0;
    for (const auto& t : kTypeNames)
      if (tw == t.name) letter = t.letter;
    if (!letter)
      throw Error(tw.empty() ? "Syntax error." : "Field type '" + tw + "' is not supported.");
    c.type = letter;
    if (lx.accept('(')) {
      std::string w = lx.word();
      if (w.empty() || w.find_first_not_of("0123456789") != std::string::npos || w.size() > 5)
        throw syntaxError();
      c.width = std::uint32_t(std::stoul(w));
      if (lx.accept(',')) {
        std::string d = lx.word();
        if (d.empty() || d.find_first_not_of("0123456789") != std::string::npos || d.size() > 3)
          throw syntaxError();
        c.decimals = std::uint8_t(std::min(255ul, std::stoul(d)));
      }
      lx.expect(')');
    } else if (c.type == 'C' || c.type == 'V' || c.type == 'Q' || c.type == 'N' || c.type == 'F') {
      throw Error("Field " + c.name + ": a width is required for type " + std::string(1, c.type) +
                  ".");
    }
    for (;;) {
      if (lx.keyword("NULL")) {
        c.nullable = true;
      } else if (lx.keyword("NOT")) {
        if (!lx.keyword("NULL")) throw syntaxError();
        c.nullable = false;
      } else if (lx.keyword("NOCPTRANS") || lx.keyword("BINARY")) {
        c.binary = true;
      } else if (lx.keyword("AUTOINC")) {
        c.autoInc = true;
        if (lx.keyword("NEXTVALUE")) {
          std::string v = lx.word();
          if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos ||
              v.size() > 10 || std::stoull(v) > std::uint64_t(INT32_MAX))
            throw syntaxError();
          c.autoIncNext = std::uint32_t(std::stoul(v));
        }
        if (lx.keyword("STEP")) {
          std::string v = lx.word();
          if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v.size() > 3 ||
              std::stoul(v) > 255 || std::stoul(v) == 0)
            throw syntaxError();
          c.autoIncStep = std::uint8_t(std::stoul(v));
        }
      } else {
        break;
      }
    }
    lx.skip();
    if (lx.atEnd()) throw syntaxError();
    if (!lx.peek(',') && !lx.peek(')')) {
      Lexer probe = lx;
      std::string clause = toUpperAscii(probe.word());
      throw Error(
          "Field " + c.name + ": " + (clause.empty() ? std::string("this clause") : clause) +
          " is not supported; only NULL, NOT NULL, NOCPTRANS and AUTOINC may follow the type.");
    }
    for (const auto& s : seen)
      if (equalsNoCase(s, c.name)) throw Error("Field name '" + c.name + "' is duplicated.");
    seen.push_back(c.name);
    cols.push_back(c);
  } while (lx.accept(','));
  lx.expect(')');
  if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");

  std::vector<std::string> longNames;  // as written, for a container
  for (const auto& c : cols) longNames.push_back(c.name);
  std::string path = resolve(ref, false);
  if (auto existing = findPathNoCase(path)) {
    catalog_->checkDroppable(*existing);
    std::string container;
    try {
      container = Table(*existing).header().backlink;
    } catch (const Error&) {
      // A file that cannot be read as a table is simply replaced.
    }
    if (!container.empty() && !catalog_->isMember(*existing))
      throw Error("Table '" + fileNameOf(*existing) + "' belongs to database '" + container +
                  "'; it cannot be replaced by a free table.");
    forget(*existing);
    path = *existing;  // a table of that name in another letter case is the one replaced
    if (catalog_->isMember(path)) catalog_->dropped(path);
  }
  forget(path);
  std::size_t replaced = 0;
  TableWriter::create(path, cols, codePage, &replaced);
  replaced_ += (long long)replaced;
  std::string name = fileNameOf(path);
  if (ref.find_first_of("/\\") == std::string::npos && !equalsNoCase(ref + ".dbf", name))
    name = ref;  // a long name given as written
  else if (name.size() > 4)
    name = name.substr(0, name.size() - 4);
  try {
    catalog_->created(path, name, longNames, free);
  } catch (...) {
    // Not in the container: the new file must not stay behind as a half-made member.
    for (const char* ext : {".fpt", ".cdx"})
      if (auto c = findCompanion(path, ext)) removeFile(*c);
    removeFile(path);
    throw;
  }
}

void Session::drop(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (!lx.keyword("TABLE"))
    throw Error("This DROP is not supported: the FoxPro engine runs DROP TABLE.");
  std::string ref = lx.name();
  lx.keyword("RECYCLE");
  if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");
  std::string path = resolve(ref, true);
  catalog_->checkDroppable(path);
  {
    Table t(path);  // refuses what is not a table before anything is deleted
    if (!t.header().backlink.empty() && !catalog_->isMember(path))
      throw Error("Table '" + fileNameOf(path) + "' belongs to database '" + t.header().backlink +
                  "'; open that database to drop it.");
  }
  abandon(path);
  flush();
  // Every file is taken before the container forgets the table: a table another program has
  // open stays whole and listed.
  std::vector<std::string> files{path};
  for (const char* ext : {".fpt", ".cdx"})
    if (auto c = findCompanion(path, ext)) files.push_back(*c);
  FileRemoval removal(std::move(files));
  if (catalog_->isMember(path)) catalog_->dropped(path);
  removal.commit();
}

// RENAME TABLE table TO name: the table's files (.dbf, .fpt, .cdx) take the new name in their
// folder, and a container calls its member by it. A table is built under another name and
// renamed once complete, so the name it replaces is never held by half a table.
void Session::rename(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (!lx.keyword("TABLE"))
    throw Error("This RENAME is not supported: the FoxPro engine runs RENAME TABLE.");
  const std::string ref = lx.name();
  if (!lx.keyword("TO")) throw syntaxError();
  std::string name = lx.name();
  if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");
  checkReference(name);
  if (name.size() > 4 && equalsNoCase(name.substr(name.size() - 4), ".dbf"))
    name.resize(name.size() - 4);
  if (name.find_first_of("/\\") != std::string::npos)
    throw Error("RENAME TABLE names the table anew in its own folder; '" + name + "' is a path.");
  if (confineTableName(name).changed()) throw Error("Invalid path or file name: '" + name + "'.");

  const std::string path = resolve(ref, true);
  catalog_->checkDroppable(path);
  const bool member = catalog_->isMember(path);
  {
    Table t(path);  // refuses what is not a table before anything moves
    if (!t.header().backlink.empty() && !member)
      throw Error("Table '" + fileNameOf(path) + "' belongs to database '" + t.header().backlink +
                  "'; open that database to rename it.");
  }
  // Every file keeps its extension as spelt; the new names must be free (another letter case of
  // the table's own name is the table itself).
  const std::string newPath = joinPath(folderOf(path), name + path.substr(path.size() - 4));
  // The .dbf moves last, so a table found under the new name has its memo and index with it.
  std::vector<std::pair<std::string, std::string>> moves;
  for (const char* ext : {".fpt", ".cdx"})
    if (auto c = findCompanion(path, ext))
      moves.emplace_back(*c, replaceExtension(newPath, c->substr(c->size() - 4)));
  moves.emplace_back(path, newPath);
  for (const auto& [from, to] : moves)
    if (auto taken = findPathNoCase(to); taken && pathKey(*taken) != pathKey(from))
      throw Error("File '" + fileNameOf(*taken) + "' already exists.");
  if (member) catalog_->checkRenamable(path, name);

  forget(path);
  std::size_t moved = 0;
  auto moveBack = [&] {
    while (moved > 0) {
      --moved;
      replaceFile(moves[moved].second, moves[moved].first);
    }
  };
  for (; moved < moves.size(); ++moved) {
    if (!replaceFile(moves[moved].first, moves[moved].second)) {
      moveBack();
      throw Error("File '" + fileNameOf(moves[moved].first) + "' is in use or read-only.");
    }
  }
  if (!member) return;
  try {
    catalog_->renamed(path, newPath, name);
  } catch (...) {
    moveBack();
    throw;
  }
}

std::unique_ptr<QueryResult> Session::select(std::string_view sql, std::size_t pos) {
  Lexer lx{sql, pos};
  if (!lx.accept('*'))
    throw Error("This SELECT is not supported: the FoxPro engine runs SELECT * FROM a table.");
  if (!lx.keyword("FROM")) throw syntaxError();
  std::string ref = lx.name();
  if (!lx.atEnd())
    throw Error("This SELECT is not supported: the FoxPro engine runs SELECT * FROM a table.");
  std::string path = resolve(ref, true);
  return std::make_unique<QueryResult>(path, catalog_->fieldNames(path));
}

}  // namespace vfp
