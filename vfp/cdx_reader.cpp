#include "vfp/cdx_reader.h"

#include <algorithm>
#include <fstream>
#include <set>

#include "vfp/file.h"

namespace vfp::cdx {

namespace {

// A B-tree of 512-byte pages over a 2 GiB file is never deeper than this; deeper means a loop.
constexpr int kMaxDepth = 32;

std::string trimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

IndexFile IndexFile::open(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string name = utf8Path(path);
  if (!in) throw CdxError("cannot open index " + name);
  // In one read: an index of a million keys is some 20 MB.
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) throw CdxError("cannot read index " + name);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  if (in.gcount() != size) throw CdxError("cannot read index " + name);
  return fromBytes(std::move(bytes), name);
}

IndexFile IndexFile::fromBytes(std::vector<std::uint8_t> bytes, std::string displayName) {
  IndexFile f;
  f.name_ = std::move(displayName);
  f.bytes_ = std::move(bytes);
  if (f.bytes_.size() < kTagHeaderSize + kPageSize)
    throw CdxError("index " + f.name_ + " is too short (" + std::to_string(f.bytes_.size()) +
                   " bytes) to hold a tag directory");
  f.fileHeader_ = TagHeader::decode(std::span(f.bytes_).first(kTagHeaderSize));
  if (f.fileHeader_.keyLength == 0 || f.fileHeader_.keyLength > kMaxKeyLength)
    throw CdxError("index " + f.name_ + " has an invalid tag directory (key length " +
                   std::to_string(f.fileHeader_.keyLength) + ")");
  const std::string what = "index " + f.name_ + ", tag directory";
  f.walk(f.fileHeader_.root, f.fileHeader_.keyLength, ' ', what,
         [&](const LeafNode& leaf, std::uint32_t) {
           for (const auto& e : leaf.entries) {
             TagInfo t;
             t.name = trimRight(e.key);
             t.headerOffset = e.recno;
             auto hb = f.page(e.recno, kTagHeaderSize, what + " entry " + t.name);
             try {
               t.header = TagHeader::decode(hb);
             } catch (const CdxError& err) {
               throw CdxError("index " + f.name_ + ", tag " + t.name + ": " + err.what());
             }
             if (t.header.keyLength == 0 || t.header.keyLength > kMaxKeyLength)
               throw CdxError("index " + f.name_ + ", tag " + t.name +
                              " has an invalid key length " + std::to_string(t.header.keyLength));
             f.tags_.push_back(std::move(t));
           }
         },
         {});
  return f;
}

const TagInfo* IndexFile::findTag(std::string_view name) const {
  for (const auto& t : tags_) {
    if (equalsNoCase(t.name, name)) return &t;
  }
  return nullptr;
}

std::span<const std::uint8_t> IndexFile::page(std::uint32_t offset, std::size_t size,
                                              const std::string& what) const {
  if (offset % kPageSize != 0 || std::size_t{offset} + size > bytes_.size())
    throw CdxError(what + ": page offset " + std::to_string(offset) +
                   " lies outside the file or off a page boundary (file size " +
                   std::to_string(bytes_.size()) + ")");
  return std::span(bytes_).subspan(offset, size);
}

void IndexFile::walk(std::uint32_t root, std::size_t keyLength, std::uint8_t pad,
                     const std::string& what,
                     const std::function<void(const LeafNode&, std::uint32_t)>& onLeaf,
                     const std::function<void(std::uint32_t)>& onPage) const {
  std::set<std::uint32_t> seen;
  std::function<void(std::uint32_t, int)> visit = [&](std::uint32_t offset, int depth) {
    if (depth > kMaxDepth) throw CdxError(what + ": the tree is deeper than any valid index");
    if (!seen.insert(offset).second)
      throw CdxError(what + ": page " + std::to_string(offset) + " is reached twice");
    auto p = page(offset, kPageSize, what);
    if (onPage) onPage(offset);
    const NodeHeader h = NodeHeader::decode(p);
    try {
      if (h.isLeaf()) {
        onLeaf(LeafNode::decode(p, keyLength, pad), offset);
        return;
      }
      const InteriorNode node = InteriorNode::decode(p, keyLength);
      if (node.entries.empty()) throw CdxError("interior node has no keys");
      for (const auto& e : node.entries) visit(e.child, depth + 1);
    } catch (const CdxError& err) {
      std::string msg = err.what();
      if (msg.rfind(what, 0) == 0) throw;  // already carries the context
      throw CdxError(what + ", page " + std::to_string(offset) + ": " + msg);
    }
  };
  visit(root, 0);
}

void IndexFile::forEachKey(
    const TagInfo& tag, std::uint8_t pad,
    const std::function<void(const std::string&, std::uint32_t)>& visit) const {
  const std::string what = "index " + name_ + ", tag " + tag.name;
  if (tag.header.signature == signature::kBinaryIndex)
    throw CdxError(what + " is a binary (bitmap) index, which has no readable keys");
  walk(tag.header.root, tag.header.keyLength, pad, what,
       [&](const LeafNode& leaf, std::uint32_t) {
         for (const auto& e : leaf.entries) visit(e.key, e.recno);
       },
       {});
}

std::vector<KeyEntry> IndexFile::keys(const TagInfo& tag, std::uint8_t pad) const {
  std::vector<KeyEntry> out;
  forEachKey(tag, pad, [&](const std::string& k, std::uint32_t r) { out.push_back({k, r}); });
  return out;
}

std::vector<std::uint32_t> IndexFile::pagesOf(const TagInfo& tag) const {
  std::vector<std::uint32_t> out;
  walk(
      tag.header.root, tag.header.keyLength, 0, "index " + name_ + ", tag " + tag.name,
      [](const LeafNode&, std::uint32_t) {}, [&](std::uint32_t off) { out.push_back(off); });
  return out;
}

}  // namespace vfp::cdx
