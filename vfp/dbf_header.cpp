#include "vfp/dbf_header.h"

#include <cstdio>
#include <cstring>

#include "vfp/bytes.h"
#include "vfp/error.h"
#include "vfp/file.h"

namespace vfp {

using namespace header;

namespace {

bool knownVersion(std::uint8_t v) {
  switch (v) {
    case 0x03:
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x43:
    case 0x63:
    case 0x83:
    case 0x8B:
    case 0xCB:
    case 0xF5:
    case 0xFB:
      return true;
    default:
      return false;
  }
}

std::string hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

// The widths a field of each type must have: the engine reads and writes these types as
// fixed-size binary values, so a narrower field would lead it outside the record.
void checkFieldWidths(const TableHeader& h, const std::string& fileName) {
  const bool vfp = h.isVisualFoxPro();
  auto refuse = [&](const FieldDescriptor& f, const std::string& why) {
    return Error("Table '" + fileName + "' is corrupt: field " + f.name + " (type " +
                 std::string(1, f.type) + ", width " + std::to_string(f.length) + ") " + why + ".");
  };
  int flagBits = 0, nullFlagFields = 0;
  const FieldDescriptor* nullFlags = nullptr;
  for (const auto& f : h.fields) {
    std::uint32_t want = 0;
    switch (f.type) {
      case 'L':
        want = 1;
        break;
      case 'D':
        want = 8;
        break;
      case 'I':
      case 'M':
      case 'G':
      case 'W':
      case 'P':
        // FoxPro 2.x and dBase keep memo block numbers as ten digits; Visual FoxPro as 4 bytes.
        want = vfp || f.type == 'I' ? 4 : 0;
        break;
      case 'B':
      case 'Y':
      case 'T':
        want = vfp ? 8 : 0;  // dBase uses 'B' for a ten-digit binary memo pointer
        break;
      default:
        break;
    }
    if (want && f.length != want)
      throw refuse(f,
                   "must be " + std::to_string(want) + (want == 1 ? " byte" : " bytes") + " wide");
    if (f.isAutoInc() && f.type != 'I') throw refuse(f, "is autoincrementing but not an Integer");
    if (f.isNullFlags()) {
      ++nullFlagFields;
      nullFlags = &f;
    } else if (!f.isSystem()) {
      if (f.type == 'V' || f.type == 'Q') ++flagBits;
      if (f.isNullable()) ++flagBits;
    }
  }
  if (nullFlagFields > 1)
    throw Error("Table '" + fileName + "' is corrupt: it has more than one _NullFlags field.");
  if (flagBits > 0 && !nullFlags)
    throw Error("Table '" + fileName + "' is corrupt: it has nullable or variable-length fields " +
                "but no _NullFlags field.");
  if (nullFlags && std::uint64_t(nullFlags->length) * 8 < std::uint64_t(flagBits))
    throw Error("Table '" + fileName + "' is corrupt: its _NullFlags field has " +
                std::to_string(nullFlags->length * 8) + " bits but " + std::to_string(flagBits) +
                " are needed for its nullable and variable-length fields.");
}

}  // namespace

std::uint16_t TableHeader::peekHeaderLength(const std::uint8_t* d, std::size_t size,
                                            const std::string& fileName) {
  if (size < kFixedSize) throw Error("File '" + fileName + "' is not a table.");
  std::uint8_t v = d[kVersionOffset];
  if (v == 0x02)
    throw Error("File '" + fileName + "' is a dBase II or FoxBASE table, which cannot be read.");
  if (v == 0x04 || v == 0x8C)
    throw Error("File '" + fileName + "' is a dBase 7 table, which cannot be read.");
  if (!knownVersion(v))
    throw Error("File '" + fileName + "' is not a table (unknown version byte " + hex2(v) + ").");
  std::uint16_t len = bytes::le16(d + kHeaderLengthOffset);
  if (len < kFixedSize + 1) throw Error("Table '" + fileName + "' has a corrupt header.");
  return len;
}

TableHeader TableHeader::decode(const std::uint8_t* d, std::size_t size,
                                const std::string& fileName) {
  TableHeader h;
  h.headerLength = peekHeaderLength(d, size, fileName);
  auto corrupt = [&](const std::string& why) {
    return Error("Table '" + fileName + "' is corrupt: " + why + ".");
  };
  h.version = d[kVersionOffset];
  h.updateYear = d[kDateOffset];
  h.updateMonth = d[kDateOffset + 1];
  h.updateDay = d[kDateOffset + 2];
  h.recordCount = bytes::le32(d + kCountOffset);
  h.recordLength = bytes::le16(d + kRecordLengthOffset);
  h.tableFlags = d[kFlagsOffset];
  h.codePageMark = d[kCodePageOffset];

  // Descriptors run to the 0x0D terminator or to the header's end, whichever comes first:
  // some writers omit the terminator, others pad the header.
  std::size_t end = std::min<std::size_t>(h.headerLength, size);
  std::size_t pos = kFixedSize;
  bool anyBadOffset = false;
  const bool vfp = h.isVisualFoxPro();
  while (pos + kDescriptorSize <= end && d[pos] != kTerminator) {
    const std::uint8_t* p = d + pos;
    FieldDescriptor f;
    std::size_t n = 0;
    while (n < kNameSize && p[n] != 0) ++n;
    f.name.assign(reinterpret_cast<const char*>(p), n);
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    f.type = char(p[kTypeOffset]);
    if (f.type >= 'a' && f.type <= 'z') f.type = char(f.type - 32);
    f.offset = bytes::le32(p + kDisplacementOffset);
    f.length = p[kLengthOffset];
    f.decimals = p[kDecimalsOffset];
    // Only Visual FoxPro keeps field flags in byte 18; dBase and FoxPro 2.x leave other things
    // there, which must not hide a field or turn text into hex.
    f.flags = vfp ? p[kFieldFlagsOffset] : 0;
    if (f.isAutoInc()) {
      f.autoIncNext = bytes::le32(p + kAutoIncNextOffset);
      f.autoIncStep = p[kAutoIncStepOffset];
    }
    h.fields.push_back(std::move(f));
    pos += kDescriptorSize;
    if (h.fields.size() > kMaxFields + 1) throw corrupt("too many fields");
  }
  if (h.fields.empty()) throw corrupt("no fields");
  const bool terminated = pos < end && d[pos] == kTerminator;

  // FoxPro 2.x and Clipper store C lengths above 255 with the decimal byte as high byte; dBase
  // keeps other things there. The record length tells which reading is meant.
  if (!h.isVisualFoxPro()) {
    std::uint32_t plain = 1, high = 1;
    for (const auto& f : h.fields) {
      plain += f.length;
      high += f.length + (f.type == 'C' ? std::uint32_t(f.decimals) * 256 : 0);
    }
    if (plain != h.recordLength && high == h.recordLength)
      for (auto& f : h.fields)
        if (f.type == 'C') {
          f.length += std::uint32_t(f.decimals) * 256;
          f.decimals = 0;
        }
  }
  // dBase III/IV leave zeros (or memory addresses) where FoxPro keeps displacements.
  for (const auto& f : h.fields)
    if (f.offset == 0 || std::uint64_t(f.offset) + f.length > h.recordLength) anyBadOffset = true;
  std::uint32_t computed = 1;
  for (auto& f : h.fields) {
    if (f.length == 0) throw corrupt("field " + f.name + " has no width");
    if (anyBadOffset) f.offset = computed;
    computed += f.length;
  }
  if (h.recordLength == 0)
    h.recordLength = std::uint16_t(std::min<std::uint32_t>(computed, 0xFFFF));
  for (const auto& f : h.fields)
    if (f.offset == 0 || std::uint64_t(f.offset) + f.length > h.recordLength)
      throw corrupt("field " + f.name + " lies outside the record");
  // A header length that stops inside the field list would make descriptor bytes a record.
  // Visual FoxPro always ends the list with 0x0D; other writers may leave it out, but then the
  // fields read must fill the record.
  if (!terminated && size < h.headerLength) throw corrupt("the header is cut short");
  if (!terminated && (vfp || computed != h.recordLength))
    throw corrupt("the header length " + std::to_string(h.headerLength) +
                  " ends inside the field list");
  checkFieldWidths(h, fileName);

  if (vfp && terminated) {
    std::size_t b = pos + 1;
    std::size_t bend = std::min(end, b + kBacklinkSize);
    std::size_t n = 0;
    while (b + n < bend && d[b + n] != 0) ++n;
    h.backlink.assign(reinterpret_cast<const char*>(d + b), n);
  }
  h.assignNullBits();
  return h;
}

void TableHeader::assignNullBits() {
  int bit = 0;
  for (auto& f : fields) {
    f.nullBit = f.varLengthBit = -1;
    if (f.isNullFlags() || f.isSystem()) continue;
    if (f.type == 'V' || f.type == 'Q') f.varLengthBit = bit++;
    if (f.isNullable()) f.nullBit = bit++;
  }
}

MemoKind TableHeader::memoKind() const {
  switch (version) {
    case 0x83:
      return MemoKind::Dbt3;
    case 0x8B:
    case 0xCB:
      return MemoKind::Dbt4;
    case 0x03:
    case 0x43:
    case 0x63:
      return MemoKind::None;
    default:
      break;
  }
  for (const auto& f : fields)
    if (f.isMemo()) return MemoKind::Fpt;
  return MemoKind::None;
}

const FieldDescriptor* TableHeader::nullFlagsField() const {
  for (const auto& f : fields)
    if (f.isNullFlags()) return &f;
  return nullptr;
}

int TableHeader::fieldIndex(const std::string& name) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (equalsNoCase(fields[i].name, name)) return int(i);
  return -1;
}

void TableHeader::layOutForVfp9() {
  std::erase_if(fields, [](const FieldDescriptor& f) { return f.isNullFlags(); });
  bool varchar = false, autoinc = false, memo = false;
  int bits = 0;
  for (auto& f : fields) {
    switch (f.type) {
      case 'I':
      case 'B':
      case 'Y':
      case 'T':
      case 'W':
      case 'Q':
        f.flags |= fieldflag::kBinary;
        break;
      default:
        break;
    }
    if (f.type == 'V' || f.type == 'Q' || f.type == 'W') varchar = true;
    if (f.isAutoInc()) autoinc = true;
    if (f.type == 'M' || f.type == 'G' || f.type == 'W') memo = true;
    if (f.type == 'V' || f.type == 'Q') ++bits;
    if (f.isNullable()) ++bits;
  }
  if (bits > 0) {
    FieldDescriptor nf;
    nf.name = "_NullFlags";
    nf.type = '0';
    nf.length = std::uint32_t((bits + 7) / 8);
    nf.flags = fieldflag::kSystem | fieldflag::kBinary;
    fields.push_back(nf);
  }
  std::uint32_t off = 1;
  for (auto& f : fields) {
    f.offset = off;
    off += f.length;
  }
  recordLength = std::uint16_t(off);
  headerLength = std::uint16_t(kFixedSize + kDescriptorSize * fields.size() + 1 + kBacklinkSize);
  version = varchar ? 0x32 : autoinc ? 0x31 : 0x30;
  tableFlags = std::uint8_t((tableFlags & ~tableflag::kHasMemo) | (memo ? tableflag::kHasMemo : 0));
  assignNullBits();
}

std::string TableHeader::encode() const {
  std::size_t natural =
      kFixedSize + kDescriptorSize * fields.size() + 1 + (isVisualFoxPro() ? kBacklinkSize : 0);
  std::string out(std::max<std::size_t>(natural, headerLength), '\0');
  auto* d = reinterpret_cast<std::uint8_t*>(out.data());
  d[kVersionOffset] = version;
  d[kDateOffset] = updateYear;
  d[kDateOffset + 1] = updateMonth;
  d[kDateOffset + 2] = updateDay;
  bytes::putLe32(d + kCountOffset, recordCount);
  bytes::putLe16(d + kHeaderLengthOffset, headerLength);
  bytes::putLe16(d + kRecordLengthOffset, recordLength);
  d[kFlagsOffset] = tableFlags;
  d[kCodePageOffset] = codePageMark;
  std::size_t pos = kFixedSize;
  for (const auto& f : fields) {
    std::uint8_t* p = d + pos;
    std::memcpy(p, f.name.data(), std::min(f.name.size(), kNameSize - 1));
    p[kTypeOffset] = std::uint8_t(f.type);
    bytes::putLe32(p + kDisplacementOffset, f.offset);
    p[kLengthOffset] = std::uint8_t(f.length);
    p[kDecimalsOffset] = f.decimals;
    p[kFieldFlagsOffset] = f.flags;
    if (f.isAutoInc()) {
      bytes::putLe32(p + kAutoIncNextOffset, f.autoIncNext);
      p[kAutoIncStepOffset] = f.autoIncStep;
    }
    pos += kDescriptorSize;
  }
  d[pos] = kTerminator;
  if (isVisualFoxPro())
    std::memcpy(d + pos + 1, backlink.data(), std::min(backlink.size(), kBacklinkSize));
  return out;
}

}  // namespace vfp
