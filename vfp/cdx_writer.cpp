#include "vfp/cdx_writer.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "vfp/bytes.h"

namespace vfp::cdx {

// ------------------------------------------------------------------------------------ KeyList

KeyList KeyList::from(const std::vector<KeyEntry>& entries, std::size_t keyLength) {
  KeyList k(keyLength);
  k.reserve(entries.size());
  for (const auto& e : entries) k.push(e.key, e.recno);
  return k;
}

void KeyList::reserve(std::size_t n) {
  keys_.reserve(n * keyLength_);
  recnos_.reserve(n);
}

void KeyList::push(std::string_view key, std::uint32_t recno) {
  if (key.size() != keyLength_) throw CdxError("key has the wrong length for its tag");
  keys_.insert(keys_.end(), key.begin(), key.end());
  recnos_.push_back(recno);
}

char* KeyList::append(std::uint32_t recno) {
  const std::size_t at = keys_.size();
  keys_.resize(at + keyLength_);
  recnos_.push_back(recno);
  return keys_.data() + at;
}

void KeyList::popBack() {
  keys_.resize(keys_.size() - keyLength_);
  recnos_.pop_back();
}

void KeyList::clear() {
  keys_.clear();
  recnos_.clear();
}

namespace {

// One key while sorting: eight of its bytes, big-endian so that integers order as the bytes do.
struct SortItem {
  std::uint64_t chunk;
  std::uint32_t index;
  std::uint32_t recno;
};

std::uint64_t chunkAt(const char* key, std::size_t keyLength, std::size_t offset) {
  std::uint8_t b[8] = {};
  const std::size_t n = std::min<std::size_t>(8, keyLength - offset);
  std::memcpy(b, key + offset, n);
  return bytes::be64(b);
}

// Stable sort of items[lo, hi) by chunk, a byte at a time from the lowest; bytes all items share
// are skipped.
void radixByChunk(std::vector<SortItem>& items, std::vector<SortItem>& spare, std::size_t lo,
                  std::size_t hi) {
  const std::size_t n = hi - lo;
  std::uint32_t counts[8][256] = {};
  for (std::size_t i = lo; i < hi; ++i)
    for (int b = 0; b < 8; ++b) ++counts[b][(items[i].chunk >> (8 * b)) & 0xFF];
  spare.resize(std::max(spare.size(), n));
  SortItem* from = items.data() + lo;
  SortItem* to = spare.data();
  for (int b = 0; b < 8; ++b) {
    if (counts[b][(from[0].chunk >> (8 * b)) & 0xFF] == n) continue;  // one value: nothing moves
    std::uint32_t at[256];
    std::uint32_t sum = 0;
    for (int v = 0; v < 256; ++v) {
      at[v] = sum;
      sum += counts[b][v];
    }
    for (std::size_t i = 0; i < n; ++i) to[at[(from[i].chunk >> (8 * b)) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != items.data() + lo) std::copy(from, from + n, items.data() + lo);
}

// Sorts items[lo, hi) by their keys from byte `offset` on, eight bytes at a time: the keys'
// bytes are looked at once per pass, never compared through the list. Items enter in record
// number order (and a stable sort keeps it), so ties stay in record order.
void sortFrom(std::vector<SortItem>& items, std::vector<SortItem>& spare, std::size_t lo,
              std::size_t hi, const char* keys, std::size_t keyLength, std::size_t offset) {
  for (std::size_t i = lo; i < hi; ++i)
    items[i].chunk = chunkAt(keys + std::size_t(items[i].index) * keyLength, keyLength, offset);
  if (hi - lo > 512) {
    radixByChunk(items, spare, lo, hi);
  } else {
    std::sort(items.begin() + std::ptrdiff_t(lo), items.begin() + std::ptrdiff_t(hi),
              [](const SortItem& a, const SortItem& b) {
                return a.chunk != b.chunk ? a.chunk < b.chunk : a.recno < b.recno;
              });
  }
  if (offset + 8 >= keyLength) return;
  for (std::size_t i = lo; i < hi;) {
    std::size_t j = i + 1;
    while (j < hi && items[j].chunk == items[i].chunk) ++j;
    if (j - i > 1) sortFrom(items, spare, i, j, keys, keyLength, offset + 8);
    i = j;
  }
}

}  // namespace

void KeyList::sort() {
  const std::size_t n = size();
  const std::size_t kl = keyLength_;
  if (n < 2 || kl == 0) return;
  // Keys that arrive in order (a primary key counted up) need no sorting.
  bool ordered = true;
  for (std::size_t i = 1; i < n && ordered; ++i) {
    const int c = std::memcmp(keyData(i - 1), keyData(i), kl);
    ordered = c < 0 || (c == 0 && recnos_[i - 1] < recnos_[i]);
  }
  if (ordered) return;
  // The stable passes need the items in record order to begin with; anything else is ordered
  // by record number first.
  std::vector<SortItem> items(n);
  for (std::size_t i = 0; i < n; ++i) items[i] = {0, std::uint32_t(i), recnos_[i]};
  if (!std::is_sorted(recnos_.begin(), recnos_.end()))
    std::stable_sort(items.begin(), items.end(),
                     [](const SortItem& a, const SortItem& b) { return a.recno < b.recno; });
  std::vector<SortItem> spare;
  sortFrom(items, spare, 0, n, keys_.data(), kl, 0);
  std::vector<char> keys(keys_.size());
  for (std::size_t i = 0; i < n; ++i) {
    std::memcpy(keys.data() + i * kl, keys_.data() + std::size_t(items[i].index) * kl, kl);
    recnos_[i] = items[i].recno;
  }
  keys_ = std::move(keys);
}

void KeyList::merge(const KeyList& more) {
  if (more.empty()) return;
  if (more.keyLength_ != keyLength_) throw CdxError("keys of different lengths cannot merge");
  const std::size_t kl = keyLength_;
  auto less = [&](const KeyList& x, std::size_t i, const KeyList& y, std::size_t j) {
    const int c = std::memcmp(x.keyData(i), y.keyData(j), kl);
    return c != 0 ? c < 0 : x.recnos_[i] < y.recnos_[j];
  };
  // Appending after the last key (rising keys, the common case) needs no merge.
  if (empty() || !less(more, 0, *this, size() - 1)) {
    keys_.insert(keys_.end(), more.keys_.begin(), more.keys_.end());
    recnos_.insert(recnos_.end(), more.recnos_.begin(), more.recnos_.end());
    return;
  }
  // From the back, in place: the list grows once and no second copy is made.
  std::size_t i = size(), j = more.size(), o = size() + more.size();
  keys_.resize(o * kl);
  recnos_.resize(o);
  while (j > 0) {
    if (i > 0 && less(more, j - 1, *this, i - 1)) {
      --i;
      std::memmove(keys_.data() + (o - 1) * kl, keys_.data() + i * kl, kl);
      recnos_[o - 1] = recnos_[i];
    } else {
      --j;
      std::memcpy(keys_.data() + (o - 1) * kl, more.keyData(j), kl);
      recnos_[o - 1] = more.recnos_[j];
    }
    --o;
  }
}

std::size_t KeyList::lowerBound(std::string_view key) const {
  std::size_t lo = 0, hi = size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (std::memcmp(keyData(mid), key.data(), std::min(key.size(), keyLength_)) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

std::size_t KeyList::find(std::string_view key, std::uint32_t recno) const {
  if (key.size() != keyLength_) return size();
  for (std::size_t i = lowerBound(key); i < size(); ++i) {
    if (std::memcmp(keyData(i), key.data(), keyLength_) != 0) break;
    if (recnos_[i] == recno) return i;
    if (recnos_[i] > recno) break;
  }
  return size();
}

std::vector<KeyEntry> KeyList::entries() const {
  std::vector<KeyEntry> out;
  out.reserve(size());
  for (std::size_t i = 0; i < size(); ++i) out.push_back({std::string(key(i)), recnos_[i]});
  return out;
}

// ------------------------------------------------------------------------------------ builder

namespace {

// An empty tree is one root leaf laid out as FoxPro starts every tree: three-byte entries.
constexpr std::uint8_t kEmptyLeafEntryBytes = 3;

std::size_t trailingPad(const char* k, std::size_t keyLength, std::uint8_t pad) {
  std::size_t n = 0;
  while (n < keyLength && static_cast<std::uint8_t>(k[keyLength - 1 - n]) == pad) ++n;
  return n;
}

// Writes one tree's pages at the end of `out`, the first page at file offset `base`
// (out.size() == base on entry). Returns the root's offset.
class TreeWriter {
 public:
  TreeWriter(std::vector<std::uint8_t>& out, const KeyList& keys, std::uint8_t pad)
      : out_(out), keys_(keys), kl_(keys.keyLength()), pad_(pad) {}

  std::uint32_t write() {
    const auto base = static_cast<std::uint32_t>(out_.size());
    writeLeaves();
    if (parents_.size() <= 1) {
      // The only leaf is the root.
      bytes::putLe16(out_.data() + base + NodeHeader::kAttributesOffset, attr::kLeaf | attr::kRoot);
      return base;
    }
    return writeInterior();
  }

 private:
  struct Parent {
    std::size_t keyIndex;  // last key of the child
    std::uint32_t page;
  };

  std::uint8_t* newPage() {
    out_.resize(out_.size() + kPageSize);
    return out_.data() + out_.size() - kPageSize;
  }
  std::uint32_t pageOffset(const std::uint8_t* p) const {
    return static_cast<std::uint32_t>(p - out_.data());
  }

  // Leaves filled as far as their 488 bytes allow, each entry's layout chosen for the largest
  // record number of its leaf, as FoxPro packs a freshly built tree.
  void writeLeaves() {
    const std::size_t n = keys_.size();
    dup_.clear();
    trail_.clear();
    std::size_t start = 0, count = 0, fragBytes = 0;
    std::uint32_t maxRecno = 0;
    std::size_t prevTrail = 0;
    unsigned layoutBits = 0;
    std::size_t entryBytes = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const char* k = keys_.keyData(i);
      const std::size_t trail = trailingPad(k, kl_, pad_);
      std::size_t dup = 0;
      if (count) {
        const char* prev = keys_.keyData(i - 1);
        const std::size_t limit = kl_ - std::max(trail, prevTrail);
        while (dup < limit && prev[dup] == k[dup]) ++dup;
      }
      std::size_t frag = kl_ - dup - trail;
      const std::uint32_t recno = keys_.recno(i);
      // The entry size changes only when the record numbers need more bits.
      const std::uint32_t most = std::max(maxRecno, recno);
      if (count == 0 || bitLength(most) != layoutBits) {
        layoutBits = bitLength(most);
        entryBytes = LeafNode::layoutFor(kl_, most).entryBytes;
      }
      if (count && (count + 1) * entryBytes + fragBytes + frag > LeafNode::kSpace) {
        emitLeaf(start, i, maxRecno);
        start = i;
        count = fragBytes = 0;
        maxRecno = 0;
        dup = 0;
        frag = kl_ - trail;
      }
      dup_.push_back(static_cast<std::uint16_t>(dup));
      trail_.push_back(static_cast<std::uint16_t>(trail));
      ++count;
      fragBytes += frag;
      maxRecno = std::max(maxRecno, recno);
      prevTrail = trail;
    }
    emitLeaf(start, n, maxRecno);
    // The last leaf has no right neighbour.
    bytes::putLe32(out_.data() + lastLeaf_ + NodeHeader::kRightOffset, kNoPage);
  }

  void emitLeaf(std::size_t from, std::size_t to, std::uint32_t maxRecno) {
    std::uint8_t* p = newPage();
    const std::uint32_t off = pageOffset(p);
    lastLeaf_ = off;
    auto L = LeafNode::layoutFor(kl_, maxRecno);
    const std::size_t count = to - from;
    if (count == 0) {
      const auto base = L;
      L.entryBytes = std::max(base.entryBytes, kEmptyLeafEntryBytes);
      L.recnoBits = static_cast<std::uint8_t>(8 * L.entryBytes - base.dupBits - base.trailBits);
    }
    const bool first = parents_.empty();
    bytes::putLe16(p + NodeHeader::kAttributesOffset, attr::kLeaf);
    bytes::putLe16(p + NodeHeader::kCountOffset, static_cast<std::uint16_t>(count));
    bytes::putLe32(p + NodeHeader::kLeftOffset, first ? kNoPage : off - std::uint32_t(kPageSize));
    bytes::putLe32(p + NodeHeader::kRightOffset, off + std::uint32_t(kPageSize));
    const std::uint64_t recMask = (std::uint64_t{1} << L.recnoBits) - 1;
    std::size_t fragEnd = kPageSize;
    const std::size_t entriesEnd = LeafNode::kEntriesOffset + count * L.entryBytes;
    // dup_/trail_ hold the entries of the leaf being packed, from its first entry on.
    const std::size_t cacheBase = dup_.size() - count;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t dup = dup_[cacheBase + i];
      const std::size_t trail = trail_[cacheBase + i];
      const std::size_t fragLen = kl_ - dup - trail;
      const std::uint32_t recno = keys_.recno(from + i);
      if (recno > recMask) throw CdxError("record number does not fit the leaf layout");
      if (fragEnd < entriesEnd + fragLen) throw CdxError("keys do not fit in one leaf");
      fragEnd -= fragLen;
      std::memcpy(p + fragEnd, keys_.keyData(from + i) + dup, fragLen);
      const std::uint64_t v = std::uint64_t{recno} | (std::uint64_t{dup} << L.recnoBits) |
                              (std::uint64_t{trail} << (L.recnoBits + L.dupBits));
      std::uint8_t* e = p + LeafNode::kEntriesOffset + i * L.entryBytes;
      bytes::putLeN(e, v, L.entryBytes);
    }
    bytes::putLe16(p + LeafNode::kFreeOffset, static_cast<std::uint16_t>(fragEnd - entriesEnd));
    bytes::putLe32(p + LeafNode::kRecnoMaskOffset, static_cast<std::uint32_t>(recMask));
    p[LeafNode::kDupMaskOffset] = static_cast<std::uint8_t>((1u << L.dupBits) - 1);
    p[LeafNode::kTrailMaskOffset] = static_cast<std::uint8_t>((1u << L.trailBits) - 1);
    p[LeafNode::kRecnoBitsOffset] = L.recnoBits;
    p[LeafNode::kDupBitsOffset] = L.dupBits;
    p[LeafNode::kTrailBitsOffset] = L.trailBits;
    p[LeafNode::kEntryBytesOffset] = L.entryBytes;
    dup_.resize(cacheBase);
    trail_.resize(cacheBase);
    if (count) parents_.push_back({to - 1, off});
  }

  std::uint32_t writeInterior() {
    const std::size_t cap = InteriorNode::capacity(kl_);
    if (cap < 2) throw CdxError("key too long for an interior node");
    std::vector<Parent> level = std::move(parents_);
    while (level.size() > 1) {
      const std::size_t count = (level.size() + cap - 1) / cap;
      const auto first = static_cast<std::uint32_t>(out_.size());
      std::vector<Parent> up;
      up.reserve(count);
      for (std::size_t n = 0; n < count; ++n) {
        std::uint8_t* p = newPage();
        const std::uint32_t off = pageOffset(p);
        // Spread children evenly so that no node is left nearly empty.
        const std::size_t from = level.size() * n / count;
        const std::size_t to = level.size() * (n + 1) / count;
        bytes::putLe16(p + NodeHeader::kAttributesOffset, count == 1 ? attr::kRoot : 0);
        bytes::putLe16(p + NodeHeader::kCountOffset, static_cast<std::uint16_t>(to - from));
        bytes::putLe32(p + NodeHeader::kLeftOffset,
                       n == 0 ? kNoPage : first + std::uint32_t((n - 1) * kPageSize));
        bytes::putLe32(p + NodeHeader::kRightOffset,
                       n + 1 == count ? kNoPage : first + std::uint32_t((n + 1) * kPageSize));
        for (std::size_t k = from; k < to; ++k) {
          std::uint8_t* e = p + InteriorNode::kEntriesOffset + (k - from) * (kl_ + 8);
          std::memcpy(e, keys_.keyData(level[k].keyIndex), kl_);
          bytes::putBe32(e + kl_, keys_.recno(level[k].keyIndex));
          bytes::putBe32(e + kl_ + 4, level[k].page);
        }
        up.push_back({level[to - 1].keyIndex, off});
      }
      level = std::move(up);
    }
    return level.front().page;
  }

  std::vector<std::uint8_t>& out_;
  const KeyList& keys_;
  const std::size_t kl_;
  const std::uint8_t pad_;
  std::uint32_t lastLeaf_ = 0;
  std::vector<Parent> parents_;  // one per non-empty leaf
  std::vector<std::uint16_t> dup_, trail_;
};

// The keys of a UNIQUE tag: the first record of each key.
KeyList firstOfEachKey(const KeyList& keys) {
  KeyList out(keys.keyLength());
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (i == 0 || keys.key(i) != keys.key(i - 1)) out.push(keys.key(i), keys.recno(i));
  return out;
}

}  // namespace

void sortEntries(std::vector<KeyEntry>& entries, bool unique) {
  std::sort(entries.begin(), entries.end(), [](const KeyEntry& a, const KeyEntry& b) {
    const int c = a.key.compare(b.key);  // std::string compares as unsigned char
    return c != 0 ? c < 0 : a.recno < b.recno;
  });
  if (unique)
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const KeyEntry& a, const KeyEntry& b) { return a.key == b.key; }),
                  entries.end());
}

std::vector<std::uint8_t> buildIndexFile(const std::vector<TagBuild>& tags) {
  std::set<std::string> names;
  for (const auto& t : tags) {
    if (t.name.empty() || t.name.size() > kTagNameLength)
      throw CdxError("tag name \"" + t.name + "\" must have 1 to 10 characters");
    if (!names.insert(t.name).second) throw CdxError("tag " + t.name + " appears twice");
    if (t.header.keyLength == 0 || t.header.keyLength > kMaxKeyLength)
      throw CdxError("tag " + t.name + " has an invalid key length");
    if (t.keys && t.keys->keyLength() != t.header.keyLength)
      throw CdxError("key has the wrong length for its tag");
  }
  // Keys given as entries are put into the flat form the tree writer reads; UNIQUE tags keep the
  // first record of each key.
  std::vector<KeyList> owned(tags.size());
  std::vector<const KeyList*> keys(tags.size());
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const bool unique = tags[i].header.options & option::kUnique;
    if (!tags[i].keys) {
      owned[i] = KeyList::from(tags[i].entries, tags[i].header.keyLength);
      if (unique) owned[i] = firstOfEachKey(owned[i]);
      keys[i] = &owned[i];
    } else if (unique) {
      owned[i] = firstOfEachKey(*tags[i].keys);
      keys[i] = &owned[i];
    } else {
      keys[i] = tags[i].keys;
    }
  }

  // The directory comes first; its size depends on where the tags start, which depends on its
  // size: start with one page and build again in the rare case that was wrong.
  std::size_t dirPages = 1;
  for (;;) {
    std::vector<std::uint8_t> out(kTagHeaderSize + dirPages * kPageSize, 0);
    std::vector<std::uint32_t> headerAt;
    for (std::size_t i = 0; i < tags.size(); ++i) {
      const auto at = static_cast<std::uint32_t>(out.size());
      headerAt.push_back(at);
      out.resize(out.size() + kTagHeaderSize);
      TagHeader h = tags[i].header;
      h.root = TreeWriter(out, *keys[i], tags[i].pad).write();
      h.freeList = 0;
      const auto hb = h.encode();
      std::memcpy(out.data() + at, hb.data(), hb.size());
    }
    std::vector<KeyEntry> dirEntries;
    for (std::size_t i = 0; i < tags.size(); ++i) {
      std::string key = tags[i].name;
      key.resize(kTagNameLength, ' ');
      dirEntries.push_back({key, headerAt[i]});
    }
    sortEntries(dirEntries, false);
    const KeyList dir = KeyList::from(dirEntries, kTagNameLength);
    std::vector<std::uint8_t> dirBytes(kTagHeaderSize, 0);
    const std::uint32_t dirRoot = TreeWriter(dirBytes, dir, ' ').write();
    const std::size_t pages = (dirBytes.size() - kTagHeaderSize) / kPageSize;
    if (pages != dirPages) {
      dirPages = pages;
      continue;
    }
    std::memcpy(out.data() + kTagHeaderSize, dirBytes.data() + kTagHeaderSize,
                dirBytes.size() - kTagHeaderSize);
    TagHeader fileHeader;
    fileHeader.root = dirRoot;
    fileHeader.keyLength = kTagNameLength;
    fileHeader.options = option::kFileHeader | option::kCompound | option::kCompact;
    fileHeader.signature = signature::kMachine;
    const auto fh = fileHeader.encode();
    std::memcpy(out.data(), fh.data(), fh.size());
    return out;
  }
}

}  // namespace vfp::cdx
