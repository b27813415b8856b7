// What the MySQL backend hands out for each column type: type code, precision and scale, value.
#include <gtest/gtest.h>

#include "ado/dataaccess.h"
#include "support/mysql_sandbox.h"

namespace {

using ado::Value;

struct Expected {
  const char* column;
  int type;
  std::string text;  // Value::toText() of the row's value
  Value::Kind kind;
};

class MySqlTypes : public qmtest::MySqlDatabaseTest {};

TEST_F(MySqlTypes, EachColumnTypeMapsToItsCodeAndValue) {
  admin(
      "CREATE TABLE t ("
      "ti TINYINT, tiu TINYINT UNSIGNED, si SMALLINT, siu SMALLINT UNSIGNED,"
      "mi MEDIUMINT, miu MEDIUMINT UNSIGNED, i INT, iu INT UNSIGNED, bi BIGINT, biu BIGINT "
      "UNSIGNED,"
      "dec1 DECIMAL(12,4), dec2 DECIMAL(5,0) UNSIGNED, f FLOAT, d DOUBLE,"
      "b1 BIT(1), b9 BIT(9), dt DATE, tm TIME(3), dtm DATETIME(6), ts TIMESTAMP NULL, y YEAR,"
      "c CHAR(5), e ENUM('red','green'), s SET('a','b'), vc VARCHAR(20), tx TEXT, mtx MEDIUMTEXT,"
      "j JSON, bn BINARY(3), vb VARBINARY(10), bl BLOB, lb LONGBLOB, g GEOMETRY)");
  admin(
      "INSERT INTO t VALUES (-128, 255, -32768, 65535, -8388608, 16777215, -2147483648, 4294967295,"
      "-9223372036854775808, 18446744073709551615, -12345678.1234, 99999, 1.5, "
      "0.1000000000000000055511151231257827,"
      "b'1', b'100000001', '2024-02-29', '-12:34:56.5', '1999-12-31 23:59:59.123456',"
      "'2038-01-19 03:14:07', 2155, 'ab', 'green', 'a,b', 'x''y', 'long\ntext', '', "
      "'{\"k\": 1}', 'a\\0b', x'00ff', x'deadbeef', '', ST_GeomFromText('POINT(1 2)'))");
  admin("INSERT INTO t () VALUES ()");

  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open(connectionString());
  ado::RecordSet rs;
  rs.open("SELECT * FROM t", c, ado::adOpenStatic, ado::adLockReadOnly);
  ASSERT_EQ(rs.recordCount(), 2);

  using K = Value::Kind;
  const std::vector<Expected> expected = {
      {"ti", ado::adTinyInt, "-128", K::Int},
      {"tiu", ado::adUnsignedTinyInt, "255", K::UInt},
      {"si", ado::adSmallInt, "-32768", K::Int},
      {"siu", ado::adUnsignedSmallInt, "65535", K::UInt},
      {"mi", ado::adInteger, "-8388608", K::Int},
      {"miu", ado::adUnsignedInt, "16777215", K::UInt},
      {"i", ado::adInteger, "-2147483648", K::Int},
      {"iu", ado::adUnsignedInt, "4294967295", K::UInt},
      {"bi", ado::adBigInt, "-9223372036854775808", K::Int},
      {"biu", ado::adUnsignedBigInt, "18446744073709551615", K::UInt},
      {"dec1", ado::adNumeric, "-12345678.1234", K::Decimal},
      {"dec2", ado::adNumeric, "99999", K::Decimal},
      {"f", ado::adSingle, "1.5", K::Double},
      {"d", ado::adDouble, "0.1", K::Double},
      {"b1", ado::adBoolean, "1", K::Bool},
      {"b9", ado::adBinary, std::string("\x01\x01", 2), K::Bytes},
      {"dt", ado::adDBDate, "2024-02-29", K::Date},
      {"tm", ado::adDBTime, "-12:34:56.500000", K::Time},
      {"dtm", ado::adDBTimeStamp, "1999-12-31 23:59:59.123456", K::DateTime},
      {"ts", ado::adDBTimeStamp, "2038-01-19 03:14:07", K::DateTime},
      {"y", ado::adSmallInt, "2155", K::Int},
      {"c", ado::adWChar, "ab", K::Text},
      {"e", ado::adWChar, "green", K::Text},
      {"s", ado::adWChar, "a,b", K::Text},
      {"vc", ado::adVarWChar, "x'y", K::Text},
      {"tx", ado::adLongVarWChar, "long\ntext", K::Text},
      {"mtx", ado::adLongVarWChar, "", K::Text},
      {"j", ado::adLongVarWChar, "{\"k\": 1}", K::Text},
      {"bn", ado::adBinary, std::string("a\0b", 3), K::Bytes},
      {"vb", ado::adVarBinary, std::string("\x00\xff", 2), K::Bytes},
      {"bl", ado::adLongVarBinary, "\xde\xad\xbe\xef", K::Bytes},
      {"lb", ado::adLongVarBinary, "", K::Bytes},
      {"g", ado::adLongVarBinary, "", K::Bytes},  // the text is WKB; only the kind is compared
  };
  ASSERT_EQ(rs.fieldCount(), static_cast<int>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& e = expected[i];
    const auto& f = rs.field(static_cast<int>(i));
    SCOPED_TRACE(e.column);
    EXPECT_EQ(f.name, e.column);
    EXPECT_EQ(f.type, e.type);
    const Value& v = rs.value(e.column);
    EXPECT_EQ(v.kind(), e.kind);
    if (std::string(e.column) != "g") {
      EXPECT_EQ(v.toText(), e.text);
    }
  }
  EXPECT_EQ(rs.value("tm").asTime().microsecond, 500000);
  EXPECT_TRUE(rs.value("tm").asTime().negative);
  EXPECT_EQ(rs.value("g").asString().size(), 25u);  // SRID + WKB point

  EXPECT_EQ(rs.field(rs.fieldIndex("dec1")).precision, 12);
  EXPECT_EQ(rs.field(rs.fieldIndex("dec1")).scale, 4);
  EXPECT_EQ(rs.field(rs.fieldIndex("dec2")).precision, 5);
  EXPECT_EQ(rs.field(rs.fieldIndex("dec2")).scale, 0);
  EXPECT_EQ(rs.field(rs.fieldIndex("vc")).definedSize, 20);
  EXPECT_EQ(rs.field(rs.fieldIndex("c")).definedSize, 5);
  EXPECT_EQ(rs.field(rs.fieldIndex("vb")).definedSize, 10);

  // The second row holds the defaults: NULL everywhere, handed out as null values.
  rs.moveNext();
  ASSERT_FALSE(rs.eof());
  for (int i = 0; i < rs.fieldCount(); ++i)
    EXPECT_TRUE(rs.value(i).isNull()) << rs.field(i).name << " " << rs.value(i).toText();
  rs.moveNext();
  EXPECT_TRUE(rs.eof());
}

TEST_F(MySqlTypes, ZeroDatesAndNotNullFlagsSurvive) {
  admin(
      "CREATE TABLE z (d DATE NOT NULL, t DATETIME NOT NULL, n INT NOT NULL, "
      "bool_col BOOLEAN)");
  admin("INSERT IGNORE INTO z VALUES ('0000-00-00', '0000-00-00 00:00:00', 7, 1)");
  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open(connectionString());
  ado::RecordSet rs(c.execute("SELECT * FROM z"));
  EXPECT_EQ(rs.value("d").toText(), "0000-00-00");
  EXPECT_EQ(rs.value("t").toText(), "0000-00-00 00:00:00");
  EXPECT_FALSE(rs.field(0).nullable);
  EXPECT_TRUE(rs.field(3).nullable);
  // BOOLEAN is TINYINT(1) on the server: an integer, unlike BIT(1).
  EXPECT_EQ(rs.field(3).type, ado::adTinyInt);
  EXPECT_EQ(rs.value("bool_col").asInt(), 1);
}

}  // namespace
