// Page-by-page comparison of two compound index files, ignoring what FoxPro itself varies between
// equal indexes: where pages sit in the file, tag-header statistics, node attribute bit 2, and the
// unused bytes in the middle of leaves.
#pragma once

#include <map>
#include <string>

#include "vfp/bytes.h"
#include "vfp/cdx_reader.h"

namespace cdxtest {

using vfp::cdx::IndexFile;
using vfp::cdx::TagInfo;

// Empty when the tag's pages are equal; otherwise the first difference.
inline std::string comparePages(const IndexFile& a, const TagInfo& ta, const IndexFile& b,
                                const TagInfo& tb) {
  using namespace vfp::cdx;
  auto ha = std::span(a.bytes()).subspan(ta.headerOffset, kTagHeaderSize);
  auto hb = std::span(b.bytes()).subspan(tb.headerOffset, kTagHeaderSize);
  for (std::size_t i = 0; i < kTagHeaderSize; ++i) {
    if (i < 8 || (i >= 16 && i < 36)) continue;  // root, free list, statistics
    if (ha[i] != hb[i]) return "tag header byte " + std::to_string(i);
  }
  const auto pa = a.pagesOf(ta);
  const auto pb = b.pagesOf(tb);
  if (pa.size() != pb.size())
    return "page count " + std::to_string(pa.size()) + " vs " + std::to_string(pb.size());
  std::map<std::uint32_t, std::uint32_t> ordA, ordB;
  for (std::size_t i = 0; i < pa.size(); ++i) {
    ordA[pa[i]] = static_cast<std::uint32_t>(i);
    ordB[pb[i]] = static_cast<std::uint32_t>(i);
  }
  auto ord = [](const std::map<std::uint32_t, std::uint32_t>& m, std::uint32_t off) {
    auto it = m.find(off);
    return it == m.end() ? (off == kNoPage ? 0xFFFFFFFEu : 0xFFFFFFFDu) : it->second;
  };
  const std::size_t kl = ta.header.keyLength;
  for (std::size_t p = 0; p < pa.size(); ++p) {
    auto x = std::span(a.bytes()).subspan(pa[p], kPageSize);
    auto y = std::span(b.bytes()).subspan(pb[p], kPageSize);
    const std::string where = "page #" + std::to_string(p);
    const auto nx = NodeHeader::decode(x);
    const auto ny = NodeHeader::decode(y);
    if ((nx.attributes & ~4u) != (ny.attributes & ~4u)) return where + " attributes";
    if (nx.keyCount != ny.keyCount) return where + " key count";
    if (ord(ordA, nx.left) != ord(ordB, ny.left) || ord(ordA, nx.right) != ord(ordB, ny.right))
      return where + " sibling links";
    if (nx.isLeaf()) {
      const std::size_t n = x[LeafNode::kEntryBytesOffset];
      const std::size_t free = vfp::bytes::le16(&x[LeafNode::kFreeOffset]);
      const std::size_t holeFrom = LeafNode::kEntriesOffset + nx.keyCount * n;
      for (std::size_t i = NodeHeader::kSize; i < kPageSize; ++i) {
        if (i >= holeFrom && i < holeFrom + free) continue;
        if (x[i] != y[i]) return where + " (leaf) byte " + std::to_string(i);
      }
    } else {
      const std::size_t stride = kl + 8;
      for (std::size_t k = 0; k < nx.keyCount; ++k) {
        const std::size_t e = InteriorNode::kEntriesOffset + k * stride;
        for (std::size_t i = e; i < e + kl + 4; ++i)
          if (x[i] != y[i]) return where + " (interior) byte " + std::to_string(i);
        if (ord(ordA, vfp::bytes::be32(&x[e + kl + 4])) !=
            ord(ordB, vfp::bytes::be32(&y[e + kl + 4])))
          return where + " child link " + std::to_string(k);
      }
    }
  }
  return {};
}

}  // namespace cdxtest
