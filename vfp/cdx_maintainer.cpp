#include "vfp/cdx_maintainer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "vfp/cdx_reader.h"
#include "vfp/cdx_writer.h"
#include "vfp/dbc.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/keyexpr.h"
#include "vfp/raw_record.h"
#include "vfp/table.h"

namespace vfp {

using cdx::KeyEntry;
using cdx::KeyList;
using keyexpr::Expression;

namespace {

// Where a new index of the table goes: its name with ".cdx" in the letter case of its extension
// ("ORDERS.DBF" -> "ORDERS.CDX").
std::string newIndexPath(const std::string& tablePath, const std::string& ext) {
  const std::string name = fileNameOf(tablePath);
  const std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
  const bool upper = !tail.empty() && tail == toUpperAscii(tail) && tail != toLowerAscii(tail);
  return replaceExtension(tablePath, upper ? toUpperAscii(ext) : ext);
}

bool validTagName(const std::string& n) {
  if (n.empty() || n.size() > cdx::kTagNameLength) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(n[0])) return false;
  return std::all_of(n.begin(), n.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

}  // namespace

keyexpr::KeySchema keySchemaOf(const TableHeader& header, const std::vector<std::string>& longNames,
                               std::vector<int>& fieldIndex) {
  keyexpr::KeySchema schema;
  schema.codePageMark = header.codePageMark;
  fieldIndex.clear();
  for (std::size_t i = 0; i < header.fields.size(); ++i) {
    const auto& f = header.fields[i];
    if (f.isNullFlags() || f.isSystem()) continue;
    keyexpr::FieldDef d;
    d.name = f.name;
    if (fieldIndex.size() < longNames.size()) d.longName = longNames[fieldIndex.size()];
    d.type = f.type;
    d.width = int(f.length);
    d.decimals = f.decimals;
    d.nullable = f.isNullable();
    schema.fields.push_back(d);
    fieldIndex.push_back(int(i));
  }
  return schema;
}

struct IndexMaintainer::Tag {
  cdx::TagInfo info;
  std::optional<Expression> key;
  std::optional<Expression> filter;
  std::uint8_t pad = ' ';
  bool unique = false;
  bool candidate = false;
  bool nullMarker = false;
  std::string problem;  // why it cannot be maintained (only when inspecting)
  KeyList entries;      // sorted; every record's key, also in UNIQUE tags
  KeyList added;        // registered since the last build, in append order
  // Candidate tags: the largest key registered so far (keys usually arrive rising, and a key
  // beyond it is new without looking further), and, once a key arrives out of order, where each
  // added key sits by its hash (open addressing; position + 1, 0 for free).
  std::string largest;
  std::vector<std::uint32_t> slots;
  std::string scratch;  // the key being computed
  // Entries of records changed since the last build, left in place and skipped until then.
  std::vector<bool> deadEntries, deadAdded;

  std::string describe() const {
    std::string s = "index tag " + info.name + " (" + info.header.keyExpression;
    if (!info.header.forExpression.empty()) s += " FOR " + info.header.forExpression;
    return s + ")";
  }

  // Computes the record's key into scratch; false when its FOR clause leaves the record out.
  bool compute(const RawRecord& rec) {
    if (filter && !filter->holds(rec)) return false;
    scratch.resize(entries.keyLength());
    key->writeKey(rec, nullMarker, scratch.data());
    return true;
  }

  static std::size_t hashOf(std::string_view k) { return std::hash<std::string_view>()(k); }

  void index(std::uint32_t pos) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hashOf(added.key(pos)) & mask;; i = (i + 1) & mask)
      if (slots[i] == 0) {
        slots[i] = pos + 1;
        return;
      }
  }
  void growSlots() {
    std::size_t n = 1024;
    while (n < 2 * (added.size() + 1)) n *= 2;
    slots.assign(n, 0);
    for (std::uint32_t p = 0; p < added.size(); ++p) index(p);
  }

  bool deadEntry(std::size_t i) const { return i < deadEntries.size() && deadEntries[i]; }
  bool deadAddition(std::size_t i) const { return i < deadAdded.size() && deadAdded[i]; }

  // Whether a live entry of a record other than `except` has key k.
  bool holds(std::string_view k, std::uint32_t except = 0) {
    if (largest.empty() || k > std::string_view(largest)) return false;
    for (std::size_t at = entries.lowerBound(k); at < entries.size() && entries.key(at) == k; ++at)
      if (!deadEntry(at) && entries.recno(at) != except) return true;
    if (slots.empty()) growSlots();
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hashOf(k) & mask; slots[i] != 0; i = (i + 1) & mask) {
      const std::size_t p = slots[i] - 1;
      if (added.key(p) == k && !deadAddition(p) && added.recno(p) != except) return true;
    }
    return false;
  }

  // Takes the record's entry with key k out (it must be there).
  void remove(std::string_view k, std::uint32_t recno) {
    const std::size_t at = entries.find(k, recno);
    if (at < entries.size() && !deadEntry(at)) {
      deadEntries.resize(entries.size());
      deadEntries[at] = true;
      return;
    }
    for (std::size_t p = added.size(); p-- > 0;)
      if (added.recno(p) == recno && !deadAddition(p) && added.key(p) == k) {
        deadAdded.resize(added.size());
        deadAdded[p] = true;
        return;
      }
  }

  // The live entries whose key starts with prefix, as record numbers.
  void collect(std::string_view prefix, std::vector<std::uint32_t>& out) const {
    for (std::size_t at = entries.lowerBound(prefix);
         at < entries.size() && entries.key(at).starts_with(prefix); ++at)
      if (!deadEntry(at)) out.push_back(entries.recno(at));
    for (std::size_t p = 0; p < added.size(); ++p)
      if (!deadAddition(p) && added.key(p).starts_with(prefix)) out.push_back(added.recno(p));
  }

  void push(std::uint32_t recno) {
    added.push(scratch, recno);
    if (!candidate) return;
    if (largest.empty() || scratch > largest) largest = scratch;
    if (slots.empty()) return;
    if (2 * added.size() > slots.size())
      growSlots();
    else
      index(std::uint32_t(added.size() - 1));
  }

  // Moves the registered keys into the sorted ones.
  void settle() {
    if (!deadEntries.empty()) entries.eraseIf([&](std::size_t i) { return deadEntry(i); });
    if (!deadAdded.empty()) added.eraseIf([&](std::size_t i) { return deadAddition(i); });
    deadEntries.clear();
    deadAdded.clear();
    if (added.empty()) {
      slots.clear();
      return;
    }
    added.sort();
    entries.merge(added);
    added.clear();
    slots.clear();
  }
};

IndexMaintainer::IndexMaintainer() = default;
IndexMaintainer::~IndexMaintainer() = default;

std::unique_ptr<IndexMaintainer> IndexMaintainer::open(const std::string& tablePath,
                                                       const std::vector<std::string>& longNames) {
  return prepare(tablePath, longNames, nullptr);
}

std::vector<TagReport> inspectIndex(const std::string& tablePath,
                                    const std::vector<std::string>& longNames) {
  std::vector<TagReport> reports;
  auto m = IndexMaintainer::prepare(tablePath, longNames, &reports);
  return reports;
}

void IndexMaintainer::bind(Tag& t) const {
  const auto& h = t.info.header;
  const std::string refuse = "Table '" + tableName_ + "' cannot be written: ";
  auto cannot = [&](const std::string& why) {
    return Error(refuse + t.describe() + " cannot be kept up to date: " + why);
  };
  if (h.signature == cdx::signature::kBinaryIndex) throw cannot("it is a binary (bitmap) index.");
  if (!h.isMachineCollation())
    throw cannot("it sorts by the " + (h.collation.empty() ? std::string("unknown") : h.collation) +
                 " collating sequence; only MACHINE indexes can be maintained.");
  try {
    t.key = Expression::compile(h.keyExpression, schema_);
    if (!h.forExpression.empty()) {
      t.filter = Expression::compile(h.forExpression, schema_);
      if (t.filter->type() != keyexpr::Type::Logical)
        throw keyexpr::UnsupportedExpression("the FOR clause is not a logical expression");
    }
  } catch (const keyexpr::UnsupportedExpression& e) {
    // The tag's description already shows the expression; keep only the reason.
    std::string why = e.what();
    for (const std::string* x : {&h.keyExpression, &h.forExpression}) {
      const std::string quoted = "\"" + *x + "\": ";
      if (!x->empty() && why.rfind(quoted, 0) == 0) why.erase(0, quoted.size());
    }
    throw cannot(why + ".");
  }
  if (auto kind = t.key->unverifiedKeyEncoding(); !kind.empty())
    throw cannot("how FoxPro stores " + kind +
                 " keys is not known exactly enough to write them; index a text form "
                 "such as TTOC(t, 1) or STR() instead.");
  t.unique = h.options & cdx::option::kUnique;
  t.candidate = h.options & cdx::option::kCandidate;
  // Keys of nullable expressions carry a null-marker byte, except in candidate tags, whose
  // keys FoxPro never lets be .NULL.
  t.nullMarker = h.options & cdx::option::kNullable;
  if (t.nullMarker ? !t.key->nullable() : (t.key->nullable() && !t.candidate))
    throw cannot("its null-key option does not match the fields of its expression.");
  const std::size_t length = t.key->width() + (t.nullMarker ? 1 : 0);
  if (length != h.keyLength)
    throw cannot("its keys are " + std::to_string(h.keyLength) +
                 " bytes long, but the expression gives " + std::to_string(length) + ".");
  t.pad = t.key->type() == keyexpr::Type::Character ? ' ' : 0;
  t.entries = KeyList(length);
  t.added = KeyList(length);
}

std::unique_ptr<IndexMaintainer> IndexMaintainer::prepare(const std::string& tablePath,
                                                          const std::vector<std::string>& longNames,
                                                          std::vector<TagReport>* reports,
                                                          bool withoutIndex) {
  Table table(tablePath);
  const bool hasIndex = table.header().tableFlags & tableflag::kHasCdx;
  if (!hasIndex && !withoutIndex) return nullptr;

  std::unique_ptr<IndexMaintainer> m(new IndexMaintainer());
  m->header_ = table.header();
  m->tableName_ = fileNameOf(table.path());
  const bool container = m->header_.tableFlags & tableflag::kIsDatabase;
  const std::string ext = container ? ".dcx" : ".cdx";
  const std::string refuse = "Table '" + m->tableName_ + "' cannot be written: ";
  std::optional<cdx::IndexFile> file;
  if (hasIndex) {
    const auto found = findCompanion(table.path(), ext);
    if (!found)
      throw Error(refuse + "its structural index '" +
                  fileNameOf(replaceExtension(table.path(), ext)) + "' is not found.");
    m->indexPath_ = *found;
    try {
      file = cdx::IndexFile::open(nativePath(m->indexPath_));
    } catch (const cdx::CdxError& e) {
      throw Error(refuse + "its index cannot be read: " + e.what());
    }
  } else {
    m->indexPath_ = findCompanion(table.path(), ext).value_or(newIndexPath(table.path(), ext));
  }

  // The fields expressions can name, with the container's long names beside the .dbf names.
  std::vector<std::string> names = longNames;
  if (names.empty() && !m->header_.backlink.empty() && !container) {
    try {
      names = dbc::memberFieldNames(table.path());
    } catch (const Error& e) {
      throw Error(refuse +
                  "its index expressions use the field names of its database: " + e.what());
    }
  }
  m->schema_ = keySchemaOf(m->header_, names, m->fieldIndex_);

  std::vector<cdx::TagInfo> order = file ? file->tags() : std::vector<cdx::TagInfo>{};
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.headerOffset < b.headerOffset; });
  for (const auto& info : order) {
    auto t = std::make_unique<Tag>();
    t->info = info;
    try {
      m->bind(*t);
    } catch (const Error& e) {
      if (!reports) throw;
      t->problem = e.what();
    }
    m->tags_.push_back(std::move(t));
  }

  // Keys of the records already in the table.
  if (!m->tags_.empty()) {
    for (auto& t : m->tags_) t->entries.reserve(table.recordCount());
    RawRecord rec(m->header_, m->fieldIndex_);
    RecordScanner scan(table);
    while (const std::uint8_t* r = scan.next()) {
      rec.set(r);
      const std::uint32_t recno = scan.recno() + 1;
      for (auto& t : m->tags_) {
        if (!t->problem.empty()) continue;
        try {
          if (t->compute(rec)) t->entries.push(t->scratch, recno);
        } catch (const keyexpr::EvaluationError& e) {
          Error err(refuse + t->describe() + " cannot be computed for record " +
                    std::to_string(recno) + ": " + e.what());
          if (!reports) throw err;
          t->problem = err.what();
          t->entries.clear();
        }
      }
    }
  }
  for (auto& t : m->tags_) {
    t->entries.sort();
    if (t->candidate && !t->entries.empty())
      t->largest = std::string(t->entries.key(t->entries.size() - 1));
    if (reports) {
      auto keys = t->entries.entries();
      cdx::sortEntries(keys, t->unique);
      reports->push_back({t->info.name, t->problem, std::move(keys)});
    }
  }
  return m;
}

void IndexMaintainer::addTag(const std::string& tablePath, const TagDefinition& def,
                             const std::vector<std::string>& longNames) {
  auto m = prepare(tablePath, longNames, nullptr, /*withoutIndex=*/true);
  const std::string name = toUpperAscii(def.name);
  if (!validTagName(name))
    throw Error("Tag name '" + def.name +
                "' is not valid: 1 to 10 letters, digits or underscores, not starting with a "
                "digit.");
  auto t = std::make_unique<Tag>();
  t->info.name = name;
  cdx::TagHeader& h = t->info.header;
  h.keyExpression = def.expression;
  h.forExpression = def.filter;
  h.descending = def.descending;
  const std::string what = "Index tag " + name + " (" + def.expression +
                           (def.filter.empty() ? "" : " FOR " + def.filter) + ") of table '" +
                           m->tableName_ + "' cannot be made: ";
  // The key's length and null marker follow from the expression.
  std::optional<Expression> probe;
  try {
    probe = Expression::compile(def.expression, m->schema_);
  } catch (const keyexpr::UnsupportedExpression& e) {
    throw Error(what + e.what() + ".");
  }
  const bool nullMarker = probe->nullable() && !def.candidate;
  const std::size_t length = probe->width() + (nullMarker ? 1 : 0);
  if (length > cdx::kMaxKeyLength)
    throw Error(what + "its keys would be " + std::to_string(length) +
                " bytes long; FoxPro keys hold at most " + std::to_string(cdx::kMaxKeyLength) +
                ".");
  if (def.expression.size() + def.filter.size() + 2 > cdx::TagHeader::kPoolSize)
    throw Error(what + "its expressions are longer than a tag header holds.");
  h.keyLength = static_cast<std::uint16_t>(length);
  h.options = cdx::option::kCompact | cdx::option::kCompound;
  if (def.candidate) h.options |= cdx::option::kCandidate;
  if (def.unique) h.options |= cdx::option::kUnique;
  if (nullMarker) h.options |= cdx::option::kNullable;
  if (!def.filter.empty()) h.options |= cdx::option::kHasFor;
  try {
    m->bind(*t);
  } catch (const Error& e) {
    // bind() speaks of an existing tag; say it of the one being made.
    std::string why = e.what();
    const std::string marker = "cannot be kept up to date: ";
    const auto at = why.find(marker);
    throw Error(what + (at == std::string::npos ? why : why.substr(at + marker.size())));
  }

  Table table(tablePath);
  RawRecord rec(m->header_, m->fieldIndex_);
  RecordScanner scan(table);
  t->entries.reserve(table.recordCount());
  while (const std::uint8_t* r = scan.next()) {
    rec.set(r);
    const std::uint32_t recno = scan.recno() + 1;
    try {
      if (t->compute(rec)) t->entries.push(t->scratch, recno);
    } catch (const keyexpr::EvaluationError& e) {
      throw Error(what + "its key cannot be computed for record " + std::to_string(recno) + ": " +
                  e.what());
    }
  }
  t->entries.sort();
  if (t->candidate && !t->entries.empty())
    t->largest = std::string(t->entries.key(t->entries.size() - 1));
  if (t->candidate)
    for (std::size_t i = 1; i < t->entries.size(); ++i)
      if (t->entries.key(i) == t->entries.key(i - 1))
        throw Error("Uniqueness of index " + name + " is violated (table '" + m->tableName_ +
                    "', records " + std::to_string(t->entries.recno(i - 1)) + " and " +
                    std::to_string(t->entries.recno(i)) + ").");

  auto same = std::find_if(m->tags_.begin(), m->tags_.end(),
                           [&](const auto& x) { return x->info.name == name; });
  if (same != m->tags_.end())
    *same = std::move(t);
  else
    m->tags_.push_back(std::move(t));
  m->write();
  // The flag last: a table whose flag is set always has its index.
  if (!(m->header_.tableFlags & tableflag::kHasCdx)) {
    const std::uint8_t flags = m->header_.tableFlags | tableflag::kHasCdx;
    File f(table.path(), File::Mode::ReadWrite);
    f.writeAt(header::kFlagsOffset, &flags, 1);
  }
}

void IndexMaintainer::add(const std::uint8_t* record, std::uint32_t recno) {
  RawRecord rec(header_, fieldIndex_);
  rec.set(record);
  // All keys first: a refused record must leave every tag as it was.
  bool in[256];
  std::unique_ptr<bool[]> many;
  bool* included = in;
  if (tags_.size() > sizeof in) {
    many = std::make_unique<bool[]>(tags_.size());
    included = many.get();
  }
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    Tag& t = *tags_[i];
    try {
      included[i] = t.compute(rec);
    } catch (const keyexpr::EvaluationError& e) {
      throw Error("Table '" + tableName_ + "': " + t.describe() +
                  " cannot be computed for the new record: " + e.what());
    }
    // FoxPro's own words; the writer's caller adds the table.
    if (included[i] && t.candidate && t.holds(t.scratch))
      throw Error("Uniqueness of index " + t.info.name + " is violated.");
  }
  for (std::size_t i = 0; i < tags_.size(); ++i)
    if (included[i]) tags_[i]->push(recno);
}

void IndexMaintainer::change(const std::uint8_t* before, const std::uint8_t* after,
                             std::uint32_t recno) {
  RawRecord rec(header_, fieldIndex_);
  struct Step {
    bool was = false, is = false;
    std::string oldKey, newKey;
  };
  std::vector<Step> steps(tags_.size());
  // Every key first: a refused change must leave every tag as it was.
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    Tag& t = *tags_[i];
    Step& s = steps[i];
    try {
      rec.set(before);
      s.was = t.compute(rec);
      if (s.was) s.oldKey = t.scratch;
      rec.set(after);
      s.is = t.compute(rec);
      if (s.is) s.newKey = t.scratch;
    } catch (const keyexpr::EvaluationError& e) {
      throw Error("Table '" + tableName_ + "': " + t.describe() +
                  " cannot be computed for record " + std::to_string(recno) + ": " + e.what());
    }
    if (s.is && t.candidate && !(s.was && s.oldKey == s.newKey) && t.holds(s.newKey, recno))
      throw Error("Uniqueness of index " + t.info.name + " is violated.");
  }
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    Tag& t = *tags_[i];
    const Step& s = steps[i];
    if (s.was == s.is && s.oldKey == s.newKey) continue;
    if (s.was) t.remove(s.oldKey, recno);
    if (s.is) {
      t.scratch = s.newKey;
      t.push(recno);
    }
  }
}

const keyexpr::KeySchema& IndexMaintainer::schema() const { return schema_; }

std::optional<std::vector<std::uint32_t>> IndexMaintainer::lookupRecord(
    const std::uint8_t* record, const std::vector<bool>& pinned) const {
  RawRecord rec(header_, fieldIndex_);
  rec.set(record);
  for (const auto& tp : tags_) {
    const Tag& t = *tp;
    if (!t.problem.empty() || t.filter) continue;
    const auto read = t.key->fieldsRead();
    if (read.empty() || !std::all_of(read.begin(), read.end(),
                                     [&](std::size_t f) { return f < pinned.size() && pinned[f]; }))
      continue;
    std::string key(t.entries.keyLength(), '\0');
    try {
      t.key->writeKey(rec, t.nullMarker, key.data());
    } catch (const keyexpr::EvaluationError&) {
      continue;
    }
    std::vector<std::uint32_t> out;
    t.collect(key, out);
    std::sort(out.begin(), out.end());
    return out;
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint32_t>> IndexMaintainer::lookup(
    std::size_t field, const keyexpr::Value& value) const {
  for (const auto& tp : tags_) {
    const Tag& t = *tp;
    if (!t.problem.empty() || t.filter || t.key->bareField() != field) continue;
    keyexpr::Value v = value;
    const keyexpr::Type type = t.key->type();
    const bool numeric = type == keyexpr::Type::Numeric || type == keyexpr::Type::Integer;
    const bool numericValue = v.type == keyexpr::Type::Numeric || v.type == keyexpr::Type::Integer;
    if (v.type != type && !(numeric && numericValue)) continue;
    v.type = type;
    std::vector<std::uint32_t> out;
    std::string prefix;
    if (type == keyexpr::Type::Character) {
      // Text matches every key it begins (SET EXACT OFF); longer text matches none.
      if (v.text.size() > t.key->width()) return out;
      if (t.nullMarker) prefix += static_cast<char>(0x80);
      prefix += v.text;
    } else {
      // A whole number only: an Integer key holds nothing else.
      if (type == keyexpr::Type::Integer && v.number != std::floor(v.number)) return out;
      prefix = keyexpr::encodeKey(v, t.key->width(), t.nullMarker);
    }
    t.collect(prefix, out);
    std::sort(out.begin(), out.end());
    return out;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> IndexMaintainer::build() {
  std::vector<cdx::TagBuild> builds;
  for (auto& t : tags_) {
    // Registered keys join the sorted ones now: they belong in every index written from here on.
    t->settle();
    cdx::TagBuild b;
    b.name = t->info.name;
    b.header = t->info.header;
    b.pad = t->pad;
    b.keys = &t->entries;
    builds.push_back(std::move(b));
  }
  return cdx::buildIndexFile(builds);
}

void IndexMaintainer::write(const std::function<void()>& beforeReplacing) {
  const auto started = std::chrono::steady_clock::now();
  const std::vector<std::uint8_t> bytes = build();
  // A complete new file renamed over the old one: the index is never half written.
  const std::string temp = indexPath_ + ".new";
  {
    File f(temp, File::Mode::Create);
    f.writeAt(0, bytes.data(), bytes.size());
  }
  if (beforeReplacing) {
    try {
      beforeReplacing();
    } catch (...) {
      removeFile(temp);
      throw;
    }
  }
  if (!replaceFile(temp, indexPath_)) {
    removeFile(temp);
    throw Error("Cannot replace index '" + fileNameOf(indexPath_) +
                "': it is in use or read-only.");
  }
  lastWrite_ = std::chrono::steady_clock::now() - started;
}

}  // namespace vfp
