// Builds a whole compound index file from sorted keys, the way FoxPro lays out a freshly
// created index: file header at 0, tag directory at 1024, then each tag's 1024-byte header
// followed by its leaves (packed left to right) and interior levels.
//
// Keys travel in a KeyList: every key of a tag has the tag's key length, so they are held flat,
// one block of bytes and one array of record numbers. A million 8-byte keys take 12 MB, and the
// builder packs them without copying a key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vfp/cdx_format.h"
#include "vfp/cdx_reader.h"

namespace vfp::cdx {

// (key, record number) pairs of one tag, every key keyLength() bytes.
class KeyList {
 public:
  KeyList() = default;
  explicit KeyList(std::size_t keyLength) : keyLength_(keyLength) {}
  static KeyList from(const std::vector<KeyEntry>& entries, std::size_t keyLength);

  std::size_t keyLength() const { return keyLength_; }
  std::size_t size() const { return recnos_.size(); }
  bool empty() const { return recnos_.empty(); }
  const char* keyData(std::size_t i) const { return keys_.data() + i * keyLength_; }
  std::string_view key(std::size_t i) const { return {keyData(i), keyLength_}; }
  std::uint32_t recno(std::size_t i) const { return recnos_[i]; }
  // Bytes held, for memory accounting.
  std::size_t capacityBytes() const { return keys_.capacity() + recnos_.capacity() * 4; }

  void reserve(std::size_t n);
  // Throws CdxError when key is not keyLength() bytes.
  void push(std::string_view key, std::uint32_t recno);
  // Room for one more key at the end: the caller writes keyLength() bytes there.
  char* append(std::uint32_t recno);
  void popBack();
  void clear();
  // Removes the entries for which drop(i) is true, keeping the order of the rest.
  template <class Drop>
  void eraseIf(Drop drop);

  // Index order: bytewise by key, ties by record number.
  void sort();
  // Merges another sorted list into this sorted one.
  void merge(const KeyList& sorted);
  // Position of (key, recno) in a sorted list, or size() when absent.
  std::size_t find(std::string_view key, std::uint32_t recno) const;
  // First position whose key is not less than key.
  std::size_t lowerBound(std::string_view key) const;

  std::vector<KeyEntry> entries() const;

 private:
  std::size_t keyLength_ = 0;
  std::vector<char> keys_;
  std::vector<std::uint32_t> recnos_;
};

template <class Drop>
void KeyList::eraseIf(Drop drop) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < size(); ++i) {
    if (drop(i)) continue;
    if (out != i) {
      std::copy(keyData(i), keyData(i) + keyLength_, keys_.data() + out * keyLength_);
      recnos_[out] = recnos_[i];
    }
    ++out;
  }
  keys_.resize(out * keyLength_);
  recnos_.resize(out);
}

struct TagBuild {
  std::string name;               // stored upper case, at most 10 characters
  TagHeader header;               // root is filled in by the builder
  std::vector<KeyEntry> entries;  // in index order, every key header.keyLength bytes
  const KeyList* keys = nullptr;  // used instead of entries when set (same order rule)
  std::uint8_t pad = ' ';         // dropped trailing byte: 0x20 character keys, 0x00 others
};

// Tags are written in the order given (FoxPro keeps creation order); the directory lists them
// by name. A tag with the UNIQUE option keeps only the first record of each key. Throws CdxError
// for keys of the wrong length or duplicate tag names.
std::vector<std::uint8_t> buildIndexFile(const std::vector<TagBuild>& tags);

// Sorts (key, record number) pairs into index order: bytewise by key, ties by record number;
// for UNIQUE tags keeps only the first record of each key.
void sortEntries(std::vector<KeyEntry>& entries, bool unique);

}  // namespace vfp::cdx
