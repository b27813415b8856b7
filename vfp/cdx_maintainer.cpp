#include "vfp/cdx_maintainer.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unordered_set>

#include "vfp/cdx_reader.h"
#include "vfp/cdx_writer.h"
#include "vfp/dbc.h"
#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/keyexpr.h"
#include "vfp/table.h"

namespace vfp {

using cdx::KeyEntry;
using keyexpr::Expression;

namespace {

// A raw record seen through the table header, for the expression evaluator.
class RawRecord : public keyexpr::KeyRecord {
 public:
  RawRecord(const TableHeader& h, const std::vector<int>& fields)
      : header_(h), fields_(fields), nullFlags_(h.nullFlagsField()) {}
  void set(const std::uint8_t* record) { rec_ = record; }

  bool deleted() const override { return rec_[0] == '*'; }
  std::span<const std::uint8_t> raw(std::size_t field) const override {
    const auto& f = header_.fields[std::size_t(fields_[field])];
    return {rec_ + f.offset, f.length};
  }
  bool isNull(std::size_t field) const override {
    const auto& f = header_.fields[std::size_t(fields_[field])];
    return nullFlagBit(rec_, nullFlags_, f.nullBit);
  }

 private:
  const TableHeader& header_;
  const std::vector<int>& fields_;
  const FieldDescriptor* nullFlags_;
  const std::uint8_t* rec_ = nullptr;
};

}  // namespace

struct IndexMaintainer::Tag {
  cdx::TagInfo info;
  std::optional<Expression> key;
  std::optional<Expression> filter;
  std::uint8_t pad = ' ';
  bool unique = false;
  bool candidate = false;
  bool nullMarker = false;
  std::string problem;                    // why it cannot be maintained (only when inspecting)
  std::vector<KeyEntry> entries;          // sorted
  std::vector<KeyEntry> added;            // in append order
  std::unordered_set<std::string> taken;  // candidate tags: keys in use

  std::string describe() const {
    std::string s = "index tag " + info.name + " (" + info.header.keyExpression;
    if (!info.header.forExpression.empty()) s += " FOR " + info.header.forExpression;
    return s + ")";
  }
};

IndexMaintainer::~IndexMaintainer() = default;

std::unique_ptr<IndexMaintainer> IndexMaintainer::open(const std::string& tablePath,
                                                       const std::vector<std::string>& longNames) {
  return prepare(tablePath, longNames, nullptr);
}

std::vector<TagReport> inspectIndex(const std::string& tablePath,
                                    const std::vector<std::string>& longNames) {
  std::vector<TagReport> reports;
  IndexMaintainer::prepare(tablePath, longNames, &reports);
  return reports;
}

std::unique_ptr<IndexMaintainer> IndexMaintainer::prepare(const std::string& tablePath,
                                                          const std::vector<std::string>& longNames,
                                                          std::vector<TagReport>* reports) {
  Table table(tablePath);
  if (!(table.header().tableFlags & tableflag::kHasCdx)) return nullptr;

  std::unique_ptr<IndexMaintainer> m(new IndexMaintainer());
  m->header_ = table.header();
  m->tableName_ = fileNameOf(table.path());
  const bool container = m->header_.tableFlags & tableflag::kIsDatabase;
  const std::string ext = container ? ".dcx" : ".cdx";
  const auto found = findCompanion(table.path(), ext);
  const std::string refuse = "Table '" + m->tableName_ + "' cannot be written: ";
  if (!found)
    throw Error(refuse + "its structural index '" +
                fileNameOf(replaceExtension(table.path(), ext)) + "' is not found.");
  m->indexPath_ = *found;

  std::optional<cdx::IndexFile> file;
  try {
    file = cdx::IndexFile::open(nativePath(m->indexPath_));
  } catch (const cdx::CdxError& e) {
    throw Error(refuse + "its index cannot be read: " + e.what());
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
  keyexpr::KeySchema schema;
  schema.codePageMark = m->header_.codePageMark;
  std::vector<int> fieldIndex;
  for (std::size_t i = 0; i < m->header_.fields.size(); ++i) {
    const auto& f = m->header_.fields[i];
    if (f.isNullFlags() || f.isSystem()) continue;
    keyexpr::FieldDef d;
    d.name = f.name;
    if (fieldIndex.size() < names.size()) d.longName = names[fieldIndex.size()];
    d.type = f.type;
    d.width = int(f.length);
    d.decimals = f.decimals;
    d.nullable = f.isNullable();
    schema.fields.push_back(d);
    fieldIndex.push_back(int(i));
  }

  std::vector<cdx::TagInfo> order = file->tags();
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.headerOffset < b.headerOffset; });
  for (const auto& info : order) {
    auto t = std::make_unique<Tag>();
    t->info = info;
    const auto& h = info.header;
    auto cannot = [&](const std::string& why) {
      return Error(refuse + t->describe() + " cannot be kept up to date: " + why);
    };
    try {
      if (h.signature == cdx::signature::kBinaryIndex)
        throw cannot("it is a binary (bitmap) index.");
      if (!h.isMachineCollation())
        throw cannot("it sorts by the " +
                     (h.collation.empty() ? std::string("unknown") : h.collation) +
                     " collating sequence; only MACHINE indexes can be maintained.");
      try {
        t->key = Expression::compile(h.keyExpression, schema);
        if (!h.forExpression.empty()) {
          t->filter = Expression::compile(h.forExpression, schema);
          if (t->filter->type() != keyexpr::Type::Logical)
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
      if (auto kind = t->key->unverifiedKeyEncoding(); !kind.empty())
        throw cannot("how FoxPro stores " + kind +
                     " keys is not known exactly enough to write them; index a text form "
                     "such as TTOC(t, 1) or STR() instead.");
      t->unique = h.options & cdx::option::kUnique;
      t->candidate = h.options & cdx::option::kCandidate;
      // Keys of nullable expressions carry a null-marker byte, except in candidate tags, whose
      // keys FoxPro never lets be .NULL.
      t->nullMarker = h.options & cdx::option::kNullable;
      if (t->nullMarker ? !t->key->nullable() : (t->key->nullable() && !t->candidate))
        throw cannot("its null-key option does not match the fields of its expression.");
      const std::size_t length = t->key->width() + (t->nullMarker ? 1 : 0);
      if (length != h.keyLength)
        throw cannot("its keys are " + std::to_string(h.keyLength) +
                     " bytes long, but the expression gives " + std::to_string(length) + ".");
      t->pad = t->key->type() == keyexpr::Type::Character ? ' ' : 0;
    } catch (const Error& e) {
      if (!reports) throw;
      t->problem = e.what();
    }
    m->tags_.push_back(std::move(t));
  }

  // Keys of the records already in the table.
  RawRecord rec(m->header_, fieldIndex);
  RecordScanner scan(table);
  while (const std::uint8_t* r = scan.next()) {
    rec.set(r);
    const std::uint32_t recno = scan.recno() + 1;
    for (auto& t : m->tags_) {
      if (!t->problem.empty()) continue;
      try {
        if (t->filter && !t->filter->holds(rec)) continue;
        t->entries.push_back({t->key->key(rec, t->nullMarker), recno});
      } catch (const keyexpr::EvaluationError& e) {
        Error err(refuse + t->describe() + " cannot be computed for record " +
                  std::to_string(recno) + ": " + e.what());
        if (!reports) throw err;
        t->problem = err.what();
        t->entries.clear();
      }
    }
  }
  for (auto& t : m->tags_) {
    cdx::sortEntries(t->entries, t->unique);
    if (t->candidate)
      for (const auto& e : t->entries) t->taken.insert(e.key);
    if (reports) reports->push_back({t->info.name, t->problem, t->entries});
  }
  m->fieldIndex_ = std::move(fieldIndex);
  return m;
}

void IndexMaintainer::add(const std::uint8_t* record, std::uint32_t recno) {
  RawRecord rec(header_, fieldIndex_);
  rec.set(record);
  // All keys first: a refused record must leave every tag as it was.
  std::vector<std::optional<std::string>> keys;
  for (const auto& t : tags_) {
    try {
      if (t->filter && !t->filter->holds(rec)) {
        keys.emplace_back();
        continue;
      }
      keys.emplace_back(t->key->key(rec, t->nullMarker));
    } catch (const keyexpr::EvaluationError& e) {
      throw Error("Table '" + tableName_ + "': " + t->describe() +
                  " cannot be computed for the new record: " + e.what());
    }
    if (t->candidate && t->taken.count(*keys.back()))
      throw Error("Uniqueness of index " + t->info.name + " is violated (table '" + tableName_ +
                  "').");
  }
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    if (!keys[i]) continue;
    if (tags_[i]->candidate) tags_[i]->taken.insert(*keys[i]);
    tags_[i]->added.push_back({std::move(*keys[i]), recno});
  }
}

std::vector<std::uint8_t> IndexMaintainer::build() {
  // Registered keys join the sorted ones now: they belong in every index written from here on.
  for (auto& t : tags_) {
    if (t->added.empty()) continue;
    cdx::sortEntries(t->added, false);
    const auto mid = t->entries.size();
    t->entries.insert(t->entries.end(), std::make_move_iterator(t->added.begin()),
                      std::make_move_iterator(t->added.end()));
    t->added.clear();
    std::inplace_merge(t->entries.begin(), t->entries.begin() + std::ptrdiff_t(mid),
                       t->entries.end(), [](const KeyEntry& x, const KeyEntry& y) {
                         const int c = x.key.compare(y.key);
                         return c != 0 ? c < 0 : x.recno < y.recno;
                       });
    if (t->unique) cdx::sortEntries(t->entries, true);
  }
  // The keys are lent to the builder, not copied: tables can have millions of them.
  std::vector<cdx::TagBuild> builds;
  for (auto& t : tags_) {
    cdx::TagBuild b;
    b.name = t->info.name;
    b.header = t->info.header;
    b.pad = t->pad;
    b.entries = std::move(t->entries);
    builds.push_back(std::move(b));
  }
  auto giveBack = [&] {
    for (std::size_t i = 0; i < tags_.size(); ++i) tags_[i]->entries = std::move(builds[i].entries);
  };
  try {
    auto bytes = cdx::buildIndexFile(builds);
    giveBack();
    return bytes;
  } catch (...) {
    giveBack();
    throw;
  }
}

void IndexMaintainer::write() {
  const std::vector<std::uint8_t> bytes = build();
  // A complete new file renamed over the old one: the index is never half written.
  const std::string temp = indexPath_ + ".new";
  {
    File f(temp, File::Mode::Create);
    f.writeAt(0, bytes.data(), bytes.size());
  }
  if (!replaceFile(temp, indexPath_)) {
    removeFile(temp);
    throw Error("Cannot replace index '" + fileNameOf(indexPath_) +
                "': it is in use or read-only.");
  }
}

}  // namespace vfp
