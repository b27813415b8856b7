#include "transfer/mysql_script.h"

#include <algorithm>

#include "ado/mysql_session.h"
#include "transfer/datatype.h"
#include "vfp/file.h"

namespace MySqlScript {

std::string TempKeyName(const std::vector<std::string>& fieldNames) {
  // MySQL column names ignore case, and FoxPro keeps free-table field names in capitals, so a
  // field TEMPID0 would clash with a key tempid0.
  std::vector<std::string> taken;
  for (const auto& name : fieldNames) taken.push_back(vfp::toLowerAscii(name));
  for (unsigned n = 0;; ++n) {
    std::string key = "tempid" + std::to_string(n);
    if (std::find(taken.begin(), taken.end(), key) == taken.end()) return key;
  }
}

std::string ColumnType(const ado::FieldInfo& field) {
  const std::string name =
      vfp::toLowerAscii(Datatype::DataTypeName(static_cast<std::int16_t>(field.type)));
  auto has = [&](const char* word) { return name.find(word) != std::string::npos; };
  // A memo may hold far more than TEXT's 64 KB, which a strict server refuses and a lax one cuts.
  if (has("char")) return has("long") ? "LONGTEXT" : "TEXT";
  if (has("boolean")) return "BIT";
  if (has("dec") || has("numeric")) {
    // DECIMAL keeps the digits exactly; FLOAT would round them to 24 bits. A FoxPro N(w,d)
    // field stores up to w digits before the point when the value is too wide for its decimals
    // (N(7,2) holds 1234567), and up to d after it, so w + d digits keep every value it holds.
    int scale = std::clamp(field.scale, 0, 30);
    int precision = std::clamp(std::max(field.precision, 1) + scale, 1, 65);
    return "DECIMAL(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
  }
  if (has("double")) return "DOUBLE";
  if (has("smallint")) return "SMALLINT";
  if (has("bigint")) return has("unsigned") ? "BIGINT UNSIGNED" : "BIGINT";
  if (has("int")) return has("unsigned") ? "INT UNSIGNED" : "INT";
  if (has("binary")) return "LONGBLOB";
  return "TEXT";
}

std::string DropCommand(const std::string& table) {
  return "DROP TABLE IF EXISTS " + ado::quoteMySqlName(table);
}

std::string SwapCommand(const std::string& table, const std::string& aside,
                        const std::string& built) {
  return "RENAME TABLE " + ado::quoteMySqlName(table) + " TO " + ado::quoteMySqlName(aside) + ", " +
         ado::quoteMySqlName(built) + " TO " + ado::quoteMySqlName(table);
}

std::string CreateCommand(const std::string& table, const std::string& keyName,
                          const std::vector<ado::FieldInfo>& fields) {
  std::string command = "CREATE TABLE " + ado::quoteMySqlName(table) + "( " +
                        ado::quoteMySqlName(keyName) + " INTEGER UNSIGNED NOT NULL,";
  for (const auto& field : fields)
    command += ado::quoteMySqlName(field.name) + " " + ColumnType(field) + ",";
  command.pop_back();
  // utf8mb4 whatever the database's default: it holds every character any FoxPro code page has,
  // where a latin1 database would turn Cyrillic or Greek text into "?".
  return command + " ) DEFAULT CHARSET=utf8mb4;";
}

std::string AlterCommand(const std::string& table, const std::string& keyName) {
  return "ALTER TABLE " + ado::quoteMySqlName(table) + " DROP COLUMN " +
         ado::quoteMySqlName(keyName);
}

}  // namespace MySqlScript
