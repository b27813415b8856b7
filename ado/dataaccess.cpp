#include "ado/dataaccess.h"

#include <algorithm>
#include <cctype>

namespace ado {

namespace {

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

ConnectionString ConnectionString::parse(const std::string& text) {
  ConnectionString cs;
  std::size_t i = 0;
  while (i < text.size()) {
    auto eq = text.find('=', i);
    auto semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // A piece without "=": nothing to keep, skip to the next pair.
      if (semi == std::string::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = trim(text.substr(i, eq - i));
    std::size_t v = eq + 1;
    std::string value;
    if (v < text.size() && text[v] == '{') {
      // Braced value: runs to the first "}" not doubled; "}}" stands for "}".
      std::size_t j = v + 1;
      bool closed = false;
      while (j < text.size()) {
        if (text[j] == '}') {
          if (j + 1 < text.size() && text[j + 1] == '}') {
            value += '}';
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        value += text[j++];
      }
      if (!closed) {
        // Not a braced value after all: keep it as typed up to the next ";".
        auto end = text.find(';', v);
        value = text.substr(v, end == std::string::npos ? std::string::npos : end - v);
        i = end == std::string::npos ? text.size() : end + 1;
      } else {
        auto end = text.find(';', j);
        i = end == std::string::npos ? text.size() : end + 1;
      }
    } else {
      auto end = text.find(';', v);
      value = text.substr(v, end == std::string::npos ? std::string::npos : end - v);
      i = end == std::string::npos ? text.size() : end + 1;
    }
    if (!key.empty()) cs.pairs_.emplace_back(key, value);
  }
  return cs;
}

std::string ConnectionString::pair(const std::string& key, const std::string& value) {
  bool braces = value.find(';') != std::string::npos || (!value.empty() && value.front() == '{');
  if (!braces) return key + "=" + value + ";";
  std::string out = key + "={";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "};";
}

bool ConnectionString::has(const std::string& key) const {
  return std::any_of(pairs_.begin(), pairs_.end(),
                     [&](const auto& p) { return equalsIgnoreCase(p.first, key); });
}

std::string ConnectionString::get(const std::string& key, const std::string& fallback) const {
  // The last occurrence wins, as with the drivers the strings were written for.
  for (auto it = pairs_.rbegin(); it != pairs_.rend(); ++it)
    if (equalsIgnoreCase(it->first, key)) return it->second;
  return fallback;
}

void Cursor::addNew() { throw DataAccessError("This record set cannot be updated."); }
void Cursor::setValue(int, Value) { throw DataAccessError("This record set cannot be updated."); }
void Cursor::update() { throw DataAccessError("This record set cannot be updated."); }

Connection::~Connection() {
  try {
    close();
  } catch (...) {
    // Releasing must not throw; the connection is gone either way.
  }
}

Limits& DefaultLimits() {
  static Limits limits;
  return limits;
}

void Connection::open(const std::string& connectionString) {
  if (backend_) throw DataAccessError("The connection is already open.");
  auto cs = ConnectionString::parse(connectionString);
  std::unique_ptr<Backend> backend;
  if (lower(trim(cs.get("Provider"))) == "vfpoledb.1" ||
      lower(trim(cs.get("Provider"))) == "vfpoledb")
    backend = makeFoxProBackend();
  else if (lower(cs.get("DRIVER")).find("mysql") != std::string::npos)
    backend = makeMySqlBackend();
  else
    throw DataAccessError("Provider cannot be found. It may not be properly installed.");
  backend->open(cs, options_);
  backend_ = std::move(backend);
}

void Connection::setWaiting(Waiting waiting) {
  options_.waiting = std::move(waiting);
  if (backend_) backend_->setWaiting(options_.waiting);
}

// A statement abandoned half way (its waiting callback threw) leaves a connection that can run
// nothing more: it is closed rather than left to fail later.
template <class F>
auto Connection::closingOnAbandon(F&& call) {
  try {
    return call();
  } catch (...) {
    if (backend_ && backend_->abandoned()) {
      try {
        close();
      } catch (...) {
      }
    }
    throw;
  }
}

std::unique_ptr<Cursor> Connection::execute(std::string_view sql) {
  return closingOnAbandon([&] { return backend().execute(sql); });
}

std::unique_ptr<Cursor> Connection::openSchema(SchemaEnum schema) {
  if (schema != adSchemaTables) throw DataAccessError("This schema is not supported.");
  return closingOnAbandon([&] { return backend().tablesSchema(); });
}

std::unique_ptr<Cursor> Connection::openRecordSet(const std::string& sql, CursorType cursorType,
                                                  LockType lockType) {
  return closingOnAbandon([&] { return backend().openRecordSet(sql, cursorType, lockType); });
}

void Connection::close() {
  if (!backend_) return;
  auto backend = std::move(backend_);
  backend->close();
}

long long Connection::charactersReplaced() const {
  return backend_ ? backend_->charactersReplaced() : 0;
}

Backend& Connection::backend() {
  if (!backend_) throw DataAccessError("Operation is not allowed when the object is closed.");
  return *backend_;
}

void RecordSet::open(const std::string& sql, Connection& connection, CursorType cursorType,
                     LockType lockType) {
  if (cursor_) throw DataAccessError("Operation is not allowed when the object is open.");
  cursor_ = connection.openRecordSet(sql, cursorType, lockType);
  if (!cursor_) throw DataAccessError("The statement returned no rows to open: " + sql);
}

Cursor& RecordSet::cursor() const {
  if (!cursor_) throw DataAccessError("Operation is not allowed when the object is closed.");
  return *cursor_;
}

int RecordSet::fieldCount() const { return static_cast<int>(cursor().fields().size()); }

const FieldInfo& RecordSet::field(int index) const {
  const auto& fields = cursor().fields();
  if (index < 0 || index >= static_cast<int>(fields.size()))
    throw DataAccessError(
        "Item cannot be found in the collection corresponding to the requested "
        "name or ordinal.");
  return fields[static_cast<std::size_t>(index)];
}

int RecordSet::fieldIndex(const std::string& name) const {
  const auto& fields = cursor().fields();
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (equalsIgnoreCase(fields[i].name, name)) return static_cast<int>(i);
  throw DataAccessError(
      "Item cannot be found in the collection corresponding to the requested "
      "name or ordinal.");
}

const Value& RecordSet::value(int index) const {
  field(index);  // range check with the usual message
  if (cursor().eof())
    throw DataAccessError("Either BOF or EOF is True, or the current record has been deleted.");
  return cursor().value(index);
}

const Value& RecordSet::value(const std::string& name) const { return value(fieldIndex(name)); }

long long RecordSet::recordCount() const { return cursor().recordCount(); }
bool RecordSet::eof() const { return cursor().eof(); }
void RecordSet::moveNext() {
  if (cursor().eof())
    throw DataAccessError("Either BOF or EOF is True, or the current record has been deleted.");
  cursor().moveNext();
}

void RecordSet::addNew() { cursor().addNew(); }
void RecordSet::setValue(int index, Value value) { cursor().setValue(index, std::move(value)); }
void RecordSet::update() { cursor().update(); }

}  // namespace ado
