#include "vfp/table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <set>

#include "vfp/bytes.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/convert.h"
#include "vfp/error.h"

namespace vfp {

namespace {

constexpr std::uint8_t kLive = ' ';
// Queued records beyond this go to the file (uncounted) so that a batch holds little memory.
constexpr std::size_t kSpillBytes = 4 << 20;
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

// ------------------------------------------------------------------------- field names

std::vector<std::string> freeTableFieldNames(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  std::set<std::string> used;
  for (const auto& raw : names) {
    std::string n = toUpperAscii(raw);
    if (n.size() > header::kMaxNameLength) n.resize(header::kMaxNameLength);
    if (used.count(n)) {
      // Replace the tail with a counter until the name is free: NAME_OF_C2, NAME_OF_C3, ...
      for (int k = 2;; ++k) {
        std::string num = std::to_string(k);
        std::string cand =
            n.substr(0, std::min(n.size(), header::kMaxNameLength - num.size())) + num;
        if (!used.count(cand)) {
          n = cand;
          break;
        }
      }
    }
    used.insert(n);
    out.push_back(n);
  }
  return out;
}

// ---------------------------------------------------------------------------- TableWriter

namespace {

std::uint32_t defaultWidth(char type) {
  switch (type) {
    case 'I':
    case 'M':
    case 'G':
    case 'W':
      return 4;
    case 'B':
    case 'Y':
    case 'D':
    case 'T':
      return 8;
    case 'L':
      return 1;
    default:
      return 0;
  }
}

void todayInto(TableHeader& h) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  h.updateYear = std::uint8_t((tm.tm_year + 1900) % 100);
  h.updateMonth = std::uint8_t(tm.tm_mon + 1);
  h.updateDay = std::uint8_t(tm.tm_mday);
}

// FoxPro stores field names in upper case, accented letters included (é -> É, š -> Š).
void upper1252(std::string& s) {
  for (auto& ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 'a' && c <= 'z'))
      ch = char(c - 0x20);
    else if (c == 0x9A || c == 0x9C || c == 0x9E)
      ch = char(c - 0x10);
    else if (c == 0xFF)
      ch = char(0x9F);
  }
}

// Letters, digits and "_", not starting with a digit; letters of the code page beyond ASCII
// (a with umlaut, e acute ...) count as letters, as they do in FoxPro.
bool validName(const std::string& n) {
  auto letter = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
  };
  if (n.empty() || !letter(static_cast<unsigned char>(n[0]))) return false;
  return std::all_of(n.begin(), n.end(), [&](char c) {
    return letter(static_cast<unsigned char>(c)) || (c >= '0' && c <= '9');
  });
}

}  // namespace

std::unique_ptr<TableWriter> TableWriter::create(const std::string& path,
                                                 const std::vector<ColumnSpec>& columns,
                                                 int codePage, std::size_t* replaced) {
  std::string fname = fileNameOf(path);
  if (columns.empty()) throw Error("Table '" + fname + "' needs at least one field.");
  // Names are stored in the table's code page, then cut to ten characters.
  auto conv = converterFor(codePage);
  std::vector<std::string> rawNames;
  for (const auto& c : columns) {
    std::string n;
    std::size_t r = conv->fromUtf8(c.name, n);
    if (replaced) *replaced += r;
    if (codePage == 1252) upper1252(n);
    rawNames.push_back(n);
  }
  auto names = freeTableFieldNames(rawNames);

  TableHeader h;
  h.codePageMark = markFromCodePage(codePage);
  if (!h.codePageMark)
    throw Error("Code page " + std::to_string(codePage) + " has no FoxPro mark.");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnSpec& c = columns[i];
    FieldDescriptor f;
    f.name = names[i];
    if (!validName(f.name)) throw Error("'" + c.name + "' is not a valid field name.");
    f.type = c.type;
    std::uint32_t fixed = defaultWidth(c.type);
    f.length = fixed ? fixed : c.width;
    f.decimals = c.decimals;
    switch (c.type) {
      case 'C':
      case 'V':
      case 'Q':
        if (f.length < 1 || f.length > 254)
          throw Error("Field " + f.name + ": width must be from 1 to 254.");
        f.decimals = 0;
        break;
      case 'N':
      case 'F':
        if (f.length < 1 || f.length > 20)
          throw Error("Field " + f.name + ": width must be from 1 to 20.");
        if (f.decimals > 0 && (f.decimals > 18 || f.decimals + 2u > f.length))
          throw Error("Field " + f.name + ": too many decimal places for the width.");
        break;
      case 'B':
        if (f.decimals > 18) throw Error("Field " + f.name + ": too many decimal places.");
        break;
      case 'Y':
        f.decimals = 4;
        break;
      case 'I':
      case 'D':
      case 'T':
      case 'L':
      case 'M':
      case 'G':
      case 'W':
        f.decimals = 0;
        break;
      default:
        throw Error("Field " + f.name + ": type '" + std::string(1, c.type) +
                    "' is not supported.");
    }
    if (c.nullable) f.flags |= fieldflag::kNullable;
    if (c.binary && (c.type == 'C' || c.type == 'V' || c.type == 'M'))
      f.flags |= fieldflag::kBinary;
    if (c.autoInc) {
      if (c.type != 'I')
        throw Error("Field " + f.name + ": only Integer fields can autoincrement.");
      f.flags |= fieldflag::kAutoInc | fieldflag::kBinary;
      f.autoIncNext = c.autoIncNext;
      f.autoIncStep = c.autoIncStep ? c.autoIncStep : 1;
    }
    h.fields.push_back(f);
  }
  h.layOutForVfp9();
  if (h.fields.size() > header::kMaxFields) throw Error("Too many fields.");
  if (h.recordLength > header::kMaxRecordLength) throw Error("Record is too long.");
  todayInto(h);

  // Replace the table and its companions, whatever their letter case: all of them or, when one
  // is in use, none.
  std::vector<std::string> previous;
  if (auto entries = folderEntries(folderOf(path))) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
      const std::string target =
          fileNameOf(ext == std::string(".dbf") ? path : replaceExtension(path, ext));
      for (const auto& e : *entries) {
        const std::string full = joinPath(folderOf(path), e);
        if (equalsNoCase(e, target) && pathKind(full) == PathKind::File) previous.push_back(full);
      }
    }
  }
  try {
    FileRemoval(std::move(previous)).commit();
  } catch (const Error& e) {
    throw Error(std::string("Cannot replace the table: ") + e.what());
  }
  bool memo = h.tableFlags & tableflag::kHasMemo;
  if (memo) {
    // Memo companion in the letter case of the table's extension ("orders.DBF" -> "orders.FPT").
    std::string ext = fname.size() >= 4 && fname.substr(fname.size() - 4) ==
                                               toUpperAscii(fname.substr(fname.size() - 4))
                          ? ".FPT"
                          : ".fpt";
    bool dbfExt = fname.size() >= 4 && equalsNoCase(fname.substr(fname.size() - 4), ".dbf");
    if (!dbfExt) ext = ".fpt";
    MemoWriter::createEmpty(replaceExtension(path, ext));
  }
  {
    File f(path, File::Mode::Create);
    std::string bytes = h.encode();
    bytes += char(header::kEndOfFile);
    f.writeAt(0, bytes.data(), bytes.size());
  }
  return openForAppend(path);
}

std::unique_ptr<TableWriter> TableWriter::openForAppend(const std::string& path, int codePage) {
  std::unique_ptr<TableWriter> w(new TableWriter());
  std::uint32_t maxAuto[header::kMaxFields + 1] = {};
  bool anyAuto = false;
  {
    Table t(path);
    w->path_ = t.path();
    w->header_ = t.header();
    const bool marked = codePageFromMark(t.header().codePageMark) != 0;
    w->converter_ = converterFor(marked || !codePage ? t.codePage() : codePage);
    for (const auto& f : w->header_.fields) anyAuto = anyAuto || f.isAutoInc();
    if (anyAuto && t.recordCount() > 0) {
      // A stale next value (files rebuilt by other tools) must not hand out a number twice.
      RecordScanner scan(t);
      while (const std::uint8_t* r = scan.next())
        for (std::size_t i = 0; i < w->header_.fields.size(); ++i) {
          const auto& f = w->header_.fields[i];
          if (f.isAutoInc() && f.type == 'I') {
            auto v = std::int32_t(bytes::le32(r + f.offset));
            if (v > 0) maxAuto[i] = std::max(maxAuto[i], std::uint32_t(v));
          }
        }
    }
  }
  w->fileName_ = fileNameOf(w->path_);
  auto& h = w->header_;
  if (!h.isVisualFoxPro())
    throw Error(
        "Table '" + w->fileName_ +
        "' was made by an older FoxPro or by dBase; only Visual FoxPro tables can be written.");
  // A structural index is rebuilt with every flush; a table whose index cannot be kept exact
  // is refused here, before anything is written.
  w->index_ = IndexMaintainer::open(w->path_);
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    auto& f = h.fields[i];
    if (f.isNullFlags())
      w->nullFlags_ = &f;
    else if (!f.isSystem())
      w->userFields_.push_back(int(i));
    if (f.isAutoInc() && maxAuto[i] >= f.autoIncNext) {
      f.autoIncNext = maxAuto[i] + std::max<std::uint8_t>(f.autoIncStep, 1);
      w->autoIncDirty_ = true;
    }
  }
  w->file_ = File(w->path_, File::Mode::ReadWrite);
  w->flushedCount_ = w->writtenCount_ = h.recordCount;
  // Blank record: spaces where VFP writes spaces, zeros for binary storage.
  w->blank_.assign(h.recordLength, ' ');
  auto* blank = reinterpret_cast<std::uint8_t*>(w->blank_.data());
  for (const auto& f : h.fields) {
    switch (f.type) {
      case 'I':
      case 'B':
      case 'Y':
      case 'T':
      case 'M':
      case 'G':
      case 'W':
      case '0':
      case 'Q':
        std::memset(blank + f.offset, 0, f.length);
        break;
      case 'L':
        blank[f.offset] = 'F';
        break;
      default:
        break;
    }
  }
  blank[0] = kLive;
  if (h.memoKind() == MemoKind::Fpt) {
    // A container keeps its memos in the .dct.
    const char* memoExt = (h.tableFlags & tableflag::kIsDatabase) ? ".dct" : ".fpt";
    auto memoPath = findCompanion(w->path_, memoExt);
    if (!memoPath)
      throw Error("Memo file '" + fileNameOf(replaceExtension(w->path_, memoExt)) +
                  "' is missing or is invalid.");
    w->memo_ = std::make_unique<MemoWriter>(*memoPath);
  }
  todayInto(h);
  return w;
}

void setAutoIncrement(const std::string& path, std::size_t fieldIndex, std::uint32_t next,
                      std::uint8_t step) {
  Table t(path);
  const auto& h = t.header();
  const std::string name = fileNameOf(t.path());
  if (!h.isVisualFoxPro())
    throw Error("Table '" + name +
                "' was made by an older FoxPro or by dBase; only Visual FoxPro "
                "tables can autoincrement.");
  if (fieldIndex >= h.fields.size() || h.fields[fieldIndex].type != 'I' ||
      h.fields[fieldIndex].length != 4)
    throw Error("Only Integer fields can autoincrement.");
  step = std::max<std::uint8_t>(step, 1);
  const auto& f = h.fields[fieldIndex];
  std::int64_t largest = 0;
  RecordScanner scan(t);
  while (const std::uint8_t* r = scan.next())
    largest = std::max<std::int64_t>(largest, std::int32_t(bytes::le32(r + f.offset)));
  std::int64_t n = std::max<std::int64_t>(next, largest + step);
  if (n > INT32_MAX)
    throw Error("Numeric overflow. Data was lost (field " + f.name +
                " already holds the largest value an autoincrement can give).");
  std::uint8_t d[header::kAutoIncStepOffset - header::kFieldFlagsOffset + 1];
  d[0] = std::uint8_t(f.flags | fieldflag::kAutoInc | fieldflag::kBinary);
  bytes::putLe32(d + 1, std::uint32_t(n));
  d[5] = step;
  File file(t.path(), File::Mode::ReadWrite);
  file.writeAt(
      header::kFixedSize + fieldIndex * header::kDescriptorSize + header::kFieldFlagsOffset, d,
      sizeof d);
  if (h.version == std::uint8_t(TableVersion::VisualFoxPro)) {
    const auto v = std::uint8_t(TableVersion::VisualFoxProAutoInc);
    file.writeAt(header::kVersionOffset, &v, 1);
  }
}

TableWriter::~TableWriter() {
  try {
    flush();
  } catch (...) {
    // Destructors must not throw; flush() is called explicitly where errors matter.
  }
}

void TableWriter::encodeField(const FieldDescriptor& f, const Value& v, std::uint8_t* rec,
                              std::size_t& replaced) {
  std::uint8_t* p = rec + f.offset;
  auto mismatch = [&] { return Error("Data type mismatch (field " + f.name + ")."); };
  auto setBit = [&](int bit) {
    if (bit >= 0 && nullFlags_) rec[nullFlags_->offset + bit / 8] |= std::uint8_t(1u << (bit % 8));
  };
  if (v.isNull()) {
    if (!f.isNullable()) throw Error("Field " + f.name + " does not accept null values.");
    setBit(f.nullBit);
    if (f.type == 'V' || f.type == 'Q') setBit(f.varLengthBit);  // length byte stays 0
    return;
  }
  const bool isText = v.kind == Value::Kind::Text;
  const bool isString = isText || v.kind == Value::Kind::Bytes;
  // Text for a character field, in the table's code page unless the field is binary.
  auto stringBytes = [&]() -> const std::string& {
    if (!isText || f.isBinary() || f.type == 'Q' || f.type == 'W' || f.type == 'G') return v.s;
    text_.clear();
    replaced += converter_->fromUtf8(v.s, text_);
    return text_;
  };
  auto textForNumber = [&]() -> std::string {
    switch (v.kind) {
      case Value::Kind::Text:
      case Value::Kind::Decimal:
        return v.s;
      case Value::Kind::Int:
        return std::to_string(v.i);
      case Value::Kind::Double: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v.d);
        return buf;
      }
      case Value::Kind::Bool:
        return v.b ? "1" : "0";
      default:
        throw mismatch();
    }
  };
  auto blankText = [&] { return isText && v.s.find_first_not_of(" \t") == std::string::npos; };

  switch (f.type) {
    case 'C': {
      if (!isString) throw mismatch();
      const std::string& b = stringBytes();
      std::size_t n = std::min<std::size_t>(b.size(), f.length);
      std::memcpy(p, b.data(), n);  // the rest is already spaces
      return;
    }
    case 'V':
    case 'Q': {
      if (!isString) throw mismatch();
      const std::string& b = stringBytes();
      std::size_t n = std::min<std::size_t>(b.size(), f.length);
      std::memcpy(p, b.data(), n);
      if (n < f.length) {
        p[f.length - 1] = std::uint8_t(n);
        setBit(f.varLengthBit);
      }
      return;
    }
    case 'M':
    case 'G':
    case 'W': {
      if (!isString) throw mismatch();
      const std::string& b = stringBytes();
      std::uint32_t block =
          memo_->append(f.type == 'G' ? fpt::kTypeObject : fpt::kTypeText, b.data(), b.size());
      bytes::putLe32(p, block);
      return;
    }
    case 'N':
    case 'F': {
      if (blankText()) return;  // stays blank
      std::string s = textForNumber();
      // Text already in its stored form (the right number of decimals) is stored as it is.
      const auto point = s.find('.');
      const std::size_t decimals = point == std::string::npos ? 0 : s.size() - point - 1;
      if (!isCanonicalDecimal(s) || decimals != f.decimals) {
        auto d = parseDecimal(s);
        if (!d) throw mismatch();
        s = formatDecimal(*d, f.decimals);
      }
      if (s.size() > f.length)
        throw Error("Numeric overflow. Data was lost (field " + f.name + ").");
      std::memcpy(p + (f.length - s.size()), s.data(), s.size());
      return;
    }
    case 'I': {
      if (blankText()) return;
      std::int64_t iv;
      if (v.kind == Value::Kind::Int) {
        iv = v.i;
      } else if (auto whole = plainInteger(v.s);
                 whole && (v.kind == Value::Kind::Decimal || isText)) {
        iv = *whole;
      } else {
        auto d = parseDecimal(textForNumber());
        if (!d) throw mismatch();
        std::string s = formatDecimal(*d, 0);
        if (s.size() > 11) throw Error("Numeric overflow. Data was lost (field " + f.name + ").");
        iv = std::stoll(s);
      }
      if (iv < INT32_MIN || iv > INT32_MAX)
        throw Error("Numeric overflow. Data was lost (field " + f.name + ").");
      bytes::putLe32(p, std::uint32_t(std::int32_t(iv)));
      return;
    }
    case 'B': {
      if (blankText()) return;
      double d;
      if (v.kind == Value::Kind::Double) {
        d = v.d;
      } else if (v.kind == Value::Kind::Int) {
        d = double(v.i);
      } else {
        std::string s = textForNumber();
        if (!isDecimalText(s)) throw mismatch();
        d = std::strtod(s.c_str(), nullptr);
      }
      // FoxPro has no infinity or NaN: 1e400 is an overflow, not a value.
      if (!std::isfinite(d)) throw Error("Numeric overflow. Data was lost (field " + f.name + ").");
      bytes::putLeDouble(p, d);
      return;
    }
    case 'Y': {
      if (blankText()) return;
      auto c = parseCurrency(textForNumber());
      if (!c) throw mismatch();
      bytes::putLe64(p, std::uint64_t(*c));
      return;
    }
    case 'D':
    case 'T': {
      DateTime dt;
      if (v.kind == Value::Kind::Date || v.kind == Value::Kind::DateTime) {
        dt = v.when;
        if (!validDate(dt.date)) throw mismatch();
      } else if (isText) {
        if (blankText()) return;
        auto parsed = parseDateTimeText(v.s);
        if (!parsed) throw mismatch();
        dt = *parsed;
      } else {
        throw mismatch();
      }
      if (f.type == 'D') {
        // YYYYMMDD (validDate keeps the year within four digits).
        int parts[3] = {dt.date.year, dt.date.month, dt.date.day};
        const int widths[3] = {4, 2, 2};
        std::uint8_t* out = p + 8;
        for (int k = 2; k >= 0; --k)
          for (int w = 0; w < widths[k]; ++w, parts[k] /= 10)
            *--out = std::uint8_t('0' + parts[k] % 10);
      } else {
        bytes::putLe32(p, std::uint32_t(dateToJulian(dt.date)));
        bytes::putLe32(p + 4, std::uint32_t((dt.hour * 3600 + dt.minute * 60 + dt.second) * 1000));
      }
      return;
    }
    case 'L': {
      bool b;
      if (v.kind == Value::Kind::Bool) {
        b = v.b;
      } else if (v.kind == Value::Kind::Int) {
        b = v.i != 0;
      } else if (isText) {
        std::string t = toUpperAscii(v.s);
        t.erase(0, std::min(t.find_first_not_of(' '), t.size()));
        while (!t.empty() && t.back() == ' ') t.pop_back();
        if (t.empty()) return;  // stays .F.
        if (t == "T" || t == ".T." || t == "TRUE" || t == "Y" || t == "YES" || t == "1")
          b = true;
        else if (t == "F" || t == ".F." || t == "FALSE" || t == "N" || t == "NO" || t == "0")
          b = false;
        else
          throw mismatch();
      } else {
        throw mismatch();
      }
      p[0] = b ? 'T' : 'F';
      return;
    }
    default:
      throw Error("Field " + f.name + ": type '" + std::string(1, f.type) + "' cannot be written.");
  }
}

std::size_t TableWriter::append(std::span<const Value> values) {
  const auto& h = header_;
  if (values.size() > userFields_.size())
    throw Error("Too many values: table '" + fileName_ + "' has " +
                std::to_string(userFields_.size()) + " fields.");
  std::uint32_t count = h.recordCount + 1;
  if (count == 0 || h.recordOffset(count) + 1 > header::kMaxFileSize)
    throw Error("Table '" + fileName_ +
                "' would grow past 2 GB, the largest file FoxPro can open.");

  std::size_t at = pending_.size();
  pending_ += blank_;
  auto* rec = reinterpret_cast<std::uint8_t*>(pending_.data() + at);
  std::size_t replaced = 0;
  const std::uint32_t memoMark = memo_ ? memo_->mark() : 0;
  try {
    for (std::size_t k = 0; k < userFields_.size(); ++k) {
      auto& f = header_.fields[std::size_t(userFields_[k])];
      if (f.isAutoInc()) {
        // The counter is a signed 32-bit Integer: past its largest value it would wrap.
        if (f.autoIncNext > std::uint32_t(INT32_MAX))
          throw Error("Numeric overflow. Data was lost (field " + f.name +
                      " has handed out its largest autoincrement value).");
        bytes::putLe32(rec + f.offset, f.autoIncNext);
        continue;
      }
      if (k < values.size()) {
        encodeField(f, values[k], rec, replaced);
      } else if (f.type == 'V' || f.type == 'Q') {
        // Left out: empty, the way FoxPro marks a short value (length byte 0, flag bit set).
        static const Value kEmpty = [] {
          Value e;
          e.setString(Value::Kind::Bytes);
          return e;
        }();
        encodeField(f, kEmpty, rec, replaced);
      }
    }
    if (memo_ && memo_->pendingEnd() > header::kMaxFileSize)
      throw Error("Memo file would grow past 2 GB, the largest file FoxPro can open.");
    // Last: a record the index refuses leaves every tag as it was.
    if (index_) index_->add(rec, count);
  } catch (...) {
    // A refused record leaves nothing behind, neither its bytes nor its memo blocks.
    pending_.resize(at);
    if (memo_) memo_->rollBack(memoMark);
    throw;
  }
  for (std::size_t k = 0; k < userFields_.size(); ++k) {
    auto& f = header_.fields[std::size_t(userFields_[k])];
    if (f.isAutoInc()) {
      f.autoIncNext += std::max<std::uint8_t>(f.autoIncStep, 1);
      autoIncDirty_ = true;
    }
  }
  header_.recordCount = count;
  if (pendingSince_ == std::chrono::steady_clock::time_point{})
    pendingSince_ = std::chrono::steady_clock::now();
  if (pending_.size() >= kSpillBytes) {
    // Past the header's count: FoxPro does not see these records until flush() counts them.
    file_.writeAt(header_.recordOffset(writtenCount_), pending_.data(), pending_.size());
    writtenCount_ += std::uint32_t(pending_.size() / header_.recordLength);
    pending_.clear();
  }
  return replaced;
}

void TableWriter::discard() {
  pending_.clear();
  header_.recordCount = flushedCount_;
  pendingSince_ = {};
  autoIncDirty_ = false;
}

std::chrono::steady_clock::duration TableWriter::indexWriteTime() const {
  return index_ ? index_->lastWriteTime() : std::chrono::steady_clock::duration{};
}

void TableWriter::flush() {
  if (header_.recordCount == flushedCount_ && !autoIncDirty_) return;
  auto step = [&](int n) {
    if (beforeFlushStep) beforeFlushStep(n);
  };
  step(1);
  if (memo_) memo_->flush();
  step(2);
  if (!pending_.empty())
    file_.writeAt(header_.recordOffset(writtenCount_), pending_.data(), pending_.size());
  // Between records and count: a crash before this leaves the old records and index; after it,
  // FoxPro sees keys beyond the record count and says so instead of silently missing rows.
  if (index_) index_->write();
  step(3);
  std::uint8_t fixed[7];
  fixed[0] = header_.updateYear;
  fixed[1] = header_.updateMonth;
  fixed[2] = header_.updateDay;
  bytes::putLe32(fixed + 3, header_.recordCount);
  if (autoIncDirty_) {
    for (std::size_t i = 0; i < header_.fields.size(); ++i) {
      const auto& f = header_.fields[i];
      if (!f.isAutoInc()) continue;
      std::uint8_t next[4];
      bytes::putLe32(next, f.autoIncNext);
      file_.writeAt(header::kFixedSize + i * header::kDescriptorSize + header::kAutoIncNextOffset,
                    next, 4);
    }
  }
  file_.writeAt(header::kDateOffset, fixed, sizeof fixed);
  step(4);
  std::uint8_t eof = header::kEndOfFile;
  file_.writeAt(header_.recordOffset(header_.recordCount), &eof, 1);
  flushedCount_ = writtenCount_ = header_.recordCount;
  pending_.clear();
  pendingSince_ = {};
  autoIncDirty_ = false;
}

}  // namespace vfp
