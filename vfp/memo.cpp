#include "vfp/memo.h"

#include <algorithm>
#include <cstring>

#include "vfp/bytes.h"
#include "vfp/error.h"

namespace vfp {

namespace {
constexpr std::size_t kDbtBlockSize = 512;
constexpr std::size_t kDbt4BlockSizeOffset = 20;  // LE u16
constexpr std::uint8_t kDbtEnd = 0x1A;
}  // namespace

MemoReader::MemoReader(const std::string& path, MemoKind kind)
    : file_(path, File::Mode::Read), kind_(kind) {
  size_ = file_.size();
  std::uint8_t h[fpt::kHeaderSize] = {};
  std::size_t got = file_.readAt(0, h, sizeof h);
  auto invalid = [&] {
    return Error("Memo file '" + fileNameOf(path) + "' is missing or is invalid.");
  };
  if (got < 8) throw invalid();
  if (kind == MemoKind::Fpt) {
    std::uint32_t bs = bytes::be16(h + fpt::kBlockSizeOffset);
    // SET BLOCKSIZE TO 0 writes 1-byte blocks; a zero here is read the same way.
    blockSize_ = bs == 0 ? 1 : bs;
  } else if (kind == MemoKind::Dbt4) {
    std::uint32_t bs = got >= 22 ? bytes::le16(h + kDbt4BlockSizeOffset) : 0;
    blockSize_ = bs == 0 ? kDbtBlockSize : bs;
  } else {
    blockSize_ = kDbtBlockSize;
  }
}

bool MemoReader::readRange(std::uint64_t offset, std::size_t n, char* out) const {
  constexpr std::size_t kWindow = 256 * 1024;
  if (n > kWindow / 2) return file_.readAt(offset, out, n) == n;
  if (offset < windowStart_ || offset + n > windowStart_ + windowLength_) {
    window_.resize(kWindow);
    windowStart_ = offset;
    windowLength_ = file_.readAt(offset, window_.data(), kWindow);
    if (n > windowLength_) return false;
  }
  std::memcpy(out, window_.data() + (offset - windowStart_), n);
  return true;
}

std::uint64_t MemoReader::length(std::uint32_t block) const {
  if (block == 0 || (kind_ != MemoKind::Fpt && kind_ != MemoKind::Dbt4)) return 0;
  const std::uint64_t at = std::uint64_t(block) * blockSize_;
  if (at >= size_ || (kind_ == MemoKind::Fpt && at < fpt::kHeaderSize)) return 0;
  std::uint8_t bh[8];
  if (!readRange(at, 8, reinterpret_cast<char*>(bh))) return 0;
  if (kind_ == MemoKind::Fpt) return bytes::be32(bh + 4);
  if (!(bh[0] == 0xFF && bh[1] == 0xFF && bh[2] == 0x08 && bh[3] == 0x00)) return 0;
  const std::uint64_t len = bytes::le32(bh + 4);
  return len >= 8 ? len - 8 : 0;
}

bool MemoReader::extent(std::uint32_t block, std::uint64_t& dataAt, std::uint64_t& len) const {
  std::uint64_t at = std::uint64_t(block) * blockSize_;
  auto bad = [&](const char* why) {
    return Error("Memo file '" + fileNameOf(file_.path()) + "' is invalid: block " +
                 std::to_string(block) + " " + why + ".");
  };
  if (at >= size_) throw bad("lies past the end of the file");
  // Blocks start after the 512-byte header (a .dbt's header is block 0); a pointer into it
  // would hand out header bytes as a memo.
  if (kind_ == MemoKind::Fpt && at < fpt::kHeaderSize) throw bad("lies inside the file's header");
  dataAt = at;
  if (kind_ != MemoKind::Fpt && kind_ != MemoKind::Dbt4) return false;
  std::uint8_t bh[8];
  if (!readRange(at, 8, reinterpret_cast<char*>(bh))) throw bad("is cut short");
  dataAt = at + 8;
  if (kind_ == MemoKind::Fpt) {
    len = bytes::be32(bh + 4);
  } else {
    // Some dBase IV writers keep dBase III style memos: read to the end mark.
    if (!(bh[0] == 0xFF && bh[1] == 0xFF && bh[2] == 0x08 && bh[3] == 0x00)) {
      dataAt = at;
      return false;
    }
    len = bytes::le32(bh + 4);
    len = len >= 8 ? len - 8 : 0;
  }
  if (dataAt + len > size_) throw bad("is longer than the file");
  return true;
}

std::string MemoReader::problem(std::uint32_t block) const {
  if (block == 0) return {};
  try {
    std::uint64_t at = 0, len = 0;
    extent(block, at, len);
  } catch (const Error& e) {
    return e.what();
  }
  return {};
}

void MemoReader::read(std::uint32_t block, std::string& out) const {
  if (block == 0) return;
  std::uint64_t at = 0, len = 0;
  if (extent(block, at, len)) {
    std::size_t old = out.size();
    out.resize(old + len);
    if (!readRange(at, len, out.data() + old))
      throw Error("Memo file '" + fileNameOf(file_.path()) + "' is invalid: block " +
                  std::to_string(block) + " is cut short.");
    return;
  }
  // dBase III: no block header; the memo ends at the first 0x1A.
  std::size_t old = out.size();
  char buf[kDbtBlockSize];
  std::uint64_t pos = at;
  while (pos < size_) {
    std::size_t got = file_.readAt(pos, buf, sizeof buf);
    if (got == 0) break;
    for (std::size_t i = 0; i < got; ++i) {
      if (std::uint8_t(buf[i]) == kDbtEnd) {
        out.append(buf, i);
        return;
      }
    }
    out.append(buf, got);
    pos += got;
    if (out.size() - old > (64u << 20))
      throw Error("Memo file '" + fileNameOf(file_.path()) + "' is invalid: block " +
                  std::to_string(block) + " has no end mark.");
  }
}

void MemoWriter::createEmpty(const std::string& path) {
  File f(path, File::Mode::Create);
  std::uint8_t h[fpt::kHeaderSize] = {};
  bytes::putBe32(h + fpt::kNextFreeOffset, fpt::kHeaderSize / fpt::kDefaultBlockSize);
  bytes::putBe16(h + fpt::kBlockSizeOffset, fpt::kDefaultBlockSize);
  f.writeAt(0, h, sizeof h);
}

MemoWriter::MemoWriter(const std::string& path) : file_(path, File::Mode::ReadWrite) {
  std::uint8_t h[fpt::kHeaderSize] = {};
  if (file_.readAt(0, h, sizeof h) < 8)
    throw Error("Memo file '" + fileNameOf(path) + "' is missing or is invalid.");
  std::uint32_t bs = bytes::be16(h + fpt::kBlockSizeOffset);
  blockSize_ = bs == 0 ? 1 : bs;
  std::uint32_t first = std::uint32_t((fpt::kHeaderSize + blockSize_ - 1) / blockSize_);
  nextFree_ = std::max(bytes::be32(h + fpt::kNextFreeOffset), first);
  // A header that lags behind the data (a write cut short) must not make us overwrite blocks.
  std::uint64_t size = file_.size();
  std::uint32_t bySize = std::uint32_t((size + blockSize_ - 1) / blockSize_);
  if (bySize > nextFree_ && size < header::kMaxFileSize) nextFree_ = bySize;
  // One that points far past the file's end is damaged: every block in use lies inside the
  // file, so the next memo goes at its end instead of leaving a hole of up to 2 GB.
  if (std::uint64_t(nextFree_) > std::max<std::uint64_t>(bySize, first))
    nextFree_ = std::max(bySize, first);
  flushedFree_ = writtenFree_ = nextFree_;
}

std::uint32_t MemoWriter::append(std::uint32_t type, const char* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint64_t blocks = (fpt::kBlockHeaderSize + size + blockSize_ - 1) / blockSize_;
  std::uint64_t end = (std::uint64_t(nextFree_) + blocks) * blockSize_;
  if (end > header::kMaxFileSize)
    throw Error("Memo file '" + fileNameOf(file_.path()) +
                "' would grow past 2 GB, the largest file FoxPro can open.");
  std::uint32_t block = nextFree_;
  std::uint8_t head[fpt::kBlockHeaderSize];
  bytes::putBe32(head, type);
  bytes::putBe32(head + 4, std::uint32_t(size));
  pending_.append(reinterpret_cast<const char*>(head), sizeof head);
  pending_.append(data, size);
  pending_.append(std::size_t(blocks * blockSize_ - fpt::kBlockHeaderSize - size), '\0');
  nextFree_ += std::uint32_t(blocks);
  // Blocks go to the file in pieces that stay in the processor's cache; only flush() moves the
  // header's next-free block past them. Until then they are free space to every reader, and
  // no record points at them before its table's flush.
  if (pending_.size() >= kSpillBytes) writePending();
  return block;
}

void MemoWriter::writePending() {
  if (pending_.empty()) return;
  file_.writeAt(std::uint64_t(writtenFree_) * blockSize_, pending_.data(), pending_.size());
  writtenFree_ = nextFree_;
  pending_.clear();
}

void MemoWriter::rollBack(std::uint32_t mark) {
  if (mark < flushedFree_ || mark > nextFree_) return;  // not a mark of the pending memos
  if (mark >= writtenFree_) {
    pending_.resize(std::size_t(mark - writtenFree_) * blockSize_);
  } else {
    // Blocks already in the file lie beyond the header's next-free block: free space, written
    // over by the next memos.
    pending_.clear();
    writtenFree_ = mark;
  }
  nextFree_ = mark;
}

void MemoWriter::flush() {
  writePending();
  if (flushedFree_ == nextFree_) return;
  std::uint8_t nf[4];
  bytes::putBe32(nf, nextFree_);
  file_.writeAt(fpt::kNextFreeOffset, nf, 4);
  flushedFree_ = nextFree_;
}

}  // namespace vfp
