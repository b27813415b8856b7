// On-disk structures of a FoxPro compact compound index (.cdx, and a container's .dcx).
//
// The file is a sequence of 512-byte pages addressed by absolute byte offsets. Each structure here
// decodes itself from, and encodes itself into, the bytes of one page (or of the 1024-byte tag
// header). Decoding is lenient where FoxPro itself is (unused bytes, unknown attribute bits) and
// throws CdxError for anything that would make a walk go wrong; encoding writes only what FoxPro
// writes. Nothing here does file I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "vfp/error.h"

namespace vfp::cdx {

// Every structural fault of an index file: the message names the file/tag/page where known.
class CdxError : public vfp::Error {
 public:
  using vfp::Error::Error;
};

inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kTagHeaderSize = 1024;    // header page + expression pool page
inline constexpr std::uint32_t kNoPage = 0xFFFFFFFFu;  // sibling pointer "none"
inline constexpr std::size_t kMaxKeyLength = 240;
inline constexpr std::size_t kTagNameLength = 10;  // keys of the tag directory

// Tag option bits (tag header offset 14).
namespace option {
inline constexpr std::uint8_t kUnique = 0x01;
inline constexpr std::uint8_t kNullable = 0x02;  // keys carry a leading null-marker byte
inline constexpr std::uint8_t kCandidate = 0x04;
inline constexpr std::uint8_t kHasFor = 0x08;
inline constexpr std::uint8_t kCompact = 0x20;
inline constexpr std::uint8_t kCompound = 0x40;
inline constexpr std::uint8_t kFileHeader = 0x80;
}  // namespace option

// Signature byte (tag header offset 15).
namespace signature {
inline constexpr std::uint8_t kMachine = 1;
inline constexpr std::uint8_t kCollation = 2;
inline constexpr std::uint8_t kBinaryIndex = 5;  // VFP 9 bitmap index: different node format
}  // namespace signature

// The 1024-byte header of one tag (also the shape of the file header at offset 0).
struct TagHeader {
  // Offsets inside the header.
  static constexpr std::size_t kRootOffset = 0;
  static constexpr std::size_t kFreeListOffset = 4;
  static constexpr std::size_t kCounterOffset = 8;
  static constexpr std::size_t kKeyLengthOffset = 12;
  static constexpr std::size_t kOptionsOffset = 14;
  static constexpr std::size_t kSignatureOffset = 15;
  static constexpr std::size_t kCollationOffset = 494;
  static constexpr std::size_t kCollationLength = 8;
  static constexpr std::size_t kDescendingOffset = 502;
  static constexpr std::size_t kForPosOffset = 504;
  static constexpr std::size_t kForLenOffset = 506;
  static constexpr std::size_t kKeyPosOffset = 508;
  static constexpr std::size_t kKeyLenOffset = 510;
  static constexpr std::size_t kPoolOffset = 512;
  static constexpr std::size_t kPoolSize = 512;

  std::uint32_t root = 0;
  std::uint32_t freeList = 0;
  std::uint16_t keyLength = 0;
  std::uint8_t options = option::kCompact | option::kCompound;
  std::uint8_t signature = signature::kMachine;
  std::string collation;  // empty = MACHINE
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;  // empty = no FOR clause

  static TagHeader decode(std::span<const std::uint8_t> bytes);  // needs kTagHeaderSize bytes
  std::array<std::uint8_t, kTagHeaderSize> encode() const;

  bool isMachineCollation() const {
    return signature == signature::kMachine && (collation.empty() || collation == "MACHINE");
  }
};

// Attribute bits of every node (offset 0).
namespace attr {
inline constexpr std::uint16_t kRoot = 0x01;
inline constexpr std::uint16_t kLeaf = 0x02;
}  // namespace attr

struct NodeHeader {
  static constexpr std::size_t kAttributesOffset = 0;
  static constexpr std::size_t kCountOffset = 2;
  static constexpr std::size_t kLeftOffset = 4;
  static constexpr std::size_t kRightOffset = 8;
  static constexpr std::size_t kSize = 12;

  std::uint16_t attributes = 0;
  std::uint16_t keyCount = 0;
  std::uint32_t left = kNoPage;
  std::uint32_t right = kNoPage;

  static NodeHeader decode(std::span<const std::uint8_t> page);
  void encode(std::span<std::uint8_t> page) const;
  bool isLeaf() const { return (attributes & attr::kLeaf) != 0; }
  bool isRoot() const { return (attributes & attr::kRoot) != 0; }
};

// One key with its record number; in an interior node also the child page holding the subtree
// whose largest key this is.
struct NodeEntry {
  std::string key;  // always keyLength bytes
  std::uint32_t recno = 0;
  std::uint32_t child = 0;  // interior nodes only
};

// Interior node: full keys, record number and child offset both big-endian.
struct InteriorNode {
  static constexpr std::size_t kEntriesOffset = NodeHeader::kSize;
  static constexpr std::size_t kSpace = kPageSize - kEntriesOffset;  // 500

  NodeHeader header;
  std::vector<NodeEntry> entries;

  static std::size_t capacity(std::size_t keyLength) { return kSpace / (keyLength + 8); }
  static InteriorNode decode(std::span<const std::uint8_t> page, std::size_t keyLength);
  std::array<std::uint8_t, kPageSize> encode(std::size_t keyLength) const;
};

// Leaf node: bit-packed (record number, duplicate count, trailing count) entries growing up from
// offset 24, key fragments packed downwards from the end of the page.
struct LeafNode {
  static constexpr std::size_t kFreeOffset = 12;
  static constexpr std::size_t kRecnoMaskOffset = 14;
  static constexpr std::size_t kDupMaskOffset = 18;
  static constexpr std::size_t kTrailMaskOffset = 19;
  static constexpr std::size_t kRecnoBitsOffset = 20;
  static constexpr std::size_t kDupBitsOffset = 21;
  static constexpr std::size_t kTrailBitsOffset = 22;
  static constexpr std::size_t kEntryBytesOffset = 23;
  static constexpr std::size_t kEntriesOffset = 24;
  static constexpr std::size_t kSpace = kPageSize - kEntriesOffset;  // 488

  struct Layout {
    std::uint8_t recnoBits = 0;
    std::uint8_t dupBits = 0;
    std::uint8_t trailBits = 0;
    std::uint8_t entryBytes = 0;
  };

  NodeHeader header;
  Layout layout;
  std::vector<NodeEntry> entries;

  // Decodes keys by expanding shared prefixes and restoring dropped trailing `pad` bytes.
  static LeafNode decode(std::span<const std::uint8_t> page, std::size_t keyLength,
                         std::uint8_t pad);
  // The layout FoxPro chooses: duplicate and trailing counts as wide as the key length needs,
  // the fewest entry bytes whose record-number bits cover `maxRecno`.
  static Layout layoutFor(std::size_t keyLength, std::uint32_t maxRecno);
  // How a key is stored after `prev` (nullptr for the first key of a leaf): leading bytes shared
  // with it and trailing pad bytes dropped.
  struct Compression {
    std::size_t dup;
    std::size_t trail;
  };
  static Compression compress(const std::string* prev, const std::string& key,
                              std::size_t keyLength, std::uint8_t pad);
  std::array<std::uint8_t, kPageSize> encode(std::size_t keyLength, std::uint8_t pad) const;
};

// Bit length of n (0 for 0): the width FoxPro gives duplicate/trailing counts for a key length.
unsigned bitLength(std::uint32_t n);

}  // namespace vfp::cdx
