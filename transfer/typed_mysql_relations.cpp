// The foreign keys of a typed script: a container's relations between tables sent together,
// each checked against the rows before it is written, since FoxPro keeps child rows whose
// parent is gone and MySQL would refuse the key after every row is in; and checked again on
// the server before the key is added without MySQL's own (table-copying) verification.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <unordered_set>

#include "transfer/typed_mysql.h"
#include "transfer/typed_mysql_parts.h"
#include "vfp/error.h"
#include "vfp/table.h"

namespace transfer {

using namespace typed;

namespace {

// A key value as MySQL compares it once the row is in: text without its trailing spaces (CHAR
// drops them, and the PAD SPACE collations ignore them), letters in one case where the column
// ignores case, numbers without trailing zeros, so that equal keys give equal text. False for
// NULL, which a foreign key does not check. A blank date or number arrives as NULL too, and
// decodeField gives it as null.
bool AppendKeyPart(const vfp::Value& v, bool foldCase, std::string& out) {
  std::string part;
  switch (v.kind) {
    case vfp::Value::Kind::Null:
      return false;
    case vfp::Value::Kind::Bool:
      part = v.b ? "1" : "0";
      break;
    case vfp::Value::Kind::Int:
      part = std::to_string(v.i);
      break;
    case vfp::Value::Kind::Double: {
      char buf[32];
      part.assign(buf, std::to_chars(buf, buf + sizeof buf, v.d).ptr);
      break;
    }
    case vfp::Value::Kind::Decimal:
      part = v.s;
      if (part.find('.') != std::string::npos) {
        part.erase(part.find_last_not_of('0') + 1);
        if (part.back() == '.') part.pop_back();
      }
      if (part == "-0") part = "0";
      break;
    case vfp::Value::Kind::Text:
      part = v.s.substr(0, v.s.find_last_not_of(' ') + 1);
      if (foldCase) part = vfp::toUpperAscii(std::move(part));
      break;
    case vfp::Value::Kind::Bytes:
      part = v.s;
      break;
    case vfp::Value::Kind::Date:
    case vfp::Value::Kind::DateTime: {
      const auto& w = v.when;
      part = std::to_string(w.date.year) + "-" + std::to_string(w.date.month) + "-" +
             std::to_string(w.date.day);
      if (v.kind == vfp::Value::Kind::DateTime)
        part += " " + std::to_string(w.hour) + ":" + std::to_string(w.minute) + ":" +
                std::to_string(w.second);
      break;
    }
  }
  // Length first, so that two columns' parts cannot run into each other.
  out += std::to_string(part.size()) + ":" + part;
  return true;
}

// A key as the report shows it: 7, or 'ab' + 'cd'.
std::string ShownKey(const vfp::Table& t, const std::uint8_t* rec,
                     const std::vector<std::size_t>& fields) {
  std::string shown;
  vfp::Value v;
  for (const std::size_t k : fields) {
    t.decodeField(rec, k, v);
    std::string part = v.kind == vfp::Value::Kind::Text
                           ? ado::quoteMySqlText(v.s.substr(0, v.s.find_last_not_of(' ') + 1))
                       : v.kind == vfp::Value::Kind::Decimal || v.kind == vfp::Value::Kind::Int
                           ? (v.kind == vfp::Value::Kind::Int ? std::to_string(v.i) : v.s)
                           : std::string("(a ") + t.header().fields[k].type + " value)";
    shown += (shown.empty() ? "" : " + ") + part;
  }
  return shown;
}

}  // namespace

std::vector<std::string> TypedMySqlScript::foreignKeys(
    std::vector<std::pair<std::string, std::string>>& report,
    const std::vector<std::string>& scripted, bool checkOnServer,
    const std::function<void(int percent)>& progress) const {
  std::size_t checked = 0;  // relations whose rows were read, for the progress
  std::function<void(int)> within;
  if (progress)
    within = [&](int percent) {
      progress(int((checked * 100 + std::size_t(percent)) /
                   std::max<std::size_t>(1, relations_.size())));
    };
  auto sent = [&](const std::string& name) {
    return std::any_of(scripted.begin(), scripted.end(),
                       [&](const std::string& s) { return SameName(s, name); });
  };
  std::vector<std::string> checks, keyLines;
  for (const auto& r : relations_) {
    const std::size_t child = sent(r.childTable) ? find(r.childTable) : tables_.size();
    const std::size_t parent = sent(r.parentTable) ? find(r.parentTable) : tables_.size();
    if (child == tables_.size()) continue;  // its child is not sent: nothing refers to anything
    const std::string what = "relation to " + r.parentTable + " (tag " + r.childTag + " to " +
                             r.parentTag + ") is not made: ";
    auto refuse = [&](const std::string& why) {
      report.emplace_back(tables_[child].name, what + why);
    };
    if (parent == tables_.size()) {
      refuse(r.parentTable + " is not sent with it");
      continue;
    }
    const RelationKeys keys = relationKeys(r, child, parent);
    if (!keys.why.empty()) {
      refuse(keys.why);
      continue;
    }
    const TagColumns& cc = keys.child;
    const TagColumns& pc = keys.parent;
    const vfp::TagSchema* pt = keys.parentTag;
    if (pt->kind != vfp::TagKind::Primary && pt->kind != vfp::TagKind::Candidate) {
      refuse("the parent's tag is not a primary or candidate key");
      continue;
    }
    std::string why;
    try {
      why = orphans(child, cc.columns, parent, pc.columns, within);
    } catch (const std::exception& e) {
      why = std::string("the child's keys could not be read against the parent's: ") + e.what();
    }
    ++checked;
    if (!why.empty()) {
      refuse(why);
      continue;
    }
    const std::string constraint = KeyName(names_[child] + "_" + r.childTag);
    checks.push_back(rowCheck(child, cc.columns, parent, pc.columns, constraint));
    std::string line = "ALTER TABLE " + Quote(names_[child]) + " ADD CONSTRAINT " +
                       Quote(constraint) + " FOREIGN KEY " + ColumnList(cc.columns) +
                       " REFERENCES " + Quote(names_[parent]) + " " + ColumnList(pc.columns);
    // FoxPro's referential integrity letters: update, delete, insert; C cascades, R restricts,
    // I (or none) leaves it to the application, as MySQL's default NO ACTION comes closest to.
    auto rule = [&](std::size_t at, const char* on) {
      const char c =
          at < r.rules.size() ? char(std::toupper(static_cast<unsigned char>(r.rules[at]))) : ' ';
      if (c == 'C') line += std::string(" ON ") + on + " CASCADE";
      if (c == 'R') line += std::string(" ON ") + on + " RESTRICT";
    };
    rule(1, "DELETE");
    rule(0, "UPDATE");
    keyLines.push_back(line);
  }
  if (keyLines.empty() || !checkOnServer) return keyLines;
  // Every check runs before checks go off, so a run that stops at one leaves them on; the
  // runner sends every line on one connection, so the setting holds for the lines after it.
  std::vector<std::string> lines = std::move(checks);
  lines.push_back("SET foreign_key_checks = 0");
  lines.insert(lines.end(), keyLines.begin(), keyLines.end());
  lines.push_back("SET foreign_key_checks = 1");
  return lines;
}

std::string TypedMySqlScript::rowCheck(std::size_t child,
                                       const std::vector<std::string>& childColumns,
                                       std::size_t parent,
                                       const std::vector<std::string>& parentColumns,
                                       const std::string& constraint) const {
  // MySQL checks a child row only when none of its key columns is NULL. The columns on both
  // sides have the same type and collation (chooseBinaryColumns), so the join compares as the
  // foreign key does: trailing spaces and letter case as the parent's key compares them.
  std::string on, notNull, shown;
  for (std::size_t i = 0; i < childColumns.size(); ++i) {
    const std::string c = "c." + Quote(childColumns[i]);
    on += std::string(i ? " AND " : "") + "p." + Quote(parentColumns[i]) + " = " + c;
    notNull += std::string(i ? " AND " : "") + c + " IS NOT NULL";
    std::string value = c;
    if (const auto k = FieldNamed(tables_[child], childColumns[i])) {
      const auto& f = tables_[child].fields[*k];
      if (IsCharacter(f))
        value = "QUOTE(" + c + ")";
      else if (f.type == 'C' || f.type == 'V' || f.type == 'Q')
        value = "CONCAT('0x', HEX(" + c + "))";
    }
    shown += ", " + value;
  }
  const bool several = childColumns.size() > 1;
  std::string columns;
  for (const auto& c : childColumns) columns += (columns.empty() ? "" : ", ") + c;
  if (several) columns = "(" + columns + ")";
  // The key's text is cut short: a message is one line of the Notes.
  const std::string key = "LEFT(CONCAT_WS(', '" + shown + "), 200)";
  const std::string message =
      "CONCAT(" +
      ado::quoteMySqlText("The FOREIGN KEY " + constraint + " is not made: a row of " +
                          names_[child] + " has " + columns + " = " + (several ? "(" : "")) +
      ", " + key + ", " +
      ado::quoteMySqlText(std::string(several ? ")" : "") + ", which no row of " + names_[parent] +
                          " has") +
      ")";
  return "BEGIN NOT ATOMIC DECLARE orphan TEXT DEFAULT (SELECT " + message + " FROM " +
         Quote(names_[child]) + " c LEFT JOIN " + Quote(names_[parent]) + " p ON " + on +
         " WHERE " + notNull + " AND p." + Quote(parentColumns.front()) +
         " IS NULL LIMIT 1); IF orphan IS NOT NULL THEN SIGNAL SQLSTATE '45000' SET "
         "MESSAGE_TEXT = orphan; END IF; END";
}

std::string TypedMySqlScript::orphans(std::size_t child,
                                      const std::vector<std::string>& childColumns,
                                      std::size_t parent,
                                      const std::vector<std::string>& parentColumns,
                                      const std::function<void(int percent)>& progress) const {
  // The header's field of each key column, and whether MySQL compares it ignoring case: the
  // child's columns compare as the parent's (chooseBinaryColumns).
  auto headerFields = [&](std::size_t table, const std::vector<std::string>& columns,
                          const vfp::Table& t) {
    std::vector<std::size_t> out;
    for (const auto& c : columns) {
      const auto k = FieldNamed(tables_[table], c);
      if (!k || *k >= t.userFields().size())
        throw vfp::Error("the key field " + c + " of " + tables_[table].name +
                         " is not in its table");
      out.push_back(std::size_t(t.userFields()[*k]));
    }
    return out;
  };
  std::vector<bool> foldCase;
  for (const auto& c : parentColumns) {
    const auto k = FieldNamed(tables_[parent], c);
    foldCase.push_back(k && IsCharacter(tables_[parent].fields[*k]) && !binary_[parent][*k]);
  }
  const vfp::Table p(tables_[parent].path), ch(tables_[child].path);
  const auto pf = headerFields(parent, parentColumns, p),
             cf = headerFields(child, childColumns, ch);
  const std::uint64_t total = std::uint64_t(p.recordCount()) + ch.recordCount();
  std::uint64_t done = 0;
  constexpr std::uint32_t kRecordsPerProgress = 8192;
  auto tick = [&] {
    if (++done % kRecordsPerProgress == 0 && progress) progress(int(done * 100 / total));
  };
  auto keyOf = [&](const vfp::Table& t, const std::uint8_t* rec,
                   const std::vector<std::size_t>& fields, vfp::Value& v, std::string& key) {
    key.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      t.decodeField(rec, fields[i], v);
      if (!AppendKeyPart(v, foldCase[i], key)) return false;
    }
    return true;
  };

  std::unordered_set<std::string> parents;
  parents.reserve(p.recordCount());
  vfp::Value v;
  std::string key;
  {
    vfp::RecordScanner scan(p);
    while (const std::uint8_t* rec = scan.nextLive()) {
      tick();
      if (keyOf(p, rec, pf, v, key)) parents.insert(key);
    }
  }
  std::string first;
  long long count = 0;
  vfp::RecordScanner scan(ch);
  while (const std::uint8_t* rec = scan.nextLive()) {
    tick();
    if (!keyOf(ch, rec, cf, v, key) || parents.count(key)) continue;
    if (!count++)
      first =
          "record " + std::to_string(scan.recno() + 1) + " has the key " + ShownKey(ch, rec, cf);
  }
  if (!count) return {};
  return first + ", which no row of " + tables_[parent].name + " has" +
         (count == 2  ? " (and 1 more row with such a key)"
          : count > 2 ? " (and " + std::to_string(count - 1) + " more rows with such keys)"
                      : "") +
         "; MySQL would refuse the FOREIGN KEY";
}

}  // namespace transfer
