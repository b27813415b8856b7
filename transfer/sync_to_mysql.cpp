#include "transfer/sync_to_mysql.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "ado/connection_strings.h"
#include "ado/foxpro_access.h"
#include "ado/mysql_session.h"
#include "ado/value.h"
#include "transfer/local_load.h"
#include "transfer/typed_mysql.h"
#include "vfp/database.h"
#include "vfp/file.h"
#include "vfp/schema.h"
#include "vfp/table.h"
#include "vfp/value.h"

namespace transfer {

namespace {

constexpr long long kRowsPerProgress = 4096;

using Row = std::vector<ado::Value>;

// How a column's values compare as MySQL holds them.
enum class Compare {
  Exact,
  Char,     // CHAR: MySQL gives the value back without its trailing blanks
  Decimal,  // DECIMAL: 2.5 and 2.5000 are one value
};

struct Column {
  std::string name;  // as MySQL names it
  Compare compare = Compare::Exact;
  bool foldsCase = false;  // a key column whose collation ignores letter case
  bool notNull = false;    // MySQL refuses NULL in it
};

// A value as MySQL would hold it: a double MySQL cannot store goes as NULL, as the copy sends it.
bool Stored(const ado::Value& v) {
  if (v.isNull()) return false;
  return !(v.kind() == ado::Value::Kind::Double && !MySqlHoldsDouble(v.asDouble()));
}

// A value's text finished as its column compares it: a view into the text, or into scratch.
std::string_view AsCompared(std::string_view text, bool character, const Column& c, bool asKey,
                            std::string& scratch) {
  if (c.compare == Compare::Decimal) return scratch = DecimalText(text);
  // CHAR drops trailing blanks; a key compares without them in any text column, as MySQL's
  // PAD SPACE collations do.
  if (character && (c.compare == Compare::Char || asKey))
    text = text.substr(0, text.find_last_not_of(' ') + 1);
  if (asKey && c.foldsCase) return scratch = vfp::toUpperAscii(std::string(text));
  return text;
}

template <typename T>
void AppendNumber(std::string& out, T n) {
  char buffer[24];
  out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, n).ptr);
}

// The text a value compares by in its column (what its toText gives, finished as the column
// compares it), as a view into the value or into scratch; nullopt for NULL. The views are made
// per cell of millions of rows, so text is not copied where it need not be.
std::optional<std::string_view> Comparable(const ado::Value& v, const Column& c, bool asKey,
                                           std::string& scratch) {
  using K = ado::Value::Kind;
  if (!Stored(v)) return std::nullopt;
  std::string_view text;
  scratch.clear();
  switch (v.kind()) {
    case K::Decimal:
    case K::Text:
    case K::Bytes:
      text = v.asString();
      break;
    case K::Int:
      AppendNumber(scratch, v.asInt());
      text = scratch;
      break;
    case K::UInt:
      AppendNumber(scratch, v.asUInt());
      text = scratch;
      break;
    case K::Date:
      ado::appendDate(scratch, v.asDate());
      text = scratch;
      break;
    case K::DateTime:
      ado::appendDate(scratch, v.asDateTime().date);
      scratch += ' ';
      ado::appendTime(scratch, v.asDateTime().time);
      text = scratch;
      break;
    default:
      scratch = v.toText();
      text = scratch;
  }
  return AsCompared(text, v.kind() == K::Text, c, asKey, scratch);
}

// The same text of a value decoded from a FoxPro record, as the data-access value the record
// set makes of it (ado::fromEngineValue) would give it, without making that value.
std::optional<std::string_view> Comparable(const vfp::Value& v, const Column& c, bool asKey,
                                           std::string& scratch) {
  using K = vfp::Value::Kind;
  std::string_view text;
  scratch.clear();
  switch (v.kind) {
    case K::Null:
      return std::nullopt;
    case K::Bool:
      text = v.b ? "1" : "0";
      break;
    case K::Int:
      AppendNumber(scratch, (long long)v.i);
      text = scratch;
      break;
    case K::Double:
      if (!MySqlHoldsDouble(v.d)) return std::nullopt;  // sent as NULL
      scratch = ado::formatDouble(v.d);
      text = scratch;
      break;
    case K::Decimal:
    case K::Text:
    case K::Bytes:
      text = v.s;
      break;
    case K::Date:
      ado::appendDate(scratch, {v.when.date.year, v.when.date.month, v.when.date.day});
      text = scratch;
      break;
    case K::DateTime:
      ado::appendDate(scratch, {v.when.date.year, v.when.date.month, v.when.date.day});
      scratch += ' ';
      ado::appendTime(scratch, {false, v.when.hour, v.when.minute, v.when.second, 0});
      text = scratch;
      break;
  }
  return AsCompared(text, v.kind == K::Text, c, asKey, scratch);
}

const ado::Value& At(const ado::Value& v) { return v; }
const ado::Value& At(const ado::Value* v) { return *v; }

// The matching key's bytes, each part with its length so ("ab","c") and ("a","bc") differ,
// into `bytes`; the name of a key column that is NULL in the row, else empty.
template <typename RowOf>
std::string MakeKey(const RowOf& row, const std::vector<Column>& columns,
                    const std::vector<std::size_t>& key, std::string& bytes, std::string& scratch) {
  bytes.clear();
  for (std::size_t k : key) {
    const auto text = Comparable(At(row[k]), columns[k], true, scratch);
    if (!text) return columns[k].name;
    AppendKeyPart(bytes, *text);
  }
  return {};
}

// The key's values for the report, joined by ", ".
template <typename RowOf>
std::string ShownKeyOf(const RowOf& row, const std::vector<std::size_t>& key) {
  std::string out;
  for (std::size_t k : key) {
    std::string shown = At(row[k]).toText();
    if (At(row[k]).kind() == ado::Value::Kind::Text) shown.erase(shown.find_last_not_of(' ') + 1);
    out += (out.empty() ? "" : ", ") + shown;
  }
  return out;
}

template <typename RowOf>
std::string WhereOf(const RowOf& row, const std::vector<Column>& columns,
                    const std::vector<std::size_t>& key) {
  std::string where;
  for (std::size_t k : key)
    where += (where.empty() ? " WHERE " : " AND ") + ado::quoteMySqlName(columns[k].name) + " = " +
             MySqlLiteral(At(row[k]));
  return where;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A column type as the typed mapping writes it, from information_schema's COLUMN_TYPE: lower
// case, without the display width older servers show for integers (INT(11)); TINYINT(1) keeps
// its width, which is what makes it the logical type.
std::string NormalType(std::string type) {
  type = vfp::toLowerAscii(type);
  for (const char* integer : {"int(", "bigint(", "smallint(", "mediumint("}) {
    const std::string_view p(integer);
    if (type.compare(0, p.size(), p) == 0) {
      const auto close = type.find(')');
      if (close != std::string::npos) type.erase(p.size() - 1, close - p.size() + 2);
    }
  }
  return type;
}

struct Changed {
  std::string where;                  // the MySQL row's key, as MySQL holds it
  std::vector<std::uint64_t> hashes;  // its values, column by column
};

// Why a table cannot be compared; the others go on.
struct LeftOut : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TableSync {
  SyncTableCounts counts;
  std::vector<std::string> lines;
  std::vector<std::string> notes;  // what the typed mapping changes of the values sent
};

// Values sent that MySQL gets as NULL though FoxPro does not hold them as null, by why, in the
// words the copy's report uses for them.
enum Arrival { BlankDate, BlankNumber, OverflowMark, NotNumber, Unheld, UnreadMemo, kArrivals };
constexpr const char* kArrivalWords[kArrivals] = {
    " blank dates arrive as NULL",
    " blank numbers arrive as NULL",
    " overflow marks (*) arrive as NULL",
    " values that read as no number arrive as NULL",
    " infinite or NaN values, which MySQL cannot hold, arrive as NULL",
    " memos that cannot be read arrive as NULL",
};

// Why a value decoded from a record goes as NULL, or nullopt when it arrives as it is.
std::optional<Arrival> ArrivalOf(const vfp::Table& file, const std::uint8_t* record,
                                 std::size_t field, const ado::Value& value) {
  if (value.kind() == ado::Value::Kind::Double && !Stored(value)) return Unheld;
  if (!value.isNull() || file.isNullFlagged(record, field)) return std::nullopt;
  const vfp::FieldDescriptor& f = file.header().fields[field];
  if (f.isMemo()) return UnreadMemo;
  if (f.type == 'D' || f.type == 'T') return BlankDate;
  const std::string_view raw(reinterpret_cast<const char*>(record) + f.offset, f.length);
  if (raw.find('*') != std::string_view::npos) return OverflowMark;
  if (raw.find_first_not_of(' ') == std::string_view::npos) return BlankNumber;
  return NotNumber;
}

TableSync SyncTable(ado::Connection& fox, ado::Connection& my, const std::string& table,
                    const std::string& mysqlTable, const vfp::TableSchema& shape,
                    const SyncToMySqlHooks& hooks, const std::function<void(int)>& progress) {
  ado::MySqlSession* session = ado::mysqlSessionOf(my);
  if (!session) throw ado::DataAccessError("not connected to MySQL");

  // The structure must be the one the typed send makes, or values would be compared (and
  // written) against columns of other types.
  const auto described = session->query(
      "SELECT COLUMN_NAME, COLUMN_TYPE, COLLATION_NAME, IS_NULLABLE FROM "
      "information_schema.COLUMNS WHERE "
      "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " +
      ado::quoteMySqlText(mysqlTable) + " ORDER BY ORDINAL_POSITION");
  std::vector<Column> columns;
  std::string mismatch;
  auto differs = [&](const std::string& what) {
    if (mismatch.empty()) mismatch = what;
  };
  for (const auto& f : shape.fields) {
    const auto at = std::find_if(described.begin(), described.end(), [&](const auto& r) {
      return r.size() == 4 && r[0] && vfp::equalsNoCase(*r[0], f.name);
    });
    if (at == described.end()) {
      differs("MySQL has no column " + f.name);
      continue;
    }
    const std::string want = NormalType(TypedColumnType(f));
    const std::string have = NormalType((*at)[1].value_or(""));
    if (want != have)
      differs("the column " + f.name + " is " + have + " in MySQL, where the typed send makes " +
              want);
    Column c;
    c.name = *(*at)[0];
    c.compare = have.compare(0, 5, "char(") == 0      ? Compare::Char
                : have.compare(0, 8, "decimal(") == 0 ? Compare::Decimal
                                                      : Compare::Exact;
    const std::string collation = vfp::toLowerAscii((*at)[2].value_or(""));
    c.foldsCase = collation.size() > 3 && collation.compare(collation.size() - 3, 3, "_ci") == 0;
    c.notNull = (*at)[3].value_or("") == "NO";
    columns.push_back(std::move(c));
  }
  if (mismatch.empty() && described.size() != shape.fields.size())
    differs("MySQL has " + std::to_string(described.size()) + " columns, the FoxPro table " +
            std::to_string(shape.fields.size()));
  if (!mismatch.empty())
    throw LeftOut("its MySQL table " + mysqlTable +
                  " is not what the typed send would make of it: " + mismatch);

  // The key: named, or the primary tag, or the first candidate tag MySQL can compare.
  std::vector<std::size_t> key;
  std::string keyWhence;
  auto fieldIndex = [&](const std::string& name) -> std::optional<std::size_t> {
    for (std::size_t k = 0; k < shape.fields.size(); ++k)
      if (vfp::equalsNoCase(shape.fields[k].name, name)) return k;
    return std::nullopt;
  };
  auto named = [&](const std::vector<std::string>& names) {
    for (const auto& name : names) {
      const auto k = fieldIndex(name);
      if (!k) throw LeftOut("it has no field " + name + " for the key named");
      key.push_back(*k);
    }
    keyWhence = "the key named";
  };
  if (!hooks.key.empty()) {
    named(hooks.key);
  } else {
    std::string unusable;
    for (auto kind : {vfp::TagKind::Primary, vfp::TagKind::Candidate}) {
      for (const auto& tag : shape.tags) {
        if (tag.kind != kind || !key.empty()) continue;
        const TagColumns tc = ColumnsOfTag(tag, shape);
        if (!tc.unexpressed.empty()) {
          if (unusable.empty())
            unusable = "; its tag " + tag.name + " cannot be: " + tc.unexpressed;
          continue;
        }
        for (const auto& c : tc.columns) key.push_back(*fieldIndex(c));
        keyWhence = "the tag " + tag.name;
      }
    }
    if (key.empty() && hooks.keyFor) {
      named(hooks.keyFor(table));
      if (key.empty())
        throw LeftOut("it has no primary or candidate tag to match rows by" + unusable +
                      ", and no key was named");
    }
    if (key.empty())
      throw LeftOut("it has no primary or candidate tag to match rows by" + unusable +
                    " (--key names one)");
  }
  for (std::size_t k : key) {
    const char t = shape.fields[k].type;
    if (t == 'M' || t == 'W' || t == 'G')
      throw LeftOut("its key field " + shape.fields[k].name + " is a memo");
  }

  // The FoxPro rows, read once from the table's file: the key, the record number and a hash of
  // the values of each. The record set is what reads the table as the typed copy does (its
  // code page, memos that cannot be read as NULL); its records are decoded here directly.
  ado::RecordSet source;
  source.open(SelectAllFrom(table), fox, ado::adOpenForwardOnly, ado::adLockReadOnly);
  vfp::QueryResult* result = ado::foxproResultOf(source);
  if (!result) throw ado::DataAccessError("the table " + table + " is not read from its files");
  result->setUnreadableMemosNull(true);
  bool same = source.fieldCount() == int(shape.fields.size());
  for (int k = 0; same && k < source.fieldCount(); ++k)
    same = source.field(k).name == shape.fields[std::size_t(k)].name;
  if (!same)
    throw ado::DataAccessError("the fields of " + table +
                               " read from its files differ from those its rows give");
  const vfp::Table& file = result->table();
  const std::vector<int>& fieldAt = file.userFields();
  vfp::Value value;
  auto decode = [&](const std::uint8_t* record, std::size_t k) -> const vfp::Value& {
    file.decodeField(record, std::size_t(fieldAt[k]), value);
    return value;
  };

  KeyedRows entries;
  std::vector<std::uint32_t> recnos;
  std::vector<std::uint64_t> hashes(columns.size());
  std::string form, keyBytes;
  auto hashRow = [&](const auto& row) {
    for (std::size_t k = 0; k < columns.size(); ++k)
      hashes[k] = ValueHash(Comparable(At(row[k]), columns[k], false, form));
    return RowHash(hashes);
  };
  // The key's bytes of a record; the name of a key field that is NULL in it, else empty.
  auto recordKey = [&](const std::uint8_t* record) -> std::string {
    keyBytes.clear();
    for (std::size_t k : key) {
      const auto text = Comparable(decode(record, k), columns[k], true, form);
      if (!text) return columns[k].name;
      AppendKeyPart(keyBytes, *text);
    }
    return {};
  };
  // The header's count, deleted records included: counting the live ones would read the table
  // once more.
  const long long total = std::max<long long>(file.recordCount(), 1);
  {
    vfp::RecordScanner scan(file);
    while (const std::uint8_t* record = scan.next()) {
      if (vfp::Table::isDeleted(record)) continue;
      if (const std::string nullColumn = recordKey(record); !nullColumn.empty())
        throw LeftOut("its key field " + nullColumn + " is NULL in row " +
                      std::to_string(entries.size() + 1));
      for (std::size_t k = 0; k < columns.size(); ++k)
        hashes[k] = ValueHash(Comparable(decode(record, k), columns[k], false, form));
      entries.add(keyBytes, RowHash(hashes));
      recnos.push_back(scan.recno());
      if (progress && entries.size() % kRowsPerProgress == 0)
        progress(int(std::min<long long>(40, (long long)entries.size() * 40 / total)));
    }
  }
  if (const auto twice = entries.sortAndFindDuplicate())
    throw LeftOut("its key (" + keyWhence + ") is not unique in FoxPro: rows " +
                  std::to_string(twice->first + 1) + " and " + std::to_string(twice->second + 1) +
                  " both have " + ShownKey(entries.key(twice->first)));

  // The MySQL rows, streamed, each against the FoxPro row of its key.
  std::vector<bool> seen(entries.size(), false);
  std::unordered_map<std::uint32_t, Changed> changed;
  TableSync out;
  out.counts.table = table;
  std::vector<std::string> deletes;
  {
    std::string select = "SELECT ";
    for (std::size_t k = 0; k < columns.size(); ++k)
      select += (k ? "," : "") + ado::quoteMySqlName(columns[k].name);
    select += " FROM " + ado::quoteMySqlName(mysqlTable);
    ado::RecordSet rs;
    rs.open(select, my, ado::adOpenForwardOnly, ado::adLockReadOnly);
    std::vector<const ado::Value*> row(columns.size());  // the current row's, not copied
    long long read = 0;
    std::size_t near = 0;
    for (; !rs.eof(); rs.moveNext()) {
      for (std::size_t k = 0; k < columns.size(); ++k) row[k] = &rs.value(int(k));
      const std::string nullColumn = MakeKey(row, columns, key, keyBytes, form);
      const auto at = nullColumn.empty() ? entries.find(keyBytes, near) : std::nullopt;
      if (at) {
        if (seen[*at])
          throw LeftOut("its key (" + keyWhence +
                        ") is not unique in MySQL: more than one row has " + ShownKeyOf(row, key));
        seen[*at] = true;
        if (hashRow(row) != entries.hash(*at))
          changed[std::uint32_t(*at)] = {WhereOf(row, columns, key), hashes};
      } else {
        // A NULL key (only possible for a key named) matches nothing in FoxPro either.
        if (!nullColumn.empty())
          throw LeftOut("its key field " + nullColumn + " is NULL in a MySQL row");
        ++out.counts.targetOnly;
        KeepShownKey(out.counts.targetOnlyKeys, ShownKeyOf(row, key));
        if (hooks.deleteTargetOnly)
          deletes.push_back("DELETE FROM " + ado::quoteMySqlName(mysqlTable) +
                            WhereOf(row, columns, key));
      }
      if (progress && ++read % kRowsPerProgress == 0)
        progress(40 + int(std::min<long long>(read, total) * 30 / total));
    }
  }
  if (hooks.deleteTargetOnly) out.counts.deletes = out.counts.targetOnly;

  // The new and changed rows read again by record number, and their statements written.
  std::string insertHead = "INSERT INTO " + ado::quoteMySqlName(mysqlTable) + " (";
  for (std::size_t k = 0; k < columns.size(); ++k)
    insertHead += (k ? "," : "") + ado::quoteMySqlName(columns[k].name);
  insertHead += ") VALUES (";
  std::vector<std::string> writes;
  std::vector<std::array<long long, kArrivals>> arrivals(columns.size());
  auto sent = [&](const std::uint8_t* record, std::size_t k, const ado::Value& v) {
    if (const auto why = ArrivalOf(file, record, std::size_t(fieldAt[k]), v)) ++arrivals[k][*why];
    return MySqlLiteral(v);
  };
  {
    std::vector<std::uint8_t> record(file.header().recordLength);
    Row row(columns.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (progress && i % kRowsPerProgress == 0)
        progress(70 + int(std::min<long long>((long long)i, total) * 30 / total));
      const auto c = seen[i] ? changed.find(std::uint32_t(i)) : changed.end();
      if (seen[i] && c == changed.end()) continue;
      file.readRecord(recnos[i], record.data());
      if (vfp::Table::isDeleted(record.data()) || !recordKey(record.data()).empty() ||
          keyBytes != entries.key(i))
        throw ado::DataAccessError("the FoxPro table " + table +
                                   " changed while it was compared; run the sync again");
      for (std::size_t k = 0; k < columns.size(); ++k)
        row[k] = ado::fromEngineValue(decode(record.data(), k));
      if (!seen[i]) {
        std::string line = insertHead;
        for (std::size_t k = 0; k < columns.size(); ++k)
          line += (k ? "," : "") + sent(record.data(), k, row[k]);
        writes.push_back(line + ")");
        ++out.counts.inserts;
        KeepShownKey(out.counts.insertKeys, ShownKeyOf(row, key));
      } else {
        hashRow(row);
        std::string set;
        for (std::size_t k = 0; k < columns.size(); ++k)
          if (hashes[k] != c->second.hashes[k])
            set += (set.empty() ? " SET " : ", ") + ado::quoteMySqlName(columns[k].name) + " = " +
                   sent(record.data(), k, row[k]);
        writes.push_back("UPDATE " + ado::quoteMySqlName(mysqlTable) + set + c->second.where);
        ++out.counts.updates;
        KeepShownKey(out.counts.updateKeys, ShownKeyOf(row, key));
      }
    }
  }
  if (!deletes.empty() || !writes.empty()) {
    // One transaction per table: a run cut short leaves the table as it was, and the next sync
    // finds the same changes again. Deletions first, so a key or unique value a deleted row
    // held is free for the rows that come.
    out.lines.push_back("START TRANSACTION");
    out.lines.insert(out.lines.end(), std::make_move_iterator(deletes.begin()),
                     std::make_move_iterator(deletes.end()));
    out.lines.insert(out.lines.end(), std::make_move_iterator(writes.begin()),
                     std::make_move_iterator(writes.end()));
    out.lines.push_back("COMMIT");
  }
  for (std::size_t k = 0; k < columns.size(); ++k)
    for (int why = 0; why < kArrivals; ++why)
      if (arrivals[k][std::size_t(why)])
        out.notes.push_back(
            "column " + columns[k].name + ": " + std::to_string(arrivals[k][std::size_t(why)]) +
            kArrivalWords[why] +
            (columns[k].notNull ? ", which its NOT NULL column in MySQL refuses" : ""));
  // Without an index that starts with a key column the server reads the whole table for each
  // UPDATE and DELETE (40 ms each at 200k rows): said before Execute, where it can still be
  // added.
  if (out.counts.updates + out.counts.deletes > 0) {
    const auto leading = session->query(
        "SELECT COLUMN_NAME FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE() "
        "AND TABLE_NAME = " +
        ado::quoteMySqlText(mysqlTable) + " AND SEQ_IN_INDEX = 1");
    const bool indexed = std::any_of(leading.begin(), leading.end(), [&](const auto& r) {
      return !r.empty() && r[0] && std::any_of(key.begin(), key.end(), [&](std::size_t k) {
        return vfp::equalsNoCase(*r[0], columns[k].name);
      });
    });
    if (!indexed) {
      std::string names;
      for (std::size_t k : key) names += (names.empty() ? "" : ", ") + columns[k].name;
      out.notes.push_back("MySQL has no index on the key (" + names +
                          "): each UPDATE and DELETE reads the whole table there; an index on " +
                          "those columns makes them fast");
    }
  }
  return out;
}

}  // namespace

std::string MySqlLiteral(const ado::Value& v) {
  using K = ado::Value::Kind;
  if (!Stored(v)) return "NULL";
  switch (v.kind()) {
    case K::Bool:
      return v.asBool() ? "1" : "0";
    case K::Int:
    case K::UInt:
    case K::Double:
      return v.toText();
    case K::Decimal: {
      const std::string d = DecimalText(v.asString());
      const bool plain = std::all_of(d.begin(), d.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '-';
      });
      return plain ? d : ado::quoteMySqlText(d);
    }
    case K::Bytes:
      return v.asString().empty() ? std::string("''") : "X'" + Hex(v.asString()) + "'";
    case K::Text:
      return ado::quoteMySqlText(v.asString());
    default:
      return "'" + v.toText() + "'";  // dates and times: digits, '-', ':', ' ' and '.'
  }
}

SyncOutcome BuildSyncToMySql(const std::vector<std::string>& tables,
                             const std::vector<std::string>& mysqlTables,
                             const std::string& foxproConnectionString,
                             const std::string& mysqlConnectionString, ScriptSink& sink,
                             const SyncToMySqlHooks& hooks) {
  SyncOutcome outcome;
  ado::Connection fox;
  fox.setCursorLocation(ado::adUseClient);
  fox.setUnmarkedCodePage(hooks.unmarkedCodePage);
  fox.open(foxproConnectionString);
  ado::Connection my;
  my.open(mysqlConnectionString);
  const auto catalog =
      vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
  std::vector<std::string> report;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const std::string& name = tables[i];
    std::function<void(int)> within;
    if (hooks.progress)
      within = [&](int percent) {
        hooks.progress(int((i * 100 + std::size_t(percent)) / tables.size()));
      };
    try {
      const auto path = catalog->findTable(name);
      if (!path) throw LeftOut("it is not in the FoxPro database");
      std::string mysqlTable;
      try {
        mysqlTable = ReplacedMySqlTable(mysqlTables, name);
      } catch (const ado::DataAccessError& e) {
        throw LeftOut(e.what());
      }
      if (mysqlTable.empty()) throw LeftOut("MySQL has no table of that name; send it first");
      TableSync part = SyncTable(fox, my, name, mysqlTable, TypedShape(*path), hooks, within);
      for (const auto& line : part.lines) sink.appendCommand(line);
      outcome.statements += part.counts.inserts + part.counts.updates + part.counts.deletes;
      report.push_back(SyncReportLine(part.counts, hooks.deleteTargetOnly, "MySQL"));
      for (const auto& note : part.notes) report.push_back("  " + note);
      outcome.tables.push_back(std::move(part.counts));
    } catch (const std::exception& e) {
      // Left out with why (its structure, its key, a table that cannot be read); the others go on.
      ++outcome.leftOut;
      report.push_back(name + ": left out: " + e.what());
      if (hooks.tableLeftOut) hooks.tableLeftOut(name, e.what());
    }
    if (hooks.progress) hooks.progress(int((i + 1) * 100 / tables.size()));
  }
  std::string text;
  for (const auto& line : report) text += (text.empty() ? "" : "\n") + line;
  sink.report(text);
  return outcome;
}

}  // namespace transfer
