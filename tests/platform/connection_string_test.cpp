#include <gtest/gtest.h>

#include "ado/dataaccess.h"

using ado::ConnectionString;

TEST(ConnectionString, ParsesPlainPairsInOrderAndCaseInsensitively) {
  auto cs = ConnectionString::parse(
      "DRIVER={MySQL ODBC 5.1 Driver};SERVER=db.example;PORT=3306;USER=bob;DATABASE=shop;"
      "PASSWORD=secret;");
  EXPECT_EQ(cs.get("driver"), "MySQL ODBC 5.1 Driver");
  EXPECT_EQ(cs.get("Server"), "db.example");
  EXPECT_EQ(cs.get("PORT"), "3306");
  EXPECT_EQ(cs.get("password"), "secret");
  EXPECT_FALSE(cs.has("UID"));
  EXPECT_EQ(cs.pairs().size(), 6u);
}

TEST(ConnectionString, EmptyValuesAndPathsSurvive) {
  auto cs = ConnectionString::parse(
      "Provider=vfpoledb.1;Data Source=;Collating Sequence=machine;");
  EXPECT_TRUE(cs.has("Data Source"));
  EXPECT_EQ(cs.get("Data Source", "x"), "");
  auto folder = ConnectionString::parse(
      "Provider=vfpoledb.1;Data Source=C:\\data\\;Collating Sequence=general;");
  EXPECT_EQ(folder.get("Data Source"), "C:\\data\\");
}

TEST(ConnectionString, BracedValuesRoundTripSemicolonsAndBraces) {
  for (std::string secret : {"a;b", "{open", "x}y;z", "}}", ";", "{a}}b}"}) {
    std::string text = ConnectionString::pair("PASSWORD", secret) + ConnectionString::pair("X", "1");
    auto cs = ConnectionString::parse(text);
    EXPECT_EQ(cs.get("PASSWORD"), secret) << text;
    EXPECT_EQ(cs.get("X"), "1") << text;
  }
  // Values without ";" or a leading "{" are written exactly as typed.
  EXPECT_EQ(ConnectionString::pair("USER", "bo}b"), "USER=bo}b;");
  EXPECT_EQ(ConnectionString::pair("PORT", ""), "PORT=;");
}

TEST(ConnectionString, UnbracedSemicolonCutsTheValueShort) {
  auto cs = ConnectionString::parse("USER=bob;PASSWORD=ab;cd=ef;");
  EXPECT_EQ(cs.get("PASSWORD"), "ab");
  EXPECT_EQ(cs.get("cd"), "ef");
}
