#include "transfer/datatype.h"

#include <gtest/gtest.h>

#include <set>

#include "ado/dataaccess.h"

using Datatype::DataTypeName;

TEST(DataTypeName, EveryCodeTheBackendsHandOutHasItsEnumerationName) {
  EXPECT_EQ(DataTypeName(ado::adSmallInt), "adSmallInt");
  EXPECT_EQ(DataTypeName(ado::adInteger), "adInteger");
  EXPECT_EQ(DataTypeName(ado::adSingle), "adSingle");
  EXPECT_EQ(DataTypeName(ado::adDouble), "adDouble");
  EXPECT_EQ(DataTypeName(ado::adCurrency), "adCurrency");
  EXPECT_EQ(DataTypeName(ado::adBoolean), "adBoolean");
  EXPECT_EQ(DataTypeName(ado::adTinyInt), "adTinyInt");
  EXPECT_EQ(DataTypeName(ado::adUnsignedTinyInt), "adUnsignedTinyInt");
  EXPECT_EQ(DataTypeName(ado::adUnsignedSmallInt), "adUnsignedSmallInt");
  EXPECT_EQ(DataTypeName(ado::adUnsignedInt), "adUnsignedInt");
  EXPECT_EQ(DataTypeName(ado::adBigInt), "adBigInt");
  EXPECT_EQ(DataTypeName(ado::adUnsignedBigInt), "adUnsignedBigInt");
  EXPECT_EQ(DataTypeName(ado::adBinary), "adBinary");
  EXPECT_EQ(DataTypeName(ado::adChar), "adChar");
  EXPECT_EQ(DataTypeName(ado::adWChar), "adWChar");
  EXPECT_EQ(DataTypeName(ado::adNumeric), "adNumeric");
  EXPECT_EQ(DataTypeName(ado::adDBDate), "adDBDate");
  EXPECT_EQ(DataTypeName(ado::adDBTime), "adDBTime");
  EXPECT_EQ(DataTypeName(ado::adDBTimeStamp), "adDBTimeStamp");
  EXPECT_EQ(DataTypeName(ado::adVarChar), "adVarChar");
  EXPECT_EQ(DataTypeName(ado::adLongVarChar), "adLongVarChar");
  EXPECT_EQ(DataTypeName(ado::adVarWChar), "adVarWChar");
  EXPECT_EQ(DataTypeName(ado::adLongVarWChar), "adLongVarWChar");
  EXPECT_EQ(DataTypeName(ado::adVarBinary), "adVarBinary");
  EXPECT_EQ(DataTypeName(ado::adLongVarBinary), "adLongVarBinary");
}

TEST(DataTypeName, CodesOutsideTheTableHaveNoName) {
  EXPECT_EQ(DataTypeName(0), "adEmpty");  // a real entry, not the empty result
  for (std::int16_t code : {8192, 1, -1, 255, 15, 137, 140, 206, -32768, 32767})
    EXPECT_EQ(DataTypeName(code), "") << code;
}

TEST(DataTypeName, ExactlyThirtyNineDistinctNamedCodes) {
  std::set<std::string> names;
  int named = 0;
  for (int code = -32768; code <= 32767; ++code) {
    auto name = DataTypeName(static_cast<std::int16_t>(code));
    if (!name.empty()) {
      ++named;
      names.insert(name);
    }
  }
  EXPECT_EQ(named, 39);
  EXPECT_EQ(names.size(), 39u);
}

TEST(DataTypeName, WordsTheTransfersSearchFor) {
  auto lower = [](std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  EXPECT_NE(lower(DataTypeName(135)).find("time"), std::string::npos);
  EXPECT_EQ(lower(DataTypeName(135)).find("date"), std::string::npos);
  EXPECT_NE(lower(DataTypeName(133)).find("date"), std::string::npos);
  EXPECT_NE(lower(DataTypeName(7)).find("date"), std::string::npos);
  EXPECT_NE(lower(DataTypeName(201)).find("char"), std::string::npos);
  EXPECT_NE(lower(DataTypeName(203)).find("char"), std::string::npos);
  EXPECT_NE(lower(DataTypeName(11)).find("bool"), std::string::npos);
  for (int code = -32768; code <= 32767; ++code) {
    bool isLongVarBinary =
        lower(DataTypeName(static_cast<std::int16_t>(code))).find("adlongvarbinary") !=
        std::string::npos;
    EXPECT_EQ(isLongVarBinary, code == 205) << code;
  }
}
