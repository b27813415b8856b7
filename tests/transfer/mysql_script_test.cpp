#include "transfer/mysql_script.h"

#include <gtest/gtest.h>

using namespace MySqlScript;

namespace {
ado::FieldInfo field(const std::string& name, int type, int precision = 0, int scale = 0) {
  ado::FieldInfo f;
  f.name = name;
  f.type = type;
  f.precision = precision;
  f.scale = scale;
  return f;
}
}  // namespace

TEST(MySqlScript, TempKeyAvoidsExistingFieldsInAnyCase) {
  EXPECT_EQ(TempKeyName({"id", "name"}), "tempid0");
  EXPECT_EQ(TempKeyName({"tempid0"}), "tempid1");
  EXPECT_EQ(TempKeyName({"tempid1", "tempid0"}), "tempid2");
  // MySQL would refuse a key column tempid0 beside a field TEMPID0.
  EXPECT_EQ(TempKeyName({"TEMPID0"}), "tempid1");
  EXPECT_EQ(TempKeyName({"tempid01"}), "tempid0");
}

TEST(MySqlScript, ColumnTypesKeepEveryValue) {
  EXPECT_EQ(ColumnType(field("a", ado::adChar)), "TEXT");
  EXPECT_EQ(ColumnType(field("a", ado::adLongVarChar)), "LONGTEXT");
  EXPECT_EQ(ColumnType(field("a", ado::adLongVarWChar)), "LONGTEXT");
  EXPECT_EQ(ColumnType(field("a", ado::adBoolean)), "BIT");
  // N(12,2) may hold twelve digits before the point when a value outgrew its decimals.
  EXPECT_EQ(ColumnType(field("a", ado::adNumeric, 12, 2)), "DECIMAL(14,2)");
  EXPECT_EQ(ColumnType(field("a", ado::adNumeric, 20, 18)), "DECIMAL(38,18)");
  EXPECT_EQ(ColumnType(field("a", 14, 20, 0)), "DECIMAL(20,0)");  // adDecimal
  EXPECT_EQ(ColumnType(field("a", ado::adDouble)), "DOUBLE");
  EXPECT_EQ(ColumnType(field("a", ado::adSmallInt)), "SMALLINT");
  EXPECT_EQ(ColumnType(field("a", ado::adUnsignedSmallInt)), "SMALLINT");
  EXPECT_EQ(ColumnType(field("a", ado::adInteger)), "INT");
  EXPECT_EQ(ColumnType(field("a", ado::adTinyInt)), "INT");
  EXPECT_EQ(ColumnType(field("a", ado::adUnsignedInt)), "INT UNSIGNED");
  EXPECT_EQ(ColumnType(field("a", ado::adBigInt)), "BIGINT");
  EXPECT_EQ(ColumnType(field("a", ado::adUnsignedBigInt)), "BIGINT UNSIGNED");
  EXPECT_EQ(ColumnType(field("a", ado::adLongVarBinary)), "LONGBLOB");
  EXPECT_EQ(ColumnType(field("a", ado::adVarBinary)), "LONGBLOB");
  EXPECT_EQ(ColumnType(field("a", ado::adBinary)), "LONGBLOB");
  for (int code : {6, 4, 133, 135, 72, 1, 8192})  // currency, single, dates, GUID, unnamed
    EXPECT_EQ(ColumnType(field("a", code)), "TEXT") << code;
}

TEST(MySqlScript, CommandTexts) {
  std::vector<ado::FieldInfo> fields{field("id", ado::adInteger), field("name", ado::adChar),
                                     field("price", ado::adNumeric, 10, 2)};
  EXPECT_EQ(CreateCommand("orders", "tempid0", fields),
            "CREATE TABLE `orders`( `tempid0` INTEGER UNSIGNED NOT NULL,`id` INT,`name` TEXT,"
            "`price` DECIMAL(12,2) ) DEFAULT CHARSET=utf8mb4;");
  EXPECT_EQ(CreateCommand("empty", "tempid0", {}),
            "CREATE TABLE `empty`( `tempid0` INTEGER UNSIGNED NOT NULL ) DEFAULT CHARSET=utf8mb4;");
  EXPECT_EQ(DropCommand("order items"), "DROP TABLE IF EXISTS `order items`");
  EXPECT_EQ(AlterCommand("order items", "tempid0"),
            "ALTER TABLE `order items` DROP COLUMN `tempid0`");
  EXPECT_EQ(DropCommand("a`b"), "DROP TABLE IF EXISTS `a``b`");
}
