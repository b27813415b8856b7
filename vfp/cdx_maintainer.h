// Keeps a table's structural compound index (.cdx; a container's .dcx) exact while records are
// appended or changed, by rebuilding it from the keys of the table's records, and adds tags to
// it.
//
// FoxPro trusts its index blindly: a key missing for an appended record makes that record
// invisible to SEEK and ordered views. So a writer either keeps every tag right or refuses to
// write. IndexMaintainer::open decides that before anything is written:
// - it reads the tag definitions of the existing index (the tree pages may be stale or damaged:
//   they are rebuilt anyway);
// - every tag must use MACHINE collation and expressions keyexpr can evaluate, with the key
//   length and null option the expression implies; otherwise vfp::Error names the table, the
//   tag and its expression;
// - every existing record's keys are computed (and kept in memory, flat: about key length + 4
//   bytes per record and tag), so a record whose key cannot be computed also refuses the write
//   up front.
// add() computes a new record's keys and refuses it (changing nothing) when that fails or when
// it would duplicate the key of a candidate/primary tag, as FoxPro does. write() replaces the
// index file in one step (a new file renamed over the old one). Rebuilding costs time in
// proportion to the table's size; writers call it once per batch of records and let batches grow
// with the index (TableWriter), so appending a million rows stays linear.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vfp/cdx_reader.h"
#include "vfp/dbf_header.h"
#include "vfp/keyexpr.h"

namespace vfp {

// One tag as inspectIndex sees it.
struct TagReport {
  std::string name;
  std::string problem;              // empty when the engine can maintain the tag
  std::vector<cdx::KeyEntry> keys;  // its keys computed from the records, in index order
};

// Every tag of a table's structural index, each either with the keys the engine computes for it
// or with the reason it cannot be maintained; writes nothing. Diagnostics and checks use it;
// IndexMaintainer::open refuses a whole table at its first such problem. Throws vfp::Error for
// problems of the file itself (no index, unreadable directory, missing container).
std::vector<TagReport> inspectIndex(const std::string& tablePath,
                                    const std::vector<std::string>& longNames = {});

// A tag to be made by INDEX ON (or a key clause of CREATE TABLE / ALTER TABLE).
struct TagDefinition {
  std::string name;        // at most 10 characters; stored upper case
  std::string expression;  // as written; member tables may use the container's long names
  std::string filter;      // FOR expression, empty for none
  bool candidate = false;  // primary keys are candidate tags the container marks as primary
  bool unique = false;     // UNIQUE: the first record of each key only
  bool descending = false;
};

class IndexMaintainer {
 public:
  ~IndexMaintainer();
  IndexMaintainer(const IndexMaintainer&) = delete;
  IndexMaintainer& operator=(const IndexMaintainer&) = delete;

  // nullptr when the table has no structural index (header flag clear). longNames are the
  // container's names of the table's user fields, in field order; index expressions of member
  // tables are written with them. Empty: read from the container when the table is a member.
  static std::unique_ptr<IndexMaintainer> open(const std::string& tablePath,
                                               const std::vector<std::string>& longNames = {});

  // Adds the tag to the table's structural index, or replaces the tag of that name, with the
  // keys of every record: writes the index (creating it, named after the table, when the table
  // has none) and then sets the table's index flag. Throws vfp::Error before writing anything
  // when the expression cannot be maintained, a key is too long, or a candidate tag would hold a
  // key twice ("Uniqueness of index NAME is violated").
  static void addTag(const std::string& tablePath, const TagDefinition& tag,
                     const std::vector<std::string>& longNames = {});

  // Registers the keys of a record about to be appended as record number recno (1-based).
  // Throws vfp::Error, changing nothing, when the record cannot be indexed.
  void add(const std::uint8_t* record, std::uint32_t recno);
  // Registers that record recno (1-based) changes from `before` to `after` (UPDATE, or DELETE
  // marking it). Throws vfp::Error, changing nothing, when a key cannot be computed or would
  // duplicate another record's in a candidate tag ("Uniqueness of index NAME is violated.").
  void change(const std::uint8_t* before, const std::uint8_t* after, std::uint32_t recno);
  // The record numbers (1-based, ascending) whose value of schema field `field` may equal value,
  // read from a tag whose key is that field alone and which has no FOR clause (text: every key
  // the text begins); nullopt when no tag is such. Callers still test each record.
  std::optional<std::vector<std::uint32_t>> lookup(std::size_t field,
                                                   const keyexpr::Value& value) const;
  // The record numbers (1-based, ascending) whose key equals that of `record` in a tag without a
  // FOR clause whose key reads only fields marked in pinned (schema fields): for a condition
  // that pins every field of a compound key; nullopt when no tag is such.
  std::optional<std::vector<std::uint32_t>> lookupRecord(const std::uint8_t* record,
                                                         const std::vector<bool>& pinned) const;
  // The fields the index expressions name, with their header fields.
  const keyexpr::KeySchema& schema() const;
  const std::vector<int>& schemaFields() const { return fieldIndex_; }
  // The whole index file for every record known so far.
  std::vector<std::uint8_t> build();
  // Replaces the index file with build()'s bytes.
  // beforeReplacing runs once the new file is complete and before it takes the old one's place:
  // the table's records changed in place and its record count go to the file there, so that
  // records and index disagree only between those writes and the rename.
  void write(const std::function<void()>& beforeReplacing = {});
  // How long the last write() took: what one more batch costs.
  std::chrono::steady_clock::duration lastWriteTime() const { return lastWrite_; }

  const std::string& indexPath() const { return indexPath_; }

 private:
  struct Tag;
  friend std::vector<TagReport> inspectIndex(const std::string&, const std::vector<std::string>&);
  IndexMaintainer();
  // open(), or with reports given: tag problems are recorded there instead of thrown.
  static std::unique_ptr<IndexMaintainer> prepare(const std::string& tablePath,
                                                  const std::vector<std::string>& longNames,
                                                  std::vector<TagReport>* reports,
                                                  bool withoutIndex = false);
  // Compiles and checks a tag's expressions against the table; throws what cannot be kept.
  void bind(Tag& t) const;

  std::string tableName_;
  std::string indexPath_;
  TableHeader header_;
  std::vector<int> fieldIndex_;  // header field of each expression field
  keyexpr::KeySchema schema_;
  std::vector<std::unique_ptr<Tag>> tags_;  // in the file's physical order
  std::chrono::steady_clock::duration lastWrite_{};
};

}  // namespace vfp
