#include "transfer/foxpro_script.h"

#include <gtest/gtest.h>

using ado::Value;
using namespace FoxproScript;

TEST(FoxproScript, ColumnEntriesAndNumericNames) {
  EXPECT_EQ(ColumnEntry("order date"), "[order_date]");
  EXPECT_EQ(ColumnEntry("in/out"), "[in_out]");
  EXPECT_EQ(BareName("[order_date]"), "order_date");
  for (const char* yes : {"2021", "1.5", "-3", "+7", " 42 ", "1e5", ".5", "5."})
    EXPECT_TRUE(IsNumericName(yes)) << yes;
  for (const char* no : {"", "a1", "1a", "e5", "1e", "-", ".", "1.2.3", "0x10", "12 34"})
    EXPECT_FALSE(IsNumericName(no)) << no;
}

TEST(FoxproScript, CreateCommandOfTheWorkedExample) {
  EXPECT_EQ(CreateCommand("C:\\data\\orders.DBF", {"[id]", "[note]", "[pic]"}, {3, 200, 205}),
            "CREATE TABLE 'C:\\data\\orders.DBF'([id] M,[note] M,[pic] BLOB)");
  // Every binary type becomes a blob, so its bytes are not mangled as text.
  EXPECT_EQ(CreateCommand("t.DBF", {"[a]", "[b]"}, {128, 204}),
            "CREATE TABLE 't.DBF'([a] BLOB,[b] BLOB)");
}

TEST(FoxproScript, InsertCommandOfTheWorkedExample) {
  std::vector<std::string> literals{Literal(Value::fromInt(1), 3),
                                    Literal(Value::fromText("it's"), 200),
                                    Literal(Value::null(), 205)};
  EXPECT_EQ(InsertCommand("C:\\data\\orders.DBF", literals),
            "INSERT INTO [C:\\data\\orders.DBF] VALUES('1', 'it''s', '')");
}

TEST(FoxproScript, LiteralsKeepEveryCharacter) {
  EXPECT_EQ(Literal(Value::fromText(""), 200), "''");
  EXPECT_EQ(Literal(Value::fromText("a'+'b"), 200), "'a''+''b'");  // quotes beside "+" survive
  EXPECT_EQ(Literal(Value::fromText("+'x'+"), 200), "'+''x''+'");
  EXPECT_EQ(Literal(Value::fromText("a\r\nb"), 201), "'a'+CHR(13)+CHR(10)+'b'");
  EXPECT_EQ(Literal(Value::fromText("\r"), 201), "CHR(13)");
  EXPECT_EQ(Literal(Value::fromText("\nx\n"), 201), "CHR(10)+'x'+CHR(10)");
  std::string s201 = std::string(200, 'q') + "'";
  EXPECT_EQ(Literal(Value::fromText(s201), 200), "'" + std::string(200, 'q') + "'+''''");
  EXPECT_EQ(Literal(Value::fromDecimal("-12.50"), 131), "'-12.50'");
  EXPECT_EQ(Literal(Value::fromDate({2021, 8, 31}), 133), "'2021-08-31'");
  EXPECT_EQ(Literal(Value::fromBytes(std::string("\x00\xff\x1a", 3)), 205), "0h00FF1A");
  EXPECT_EQ(Literal(Value::fromBytes(""), 204), "''");
}
