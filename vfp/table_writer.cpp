// Appending records: encoding each value into its field, queueing records and memo blocks, and
// writing them in the order that keeps the table readable at every moment (see table.h).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "vfp/bytes.h"
#include "vfp/cdx_maintainer.h"
#include "vfp/convert.h"
#include "vfp/error.h"
#include "vfp/table.h"

namespace vfp {

namespace {

// Queued records beyond this go to the file (uncounted) so that a batch holds little memory.
constexpr std::size_t kSpillBytes = 4 << 20;
// Records changed in place can only go to the file with the index, so past this much (their
// bytes and what keeping them costs) the statement that changed them ends with a flush; one that
// changes more by itself is written from its own bytes, not copied.
constexpr std::size_t kChangedBytes = 16 << 20;
constexpr std::size_t kChangedEntryBytes = 64;  // a map node
// Records changed in place go to the file in runs of neighbours up to this long.
constexpr std::size_t kRunBytes = 1 << 20;

}  // namespace

// ---------------------------------------------------------------------------- TableWriter

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
  if (onRecord) onRecord(count - 1, reinterpret_cast<const std::uint8_t*>(pending_.data() + at));
  if (pending_.size() >= kSpillBytes) {
    // Past the header's count: FoxPro does not see these records until flush() counts them.
    file_.writeAt(header_.recordOffset(writtenCount_), pending_.data(), pending_.size());
    writtenCount_ += std::uint32_t(pending_.size() / header_.recordLength);
    pending_.clear();
  }
  return replaced;
}

void TableWriter::scan(
    const std::function<bool(std::uint32_t recno, const std::uint8_t* record)>& visit) {
  const std::size_t rl = header_.recordLength;
  // The records in the file through a buffer of many, then those still queued.
  const std::uint32_t perRead = std::uint32_t(std::max<std::size_t>(1, (1 << 20) / rl));
  std::vector<std::uint8_t> buffer;
  auto change = changedAt_.begin();  // in record order, as the records are visited
  for (std::uint32_t first = 0; first < writtenCount_; first += perRead) {
    const std::uint32_t n = std::min(perRead, writtenCount_ - first);
    buffer.resize(std::size_t(n) * rl);
    if (file_.readAt(header_.recordOffset(first), buffer.data(), buffer.size()) != buffer.size())
      throw Error("Table '" + fileName_ + "' is corrupt: record " + std::to_string(first + 1) +
                  " is cut short.");
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* rec = buffer.data() + std::size_t(i) * rl;
      if (change != changedAt_.end() && change->first == first + i)
        rec = reinterpret_cast<const std::uint8_t*>(changed_.data() + (change++)->second);
      if (!visit(first + i, rec)) return;
    }
  }
  const auto* queued = reinterpret_cast<const std::uint8_t*>(pending_.data());
  for (std::uint32_t i = 0; writtenCount_ + i < header_.recordCount; ++i)
    if (!visit(writtenCount_ + i, queued + std::size_t(i) * rl)) return;
}

void TableWriter::readRecord(std::uint32_t recno, std::uint8_t* out) {
  const std::size_t rl = header_.recordLength;
  if (recno >= header_.recordCount) throw Error("Record is out of range.");
  if (recno >= writtenCount_) {
    std::memcpy(out, pending_.data() + std::size_t(recno - writtenCount_) * rl, rl);
  } else if (const auto c = changedAt_.find(recno); c != changedAt_.end()) {
    std::memcpy(out, changed_.data() + c->second, rl);
  } else if (file_.readAt(header_.recordOffset(recno), out, rl) != rl) {
    throw Error("Table '" + fileName_ + "' is corrupt: record " + std::to_string(recno + 1) +
                " is cut short.");
  }
}

std::size_t TableWriter::update(std::span<const std::uint32_t> recnos,
                                std::span<const std::pair<std::size_t, Value>> set) {
  const std::size_t rl = header_.recordLength;
  for (const auto& [k, v] : set) {
    if (k >= userFields_.size()) throw Error("Field is out of range.");
    const auto& f = header_.fields[std::size_t(userFields_[k])];
    // FoxPro hands out autoincrement values itself.
    if (f.isAutoInc() && f.autoIncStep > 0) throw Error("Field " + f.name + " is read-only.");
  }
  std::string before(recnos.size() * rl, '\0'), after;
  for (std::size_t i = 0; i < recnos.size(); ++i)
    readRecord(recnos[i], reinterpret_cast<std::uint8_t*>(before.data() + i * rl));
  after = before;
  std::size_t replaced = 0;
  const std::vector<std::uint32_t> numbers(recnos.begin(), recnos.end());
  const std::uint32_t memoMark = memo_ ? memo_->mark() : 0;
  try {
    for (std::size_t i = 0; i < recnos.size(); ++i) {
      auto* rec = reinterpret_cast<std::uint8_t*>(after.data() + i * rl);
      for (const auto& [k, v] : set) {
        const auto& f = header_.fields[std::size_t(userFields_[k])];
        // The field as a new record has it, then the value: encodeField only sets bits.
        std::memcpy(rec + f.offset, blank_.data() + f.offset, f.length);
        if (nullFlags_) {
          for (int bit : {f.nullBit, f.varLengthBit})
            if (bit >= 0) rec[nullFlags_->offset + bit / 8] &= std::uint8_t(~(1u << (bit % 8)));
        }
        encodeField(f, v, rec, replaced);
      }
    }
    if (memo_ && memo_->pendingEnd() > header::kMaxFileSize)
      throw Error("Memo file would grow past 2 GB, the largest file FoxPro can open.");
    rewrite(numbers, before, after);
  } catch (...) {
    if (memo_) memo_->rollBack(memoMark);
    throw;
  }
  before = std::string();
  finish(numbers, after);
  return replaced;
}

std::string TableWriter::probeRecord(std::span<const std::pair<std::size_t, Value>> values) {
  std::string rec = blank_;
  std::size_t replaced = 0;
  for (const auto& [k, v] : values) {
    const auto& f = header_.fields[std::size_t(userFields_.at(k))];
    if (f.isMemo()) throw Error("Field " + f.name + " is a memo.");
    encodeField(f, v, reinterpret_cast<std::uint8_t*>(rec.data()), replaced);
  }
  return rec;
}

void TableWriter::markDeleted(std::span<const std::uint32_t> recnos) { mark(recnos, '*'); }

void TableWriter::recall(std::span<const std::uint32_t> recnos) { mark(recnos, ' '); }

void TableWriter::mark(std::span<const std::uint32_t> recnos, char flag) {
  const std::size_t rl = header_.recordLength;
  std::string before(recnos.size() * rl, '\0');
  for (std::size_t i = 0; i < recnos.size(); ++i)
    readRecord(recnos[i], reinterpret_cast<std::uint8_t*>(before.data() + i * rl));
  std::string after = before;
  for (std::size_t i = 0; i < recnos.size(); ++i) after[i * rl] = flag;
  const std::vector<std::uint32_t> numbers(recnos.begin(), recnos.end());
  rewrite(numbers, before, after);
  before = std::string();
  finish(numbers, after);
}

void TableWriter::rewrite(const std::vector<std::uint32_t>& recnos, const std::string& before,
                          const std::string& after) {
  const std::size_t rl = header_.recordLength;
  auto at = [&](const std::string& s, std::size_t i) {
    return reinterpret_cast<const std::uint8_t*>(s.data() + i * rl);
  };
  if (index_) {
    std::size_t done = 0;
    try {
      for (; done < recnos.size(); ++done)
        index_->change(at(before, done), at(after, done), recnos[done] + 1);
    } catch (...) {
      // Back to the keys the records had, newest change first: each step restores a state the
      // index held before, so none of them can be refused.
      while (done-- > 0) index_->change(at(after, done), at(before, done), recnos[done] + 1);
      throw;
    }
  }
  // With an index, the records wait for flush(), which writes them with the index (those of a
  // large change are left to finish()); without one they go to the file at once, after the memo
  // blocks the new values point at.
  if (!index_ && memo_) memo_->flush();
  const bool large = writtenByFinish(recnos.size());
  for (std::size_t i = 0; i < recnos.size(); ++i) {
    const std::uint32_t r = recnos[i];
    if (r >= writtenCount_)
      std::memcpy(pending_.data() + std::size_t(r - writtenCount_) * rl, at(after, i), rl);
    else if (!index_)
      file_.writeAt(header_.recordOffset(r), at(after, i), rl);
    else if (!large)
      keepChanged(r, at(after, i));
  }
  if (onRecord)
    for (std::size_t i = 0; i < recnos.size(); ++i) onRecord(recnos[i], at(after, i));
  if (index_ && !recnos.empty()) {
    indexDirty_ = true;
    if (pendingSince_ == std::chrono::steady_clock::time_point{})
      pendingSince_ = std::chrono::steady_clock::now();
  }
}

void TableWriter::keepChanged(std::uint32_t recno, const std::uint8_t* record) {
  const std::size_t rl = header_.recordLength;
  if (const auto c = changedAt_.find(recno); c != changedAt_.end()) {
    std::memcpy(changed_.data() + c->second, record, rl);
  } else {
    changedAt_.emplace(recno, changed_.size());
    changed_.append(reinterpret_cast<const char*>(record), rl);
  }
}

bool TableWriter::writtenByFinish(std::size_t records) const {
  return index_ && records * header_.recordLength > kChangedBytes;
}

void TableWriter::finish(const std::vector<std::uint32_t>& recnos, const std::string& after) {
  if (!writtenByFinish(recnos.size())) {
    if (changed_.size() + changedAt_.size() * kChangedEntryBytes > kChangedBytes) flush();
    return;
  }
  try {
    flushWith(&recnos, &after);
  } catch (...) {
    // Still to be written by the next flush, as the index holds them already.
    const std::size_t rl = header_.recordLength;
    for (std::size_t i = 0; i < recnos.size(); ++i)
      if (recnos[i] < writtenCount_)
        keepChanged(recnos[i], reinterpret_cast<const std::uint8_t*>(after.data() + i * rl));
    throw;
  }
}

void TableWriter::discard() {
  if (onRecord && header_.recordCount != flushedCount_) onRecord(kRecordsDropped, nullptr);
  pending_.clear();
  changed_.clear();
  changedAt_.clear();
  header_.recordCount = flushedCount_;
  pendingSince_ = {};
  autoIncDirty_ = false;
}

std::chrono::steady_clock::duration TableWriter::indexWriteTime() const {
  return index_ ? index_->lastWriteTime() : std::chrono::steady_clock::duration{};
}

void TableWriter::flush() { flushWith(nullptr, nullptr); }

void TableWriter::flushWith(const std::vector<std::uint32_t>* recnos, const std::string* after) {
  if (header_.recordCount == flushedCount_ && !autoIncDirty_ && !indexDirty_) return;
  auto step = [&](int n) {
    if (beforeFlushStep) beforeFlushStep(n);
  };
  step(1);
  if (memo_) memo_->flush();
  step(2);
  if (!pending_.empty())
    file_.writeAt(header_.recordOffset(writtenCount_), pending_.data(), pending_.size());
  // Appended records are in the file, beyond the count, where no reader sees them. What makes
  // records and index change together comes next, while the new index file is complete and
  // waits to replace the old one: the records changed in place, then the header's count. A
  // crash before leaves the old records, count and index; after the rename, the new ones. Only
  // a crash within these few writes leaves the index with old keys or without the counted new
  // records, and then the new index file is left beside it (every key is computed again from
  // the records when the table is next written).
  auto writeRecordsAndCount = [&] {
    const std::size_t rl = header_.recordLength;
    std::string run;
    std::uint32_t first = 0;
    auto writeRun = [&] {
      if (!run.empty()) file_.writeAt(header_.recordOffset(first), run.data(), run.size());
      run.clear();
    };
    auto add = [&](std::uint32_t recno, const char* record) {
      if (recno != first + run.size() / rl || run.size() >= kRunBytes) writeRun();
      if (run.empty()) first = recno;
      run.append(record, rl);
    };
    for (const auto& c : changedAt_) add(c.first, changed_.data() + c.second);
    // Then those of a large change, over any earlier change of the same records.
    if (recnos)
      for (std::size_t i = 0; i < recnos->size(); ++i)
        if ((*recnos)[i] < writtenCount_) add((*recnos)[i], after->data() + i * rl);
    writeRun();
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
  };
  if (index_)
    index_->write(writeRecordsAndCount);
  else
    writeRecordsAndCount();
  changed_.clear();
  changedAt_.clear();
  step(4);
  std::uint8_t eof = header::kEndOfFile;
  file_.writeAt(header_.recordOffset(header_.recordCount), &eof, 1);
  flushedCount_ = writtenCount_ = header_.recordCount;
  pending_.clear();
  pendingSince_ = {};
  autoIncDirty_ = false;
  indexDirty_ = false;
}

}  // namespace vfp
