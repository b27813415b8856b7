// Memo files: .fpt (Visual FoxPro and FoxPro 2.x, any block size) read and written; .dbt of
// dBase III and IV read only.
//
// An .fpt starts with a 512-byte header (next free block and block size, big-endian); each memo
// occupies whole blocks: block type and data length (big-endian), then the data. A writer only
// ever appends, the way FoxPro does until PACK MEMO.
#pragma once

#include <cstdint>
#include <string>

#include "vfp/dbf_header.h"
#include "vfp/file.h"

namespace vfp {

namespace fpt {
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kNextFreeOffset = 0;   // BE u32
constexpr std::size_t kBlockSizeOffset = 6;  // BE u16
constexpr std::size_t kBlockHeaderSize = 8;  // type BE u32, length BE u32
constexpr std::uint32_t kDefaultBlockSize = 64;
constexpr std::uint32_t kTypePicture = 0;
constexpr std::uint32_t kTypeText = 1;    // M and W
constexpr std::uint32_t kTypeObject = 2;  // G
}  // namespace fpt

// Reads through a window of the file: memos of consecutive records usually lie next to each
// other, so a scan costs a few large reads instead of two small ones per memo. Not for use from
// two threads at once.
class MemoReader {
 public:
  MemoReader(const std::string& path, MemoKind kind);  // throws when unreadable
  // Appends the data of the memo starting at block to out; block 0 is an empty memo. Throws,
  // naming the block, when the memo cannot be read (a pointer past the file's end or into its
  // header, a memo longer than the file).
  void read(std::uint32_t block, std::string& out) const;
  // Why read(block) would throw, from the memo's block header alone; empty when it would not.
  std::string problem(std::uint32_t block) const;
  std::uint32_t blockSize() const { return blockSize_; }
  const std::string& path() const { return file_.path(); }
  std::uint64_t fileSize() const { return size_; }
  // The length the memo at block says it has, without reading it: 0 for an empty memo, a
  // dBase III memo (only its end mark tells) and a block the file does not hold (read() says
  // what is wrong with it).
  std::uint64_t length(std::uint32_t block) const;

 private:
  // Copies n bytes at offset into out; false when the file ends first.
  bool readRange(std::uint64_t offset, std::size_t n, char* out) const;
  // Where the data of the memo at block (not 0) lies; false for a dBase III memo, which has no
  // length and ends at its end mark. Throws as read() does.
  bool extent(std::uint32_t block, std::uint64_t& at, std::uint64_t& length) const;

  File file_;
  MemoKind kind_;
  std::uint32_t blockSize_ = 512;
  std::uint64_t size_ = 0;
  mutable std::string window_;
  mutable std::uint64_t windowStart_ = 0;
  mutable std::size_t windowLength_ = 0;
};

// Appends memos to an .fpt. Blocks are gathered in memory and written in pieces of about a
// megabyte; flush() writes the rest and then the header's next-free block, so a file cut short
// at any point still has a header that points past every block in use (blocks written beyond it
// belong to no record yet).
class MemoWriter {
 public:
  // Creates a new, empty .fpt (512-byte header, next free block 8, block size 64).
  static void createEmpty(const std::string& path);
  explicit MemoWriter(const std::string& path);  // opens an existing .fpt for appending
  // Queues a memo and returns its block number; empty data gives 0 and writes nothing.
  std::uint32_t append(std::uint32_t type, const char* data, std::size_t size);
  // Bytes the file will have once pending data is written.
  std::uint64_t pendingEnd() const { return std::uint64_t(nextFree_) * blockSize_; }
  // Where the next memo goes; rollBack(mark()) forgets every memo appended after it (those of a
  // record that was refused), as long as no flush() came in between.
  std::uint32_t mark() const { return nextFree_; }
  void rollBack(std::uint32_t mark);
  void flush();
  const std::string& path() const { return file_.path(); }

 private:
  static constexpr std::size_t kSpillBytes = 1 << 20;
  void writePending();

  File file_;
  std::uint32_t blockSize_ = fpt::kDefaultBlockSize;
  std::uint32_t nextFree_ = 0;     // next block, pending data included
  std::uint32_t flushedFree_ = 0;  // next block as the file's header says
  std::uint32_t writtenFree_ = 0;  // first block not yet in the file
  std::string pending_;            // blocks from writtenFree_ on
};

}  // namespace vfp
