// Reads a compound index file (.cdx/.dcx) held in memory: its tags and, per tag, every
// (key, record number) pair in index order.
//
// Reading never trusts the file: every page offset is checked against the file size and page
// alignment, cycles and impossible node contents raise CdxError naming the file and the tag, and
// nothing is ever read out of bounds. Tables are read without their index; this is used to check
// and rebuild indexes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "vfp/cdx_format.h"

namespace vfp::cdx {

struct TagInfo {
  std::string name;                // upper case, without padding
  std::uint32_t headerOffset = 0;  // where its 1024-byte header starts
  TagHeader header;
};

struct KeyEntry {
  std::string key;
  std::uint32_t recno = 0;
  friend bool operator==(const KeyEntry&, const KeyEntry&) = default;
};

class IndexFile {
 public:
  // Reads the whole file; throws CdxError when it cannot be read or its header/directory is bad.
  static IndexFile open(const std::filesystem::path& path);
  static IndexFile fromBytes(std::vector<std::uint8_t> bytes, std::string displayName);

  const std::string& displayName() const { return name_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  const TagHeader& fileHeader() const { return fileHeader_; }
  // Tags in directory (name) order.
  const std::vector<TagInfo>& tags() const { return tags_; }
  const TagInfo* findTag(std::string_view name) const;

  // Calls `visit` for every key of `tag` in index order. Trailing bytes dropped by compression are
  // restored as `pad`: 0x20 for character keys, 0x00 for every other kind.
  void forEachKey(
      const TagInfo& tag, std::uint8_t pad,
      const std::function<void(const std::string& key, std::uint32_t recno)>& visit) const;
  std::vector<KeyEntry> keys(const TagInfo& tag, std::uint8_t pad) const;

  // Every page offset reachable from `tag`'s root, leaves in key order, each interior node before
  // its children. Used to compare page contents with a rebuilt file.
  std::vector<std::uint32_t> pagesOf(const TagInfo& tag) const;

 private:
  std::span<const std::uint8_t> page(std::uint32_t offset, std::size_t size,
                                     const std::string& what) const;
  void walk(std::uint32_t root, std::size_t keyLength, std::uint8_t pad, const std::string& what,
            const std::function<void(const LeafNode&, std::uint32_t)>& onLeaf,
            const std::function<void(std::uint32_t)>& onPage) const;

  std::string name_;
  std::vector<std::uint8_t> bytes_;
  TagHeader fileHeader_;
  std::vector<TagInfo> tags_;
};

}  // namespace vfp::cdx
