// What both directions of "send only what changed" share: the counts and report lines of a
// table, the bytes a row's key is matched by, the 64-bit hashes rows are compared by, and the
// sorted list of one side's keys the other side's rows are looked up in.
//
// A row is kept as its key's bytes and one hash of its values; a changed row whose hash happens
// to equal the old one's (one chance in 2^64) would not be seen.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace transfer {

// What one table's comparison found; the keys are shown as the source's values give them.
struct SyncTableCounts {
  std::string table;
  long long inserts = 0, updates = 0, deletes = 0;
  long long targetOnly = 0;  // rows only the target has (deleted when asked, else left alone)
  std::vector<std::string> insertKeys, updateKeys, targetOnlyKeys;  // the first few
};

struct SyncOutcome {
  std::vector<SyncTableCounts> tables;  // the tables compared
  int leftOut = 0;                      // tables reported through tableLeftOut
  long long statements = 0;             // INSERT, UPDATE and DELETE lines in the script
};

// Keys the report names per kind of change.
inline constexpr std::size_t kSyncKeysShown = 5;

// Adds a key to the first few kept for the report.
void KeepShownKey(std::vector<std::string>& keys, std::string shown);

// "items: 2 rows to insert (keys 7; 9), 1 row to update (key 3), ..." or "items: no changes".
// target names the other side for its own rows ("MySQL", "FoxPro").
std::string SyncReportLine(const SyncTableCounts& counts, bool deleting, const std::string& target);

// Decimal text without blanks, a plus sign, leading or trailing zeros: 2.5 and 02.500 are one.
std::string DecimalText(std::string_view s);

// A key part appended with its length, so ("ab","c") and ("a","bc") differ.
void AppendKeyPart(std::string& key, std::string_view part);
// The parts of such a key joined by ", ", for the report.
std::string ShownKey(std::string_view key);

// Hashes of one value (nullopt: NULL, which differs from every text, the empty one too) and of a
// row's value hashes in order.
// Inline: they are called for every value of millions of rows.
inline std::uint64_t SyncMix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  return h ^ (h >> 33);
}
inline std::uint64_t ValueHash(std::optional<std::string_view> text) {
  if (!text) return 0x6e756c6c6e756c6cULL;
  return SyncMix(std::hash<std::string_view>{}(*text) + text->size());
}
inline std::uint64_t RowHash(const std::vector<std::uint64_t>& columns) {
  std::uint64_t h = 0x9e3779b97f4a7c15ULL;
  for (std::uint64_t c : columns) h = SyncMix(h ^ c) + 0x9e3779b97f4a7c15ULL;
  return h;
}

// One side's rows by key: each key's bytes and a hash of the row's values, in the order added,
// then sorted for lookups. An entry is known by its place in the order added.
class KeyedRows {
 public:
  void add(std::string_view key, std::uint64_t hash);
  // After the last add: sorts; then the first two entries of one key, if any.
  std::optional<std::pair<std::size_t, std::size_t>> sortAndFindDuplicate();
  // The entry of that key (after sorting), or nullopt.
  std::optional<std::size_t> find(std::string_view key) const;
  // The same, trying first the entry after the one `near` found last: the other side's rows,
  // when they come in key order (a MySQL table by its primary key), are then found at once.
  std::optional<std::size_t> find(std::string_view key, std::size_t& near) const;
  std::string_view key(std::size_t entry) const {
    return std::string_view(keys_).substr(entries_[entry].keyAt, entries_[entry].keyLength);
  }
  std::uint64_t hash(std::size_t entry) const { return entries_[entry].hash; }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint64_t keyAt;
    std::uint32_t keyLength;
    std::uint64_t hash;
  };
  std::string keys_;
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> order_;  // entries by key
};

}  // namespace transfer
