// Keeps a table's structural compound index (.cdx; a container's .dcx) exact while records are
// appended, by rebuilding it from the table's records.
//
// FoxPro trusts its index blindly: a key missing for an appended record makes that record
// invisible to SEEK and ordered views. So a writer either keeps every tag right or refuses to
// write. IndexMaintainer::open decides that before anything is written:
// - it reads the tag definitions of the existing index (the tree pages may be stale or damaged:
//   they are rebuilt anyway);
// - every tag must use MACHINE collation and expressions keyexpr can evaluate, with the key
//   length and null option the expression implies; otherwise vfp::Error names the table, the
//   tag and its expression;
// - every existing record's keys are computed (and kept in memory), so a record whose key
//   cannot be computed also refuses the write up front.
// add() computes a new record's keys and refuses it (changing nothing) when that fails or when
// it would duplicate the key of a candidate/primary tag, as FoxPro does. write() replaces the
// index file in one step (a new file renamed over the old one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vfp/cdx_reader.h"
#include "vfp/dbf_header.h"

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

class IndexMaintainer {
 public:
  ~IndexMaintainer();
  IndexMaintainer(const IndexMaintainer&) = delete;
  IndexMaintainer& operator=(const IndexMaintainer&) = delete;

  // nullptr when the table has no structural index (header flag clear). longNames are the
  // container's names of the table's user fields, in field order; index expressions of member
  // tables are written with them. Empty for free tables.
  static std::unique_ptr<IndexMaintainer> open(const std::string& tablePath,
                                               const std::vector<std::string>& longNames = {});

  // Registers the keys of a record about to be appended as record number recno (1-based).
  // Throws vfp::Error, changing nothing, when the record cannot be indexed.
  void add(const std::uint8_t* record, std::uint32_t recno);
  // The whole index file for every record known so far.
  std::vector<std::uint8_t> build();
  // Replaces the index file with build()'s bytes.
  void write();

  const std::string& indexPath() const { return indexPath_; }

 private:
  struct Tag;
  friend std::vector<TagReport> inspectIndex(const std::string&, const std::vector<std::string>&);
  IndexMaintainer() = default;
  // open(), or with reports given: tag problems are recorded there instead of thrown.
  static std::unique_ptr<IndexMaintainer> prepare(const std::string& tablePath,
                                                  const std::vector<std::string>& longNames,
                                                  std::vector<TagReport>* reports);

  std::string tableName_;
  std::string indexPath_;
  TableHeader header_;
  std::vector<int> fieldIndex_;             // header field of each expression field
  std::vector<std::unique_ptr<Tag>> tags_;  // in the file's physical order
};

}  // namespace vfp
