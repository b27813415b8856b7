// Making tables to write to: the field names and structure of a new free table, opening an
// existing table for appending, and turning an Integer field into an autoincrementing one.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <set>

#include "vfp/bytes.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/convert.h"
#include "vfp/error.h"
#include "vfp/table.h"

namespace vfp {

namespace {

constexpr std::uint8_t kLive = ' ';

}  // namespace

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

// FoxPro stores field names in upper case, accented letters included (é -> É, š -> Š). This
// does the letters beyond ASCII; freeTableFieldNames does the ASCII ones.
void upperAccented1252(std::string& s) {
  for (auto& ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
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
    if (codePage == 1252) upperAccented1252(n);
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

void clearAutoIncrement(const std::string& path, std::size_t fieldIndex) {
  Table t(path);
  const auto& h = t.header();
  if (fieldIndex >= h.fields.size() || h.fields[fieldIndex].type != 'I' ||
      h.fields[fieldIndex].length != 4)
    throw Error("Only Integer fields can autoincrement.");
  const auto& f = h.fields[fieldIndex];
  if (!f.isAutoInc()) return;
  std::uint8_t d[header::kAutoIncStepOffset - header::kFieldFlagsOffset + 1] = {};
  d[0] = std::uint8_t(f.flags & ~fieldflag::kAutoInc);
  File file(t.path(), File::Mode::ReadWrite);
  file.writeAt(
      header::kFixedSize + fieldIndex * header::kDescriptorSize + header::kFieldFlagsOffset, d,
      sizeof d);
}

}  // namespace vfp
