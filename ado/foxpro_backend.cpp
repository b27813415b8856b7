// The FoxPro backend of the data-access layer: a thin adapter over the engine in vfp/.
// A Data Source naming a folder opens its free tables; one naming a .dbc file opens that
// container. Field types map to the data-access type codes in one table (fieldInfoFor).
#include <algorithm>

#include "ado/dataaccess.h"
#include "ado/foxpro_access.h"
#include "vfp/session.h"
#include "vfp/error.h"
#include "vfp/file.h"

namespace ado {

namespace {

constexpr long long kMemoDefinedSize = 2147483647;  // what the type reports for memo-like fields

FieldInfo fieldInfoFor(const vfp::FieldDescriptor& f) {
  FieldInfo info;
  info.name = f.name;
  info.nullable = f.isNullable();
  info.definedSize = f.length;
  const bool bin = f.isBinary();
  switch (f.type) {
    case 'C':
      info.type = bin ? adBinary : adChar;
      break;
    case 'V':
      info.type = bin ? adVarBinary : adVarChar;
      break;
    case 'M':
      info.type = bin ? adLongVarBinary : adLongVarChar;
      info.definedSize = kMemoDefinedSize;
      break;
    case 'N':
    case 'F':
      info.type = adNumeric;
      info.precision = int(f.length);
      info.scale = f.decimals;
      break;
    case 'I':
      info.type = adInteger;
      break;
    case 'B':
      info.type = adDouble;
      break;
    case 'Y':
      info.type = adCurrency;
      info.scale = 4;
      break;
    case 'D':
      info.type = adDBDate;
      break;
    case 'T':
      info.type = adDBTimeStamp;
      break;
    case 'L':
      info.type = adBoolean;
      break;
    case 'G':
    case 'W':
    case 'P':
      info.type = adLongVarBinary;
      info.definedSize = kMemoDefinedSize;
      break;
    case 'Q':
      info.type = adVarBinary;
      break;
    default:
      info.type = adBinary;
      break;
  }
  return info;
}

Value toAdo(const vfp::Value& v) {
  using K = vfp::Value::Kind;
  switch (v.kind) {
    case K::Null:
      return Value::null();
    case K::Bool:
      return Value::fromBool(v.b);
    case K::Int:
      return Value::fromInt(v.i);
    case K::Double:
      return Value::fromDouble(v.d);
    case K::Decimal:
      return Value::fromDecimal(v.s);
    case K::Text:
      return Value::fromText(v.s);
    case K::Bytes:
      return Value::fromBytes(v.s);
    case K::Date:
      return Value::fromDate({v.when.date.year, v.when.date.month, v.when.date.day});
    case K::DateTime:
      return Value::fromDateTime({{v.when.date.year, v.when.date.month, v.when.date.day},
                                  {false, v.when.hour, v.when.minute, v.when.second, 0}});
  }
  return Value::null();
}

// Rows of a SELECT, streamed from the table file; the count is exact from the start.
class FoxCursor : public Cursor {
 public:
  explicit FoxCursor(std::unique_ptr<vfp::QueryResult> result) : result_(std::move(result)) {
    for (std::size_t i = 0; i < result_->fieldCount(); ++i) {
      fields_.push_back(fieldInfoFor(result_->field(i)));
      // The container's long name, or the stored name converted from the table's code page.
      // FoxPro keeps field names in capitals; the provider hands them out in lower case, which
      // is also what the names become as MySQL columns.
      fields_.back().name = vfp::toLowerAscii(result_->fieldName(i));
    }
    values_.resize(fields_.size());
    have_.assign(fields_.size(), false);
    eof_ = !result_->next();
  }
  const std::vector<FieldInfo>& fields() const override { return fields_; }
  long long recordCount() const override { return result_->rowCount(); }
  bool eof() const override { return eof_; }
  vfp::QueryResult& result() { return *result_; }
  void moveNext() override {
    if (eof_)
      throw DataAccessError("Either BOF or EOF is True, or the current record has been deleted.");
    try {
      eof_ = !result_->next();
    } catch (const vfp::Error& e) {
      throw DataAccessError(e.what());
    }
    std::fill(have_.begin(), have_.end(), false);
  }
  const Value& value(int index) const override {
    if (index < 0 || std::size_t(index) >= fields_.size())
      throw DataAccessError(
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    if (eof_)
      throw DataAccessError("Either BOF or EOF is True, or the current record has been deleted.");
    if (!have_[std::size_t(index)]) {
      try {
        values_[std::size_t(index)] = toAdo(result_->value(std::size_t(index)));
      } catch (const vfp::Error& e) {
        throw DataAccessError(e.what());
      }
      have_[std::size_t(index)] = true;
    }
    return values_[std::size_t(index)];
  }

 private:
  std::unique_ptr<vfp::QueryResult> result_;
  std::vector<FieldInfo> fields_;
  mutable std::vector<Value> values_;
  mutable std::vector<bool> have_;
  bool eof_ = true;
};

// A small fixed result held in memory: the tables schema.
class RowsCursor : public Cursor {
 public:
  RowsCursor(std::vector<FieldInfo> fields, std::vector<std::vector<Value>> rows)
      : fields_(std::move(fields)), rows_(std::move(rows)) {}
  const std::vector<FieldInfo>& fields() const override { return fields_; }
  long long recordCount() const override { return (long long)rows_.size(); }
  bool eof() const override { return pos_ >= rows_.size(); }
  void moveNext() override {
    if (eof())
      throw DataAccessError("Either BOF or EOF is True, or the current record has been deleted.");
    ++pos_;
  }
  const Value& value(int index) const override {
    if (eof())
      throw DataAccessError("Either BOF or EOF is True, or the current record has been deleted.");
    if (index < 0 || std::size_t(index) >= fields_.size())
      throw DataAccessError(
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    return rows_[pos_][std::size_t(index)];
  }

 private:
  std::vector<FieldInfo> fields_;
  std::vector<std::vector<Value>> rows_;
  std::size_t pos_ = 0;
};

class FoxProBackend : public Backend {
 public:
  void open(const ConnectionString& cs, const ConnectionOptions& options) override {
    std::string source = cs.get("Data Source");
    if (source.empty()) throw DataAccessError("Invalid path or file name.");
    // Both collating sequences are kept for index keys; the order of rows does not depend on it.
    collation_ = cs.get("Collating Sequence", "machine");
    try {
      session_ = std::make_unique<vfp::Session>(vfp::openCatalog(source));
      session_->setUnmarkedCodePage(options.unmarkedCodePage);
    } catch (const vfp::Error& e) {
      throw DataAccessError(e.what());
    }
  }
  std::unique_ptr<Cursor> execute(std::string_view sql) override {
    auto result = guarded([&] { return session().execute(sql); });
    if (!result) return nullptr;
    return std::make_unique<FoxCursor>(std::move(result));
  }
  std::unique_ptr<Cursor> openRecordSet(const std::string& sql, CursorType, LockType) override {
    auto result = guarded([&] { return session().execute(sql); });
    if (!result) throw DataAccessError("The statement returned no rows: " + sql);
    return std::make_unique<FoxCursor>(std::move(result));
  }
  std::unique_ptr<Cursor> tablesSchema() override {
    auto entries = guarded([&] {
      session().flush();
      return session().catalog().tables();
    });
    std::vector<FieldInfo> fields;
    for (const char* n :
         {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE", "DESCRIPTION"}) {
      FieldInfo f;
      f.name = n;
      f.type = adVarWChar;
      fields.push_back(f);
    }
    std::vector<std::vector<Value>> rows;
    for (const auto& e : entries)
      rows.push_back({Value::null(), Value::null(), Value::fromText(e.name),
                      Value::fromText(e.type), Value::null()});
    return std::make_unique<RowsCursor>(std::move(fields), std::move(rows));
  }
  void close() override {
    if (!session_) return;
    replacedAtClose_ = session_->charactersReplaced();
    auto s = std::move(session_);
    guarded([&] {
      s->flush();
      return 0;
    });
  }
  long long charactersReplaced() const override {
    return session_ ? session_->charactersReplaced() : replacedAtClose_;
  }

 private:
  vfp::Session& session() {
    if (!session_) throw DataAccessError("Operation is not allowed when the object is closed.");
    return *session_;
  }
  template <class F>
  auto guarded(F f) -> decltype(f()) {
    try {
      return f();
    } catch (const vfp::Error& e) {
      throw DataAccessError(e.what());
    }
  }

  std::unique_ptr<vfp::Session> session_;
  std::string collation_;
  long long replacedAtClose_ = 0;
};

}  // namespace

std::unique_ptr<Backend> makeFoxProBackend() { return std::make_unique<FoxProBackend>(); }

vfp::QueryResult* foxproResultOf(RecordSet& rs) {
  auto* cursor = dynamic_cast<FoxCursor*>(rs.openCursor());
  return cursor ? &cursor->result() : nullptr;
}

Value fromEngineValue(const vfp::Value& v) { return toAdo(v); }

}  // namespace ado
