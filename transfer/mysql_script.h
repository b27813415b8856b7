// The MySQL commands that the FoxPro-to-MySQL transfer writes into the preview: the drop of an
// overwritten table, the creation with a temporary key column first, and the removal of that
// key column once the rows are in. Plain functions, testable without a window or a database.
#pragma once

#include <string>
#include <vector>

#include "platform/dataaccess.h"

namespace MySqlScript {

// A MySQL identifier in backticks, any backtick inside doubled.
std::string QuoteIdentifier(const std::string& name);

// "tempid" + the smallest n >= 0 such that no field has that name in any letter case.
std::string TempKeyName(const std::vector<std::string>& fieldNames);

// The column type for a field, chosen from the words of its type name and widened where the
// narrower type would change values: TEXT (LONGTEXT for memos), BIT, DECIMAL(p,s), DOUBLE,
// SMALLINT, INT, BIGINT, LONGBLOB.
std::string ColumnType(const ado::FieldInfo& field);

// "DROP TABLE IF EXISTS `t`": the overwrite question matches names in any letter case, which
// a server that keeps table names by case (MySQL on Linux) does not; there the old table stays
// and the script goes on instead of stopping at the drop.
std::string DropCommand(const std::string& table);
// "CREATE TABLE `t`( `key` INTEGER UNSIGNED NOT NULL,`a` TEXT,`b` INT ) DEFAULT CHARSET=utf8mb4;"
std::string CreateCommand(const std::string& table, const std::string& keyName,
                          const std::vector<ado::FieldInfo>& fields);
std::string AlterCommand(const std::string& table, const std::string& keyName);

}  // namespace MySqlScript
