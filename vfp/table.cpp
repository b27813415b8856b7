#include "vfp/table.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "vfp/bytes.h"
#include "vfp/convert.h"
#include "vfp/error.h"

namespace vfp {

namespace {

constexpr std::uint32_t kMsPerDay = 86400000;

std::string baseName(const std::string& path) {
  std::string n = fileNameOf(path);
  auto dot = n.rfind('.');
  return dot == std::string::npos ? n : n.substr(0, dot);
}

std::uint32_t memoPointer(const std::uint8_t* p, std::uint32_t length) {
  if (length == 4) return bytes::le32(p);
  // FoxPro 2.x and dBase: ten ASCII digits, blanks for none.
  std::uint32_t v = 0;
  for (std::uint32_t i = 0; i < length; ++i) {
    char c = char(p[i]);
    if (c >= '0' && c <= '9') v = v * 10 + std::uint32_t(c - '0');
  }
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------------- Table

Table::Table(const std::string& path, int codePage) {
  auto found = findPathNoCase(path);
  if (!found) throw Error("File '" + fileNameOf(path) + "' does not exist.");
  path_ = *found;
  file_ = File(path_, File::Mode::Read);
  std::string fname = fileNameOf(path_);
  std::uint8_t fixed[header::kFixedSize];
  std::size_t got = file_.readAt(0, fixed, sizeof fixed);
  std::uint16_t hlen = TableHeader::peekHeaderLength(fixed, got, fname);
  std::vector<std::uint8_t> hbytes(hlen);
  got = file_.readAt(0, hbytes.data(), hlen);
  header_ = TableHeader::decode(hbytes.data(), got, fname);
  if (got < hlen) throw Error("Table '" + fname + "' is corrupt: the header is cut short.");

  std::uint64_t size = file_.size();
  std::uint64_t need = header_.recordOffset(header_.recordCount);
  if (need > size) {
    std::uint64_t holds = (size - std::min<std::uint64_t>(size, hlen)) / header_.recordLength;
    throw Error("Table '" + fname + "' is corrupt: its header counts " +
                std::to_string(header_.recordCount) + " records but the file holds " +
                std::to_string(holds) + ".");
  }
  for (std::size_t i = 0; i < header_.fields.size(); ++i) {
    if (header_.fields[i].isNullFlags())
      nullFlags_ = &header_.fields[i];
    else if (!header_.fields[i].isSystem())
      userFields_.push_back(int(i));
  }
  int cp = codePage ? codePage : codePageFromMark(header_.codePageMark);
  converter_ = converterFor(cp ? cp : kDefaultCodePage);

  MemoKind mk = header_.memoKind();
  bool hasMemoFields = std::any_of(header_.fields.begin(), header_.fields.end(),
                                   [](const FieldDescriptor& f) { return f.isMemo(); });
  if (mk != MemoKind::None && hasMemoFields) {
    auto memoPath = findCompanion(path_, mk == MemoKind::Fpt ? ".fpt" : ".dbt");
    // A container keeps its memos in the .dct.
    if (!memoPath && (header_.tableFlags & tableflag::kIsDatabase))
      memoPath = findCompanion(path_, ".dct");
    if (!memoPath) {
      const char* ext = (header_.tableFlags & tableflag::kIsDatabase) ? ".dct"
                        : mk == MemoKind::Fpt                         ? ".fpt"
                                                                      : ".dbt";
      throw Error("Memo file '" + fileNameOf(replaceExtension(path_, ext)) +
                  "' is missing or is invalid.");
    }
    memo_ = std::make_unique<MemoReader>(*memoPath, mk);
  }
}

std::string Table::name() const { return baseName(path_); }

std::string_view Table::charBytes(const std::uint8_t* rec, const FieldDescriptor& f) const {
  const char* c = reinterpret_cast<const char*>(rec + f.offset);
  std::size_t n = f.length;
  if (f.type == 'C') {
    while (n > 0 && (c[n - 1] == ' ' || c[n - 1] == '\0')) --n;
  } else if (f.varLengthBit >= 0 && nullFlagBit(rec, nullFlags_, f.varLengthBit)) {
    n = std::min<std::size_t>(rec[f.offset + f.length - 1], f.length - 1);
  }
  return std::string_view(c, n);
}

bool Table::storedText(const std::uint8_t* rec, std::size_t index, std::string& out) const {
  const FieldDescriptor& f = header_.fields[index];
  if (f.isBinary() || (f.type != 'C' && f.type != 'V' && f.type != 'M')) return false;
  if (f.nullBit >= 0 && nullFlagBit(rec, nullFlags_, f.nullBit)) return true;
  if (f.type != 'M') {
    out.append(charBytes(rec, f));
    return true;
  }
  const std::uint32_t block = memoPointer(rec + f.offset, f.length);
  // A memo a damaged memo file cannot give has no text to offer; reading it says why.
  if (block && memo_ && !memo_->problem(block).empty()) return false;
  if (block && memo_) memo_->read(block, out);
  return true;
}

std::string Table::fieldName(std::size_t index) const {
  std::string out;
  converter_->toUtf8(header_.fields[index].name, out);
  return out;
}

void Table::readRecord(std::uint32_t recno, std::uint8_t* buffer) const {
  if (recno >= header_.recordCount || file_.readAt(header_.recordOffset(recno), buffer,
                                                   header_.recordLength) < header_.recordLength)
    throw Error("Record is out of range.");
}

std::uint32_t Table::countLiveRecords() const {
  RecordScanner scan(*this);
  std::uint32_t n = 0;
  while (scan.nextLive()) ++n;
  return n;
}

std::uint64_t Table::memoLength(const std::uint8_t* record, std::size_t fieldIndex) const {
  const FieldDescriptor& f = header_.fields.at(fieldIndex);
  if (!memo_ || !f.isMemo()) return 0;
  return memo_->length(memoPointer(record + f.offset, f.length));
}

void Table::decodeField(const std::uint8_t* rec, std::size_t index, Value& out) const {
  const FieldDescriptor& f = header_.fields[index];
  if (f.nullBit >= 0 && nullFlagBit(rec, nullFlags_, f.nullBit)) {
    out.setNull();
    return;
  }
  const std::uint8_t* p = rec + f.offset;
  const char* c = reinterpret_cast<const char*>(p);
  switch (f.type) {
    case 'C': {
      if (f.isBinary()) {
        out.setString(Value::Kind::Bytes).assign(c, f.length);
        return;
      }
      converter_->toUtf8(charBytes(rec, f), out.setString(Value::Kind::Text));
      return;
    }
    case 'V':
    case 'Q': {
      if (f.type == 'Q' || f.isBinary())
        out.setString(Value::Kind::Bytes) = charBytes(rec, f);
      else
        converter_->toUtf8(charBytes(rec, f), out.setString(Value::Kind::Text));
      return;
    }
    case 'N':
    case 'F': {
      auto d = normalizeStoredNumber(std::string_view(c, f.length));
      if (!d) {
        out.setNull();
        return;
      }
      out.setString(Value::Kind::Decimal) = *d;
      return;
    }
    case 'I':
      if (f.length >= 4) {
        out.setInt(std::int32_t(bytes::le32(p)));
        return;
      }
      break;
    case 'B':
      if (f.length >= 8) {
        out.setDouble(bytes::leDouble(p));
        return;
      }
      break;
    case 'Y':
      if (f.length >= 8) {
        out.setString(Value::Kind::Decimal) = formatCurrency(std::int64_t(bytes::le64(p)));
        return;
      }
      break;
    case 'D': {
      bool hasTime = false;
      auto dt = f.length >= 8 ? parseDateTimeText(std::string_view(c, 8), &hasTime) : std::nullopt;
      if (dt)
        out.setDate(dt->date);
      else
        out.setNull();
      return;
    }
    case 'T': {
      if (f.length < 8) break;
      std::int32_t day = std::int32_t(bytes::le32(p));
      std::uint32_t ms = bytes::le32(p + 4);
      if (day <= 0 || ms >= kMsPerDay + 1000) {
        out.setNull();
        return;
      }
      // FoxPro truncates the milliseconds it computes (08:30:00 is stored as 08:29:59.999).
      std::uint32_t secs = (ms + 500) / 1000;
      if (secs >= 86400) {
        secs -= 86400;
        ++day;
      }
      DateTime dt;
      dt.date = julianToDate(day);
      if (!validDate(dt.date)) {
        out.setNull();
        return;
      }
      dt.hour = int(secs / 3600);
      dt.minute = int(secs / 60 % 60);
      dt.second = int(secs % 60);
      out.setDateTime(dt);
      return;
    }
    case 'L': {
      char v = c[0];
      out.setBool(v == 'T' || v == 't' || v == 'Y' || v == 'y');
      return;
    }
    case 'M':
    case 'G':
    case 'W':
    case 'P': {
      std::uint32_t block = memoPointer(p, f.length);
      bool binary = f.type != 'M' || f.isBinary();
      std::string& s = out.setString(binary ? Value::Kind::Bytes : Value::Kind::Text);
      if (block == 0 || !memo_) return;
      try {
        if (binary) {
          memo_->read(block, s);
        } else {
          scratch_.clear();
          memo_->read(block, scratch_);
          converter_->toUtf8(scratch_, s);
        }
      } catch (const Error&) {
        if (!unreadableMemosNull_) throw;
        givenNull_.emplace(index, block);
        out.setNull();
      }
      return;
    }
    default:
      break;
  }
  // Unknown types and impossible widths: the bytes as stored.
  out.setString(Value::Kind::Bytes).assign(c, f.length);
}

std::string Table::memoProblem(const std::uint8_t* rec, std::size_t index) const {
  const FieldDescriptor& f = header_.fields[index];
  if (!memo_ || !f.isMemo() || (f.nullBit >= 0 && nullFlagBit(rec, nullFlags_, f.nullBit)))
    return {};
  return memo_->problem(memoPointer(rec + f.offset, f.length));
}

// ---------------------------------------------------------------------------- RecordScanner

RecordScanner::RecordScanner(const Table& table, std::size_t bufferBytes) : table_(table) {
  std::size_t rl = table.header().recordLength;
  perBuffer_ = std::uint32_t(std::max<std::size_t>(1, bufferBytes / rl));
  perBuffer_ = std::max<std::uint32_t>(1, std::min(perBuffer_, table.recordCount()));
  buffer_.resize(std::size_t(perBuffer_) * rl);
}

const std::uint8_t* RecordScanner::next() {
  std::uint32_t n = recno_ == UINT32_MAX ? 0 : recno_ + 1;
  const auto& h = table_.header();
  if (n >= h.recordCount) return nullptr;
  if (n < first_ || n >= first_ + loaded_) {
    first_ = n;
    loaded_ = std::min(perBuffer_, h.recordCount - n);
    std::size_t want = std::size_t(loaded_) * h.recordLength;
    std::size_t got = table_.file().readAt(h.recordOffset(n), buffer_.data(), want);
    loaded_ = std::uint32_t(got / h.recordLength);
    if (loaded_ == 0)
      throw Error("Table '" + fileNameOf(table_.path()) + "' is corrupt: record " +
                  std::to_string(n + 1) + " is cut short.");
  }
  recno_ = n;
  return buffer_.data() + std::size_t(n - first_) * h.recordLength;
}

const std::uint8_t* RecordScanner::nextLive() {
  while (const std::uint8_t* r = next())
    if (!Table::isDeleted(r)) return r;
  return nullptr;
}

}  // namespace vfp
