// UPDATE ... SET ... WHERE and DELETE FROM ... WHERE: finding the records a condition holds for
// (through an index when the condition pins a key field to a constant) and changing them.
#include <algorithm>

#include "vfp/cdx_maintainer.h"
#include "vfp/error.h"
#include "vfp/raw_record.h"
#include "vfp/session.h"
#include "vfp/sql_lexer.h"

namespace vfp {

using sql::Lexer;
using sql::syntaxError;

const keyexpr::KeySchema& Session::schemaOf(TableWriter& w) {
  const std::string key = pathKey(w.path());
  auto it = schemas_.find(key);
  if (it == schemas_.end()) {
    std::vector<int> fields;
    keyexpr::KeySchema schema =
        w.index() ? w.index()->schema()
                  : keySchemaOf(w.header(), catalog_->fieldNames(w.path()), fields);
    it = schemas_.emplace(key, std::move(schema)).first;
  }
  return it->second;
}

namespace {

// A condition's constant as the engine writes it to a field: text as stored bytes, numbers,
// dates and logicals as themselves.
std::optional<Value> writable(const keyexpr::Value& c) {
  Value v;
  switch (c.type) {
    case keyexpr::Type::Character:
      v.setString(Value::Kind::Bytes) = c.text;
      break;
    case keyexpr::Type::Numeric:
    case keyexpr::Type::Integer:
      v.setDouble(c.number);
      break;
    case keyexpr::Type::Date:
    case keyexpr::Type::DateTime: {
      if (c.day <= 0) return std::nullopt;  // the empty date: no probe
      DateTime t;
      t.date = julianToDate(long(c.day));
      const long long s = c.ms / 1000;
      t.hour = int(s / 3600), t.minute = int(s / 60 % 60), t.second = int(s % 60);
      if (c.ms % 1000) return std::nullopt;  // fields hold whole seconds
      if (c.type == keyexpr::Type::Date)
        v.setDate(t.date);
      else
        v.setDateTime(t);
      break;
    }
    case keyexpr::Type::Logical:
      v.setBool(c.logical);
      break;
  }
  return v;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> Session::compoundCandidates(
    TableWriter& w, const keyexpr::Expression& cond) {
  // The fields the condition pins to one value: a tag over them (STR(a) + b, UPPER(code))
  // names the records
  // through the key those values give. Text with "=" matches every value it begins, so it pins
  // a character field only when it is as long as the field, and a varchar only with "==".
  const keyexpr::KeySchema& schema = schemaOf(w);
  std::vector<bool> pinned(schema.fields.size());
  std::vector<std::pair<std::size_t, Value>> values;
  for (const auto& eq : cond.requiredEqualities()) {
    const keyexpr::FieldDef& f = schema.fields[eq.field];
    if (pinned[eq.field]) continue;
    if (f.type == 'C' && !eq.exact && eq.constant.text.size() < std::size_t(f.width)) continue;
    if (f.type == 'V' && !eq.exact) continue;
    auto v = writable(eq.constant);
    if (!v) continue;
    pinned[eq.field] = true;
    values.emplace_back(eq.field, std::move(*v));
  }
  if (values.empty()) return std::nullopt;
  std::string probe;
  try {
    probe = w.probeRecord(values);
  } catch (const Error&) {
    return std::nullopt;  // a value no record can hold: reading the records says so
  }
  return w.index()->lookupRecord(reinterpret_cast<const std::uint8_t*>(probe.data()), pinned);
}

std::optional<std::vector<std::uint32_t>> Session::lookupCandidates(
    TableWriter& w, const keyexpr::Expression& cond) {
  const keyexpr::KeySchema& schema = schemaOf(w);
  const std::string key = pathKey(w.path());
  for (const auto& eq : cond.requiredEqualities()) {
    if (!FieldLookup::answers(schema.fields[eq.field], eq.constant, eq.exact)) continue;
    Lookups& l = lookups_[key];
    const FieldLookup* found = nullptr;
    for (const FieldLookup& f : l.fields)
      if (f.field() == eq.field) found = &f;
    if (!found) {
      // One statement reads the table as it always did; a second one for the same field makes
      // the lookup, so that a single UPDATE costs no memory and a script of many costs one read.
      if (std::find(l.refused.begin(), l.refused.end(), eq.field) != l.refused.end() ||
          ++l.scans[eq.field] < 2)
        continue;
      ++tableScans_;
      l.headerFields.clear();
      keySchemaOf(w.header(), {}, l.headerFields);
      RawRecord view(w.header(), l.headerFields);
      std::optional<FieldLookup> made;
      try {
        made.emplace(schema, eq.field);
      } catch (const keyexpr::UnsupportedExpression&) {
      }
      bool whole = made.has_value();
      if (whole)
        w.scan([&](std::uint32_t recno, const std::uint8_t* rec) {
          view.set(rec);
          return whole = made->add(recno, view);
        });
      if (!whole) {
        l.refused.push_back(eq.field);
        continue;
      }
      l.fields.push_back(std::move(*made));
      found = &l.fields.back();
      w.onRecord = [this, &w](std::uint32_t recno, const std::uint8_t* rec) {
        recordChanged(w, recno, rec);
      };
    }
    std::vector<std::uint32_t> out = found->candidates(eq.constant);
    for (auto& r : out) ++r;  // 1-based, as an index names records
    return out;
  }
  return std::nullopt;
}

void Session::recordChanged(TableWriter& w, std::uint32_t recno, const std::uint8_t* record) {
  auto it = lookups_.find(pathKey(w.path()));
  if (it == lookups_.end()) return;
  Lookups& l = it->second;
  if (recno == TableWriter::kRecordsDropped) {
    l.fields.clear();
    return;
  }
  RawRecord view(w.header(), l.headerFields);
  view.set(record);
  // A record a lookup cannot hold makes it useless: the next statement reads the table.
  std::erase_if(l.fields, [&](FieldLookup& f) {
    return !(recno < f.records() ? f.change(recno, view) : f.add(recno, view));
  });
}

std::vector<std::uint32_t> Session::matching(TableWriter& w, Lexer& lx) {
  std::vector<std::uint32_t> out;
  if (lx.atEnd()) {
    ++tableScans_;
    w.scan([&](std::uint32_t recno, const std::uint8_t* rec) {
      if (!Table::isDeleted(rec)) out.push_back(recno);
      return true;
    });
    return out;
  }
  if (!lx.keyword("WHERE")) throw Error("Command contains unrecognized phrase/keyword.");
  std::string_view text = lx.s.substr(lx.p);
  while (!text.empty() && (sql::isSpace(text.back()) || text.back() == ';')) text.remove_suffix(1);
  return matching(w, text, false);
}

std::vector<std::uint32_t> Session::matching(TableWriter& w, std::string_view text, bool deleted) {
  std::vector<std::uint32_t> out;
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) throw syntaxError();
  // The condition's text and names in the table's code page, as the records hold them.
  std::string stored;
  w.converter().fromUtf8(text, stored);
  const keyexpr::KeySchema& schema = schemaOf(w);
  std::optional<keyexpr::Expression> cond;
  try {
    cond = keyexpr::Expression::compileCondition(stored, schema);
  } catch (const keyexpr::UnsupportedExpression& e) {
    throw Error("WHERE clause of table '" + fileNameOf(w.path()) +
                "' cannot be evaluated: " + e.what() + ".");
  }
  std::vector<int> fields;
  keySchemaOf(w.header(), {}, fields);
  RawRecord view(w.header(), fields);
  auto test = [&](std::uint32_t recno, const std::uint8_t* rec) {
    if (Table::isDeleted(rec) != deleted) return;
    view.set(rec);
    try {
      if (cond->holds(view)) out.push_back(recno);
    } catch (const keyexpr::EvaluationError& e) {
      throw Error("WHERE clause of table '" + fileNameOf(w.path()) +
                  "' cannot be evaluated for record " + std::to_string(recno + 1) + ": " +
                  e.what());
    }
  };
  // The smallest set of candidates an index gives, then the whole condition on each.
  std::optional<std::vector<std::uint32_t>> candidates;
  if (const IndexMaintainer* index = w.index())
    for (const auto& eq : cond->requiredEqualities())
      if (auto found = index->lookup(eq.field, eq.constant))
        if (!candidates || found->size() < candidates->size()) candidates = std::move(found);
  if (!candidates && w.index()) candidates = compoundCandidates(w, *cond);
  if (!candidates) candidates = lookupCandidates(w, *cond);
  if (candidates) {
    ++indexedSearches_;
    std::vector<std::uint8_t> rec(w.header().recordLength);
    for (std::uint32_t recno : *candidates) {
      w.readRecord(recno - 1, rec.data());
      test(recno - 1, rec.data());
    }
  } else {
    ++tableScans_;
    w.scan([&](std::uint32_t recno, const std::uint8_t* rec) {
      test(recno, rec);
      return true;
    });
  }
  return out;
}

void Session::update(std::string_view sql, std::size_t pos) {
  affected_ = 0;
  Lexer lx{sql, pos};
  const std::string ref = lx.name();
  if (!lx.keyword("SET")) throw Error("Command contains unrecognized phrase/keyword.");
  TableWriter& w = writerFor(ref);
  const keyexpr::KeySchema& schema = schemaOf(w);
  std::vector<std::pair<std::size_t, Value>> set;
  Value term;
  std::string scratch;
  do {
    // A bare name ends where "=" begins; [name] and the other quoted forms as INSERT takes them.
    const std::string name = lx.peek('[') || lx.peek('`') || lx.peek('"') ? lx.name() : lx.word();
    if (name.empty()) throw syntaxError();
    std::string stored;
    w.converter().fromUtf8(name, stored);
    const auto field = schema.find(stored);
    if (!field) throw Error("SQL: Column '" + toUpperAscii(name) + "' is not found.");
    if (std::any_of(set.begin(), set.end(), [&](const auto& a) { return a.first == *field; }))
      throw Error("Field " + toUpperAscii(name) + " is given twice.");
    lx.expect('=');
    set.emplace_back(*field, Value{});
    sql::parseExpression(lx, set.back().second, term, scratch);
  } while (lx.accept(','));
  const std::vector<std::uint32_t> records = matching(w, lx);
  try {
    replaced_ += static_cast<long long>(w.update(records, set));
  } catch (const Error& e) {
    throw inTable(w, e);
  }
  affected_ = std::uint32_t(records.size());
  if (!records.empty()) notePending();
}

void Session::remove(std::string_view sql, std::size_t pos) {
  affected_ = 0;
  Lexer lx{sql, pos};
  if (!lx.keyword("FROM")) throw syntaxError();
  const std::string ref = lx.name();
  TableWriter& w = writerFor(ref);
  mark(w, matching(w, lx), true);
}

void Session::recall(std::string_view sql, std::size_t pos) {
  affected_ = 0;
  Lexer lx{sql, pos};
  if (!lx.keyword("FOR")) throw syntaxError();
  // The condition ends at the last IN outside quotes, which names the table.
  std::string_view rest = sql.substr(lx.p);
  std::size_t in = std::string_view::npos;
  char quote = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (i > 0 && sql::isSpace(rest[i - 1]) && i + 2 < rest.size() &&
               (c == 'I' || c == 'i') && (rest[i + 1] == 'N' || rest[i + 1] == 'n') &&
               sql::isSpace(rest[i + 2])) {
      in = i;
    }
  }
  if (in == std::string_view::npos) throw Error("Command is missing required clause.");
  Lexer table{sql, lx.p + in + 2};
  const std::string ref = table.name();
  if (ref.empty() || !table.atEnd()) throw syntaxError();
  TableWriter& w = writerFor(ref);
  mark(w, matching(w, rest.substr(0, in), true), false);
}

void Session::mark(TableWriter& w, const std::vector<std::uint32_t>& records, bool deleted) {
  try {
    if (deleted)
      w.markDeleted(records);
    else
      w.recall(records);
  } catch (const Error& e) {
    throw inTable(w, e);
  }
  affected_ = std::uint32_t(records.size());
  if (!records.empty()) notePending();
}

}  // namespace vfp
