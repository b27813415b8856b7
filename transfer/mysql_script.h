// The MySQL commands that the FoxPro-to-MySQL transfer writes into the preview: the creation
// with a temporary key column first, the removal of that key column once the rows are in, and,
// for a table that replaces another, the swap that puts it in the old one's place and the drop
// of the old one. Plain functions, testable without a window or a database.
#pragma once

#include <string>
#include <vector>

#include "ado/dataaccess.h"

namespace MySqlScript {

// "tempid" + the smallest n >= 0 such that no field has that name in any letter case.
std::string TempKeyName(const std::vector<std::string>& fieldNames);

// The column type for a field, chosen from the words of its type name and widened where the
// narrower type would change values: TEXT (LONGTEXT for memos), BIT, DECIMAL(p,s), DOUBLE,
// SMALLINT, INT, BIGINT, LONGBLOB.
std::string ColumnType(const ado::FieldInfo& field);

// "DROP TABLE IF EXISTS `t`".
std::string DropCommand(const std::string& table);
// "RENAME TABLE `t` TO `aside`, `built` TO `t`": the table built to replace t takes its name in
// one step the server does whole, and the old one waits under `aside` for its drop.
std::string SwapCommand(const std::string& table, const std::string& aside,
                        const std::string& built);
// "CREATE TABLE `t`( `key` INTEGER UNSIGNED NOT NULL,`a` TEXT,`b` INT ) DEFAULT CHARSET=utf8mb4;"
std::string CreateCommand(const std::string& table, const std::string& keyName,
                          const std::vector<ado::FieldInfo>& fields);
std::string AlterCommand(const std::string& table, const std::string& keyName);

}  // namespace MySqlScript
