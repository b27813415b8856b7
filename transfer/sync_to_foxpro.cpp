#include "transfer/sync_to_foxpro.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "ado/connection_strings.h"
#include "ado/mysql_session.h"
#include "transfer/foxpro_names.h"
#include "transfer/foxpro_script.h"
#include "transfer/mysql_to_foxpro.h"
#include "transfer/typed_foxpro.h"
#include "transfer/typed_mysql.h"
#include "vfp/database.h"
#include "vfp/file.h"
#include "vfp/schema.h"

namespace transfer {

namespace {

constexpr long long kRowsPerProgress = 4096;
constexpr std::uint32_t kLargestAutoIncrement = 2147483647;

// One field of the FoxPro table and the MySQL column it holds.
struct Field {
  std::size_t index = 0;  // into the FoxPro header's fields
  std::string name;       // as the statements name it
  TypedField typed;       // what the typed send makes of the column
  std::uint32_t width = 0;
  bool autoIncNow = false;  // the FoxPro field autoincrements at present
};

// Why a table cannot be compared; the others go on.
struct LeftOut : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The value's last `digits` decimal digits, zero-filled: dates and times are compared in
// millions of rows, where a formatted print would cost more than the comparison.
void AppendDigits(std::string& out, int value, int digits) {
  char buffer[8];
  unsigned v = unsigned(value < 0 ? 0 : value);
  for (int i = digits - 1; i >= 0; --i, v /= 10) buffer[i] = char('0' + v % 10);
  out.append(buffer, std::size_t(digits));
}

void AppendDateForm(std::string& out, int year, int month, int day) {
  AppendDigits(out, year, 4);
  AppendDigits(out, month, 2);
  AppendDigits(out, day, 2);
}

void AppendClockForm(std::string& out, int hour, int minute, int second) {
  AppendDigits(out, hour, 2);
  AppendDigits(out, minute, 2);
  AppendDigits(out, second, 2);
}

// The form a stored value is compared by: text and memos as the code page's bytes (a character
// field without its trailing blanks), numbers as plain decimal text, doubles in their shortest
// form, dates yyyymmdd, date-times yyyymmddhhmmss, logicals T or F. False for NULL, and for an
// empty date, which is what the typed send writes for a date FoxPro cannot hold.
bool FoxproForm(const vfp::Table& table, const std::uint8_t* record, const Field& f,
                vfp::Value& value, std::string& out) {
  out.clear();
  const auto& d = table.header().fields[f.index];
  if (d.isNullable() && table.isNullFlagged(record, f.index)) return false;
  if ((d.type == 'C' || d.type == 'V' || d.type == 'M') && !d.isBinary()) {
    if (!table.storedText(record, f.index, out))
      throw LeftOut("the memo of field " + f.name + " cannot be read from its memo file");
    return true;
  }
  table.decodeField(record, f.index, value);
  using K = vfp::Value::Kind;
  switch (value.kind) {
    case K::Null:
      return false;
    case K::Bool:
      out = value.b ? "T" : "F";
      return true;
    case K::Int:
      out = std::to_string(value.i);
      return true;
    case K::Double:
      out = ado::formatDouble(value.d);
      return true;
    case K::Decimal:
      out = DecimalText(value.s);
      return true;
    case K::Text:
    case K::Bytes:
      out = value.s;
      return true;
    case K::Date:
      AppendDateForm(out, value.when.date.year, value.when.date.month, value.when.date.day);
      return true;
    case K::DateTime:
      AppendDateForm(out, value.when.date.year, value.when.date.month, value.when.date.day);
      AppendClockForm(out, value.when.hour, value.when.minute, value.when.second);
      return true;
  }
  return false;
}

// The same form of a MySQL value as the typed send would store it in the field; `lost` counts
// the characters the code page cannot hold.
bool MySqlForm(const ado::Value& v, const Field& f, const vfp::TextConverter& converter,
               std::string& out, std::size_t& lost) {
  using K = ado::Value::Kind;
  out.clear();
  if (v.isNull()) return false;
  auto text = [&]() -> std::string {
    if (v.kind() == K::Text || v.kind() == K::Bytes || v.kind() == K::Decimal) return v.asString();
    if (v.kind() == K::Time) {
      // As the typed send writes a time of day: whole seconds.
      const ado::Time t = v.asTime();
      std::string s;
      ado::appendTime(s, {t.negative, t.hour, t.minute, t.second, 0});
      return s;
    }
    return v.toText();
  };
  auto number = [&]() -> std::string {
    switch (v.kind()) {
      case K::Int:
        return std::to_string(v.asInt());
      case K::UInt:
        return std::to_string(v.asUInt());
      case K::Bool:
        return v.asBool() ? "1" : "0";
      case K::Double:
        return DecimalText(ado::formatDouble(v.asDouble()));
      default:
        return DecimalText(text());
    }
  };
  switch (f.typed.type) {
    case 'C':
    case 'V':
    case 'M':
      if (f.typed.binary || f.typed.literal == TypedLiteral::Bytes) {
        out = text();
        return true;
      }
      lost += converter.fromUtf8(text(), out);
      if (f.typed.type != 'M' && out.size() > f.width) out.resize(f.width);
      if (f.typed.type == 'C')
        while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
      return true;
    case 'N':
    case 'Y':
    case 'I':
      out = number();
      return true;
    case 'B':
      switch (v.kind()) {
        case K::Double:
          out = ado::formatDouble(v.asDouble());
          break;
        case K::Int:
          out = ado::formatDouble(double(v.asInt()));
          break;
        case K::UInt:
          out = ado::formatDouble(double(v.asUInt()));
          break;
        default:
          out = ado::formatDouble(std::strtod(text().c_str(), nullptr));
      }
      return true;
    case 'L':
      out = TypedLogical(v) ? "T" : "F";
      return true;
    case 'D':
    case 'T': {
      const auto when = DateTimeOf(v);
      if (!when || !FoxproHoldsDate(when->date)) return false;
      AppendDateForm(out, when->date.year, when->date.month, when->date.day);
      if (f.typed.type == 'T')
        AppendClockForm(out, when->time.hour, when->time.minute, when->time.second);
      return true;
    }
  }
  out = text();
  return true;
}

// A key column's form as a FoxPro literal, and the comparison that matches it exactly: a
// character field's text padded to the field's width (so "=" neither matches longer values
// nor misses the index), a varchar's with "==".
std::string Condition(const Field& f, std::string_view form, const vfp::TextConverter& converter) {
  std::string out = f.name;
  switch (f.typed.type) {
    case 'C':
    case 'V': {
      std::string utf8;
      converter.toUtf8(form, utf8);
      if (f.typed.type == 'C' && form.size() < f.width) utf8.append(f.width - form.size(), ' ');
      out += f.typed.type == 'V' ? " == " : " = ";
      FoxproScript::AppendLiteral(out, ado::Value::fromText(utf8), 0);
      return out;
    }
    case 'D':
    case 'T': {
      const std::string d(form);  // yyyymmdd[hhmmss]
      out += " = {^" + d.substr(0, 4) + '-' + d.substr(4, 2) + '-' + d.substr(6, 2);
      if (f.typed.type == 'T')
        out += ' ' + d.substr(8, 2) + ':' + d.substr(10, 2) + ':' + d.substr(12, 2);
      return out + "}";
    }
    case 'L':
      return out + (form == "T" ? " = .T." : " = .F.");
    default:
      return out + " = " + std::string(form);
  }
}

// A key column's form as the report shows it.
std::string Shown(const Field& f, std::string_view form, const vfp::TextConverter& converter) {
  if (f.typed.type == 'C' || f.typed.type == 'V') {
    std::string utf8;
    converter.toUtf8(form, utf8);
    return utf8;
  }
  if (f.typed.type == 'D' || f.typed.type == 'T') {
    std::string s = std::string(form.substr(0, 4)) + "-" + std::string(form.substr(4, 2)) + "-" +
                    std::string(form.substr(6, 2));
    if (f.typed.type == 'T')
      s += " " + std::string(form.substr(8, 2)) + ":" + std::string(form.substr(10, 2)) + ":" +
           std::string(form.substr(12, 2));
    return s;
  }
  return std::string(form);
}

// The parts of a key's bytes (see AppendKeyPart), one per key column.
std::vector<std::string_view> KeyParts(std::string_view bytes) {
  std::vector<std::string_view> parts;
  while (!bytes.empty()) {
    const auto colon = bytes.find(':');
    const std::size_t n = std::stoul(std::string(bytes.substr(0, colon)));
    parts.push_back(bytes.substr(colon + 1, n));
    bytes.remove_prefix(colon + 1 + n);
  }
  return parts;
}

// A FoxPro field as a typed field, to be set beside the one the typed send would make.
TypedField AsTyped(const vfp::FieldDescriptor& d) {
  TypedField t;
  t.type = char(d.type);
  t.width = d.length;
  t.decimals = d.decimals;
  t.nullable = d.isNullable();
  t.binary = d.type == 'M' && d.isBinary();
  return t;
}

struct TableSync {
  SyncTableCounts counts;
  std::vector<std::string> lines;
  std::vector<std::string> notes;  // what the typed mapping changes of the values sent
};

TableSync SyncTable(ado::Connection& my, const vfp::TableCatalog& catalog, const std::string& table,
                    const SyncToFoxproHooks& hooks, const std::function<void(int)>& progress) {
  MySqlTableShape shape;
  std::vector<std::size_t> timeWidths;
  try {
    shape = ReadMySqlTableShape(my, table);
    timeWidths = TypedTimeWidths(my, table, shape);
  } catch (const ado::DataAccessError& e) {
    throw LeftOut(std::string("its columns cannot be read: ") + e.what());
  }
  const std::string stem = FoxproNames::TableFileStem(table).name;
  const auto path = catalog.findTable(stem);
  if (!path) throw LeftOut("FoxPro has no table " + stem + "; send it first");
  const auto reference = FoxproNames::Delimited(stem);
  if (!reference) throw LeftOut("its name holds every delimiter a FoxPro command has");
  vfp::Table fox(*path);
  const vfp::TextConverter& converter = fox.converter();
  const bool container = catalog.isMember(*path);
  const std::vector<std::string> longNames = catalog.fieldNames(*path);

  // The structure must be the one the typed send makes, or values would be compared (and
  // written) against fields of other types.
  const std::size_t count = shape.columns.size();
  if (fox.userFields().size() != count)
    throw LeftOut("its FoxPro table is not what the typed send would make of it: FoxPro has " +
                  std::to_string(fox.userFields().size()) + " fields, the MySQL table " +
                  std::to_string(count) + " columns");
  std::vector<std::string> foxNames, wanted;
  for (std::size_t k = 0; k < count; ++k) {
    foxNames.push_back(k < longNames.size() ? longNames[k]
                                            : fox.fieldName(std::size_t(fox.userFields()[k])));
    // A name that reads as a number was the user's to choose when the table was sent.
    const std::string bare =
        FoxproScript::BareName(FoxproScript::ColumnEntry(shape.columns[k].name));
    wanted.push_back(FoxproScript::IsNumericName(bare) ? foxNames[k] : shape.columns[k].name);
  }
  const auto names = FoxproNames::FieldNames(wanted, !container, converter.codePage());
  std::vector<Field> fields(count);
  for (std::size_t k = 0; k < count; ++k) {
    Field& f = fields[k];
    f.index = std::size_t(fox.userFields()[k]);
    f.name = foxNames[k];
    f.typed = MapMySqlColumn(shape.columns[k], converter.codePage(), timeWidths[k]);
    const auto& d = fox.header().fields[f.index];
    f.width = d.length;
    f.autoIncNow = d.isAutoInc();
    const std::string what = "its FoxPro table is not what the typed send would make of it: ";
    if (!vfp::equalsNoCase(foxNames[k], names[k].name))
      throw LeftOut(what + "field " + std::to_string(k + 1) + " is " + foxNames[k] +
                    ", where the typed send names it " + names[k].name);
    TypedField have = AsTyped(d);
    // A time of day gets a field as wide as the longest value needs; a wider one holds them too.
    if (shape.columns[k].dataType == "time" && have.type == 'C' && have.width >= f.typed.width)
      have.width = f.typed.width;
    const std::string want = FieldTypeClause(f.typed);
    if (FieldTypeClause(have) != want)
      throw LeftOut(what + "the field " + f.name + " is " + FieldTypeClause(AsTyped(d)) +
                    ", where the typed send makes " + want);
  }

  // The key: named, or the primary key, or a unique key of columns that take no NULL.
  std::vector<std::size_t> key;
  std::string keyWhence;
  auto columnIndex = [&](const std::string& name) -> std::optional<std::size_t> {
    for (std::size_t k = 0; k < count; ++k)
      if (vfp::equalsNoCase(shape.columns[k].name, name)) return k;
    return std::nullopt;
  };
  auto named = [&](const std::vector<std::string>& names) {
    for (const auto& name : names) {
      const auto k = columnIndex(name);
      if (!k) throw LeftOut("it has no column " + name + " for the key named");
      key.push_back(*k);
    }
    keyWhence = "the key named";
  };
  if (!hooks.key.empty()) {
    named(hooks.key);
  } else {
    for (const auto& index : shape.indexes) {
      if (!key.empty() || !(index.primary || index.unique) || index.functional || index.prefix)
        continue;
      std::vector<std::size_t> columns;
      for (const auto& c : index.columns)
        if (const auto k = columnIndex(c); k && !shape.columns[*k].nullable) columns.push_back(*k);
      if (columns.size() != index.columns.size()) continue;
      key = columns;
      keyWhence = index.primary ? "the primary key" : "the unique key " + index.name;
    }
    if (key.empty() && hooks.keyFor) {
      named(hooks.keyFor(table));
      if (key.empty())
        throw LeftOut(
            "it has no primary key or unique key of NOT NULL columns to match rows by, and no "
            "key was named");
    }
    if (key.empty())
      throw LeftOut(
          "it has no primary key or unique key of NOT NULL columns to match rows by (--key "
          "names one)");
  }
  for (std::size_t k : key)
    if (fields[k].typed.type == 'M')
      throw LeftOut("its key column " + shape.columns[k].name + " is a memo in FoxPro");

  // A deleted record keeps its key in a candidate tag, as in FoxPro: a new row of that key
  // would be refused until the table is packed, so that record is recalled and given the row.
  bool candidateTags = false;
  for (const auto& tag : vfp::describeTable(*path).tags)
    candidateTags = candidateTags ||
                    ((tag.kind == vfp::TagKind::Primary || tag.kind == vfp::TagKind::Candidate) &&
                     tag.filter.empty());

  // The FoxPro records: the key, the record number and a hash of the values of each.
  KeyedRows entries;
  std::vector<std::uint32_t> recnos;
  std::unordered_set<std::uint64_t> deletedKeys;
  std::vector<std::uint64_t> hashes(count);
  std::vector<std::string> forms(count);
  std::vector<bool> present(count);
  vfp::Value scratch;
  std::string keyBytes;
  auto foxproRow = [&](const std::uint8_t* record) {
    for (std::size_t k = 0; k < count; ++k) {
      present[k] = FoxproForm(fox, record, fields[k], scratch, forms[k]);
      hashes[k] = present[k] ? ValueHash(forms[k]) : ValueHash(std::nullopt);
    }
  };
  auto makeKey = [&](const char* side) {
    keyBytes.clear();
    for (std::size_t k : key) {
      if (!present[k])
        throw LeftOut("its key column " + shape.columns[k].name + " is NULL in a " + side + " row");
      AppendKeyPart(keyBytes, forms[k]);
    }
  };
  const long long total = std::max<long long>(fox.recordCount(), 1);
  {
    vfp::RecordScanner scan(fox);
    while (const std::uint8_t* record = scan.next()) {
      if (vfp::Table::isDeleted(record)) {
        if (!candidateTags) continue;
        foxproRow(record);
        bool nullKey = false;
        for (std::size_t k : key) nullKey = nullKey || !present[k];
        if (nullKey) continue;
        makeKey("FoxPro");
        deletedKeys.insert(ValueHash(keyBytes));
        continue;
      }
      foxproRow(record);
      makeKey("FoxPro");
      entries.add(keyBytes, RowHash(hashes));
      recnos.push_back(scan.recno());
      if (progress && recnos.size() % kRowsPerProgress == 0)
        progress(int(std::min<long long>(40, (long long)recnos.size() * 40 / total)));
    }
  }
  auto shownKey = [&](std::string_view bytes) {
    const auto parts = KeyParts(bytes);
    std::string shown;
    for (std::size_t i = 0; i < parts.size() && i < key.size(); ++i)
      shown += (i ? ", " : "") + Shown(fields[key[i]], parts[i], converter);
    return shown;
  };
  // The key's condition, as WHERE and RECALL FOR take it.
  auto condition = [&](std::string_view bytes) {
    const auto parts = KeyParts(bytes);
    std::string out;
    for (std::size_t i = 0; i < parts.size() && i < key.size(); ++i)
      out += (i ? " AND " : "") + Condition(fields[key[i]], parts[i], converter);
    return out;
  };
  auto where = [&](std::string_view bytes) { return " WHERE " + condition(bytes); };
  if (const auto twice = entries.sortAndFindDuplicate())
    throw LeftOut("its key (" + keyWhence + ") is not unique in FoxPro: records " +
                  std::to_string(recnos[twice->first] + 1) + " and " +
                  std::to_string(recnos[twice->second] + 1) + " both have " +
                  shownKey(entries.key(twice->first)));

  // The MySQL rows, streamed, each against the FoxPro record of its key.
  TableSync out;
  out.counts.table = table;
  std::vector<bool> seen(entries.size(), false);
  std::vector<std::string> writes;
  std::vector<TypedValueFacts> facts(count);
  std::vector<std::size_t> lost(count);
  std::vector<bool> autoIncWritten(count, false);
  const std::string name = *reference;
  {
    std::string select = "SELECT ";
    for (std::size_t k = 0; k < count; ++k)
      select += (k ? "," : "") + ado::quoteMySqlName(shape.columns[k].name);
    select += " FROM " + ado::quoteMySqlName(table);
    ado::RecordSet rs;
    rs.open(select, my, ado::adOpenForwardOnly, ado::adLockReadOnly);
    if (std::size_t(rs.fieldCount()) != count)
      throw LeftOut("the MySQL table changed while it was compared");
    std::vector<const ado::Value*> row(count);  // the current row's values, not copied
    std::vector<std::uint64_t> mine(count);
    std::vector<std::size_t> rowLost(count);
    std::vector<std::uint8_t> record(fox.header().recordLength);
    long long read = 0;
    for (; !rs.eof(); rs.moveNext()) {
      for (std::size_t k = 0; k < count; ++k) {
        row[k] = &rs.value(int(k));
        rowLost[k] = 0;
        present[k] = MySqlForm(*row[k], fields[k], converter, forms[k], rowLost[k]);
        mine[k] = present[k] ? ValueHash(forms[k]) : ValueHash(std::nullopt);
      }
      makeKey("MySQL");
      auto sent = [&](std::size_t k, std::string& line) {
        AppendTypedLiteral(line, *row[k], fields[k].typed, facts[k]);
        lost[k] += rowLost[k];
        if (fields[k].typed.autoInc) autoIncWritten[k] = true;
      };
      if (const auto at = entries.find(keyBytes)) {
        if (seen[*at])
          throw LeftOut("its key (" + keyWhence +
                        ") is not unique in MySQL as FoxPro holds it: more than one row has " +
                        shownKey(keyBytes));
        seen[*at] = true;
        if (RowHash(mine) != entries.hash(*at)) {
          fox.readRecord(recnos[*at], record.data());
          foxproRow(record.data());
          std::string line = "UPDATE " + name + " SET ";
          bool any = false;
          for (std::size_t k = 0; k < count; ++k) {
            if (hashes[k] == mine[k]) continue;
            if (any) line += ", ";
            any = true;
            line += fields[k].name + " = ";
            sent(k, line);
          }
          if (any) {
            writes.push_back(line + where(keyBytes));
            ++out.counts.updates;
            KeepShownKey(out.counts.updateKeys, shownKey(keyBytes));
          }
        }
      } else {
        if (deletedKeys.count(ValueHash(keyBytes))) {
          writes.push_back("RECALL FOR " + condition(keyBytes) + " IN " + name);
          std::string line = "UPDATE " + name + " SET ";
          for (std::size_t k = 0; k < count; ++k) {
            line += (k ? ", " : "") + fields[k].name + " = ";
            sent(k, line);
          }
          writes.push_back(line + where(keyBytes));
        } else {
          std::string line = "INSERT INTO " + name + " VALUES (";
          for (std::size_t k = 0; k < count; ++k) {
            if (k) line += ", ";
            sent(k, line);
          }
          writes.push_back(line + ")");
        }
        ++out.counts.inserts;
        KeepShownKey(out.counts.insertKeys, shownKey(keyBytes));
      }
      if (progress && ++read % kRowsPerProgress == 0)
        progress(40 + int(std::min<long long>(read, total) * 60 / total));
    }
  }

  // Records only FoxPro has.
  std::vector<std::string> deletes;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    if (seen[e]) continue;
    ++out.counts.targetOnly;
    KeepShownKey(out.counts.targetOnlyKeys, shownKey(entries.key(e)));
    if (hooks.deleteTargetOnly) deletes.push_back("DELETE FROM " + name + where(entries.key(e)));
  }
  if (hooks.deleteTargetOnly) out.counts.deletes = out.counts.targetOnly;

  // FoxPro hands out an autoincrementing field's values itself, so the field is a plain Integer
  // while MySQL's values are written into it, and autoincrementing again after, from MySQL's
  // next value (or past the largest it holds). A run cut short in between leaves it plain; the
  // next sync makes it autoincrementing again.
  std::vector<std::string> before, after;
  for (std::size_t k = 0; k < count; ++k) {
    if (!fields[k].typed.autoInc || (fields[k].autoIncNow && !autoIncWritten[k])) continue;
    if (fields[k].autoIncNow)
      before.push_back("ALTER TABLE " + name + " ALTER COLUMN " + fields[k].name + " I");
    std::string line = "ALTER TABLE " + name + " ALTER COLUMN " + fields[k].name + " I AUTOINC";
    if (shape.autoIncrementNext && *shape.autoIncrementNext <= kLargestAutoIncrement)
      line += " NEXTVALUE " + std::to_string(*shape.autoIncrementNext);
    after.push_back(line);
  }
  for (auto* part : {&before, &deletes, &writes, &after})
    out.lines.insert(out.lines.end(), std::make_move_iterator(part->begin()),
                     std::make_move_iterator(part->end()));

  for (std::size_t k = 0; k < count; ++k) {
    const std::string& field = fields[k].name;
    if (lost[k])
      out.notes.push_back("field " + field + ": " + std::to_string(lost[k]) +
                          " characters code page " + std::to_string(converter.codePage()) +
                          " cannot hold are written as \"?\"");
    if (facts[k].zeroDates)
      out.notes.push_back("field " + field + ": " + std::to_string(facts[k].zeroDates) +
                          " dates FoxPro cannot hold are written as empty dates");
    if (facts[k].fractionsLost)
      out.notes.push_back("field " + field + ": " + std::to_string(facts[k].fractionsLost) +
                          " values sent lose their fractions of a second");
  }
  return out;
}

}  // namespace

SyncOutcome BuildSyncToFoxpro(const std::vector<std::string>& mysqlTables,
                              const std::string& foxproConnectionString,
                              const std::string& mysqlConnectionString, ScriptSink& sink,
                              const SyncToFoxproHooks& hooks) {
  SyncOutcome outcome;
  ado::Connection my;
  OpenSourceConnection(my, mysqlConnectionString);
  const auto catalog =
      vfp::openCatalog(ado::ConnectionString::parse(foxproConnectionString).get("Data Source"));
  std::vector<std::string> report;
  for (std::size_t i = 0; i < mysqlTables.size(); ++i) {
    const std::string& name = mysqlTables[i];
    std::function<void(int)> within;
    if (hooks.progress)
      within = [&](int percent) {
        hooks.progress(int((i * 100 + std::size_t(percent)) / mysqlTables.size()));
      };
    try {
      TableSync part = SyncTable(my, *catalog, name, hooks, within);
      for (const auto& line : part.lines) sink.appendCommand(line);
      outcome.statements += (long long)part.lines.size();
      report.push_back(SyncReportLine(part.counts, hooks.deleteTargetOnly, "FoxPro"));
      for (const auto& note : part.notes) report.push_back("  " + note);
      outcome.tables.push_back(std::move(part.counts));
    } catch (const std::exception& e) {
      // Left out with why (its structure, its key, a table that cannot be read); the others go on.
      ++outcome.leftOut;
      report.push_back(name + ": left out: " + e.what());
      if (hooks.tableLeftOut) hooks.tableLeftOut(name, e.what());
    }
    if (hooks.progress) hooks.progress(int((i + 1) * 100 / mysqlTables.size()));
  }
  std::string text;
  for (const auto& line : report) text += (text.empty() ? "" : "\n") + line;
  sink.report(text);
  return outcome;
}

}  // namespace transfer
