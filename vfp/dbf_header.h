// The table header of a .dbf file: the 32 fixed bytes, the 32-byte field descriptors, the
// 0x0D terminator and, in Visual FoxPro tables, the 263-byte backlink to a database container.
//
// Reading is lenient (descriptors end at 0x0D or at the header length; displacements of 0 are
// computed; FoxPro 2.x C fields longer than 255 use the decimal byte as high byte). Writing
// produces exactly what Visual FoxPro 9 writes.
//
// Callers may rely on: fields() lists every descriptor in file order including the hidden
// _NullFlags field; each FieldDescriptor knows its displacement in the record and, for nullable
// and variable-length fields, the _NullFlags bit that marks null or short values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vfp {

namespace header {
constexpr std::size_t kFixedSize = 32;       // fixed part
constexpr std::size_t kDescriptorSize = 32;  // one field descriptor
constexpr std::size_t kBacklinkSize = 263;   // VFP only: container file name, NUL padded
constexpr std::uint8_t kTerminator = 0x0D;
constexpr std::uint8_t kEndOfFile = 0x1A;
constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kDateOffset = 1;   // YY MM DD; VFP writes year mod 100
constexpr std::size_t kCountOffset = 4;  // LE u32, deleted records included
constexpr std::size_t kHeaderLengthOffset = 8;
constexpr std::size_t kRecordLengthOffset = 10;
constexpr std::size_t kFlagsOffset = 28;
constexpr std::size_t kCodePageOffset = 29;
// Descriptor offsets.
constexpr std::size_t kNameSize = 11;
constexpr std::size_t kTypeOffset = 11;
constexpr std::size_t kDisplacementOffset = 12;
constexpr std::size_t kLengthOffset = 16;
constexpr std::size_t kDecimalsOffset = 17;
constexpr std::size_t kFieldFlagsOffset = 18;
constexpr std::size_t kAutoIncNextOffset = 19;
constexpr std::size_t kAutoIncStepOffset = 23;
// Limits FoxPro enforces.
constexpr std::size_t kMaxFields = 255;
constexpr std::size_t kMaxRecordLength = 65500;
constexpr std::size_t kMaxNameLength = 10;
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;  // 2 GiB - 1, per file (.dbf and .fpt)
}  // namespace header

// Version byte (offset 0).
enum class TableVersion : std::uint8_t {
  FoxBase = 0x02,
  DBase3 = 0x03,
  VisualFoxPro = 0x30,
  VisualFoxProAutoInc = 0x31,
  VisualFoxProVarchar = 0x32,
  DBase4Sql = 0x43,
  DBase4SqlSystem = 0x63,
  DBase3Memo = 0x83,
  DBase4Memo = 0x8B,
  DBase4SqlMemo = 0xCB,
  FoxPro2Memo = 0xF5,
  FoxBaseMemo = 0xFB,
};

// Table flags (offset 28).
namespace tableflag {
constexpr std::uint8_t kHasCdx = 0x01;
constexpr std::uint8_t kHasMemo = 0x02;
constexpr std::uint8_t kIsDatabase = 0x04;
}  // namespace tableflag

// Field flags (descriptor offset 18).
namespace fieldflag {
constexpr std::uint8_t kSystem = 0x01;
constexpr std::uint8_t kNullable = 0x02;
constexpr std::uint8_t kBinary = 0x04;
constexpr std::uint8_t kAutoInc = 0x08;
}  // namespace fieldflag

// Where a table's memo pointers lead.
enum class MemoKind { None, Fpt, Dbt3, Dbt4 };

struct FieldDescriptor {
  std::string name;          // as stored (VFP: upper case), without NUL padding
  char type = 'C';           // type letter; '0' for _NullFlags
  std::uint32_t offset = 0;  // displacement in the record (deletion flag is byte 0)
  std::uint32_t length = 0;  // bytes in the record (FoxPro 2.x long C fields resolved)
  std::uint8_t decimals = 0;
  std::uint8_t flags = 0;
  std::uint32_t autoIncNext = 0;
  std::uint8_t autoIncStep = 0;
  int nullBit = -1;       // _NullFlags bit meaning "null", -1 when not nullable
  int varLengthBit = -1;  // _NullFlags bit meaning "shorter than the field" (V, Q), else -1

  bool isNullable() const { return flags & fieldflag::kNullable; }
  bool isBinary() const { return flags & fieldflag::kBinary; }
  bool isSystem() const { return flags & fieldflag::kSystem; }
  bool isAutoInc() const { return flags & fieldflag::kAutoInc; }
  bool isNullFlags() const { return type == '0'; }
  bool isMemo() const { return type == 'M' || type == 'G' || type == 'W' || type == 'P'; }
};

struct TableHeader {
  std::uint8_t version = 0x30;
  std::uint8_t updateYear = 0;  // raw byte: VFP year mod 100, dBase year - 1900
  std::uint8_t updateMonth = 1;
  std::uint8_t updateDay = 1;
  std::uint32_t recordCount = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  std::uint8_t tableFlags = 0;
  std::uint8_t codePageMark = 0;
  std::vector<FieldDescriptor> fields;  // file order, _NullFlags included
  std::string backlink;                 // container file name; empty for a free table

  // Decodes the header from the start of a file (at least headerLength bytes when available).
  // fileName names the table in error messages. Throws vfp::Error for what cannot be read.
  static TableHeader decode(const std::uint8_t* data, std::size_t size,
                            const std::string& fileName);
  // Header length recorded at offset 8, read from the first 32 bytes (so callers know how much
  // to read before decode). Throws when the bytes cannot be a table header.
  static std::uint16_t peekHeaderLength(const std::uint8_t* fixed32, std::size_t size,
                                        const std::string& fileName);

  // Exact VFP 9 bytes: fixed part, descriptors, 0x0D, backlink (VFP versions only).
  std::string encode() const;

  bool isVisualFoxPro() const { return version == 0x30 || version == 0x31 || version == 0x32; }
  MemoKind memoKind() const;
  // The _NullFlags field, or nullptr.
  const FieldDescriptor* nullFlagsField() const;
  // Index of the field with this name (case-insensitive), -1 when none.
  int fieldIndex(const std::string& name) const;
  // Byte offset in the file of record recno (0-based).
  std::uint64_t recordOffset(std::uint32_t recno) const {
    return headerLength + std::uint64_t(recno) * recordLength;
  }

  // For a table being built: assigns displacements, _NullFlags bits (adding or sizing the
  // _NullFlags field), record and header length, version byte and memo flag the way VFP 9 does.
  void layOutForVfp9();
  // Assigns the _NullFlags bits of existing fields (done by decode; needed after edits).
  void assignNullBits();
};

// Reads bit `bit` of the _NullFlags bytes of a record.
inline bool nullFlagBit(const std::uint8_t* record, const FieldDescriptor* nullFlags, int bit) {
  if (!nullFlags || bit < 0 || std::uint32_t(bit / 8) >= nullFlags->length) return false;
  return (record[nullFlags->offset + bit / 8] >> (bit % 8)) & 1;
}

}  // namespace vfp
