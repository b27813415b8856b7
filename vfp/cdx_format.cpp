#include "vfp/cdx_format.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "vfp/bytes.h"

namespace vfp::cdx {

using namespace vfp::bytes;

unsigned bitLength(std::uint32_t n) { return unsigned(std::bit_width(n)); }

namespace {

std::string poolString(std::span<const std::uint8_t> pool, std::size_t pos, std::size_t len) {
  // Lengths include the terminating NUL; a length of 0 or 1 means "no expression".
  if (len <= 1) return {};
  if (pos >= pool.size()) throw CdxError("expression lies outside the tag header");
  len = std::min(len - 1, pool.size() - pos);
  std::string s(reinterpret_cast<const char*>(pool.data() + pos), len);
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

}  // namespace

TagHeader TagHeader::decode(std::span<const std::uint8_t> b) {
  if (b.size() < kTagHeaderSize) throw CdxError("tag header is truncated");
  TagHeader h;
  h.root = le32(&b[kRootOffset]);
  h.freeList = le32(&b[kFreeListOffset]);
  h.keyLength = le16(&b[kKeyLengthOffset]);
  h.options = b[kOptionsOffset];
  h.signature = b[kSignatureOffset];
  const char* coll = reinterpret_cast<const char*>(&b[kCollationOffset]);
  h.collation.assign(coll, strnlen(coll, kCollationLength));
  h.descending = le16(&b[kDescendingOffset]) != 0;
  auto pool = b.subspan(kPoolOffset, kPoolSize);
  h.keyExpression = poolString(pool, le16(&b[kKeyPosOffset]), le16(&b[kKeyLenOffset]));
  h.forExpression = poolString(pool, le16(&b[kForPosOffset]), le16(&b[kForLenOffset]));
  return h;
}

std::array<std::uint8_t, kTagHeaderSize> TagHeader::encode() const {
  std::array<std::uint8_t, kTagHeaderSize> b{};
  if (keyExpression.size() + forExpression.size() + 2 > kPoolSize)
    throw CdxError("index expressions are too long for the tag header");
  if (collation.size() > kCollationLength) throw CdxError("collation name is too long");
  putLe32(&b[kRootOffset], root);
  putLe32(&b[kFreeListOffset], freeList);
  putLe16(&b[kKeyLengthOffset], keyLength);
  b[kOptionsOffset] = options;
  b[kSignatureOffset] = signature;
  std::memcpy(&b[kCollationOffset], collation.data(), collation.size());
  putLe16(&b[kDescendingOffset], descending ? 1 : 0);
  // Pool: key expression, NUL, FOR expression, NUL.
  const auto keyLen = static_cast<std::uint16_t>(keyExpression.size() + 1);
  const auto forLen = static_cast<std::uint16_t>(forExpression.size() + 1);
  std::memcpy(&b[kPoolOffset], keyExpression.data(), keyExpression.size());
  std::memcpy(&b[kPoolOffset + keyLen], forExpression.data(), forExpression.size());
  putLe16(&b[kKeyPosOffset], 0);
  putLe16(&b[kKeyLenOffset], keyLen);
  putLe16(&b[kForPosOffset], keyLen);
  putLe16(&b[kForLenOffset], forLen);
  return b;
}

NodeHeader NodeHeader::decode(std::span<const std::uint8_t> page) {
  if (page.size() < kPageSize) throw CdxError("index page is truncated");
  NodeHeader h;
  h.attributes = le16(&page[kAttributesOffset]);
  h.keyCount = le16(&page[kCountOffset]);
  h.left = le32(&page[kLeftOffset]);
  h.right = le32(&page[kRightOffset]);
  return h;
}

void NodeHeader::encode(std::span<std::uint8_t> page) const {
  putLe16(&page[kAttributesOffset], attributes);
  putLe16(&page[kCountOffset], keyCount);
  putLe32(&page[kLeftOffset], left);
  putLe32(&page[kRightOffset], right);
}

InteriorNode InteriorNode::decode(std::span<const std::uint8_t> page, std::size_t keyLength) {
  InteriorNode n;
  n.header = NodeHeader::decode(page);
  if (n.header.keyCount > capacity(keyLength))
    throw CdxError("interior node claims " + std::to_string(n.header.keyCount) +
                   " keys, more than fit in a page");
  const std::size_t stride = keyLength + 8;
  for (std::size_t i = 0; i < n.header.keyCount; ++i) {
    const std::uint8_t* e = &page[kEntriesOffset + i * stride];
    NodeEntry entry;
    entry.key.assign(reinterpret_cast<const char*>(e), keyLength);
    entry.recno = be32(e + keyLength);
    entry.child = be32(e + keyLength + 4);
    n.entries.push_back(std::move(entry));
  }
  return n;
}

std::array<std::uint8_t, kPageSize> InteriorNode::encode(std::size_t keyLength) const {
  if (entries.size() > capacity(keyLength)) throw CdxError("too many keys for an interior node");
  std::array<std::uint8_t, kPageSize> page{};
  NodeHeader h = header;
  h.keyCount = static_cast<std::uint16_t>(entries.size());
  h.encode(page);
  const std::size_t stride = keyLength + 8;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint8_t* e = &page[kEntriesOffset + i * stride];
    std::memcpy(e, entries[i].key.data(), std::min(keyLength, entries[i].key.size()));
    putBe32(e + keyLength, entries[i].recno);
    putBe32(e + keyLength + 4, entries[i].child);
  }
  return page;
}

LeafNode LeafNode::decode(std::span<const std::uint8_t> page, std::size_t keyLength,
                          std::uint8_t pad) {
  LeafNode n;
  n.header = NodeHeader::decode(page);
  n.layout.recnoBits = page[kRecnoBitsOffset];
  n.layout.dupBits = page[kDupBitsOffset];
  n.layout.trailBits = page[kTrailBitsOffset];
  n.layout.entryBytes = page[kEntryBytesOffset];
  const auto& L = n.layout;
  const std::size_t count = n.header.keyCount;
  if (count == 0) return n;
  if (L.entryBytes == 0 || L.entryBytes > 8 ||
      unsigned{L.recnoBits} + L.dupBits + L.trailBits > 8u * L.entryBytes || L.recnoBits > 32 ||
      L.dupBits > 16 || L.trailBits > 16)
    throw CdxError("leaf node has impossible bit widths (" + std::to_string(L.recnoBits) + "/" +
                   std::to_string(L.dupBits) + "/" + std::to_string(L.trailBits) + " in " +
                   std::to_string(L.entryBytes) + " bytes)");
  if (count * L.entryBytes > kSpace)
    throw CdxError("leaf node claims " + std::to_string(count) + " keys, more than fit in a page");

  const std::uint64_t recMask = (std::uint64_t{1} << L.recnoBits) - 1;
  const std::uint64_t dupMask = (std::uint64_t{1} << L.dupBits) - 1;
  const std::uint64_t trailMask = (std::uint64_t{1} << L.trailBits) - 1;
  const std::size_t entriesEnd = kEntriesOffset + count * L.entryBytes;
  std::size_t fragEnd = kPageSize;
  std::string prev;
  n.entries.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t v = leN(&page[kEntriesOffset + i * L.entryBytes], L.entryBytes);
    const std::uint32_t recno = static_cast<std::uint32_t>(v & recMask);
    const std::size_t dup = (v >> L.recnoBits) & dupMask;
    const std::size_t trail = (v >> (L.recnoBits + L.dupBits)) & trailMask;
    if (dup > prev.size() || dup + trail > keyLength)
      throw CdxError("leaf entry " + std::to_string(i) + " has inconsistent key compression");
    const std::size_t fragLen = keyLength - dup - trail;
    if (fragEnd < entriesEnd + fragLen)
      throw CdxError("leaf entry " + std::to_string(i) + " overlaps the entry table");
    fragEnd -= fragLen;
    NodeEntry e;
    e.recno = recno;
    e.key.reserve(keyLength);
    e.key.assign(prev, 0, dup);
    e.key.append(reinterpret_cast<const char*>(&page[fragEnd]), fragLen);
    e.key.append(trail, static_cast<char>(pad));
    prev = e.key;
    n.entries.push_back(std::move(e));
  }
  return n;
}

LeafNode::Layout LeafNode::layoutFor(std::size_t keyLength, std::uint32_t maxRecno) {
  Layout L;
  L.dupBits = L.trailBits =
      static_cast<std::uint8_t>(bitLength(static_cast<std::uint32_t>(keyLength)));
  const unsigned need = bitLength(maxRecno);
  unsigned n = 1;
  while (8 * n < need + L.dupBits + L.trailBits) ++n;
  L.entryBytes = static_cast<std::uint8_t>(n);
  L.recnoBits = static_cast<std::uint8_t>(8 * n - L.dupBits - L.trailBits);
  return L;
}

LeafNode::Compression LeafNode::compress(const std::string* prev, const std::string& key,
                                         std::size_t keyLength, std::uint8_t pad) {
  // FoxPro drops the trailing padding first and shares a prefix only with the bytes the previous
  // key actually stored: two equal character keys share their text, not their padding.
  auto trailing = [&](const std::string& k) {
    std::size_t n = 0;
    while (n < keyLength && static_cast<std::uint8_t>(k[keyLength - 1 - n]) == pad) ++n;
    return n;
  };
  const std::size_t trail = trailing(key);
  std::size_t dup = 0;
  if (prev) {
    const std::size_t limit = keyLength - std::max(trail, trailing(*prev));
    while (dup < limit && (*prev)[dup] == key[dup]) ++dup;
  }
  return {dup, trail};
}

std::array<std::uint8_t, kPageSize> LeafNode::encode(std::size_t keyLength,
                                                     std::uint8_t pad) const {
  std::array<std::uint8_t, kPageSize> page{};
  NodeHeader h = header;
  h.keyCount = static_cast<std::uint16_t>(entries.size());
  h.encode(page);
  const auto& L = layout;
  const std::uint64_t recMask = (std::uint64_t{1} << L.recnoBits) - 1;
  std::size_t fragEnd = kPageSize;
  const std::size_t entriesEnd = kEntriesOffset + entries.size() * L.entryBytes;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const NodeEntry& e = entries[i];
    if (e.key.size() != keyLength) throw CdxError("key has the wrong length for its tag");
    if (e.recno > recMask) throw CdxError("record number does not fit the leaf layout");
    auto c = compress(i ? &entries[i - 1].key : nullptr, e.key, keyLength, pad);
    const std::size_t fragLen = keyLength - c.dup - c.trail;
    if (fragEnd < entriesEnd + fragLen) throw CdxError("keys do not fit in one leaf");
    fragEnd -= fragLen;
    std::memcpy(&page[fragEnd], e.key.data() + c.dup, fragLen);
    const std::uint64_t v = std::uint64_t{e.recno} | (std::uint64_t{c.dup} << L.recnoBits) |
                            (std::uint64_t{c.trail} << (L.recnoBits + L.dupBits));
    putLeN(&page[kEntriesOffset + i * L.entryBytes], v, L.entryBytes);
  }
  putLe16(&page[kFreeOffset], static_cast<std::uint16_t>(fragEnd - entriesEnd));
  putLe32(&page[kRecnoMaskOffset], static_cast<std::uint32_t>(recMask));
  page[kDupMaskOffset] = static_cast<std::uint8_t>((1u << L.dupBits) - 1);
  page[kTrailMaskOffset] = static_cast<std::uint8_t>((1u << L.trailBits) - 1);
  page[kRecnoBitsOffset] = L.recnoBits;
  page[kDupBitsOffset] = L.dupBits;
  page[kTrailBitsOffset] = L.trailBits;
  page[kEntryBytesOffset] = L.entryBytes;
  return page;
}

}  // namespace vfp::cdx
