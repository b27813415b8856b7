#include "vfp/cdx_writer.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace vfp::cdx {

namespace {

// An empty tree is one root leaf laid out as FoxPro starts every tree: three-byte entries.
constexpr std::uint8_t kEmptyLeafEntryBytes = 3;

using Page = std::array<std::uint8_t, kPageSize>;

std::size_t fragmentLength(const std::string* prev, const std::string& key, std::size_t keyLength,
                           std::uint8_t pad) {
  const auto c = LeafNode::compress(prev, key, keyLength, pad);
  return keyLength - c.dup - c.trail;
}

// Splits sorted entries into leaves, filling each leaf as far as its 488 bytes allow. Returns
// where each leaf starts, and entries.size() last.
std::vector<std::size_t> packLeaves(const std::vector<KeyEntry>& entries, std::size_t keyLength,
                                    std::uint8_t pad) {
  std::vector<std::size_t> starts = {0};
  std::size_t count = 0;
  std::size_t fragBytes = 0;
  std::uint32_t maxRecno = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    if (e.key.size() != keyLength) throw CdxError("key has the wrong length for its tag");
    std::size_t frag = fragmentLength(count ? &entries[i - 1].key : nullptr, e.key, keyLength, pad);
    const auto layout = LeafNode::layoutFor(keyLength, std::max(maxRecno, e.recno));
    if (count && (count + 1) * layout.entryBytes + fragBytes + frag > LeafNode::kSpace) {
      starts.push_back(i);
      count = fragBytes = 0;
      maxRecno = 0;
      frag = fragmentLength(nullptr, e.key, keyLength, pad);
    }
    ++count;
    fragBytes += frag;
    maxRecno = std::max(maxRecno, e.recno);
  }
  starts.push_back(entries.size());
  return starts;
}

struct Tree {
  std::vector<Page> pages;  // written consecutively from the tree's base offset
  std::uint32_t root = 0;
};

std::size_t interiorCapacity(std::size_t keyLength) {
  const std::size_t cap = InteriorNode::capacity(keyLength);
  if (cap < 2) throw CdxError("key too long for an interior node");
  return cap;
}

// Pages a tree of these entries takes: its leaves and every interior level.
std::size_t treePageCount(const std::vector<KeyEntry>& entries, std::size_t keyLength,
                          std::uint8_t pad) {
  std::size_t level = packLeaves(entries, keyLength, pad).size() - 1;
  if (level == 0) level = 1;  // an empty tree still has its root leaf
  std::size_t pages = level;
  const std::size_t cap = interiorCapacity(keyLength);
  while (level > 1) {
    level = (level + cap - 1) / cap;
    pages += level;
  }
  return pages;
}

Tree buildTree(const std::vector<KeyEntry>& entries, std::size_t keyLength, std::uint8_t pad,
               std::uint32_t base) {
  auto starts = packLeaves(entries, keyLength, pad);
  if (starts.size() == 2 && starts[0] == starts[1]) starts = {0, 0};  // empty: one empty leaf
  const std::size_t leaves = std::max<std::size_t>(starts.size() - 1, 1);
  Tree t;
  auto offsetOf = [&](std::size_t index) {
    return static_cast<std::uint32_t>(base + index * kPageSize);
  };
  // Parent entries of the level being built: (last key, last record, child offset).
  std::vector<NodeEntry> level;
  const bool single = leaves == 1;
  for (std::size_t i = 0; i < leaves; ++i) {
    LeafNode leaf;
    leaf.header.attributes = attr::kLeaf | (single ? attr::kRoot : 0);
    leaf.header.left = i == 0 ? kNoPage : offsetOf(i - 1);
    leaf.header.right = i + 1 == leaves ? kNoPage : offsetOf(i + 1);
    std::uint32_t maxRecno = 0;
    for (std::size_t k = starts[i]; k < starts[i + 1]; ++k) {
      leaf.entries.push_back({entries[k].key, entries[k].recno, 0});
      maxRecno = std::max(maxRecno, entries[k].recno);
    }
    leaf.layout = LeafNode::layoutFor(keyLength, maxRecno);
    if (leaf.entries.empty()) {
      const auto L = leaf.layout;
      leaf.layout.entryBytes = std::max(L.entryBytes, kEmptyLeafEntryBytes);
      leaf.layout.recnoBits =
          static_cast<std::uint8_t>(8 * leaf.layout.entryBytes - L.dupBits - L.trailBits);
    }
    t.pages.push_back(leaf.encode(keyLength, pad));
    if (!leaf.entries.empty())
      level.push_back({leaf.entries.back().key, leaf.entries.back().recno, offsetOf(i)});
  }
  if (single) {
    t.root = base;
    return t;
  }
  const std::size_t cap = interiorCapacity(keyLength);
  while (level.size() > 1) {
    const std::size_t first = t.pages.size();
    const std::size_t count = (level.size() + cap - 1) / cap;
    std::vector<NodeEntry> parents;
    for (std::size_t n = 0; n < count; ++n) {
      InteriorNode node;
      node.header.attributes = count == 1 ? attr::kRoot : 0;
      node.header.left = n == 0 ? kNoPage : offsetOf(first + n - 1);
      node.header.right = n + 1 == count ? kNoPage : offsetOf(first + n + 1);
      // Spread children evenly so that no node is left nearly empty.
      const std::size_t from = level.size() * n / count;
      const std::size_t to = level.size() * (n + 1) / count;
      node.entries.assign(level.begin() + static_cast<std::ptrdiff_t>(from),
                          level.begin() + static_cast<std::ptrdiff_t>(to));
      t.pages.push_back(node.encode(keyLength));
      parents.push_back({node.entries.back().key, node.entries.back().recno, offsetOf(first + n)});
    }
    level = std::move(parents);
  }
  t.root = level.front().child;
  return t;
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
  }

  // Trees first (their size does not depend on where they go), then the directory, whose size
  // decides where the tags start.
  std::vector<std::size_t> treePages;
  for (const auto& t : tags)
    treePages.push_back(treePageCount(t.entries, t.header.keyLength, t.pad));

  std::size_t dirPages = 1;
  for (;;) {
    std::vector<std::uint32_t> headerAt;
    std::size_t at = kTagHeaderSize + dirPages * kPageSize;
    for (std::size_t i = 0; i < tags.size(); ++i) {
      headerAt.push_back(static_cast<std::uint32_t>(at));
      at += kTagHeaderSize + treePages[i] * kPageSize;
    }
    std::vector<KeyEntry> dir;
    for (std::size_t i = 0; i < tags.size(); ++i) {
      std::string key = tags[i].name;
      key.resize(kTagNameLength, ' ');
      dir.push_back({key, headerAt[i]});
    }
    sortEntries(dir, false);
    Tree dirTree = buildTree(dir, kTagNameLength, ' ', kTagHeaderSize);
    if (dirTree.pages.size() != dirPages) {
      dirPages = dirTree.pages.size();
      continue;
    }

    std::vector<std::uint8_t> out(at, 0);
    TagHeader fileHeader;
    fileHeader.root = dirTree.root;
    fileHeader.keyLength = kTagNameLength;
    fileHeader.options = option::kFileHeader | option::kCompound | option::kCompact;
    fileHeader.signature = signature::kMachine;
    auto fh = fileHeader.encode();
    std::memcpy(out.data(), fh.data(), fh.size());
    for (std::size_t p = 0; p < dirTree.pages.size(); ++p)
      std::memcpy(out.data() + kTagHeaderSize + p * kPageSize, dirTree.pages[p].data(), kPageSize);
    for (std::size_t i = 0; i < tags.size(); ++i) {
      const std::uint32_t treeBase = headerAt[i] + static_cast<std::uint32_t>(kTagHeaderSize);
      Tree tree = buildTree(tags[i].entries, tags[i].header.keyLength, tags[i].pad, treeBase);
      TagHeader h = tags[i].header;
      h.root = tree.root;
      h.freeList = 0;
      auto hb = h.encode();
      std::memcpy(out.data() + headerAt[i], hb.data(), hb.size());
      for (std::size_t p = 0; p < tree.pages.size(); ++p)
        std::memcpy(out.data() + treeBase + p * kPageSize, tree.pages[p].data(), kPageSize);
    }
    return out;
  }
}

}  // namespace vfp::cdx
