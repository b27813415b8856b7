#include "vfp/session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vfp/convert.h"
#include "vfp/error.h"
#include "vfp/names.h"
#include "vfp/sql_ddl.h"
#include "vfp/sql_lexer.h"

namespace vfp {

namespace {

constexpr auto kFlushInterval = std::chrono::milliseconds(50);
// A table with an index waits this many times as long as its index took to write the last time,
// so that rewriting the index takes about an eighth of the time however large the table grows.
constexpr int kIndexWaitFactor = 8;

using sql::isSpace;
using sql::Lexer;
using sql::parseExpression;
using sql::syntaxError;

// The INSERT a transfer writes for every row, and nothing else:
//   INSERT INTO [target] VALUES('text', 'it''s'+CHR(13)+CHR(10)+'more', '')
//   INSERT INTO [target] VALUES(12, -1.5e-3, .T., NULL, {^2021-08-31 12:34:56}, {}, 0h00FF)
// one space where the transfer puts one, quoted text with doubled quotes, CHR(10) and CHR(13)
// joined by "+", or one literal of another kind read by the general parser's own term reader;
// ", " between values, nothing after the ")". Reads the target and fills values the way the
// general parser does; returns false on any other text, which then goes through the general
// parser, so the two cannot disagree on a line both accept.
bool scanTransferInsert(std::string_view s, std::string_view& ref, std::vector<Value>& values,
                        std::size_t& count, std::string& scratch) {
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
    if (p < end && s[p] != '\'' && s[p] != 'C' && s[p] != '"' && s[p] != '[' && !isSpace(s[p])) {
      // A typed literal: alone, never joined to another by "+".
      Lexer lx{s, p};
      try {
        sql::parseTerm(lx, values[n], scratch);
      } catch (const Error&) {
        return false;  // the general parser says what is wrong with it
      }
      p = lx.p;
      ++n;
      if (p + 1 < end && s[p] == ',' && s[p + 1] == ' ') {
        p += 2;
        continue;
      }
      if (p + 1 == end && s[p] == ')') break;
      return false;
    }
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

}  // namespace

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

std::unique_ptr<TableWriter> Session::release(const std::string& path) {
  byRef_.clear();
  schemas_.erase(pathKey(path));
  choices_.erase(pathKey(path));
  lookups_.erase(pathKey(path));
  auto it = writers_.find(pathKey(path));
  if (it == writers_.end()) return nullptr;
  auto w = std::move(it->second);
  w->onRecord = nullptr;
  writers_.erase(it);
  return w;
}

void Session::abandon(const std::string& path) {
  if (auto w = release(path)) w->discard();
}

void Session::flushDue() {
  if (!pending_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - firstPending_ <= kFlushInterval) return;
  pending_ = false;
  for (auto& [path, w] : writers_) {
    const auto since = w->pendingSince();
    if (since == std::chrono::steady_clock::time_point{}) continue;
    const auto wait = std::max<std::chrono::steady_clock::duration>(
        kFlushInterval, kIndexWaitFactor * w->indexWriteTime());
    if (now - since > wait) {
      w->flush();
    } else {
      pending_ = true;  // looked at again one interval from now
      firstPending_ = now;
    }
  }
}

void Session::forget(const std::string& path) {
  // Out of the session first: a flush that fails (a full disk) leaves no writer behind.
  if (auto w = release(path)) w->flush();
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
  if (fastInsert_ && scanTransferInsert(sql, ref, values_, count, scratch_)) {
    ++fastInserts_;
    appendRow(writerFor(ref), count);
    flushDue();
    return nullptr;
  }
  Lexer lx{sql, 0};
  if (lx.atEnd()) throw syntaxError();
  using Statement = void (Session::*)(std::string_view, std::size_t);
  struct Verb {
    const char* word;
    Statement run;
  };
  // Rows change in the write queue; the queue is written when it is due.
  static constexpr Verb kRowVerbs[] = {{"INSERT", &Session::insert},
                                       {"UPDATE", &Session::update},
                                       {"DELETE", &Session::remove},
                                       {"RECALL", &Session::recall}};
  for (const Verb& v : kRowVerbs)
    if (lx.keyword(v.word)) {
      (this->*v.run)(sql, lx.p);
      flushDue();
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
  // The others change a table's structure or the session, on files the queue has reached.
  static constexpr Verb kStructureVerbs[] = {{"CREATE", &Session::create},
                                             {"RENAME", &Session::rename},
                                             {"INDEX", &Session::index},
                                             {"ALTER", &Session::alter},
                                             {"USE", &Session::use}};
  for (const Verb& v : kStructureVerbs)
    if (lx.keyword(v.word)) {
      (this->*v.run)(sql, lx.p);
      return nullptr;
    }
  static const char* const kKnownVerbs[] = {"PACK", "ZAP",    "APPEND",  "REPLACE", "SET",
                                            "COPY", "MODIFY", "REINDEX", "BROWSE"};
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
  if (it == writers_.end())
    it = writers_.emplace(key, TableWriter::openForAppend(path, choiceFor(path).codePage)).first;
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
    throw inTable(w, e);
  }
  notePending();
}

Error Session::inTable(const TableWriter& w, const Error& e) {
  // The writer names the field; the message adds the table.
  std::string m = e.what();
  if (m.ends_with(".")) m.pop_back();
  return Error(m + " in table '" + fileNameOf(w.path()) + "'.");
}

void Session::notePending() {
  if (!pending_) {
    pending_ = true;
    firstPending_ = std::chrono::steady_clock::now();
  }
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
  sql::TableDefinition def = sql::parseTableDefinition(lx);
  if (!lx.atEnd()) throw Error("Command contains unrecognized phrase/keyword.");

  std::vector<ColumnSpec> cols;
  std::vector<std::string> longNames;  // as written, for a container
  std::vector<std::string> defaults;
  for (const auto& f : def.fields) {
    cols.push_back(f.column);
    longNames.push_back(f.column.name);
    defaults.push_back(f.defaultText);
  }
  // What only a database keeps is refused for a free table, as FoxPro refuses it.
  const bool member = catalog_->isDatabase() && !free;
  auto onlyInDatabase = [&](const std::string& what) {
    return Error("Table '" + ref + "' is a free table: " + what);
  };
  int primaries = 0;
  for (const auto& k : def.keys) {
    if (k.kind == sql::KeyClause::Kind::Primary && !member)
      throw onlyInDatabase(
          "only a table of a database can have a primary key; make a candidate index with "
          "UNIQUE instead.");
    if (k.kind == sql::KeyClause::Kind::Foreign && !member)
      throw onlyInDatabase("only tables of a database can have relations.");
    primaries += k.kind == sql::KeyClause::Kind::Primary;
  }
  if (primaries > 1) throw Error("Table '" + ref + "' can have only one primary key.");
  for (std::size_t i = 0; i < defaults.size(); ++i)
    if (!defaults[i].empty() && !member)
      throw onlyInDatabase("only fields of a database table can have a DEFAULT value (field " +
                           cols[i].name + ").");
  // The tables relations refer to are checked before anything is made.
  std::vector<std::string> parentPaths(def.keys.size()), parentTags(def.keys.size());
  for (std::size_t i = 0; i < def.keys.size(); ++i) {
    if (def.keys[i].kind != sql::KeyClause::Kind::Foreign) continue;
    parentPaths[i] = resolve(def.keys[i].parent, true);
    parentTags[i] = sql::parentTagOf(*catalog_, def.keys[i], parentPaths[i]);
  }

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
  if (inUse_ == path) inUse_.clear();
  std::size_t replaced = 0;
  TableWriter::create(path, cols, codePage, &replaced);
  replaced_ += (long long)replaced;
  std::string name = fileNameOf(path);
  if (ref.find_first_of("/\\") == std::string::npos && !equalsNoCase(ref + ".dbf", name))
    name = ref;  // a long name given as written
  else if (name.size() > 4)
    name = name.substr(0, name.size() - 4);
  auto removeFiles = [&] {
    for (const char* ext : {".fpt", ".cdx"})
      if (auto c = findCompanion(path, ext)) removeFile(*c);
    removeFile(path);
  };
  try {
    // A field's own key clause indexes the field under its name (the .dbf's, in a free table).
    {
      const Table made(path);
      for (auto& k : def.keys) {
        if (k.field < 0) continue;
        k.expression = member
                           ? longNames[std::size_t(k.field)]
                           : made.fieldName(std::size_t(made.userFields()[std::size_t(k.field)]));
        k.tag = k.expression.substr(0, cdx::kTagNameLength);
      }
    }
    for (std::size_t i = 0; i < def.keys.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (equalsNoCase(def.keys[i].tag, def.keys[j].tag))
          throw Error("Tag name " + toUpperAscii(def.keys[i].tag) + " is used twice.");
    for (const auto& k : def.keys)
      IndexMaintainer::addTag(path, sql::tagOf(k), member ? longNames : std::vector<std::string>{});
    catalog_->created(path, name, longNames, free, defaults);
  } catch (...) {
    // Not in the container: the new file must not stay behind as a half-made member.
    removeFiles();
    throw;
  }
  try {
    for (std::size_t i = 0; i < def.keys.size(); ++i)
      sql::recordKey(*catalog_, path, def.keys[i], parentPaths[i], parentTags[i]);
  } catch (...) {
    if (catalog_->isMember(path)) catalog_->dropped(path);
    removeFiles();
    throw;
  }
  // As in FoxPro, the new table is the one in use: INDEX ON indexes it.
  inUse_ = path;
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
  if (inUse_ == path) inUse_.clear();
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
  if (member) {
    try {
      catalog_->renamed(path, newPath, name);
    } catch (...) {
      moveBack();
      throw;
    }
  }
  if (inUse_ == path) inUse_ = newPath;
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
  return std::make_unique<QueryResult>(path, catalog_->fieldNames(path), choiceFor(path));
}

void Session::setUnmarkedCodePage(int codePage) {
  if (codePage && !markFromCodePage(codePage))
    throw Error("Code page " + std::to_string(codePage) + " is not one FoxPro knows.");
  if (codePage) converterFor(codePage);  // throws when this system cannot convert it
  unmarkedCodePage_ = codePage;
  choices_.clear();
}

const CodePageChoice& Session::choiceFor(const std::string& path) {
  const std::string key = pathKey(path);
  auto it = choices_.find(key);
  if (it == choices_.end())
    it = choices_.emplace(key, chooseCodePage(path, unmarkedCodePage_)).first;
  return it->second;
}

const CodePageChoice& Session::codePageOf(const std::string& ref) {
  const std::string path = resolve(ref, true);
  flush();
  return choiceFor(path);
}

}  // namespace vfp
