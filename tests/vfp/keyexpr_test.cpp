// Index expressions: what FoxPro computes for the functions and operators tags use.
#include "vfp/keyexpr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "vfp/value.h"

using namespace vfp::keyexpr;

namespace {

std::string hex(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out;
}

// A record built field by field from text (C, N, D, L) or numbers (I, T).
class FakeRecord : public KeyRecord {
 public:
  explicit FakeRecord(const KeySchema& s)
      : schema_(s), raw_(s.fields.size()), nulls_(s.fields.size()) {
    for (std::size_t i = 0; i < s.fields.size(); ++i)
      raw_[i].assign(std::size_t(s.fields[i].width), ' ');
  }
  FakeRecord& text(const std::string& name, const std::string& v) {
    auto& r = raw_[*schema_.find(name)];
    r.assign(r.size(), ' ');
    r.replace(0, v.size(), v);
    return *this;
  }
  FakeRecord& number(const std::string& name, const std::string& v) {  // right-justified
    auto& r = raw_[*schema_.find(name)];
    r = std::string(r.size() - v.size(), ' ') + v;
    return *this;
  }
  FakeRecord& int32(const std::string& name, std::int32_t v) {
    std::memcpy(raw_[*schema_.find(name)].data(), &v, 4);
    return *this;
  }
  FakeRecord& datetime(const std::string& name, std::int32_t day, std::int32_t ms) {
    auto& r = raw_[*schema_.find(name)];
    std::memcpy(r.data(), &day, 4);
    std::memcpy(r.data() + 4, &ms, 4);
    return *this;
  }
  FakeRecord& null(const std::string& name) {
    nulls_[*schema_.find(name)] = true;
    return *this;
  }
  FakeRecord& remove() {
    deleted_ = true;
    return *this;
  }

  bool deleted() const override { return deleted_; }
  std::span<const std::uint8_t> raw(std::size_t f) const override {
    return {reinterpret_cast<const std::uint8_t*>(raw_[f].data()), raw_[f].size()};
  }
  bool isNull(std::size_t f) const override { return nulls_[f]; }

 private:
  const KeySchema& schema_;
  std::vector<std::string> raw_;
  std::vector<bool> nulls_;
  bool deleted_ = false;
};

KeySchema schema(std::uint8_t cp = 0x03) {
  KeySchema s;
  s.codePageMark = cp;
  s.fields = {{"NAME", "", 'C', 10, 0, true},  {"PRICE", "", 'N', 8, 2, false},
              {"ID", "", 'I', 4, 0, false},    {"BORN", "", 'D', 8, 0, false},
              {"STAMP", "", 'T', 8, 0, false}, {"FLAG", "", 'L', 1, 0, false},
              {"NOTES", "", 'M', 4, 0, false}, {"CONTACT_TY", "contact_type_id", 'I', 4, 0, false},
              {"MONEY", "", 'Y', 8, 4, false}};
  return s;
}

}  // namespace

TEST(KeyExpr, NumbersDatesAndIntegersEncodeInSortableBytes) {
  EXPECT_EQ(hex(encodeDouble(45)), "C046800000000000");
  EXPECT_EQ(hex(encodeDouble(static_cast<double>(vfp::dateToJulian({1996, 7, 4})))),
            "C142B1AE80000000");
  EXPECT_LT(encodeDouble(-2), encodeDouble(-1));
  EXPECT_LT(encodeDouble(-1), encodeDouble(0));
  EXPECT_LT(encodeDouble(0), encodeDouble(0.5));
  EXPECT_EQ(encodeDouble(-0.0), encodeDouble(0.0));
  Value one;
  one.type = Type::Integer;
  one.number = 1;
  EXPECT_EQ(hex(encodeKey(one, 4, false)), "80000001");
  one.number = -1;
  EXPECT_EQ(hex(encodeKey(one, 4, false)), "7FFFFFFF");
  EXPECT_EQ(hex(encodeKey(one, 4, true)), "807FFFFFFF");
  one.null = true;
  EXPECT_EQ(hex(encodeKey(one, 4, true)), "0000000000");
  EXPECT_THROW(encodeKey(one, 4, false), EvaluationError);

  EXPECT_EQ(vfp::dateToJulian({1970, 1, 1}), 2440588);
  EXPECT_EQ(vfp::dateToJulian({9999, 12, 31}), 5373484);
  EXPECT_EQ(vfp::julianToDate(2456639), (vfp::Date{2013, 12, 12}));
}

TEST(KeyExpr, StrFormatsLikeFoxPro) {
  EXPECT_EQ(formatStr(45, 10, 0), "        45");
  EXPECT_EQ(formatStr(-45, 5, 0), "  -45");
  EXPECT_EQ(formatStr(2.675, 6, 2), "  2.68");  // decimal rounding, not the binary value's
  EXPECT_EQ(formatStr(2.5, 3, 0), "  3");
  EXPECT_EQ(formatStr(-2.5, 3, 0), " -3");
  EXPECT_EQ(formatStr(-0.4, 3, 0), "  0");
  EXPECT_EQ(formatStr(1234.5678, 8, 2), " 1234.57");
  EXPECT_EQ(formatStr(12.5, 3, 1), " 13");  // decimals give way before the integer part
  EXPECT_EQ(formatStr(0.25, 4, 2), "0.25");
  EXPECT_EQ(formatStr(123456, 3, 0), "***");
  EXPECT_EQ(formatStr(9.99, 4, 1), "10.0");
}

TEST(KeyExpr, CharacterKeysFromFieldsAndFunctions) {
  const KeySchema s = schema();
  FakeRecord r(s);
  r.text("NAME", "Caf\xE9 ab").number("PRICE", "12.50").int32("ID", 7).text("BORN", "19960704");
  r.int32("CONTACT_TY", 0);
  r.datetime("STAMP", static_cast<std::int32_t>(vfp::dateToJulian({2020, 2, 29})), 30599999);

  auto key = [&](const char* text) {
    auto e = Expression::compile(text, s);
    std::string k = e.key(r, e.nullable());
    EXPECT_EQ(k.size(), e.keyLength()) << text;
    return k;
  };
  EXPECT_EQ(key("UPPER(name)+STR(id,5)"),
            "\x80"
            "CAF\xC9 AB       7");
  EXPECT_EQ(key("lower(NAME)"),
            "\x80"
            "caf\xE9 ab   ");
  EXPECT_EQ(key("SUBS(name, 2, 3)"),
            "\x80"
            "af\xE9");  // four-letter abbreviation
  EXPECT_EQ(key("LEFT(name,20)"),
            "\x80"
            "Caf\xE9 ab   ");  // no longer than the field
  EXPECT_EQ(key("PADL(LEFT(name,4),6,'*')"), "\x80**Caf\xE9");
  // Trimmed results are padded back to the widest possible key.
  r.text("NAME", "  Caf\xE9 ");
  EXPECT_EQ(key("ALLTRIM(name)+'|'"),
            "\x80"
            "Caf\xE9|      ");
  EXPECT_EQ(key("LTRIM(name)+'|'"),
            "\x80"
            "Caf\xE9    |  ");
  EXPECT_EQ(key("TRIM(name)+'|'"),
            "\x80"
            "  Caf\xE9|    ");
  r.text("NAME", "\tx");
  EXPECT_THROW(key("ALLTRIM(name)"), EvaluationError);
  r.text("NAME", "Caf\xE9 ab");
  EXPECT_EQ(key("PADR(name,12)"),
            "\x80"
            "Caf\xE9 ab     ");
  EXPECT_EQ(key("DTOS(born)+STR(price,6,1)"), "19960704  12.5");
  EXPECT_EQ(key("TTOC(stamp,1)"), "20200229083000");  // stored a millisecond short
  EXPECT_EQ(key("DTOS(stamp)"), "20200229");
  EXPECT_EQ(hex(key("price")), hex(encodeDouble(12.5)));
  EXPECT_EQ(hex(key("id + 1")), hex(encodeDouble(8)));
  EXPECT_EQ(hex(key("contact_type_id")), "80000000");  // the container's long name
  EXPECT_EQ(hex(key("born")),
            hex(encodeDouble(static_cast<double>(vfp::dateToJulian({1996, 7, 4})))));

  // An empty date sorts first; DTOS gives blanks for it.
  FakeRecord blank(s);
  auto e = Expression::compile("DTOS(born)", s);
  EXPECT_EQ(e.key(blank, false), "        ");
  // A null field makes the whole key null: all zeros after the marker.
  r.null("NAME");
  EXPECT_EQ(key("UPPER(name)+STR(id,5)"), std::string(16, '\0'));
}

TEST(KeyExpr, ForClausesWithDeletedAndComparisons) {
  const KeySchema s = schema();
  FakeRecord r(s);
  r.text("NAME", "ABC").number("PRICE", "10.00").text("FLAG", "T");
  auto holds = [&](const char* text) { return Expression::compile(text, s).holds(r); };
  EXPECT_TRUE(holds(".NOT.DELETED()"));
  EXPECT_TRUE(holds("!DELETED() AND price >= 10"));
  EXPECT_FALSE(holds("NOT DELETED() .AND. price > 10"));
  EXPECT_TRUE(holds("name = 'AB'"));    // SET EXACT OFF: left starts with right
  EXPECT_FALSE(holds("name == 'AB'"));  // exact
  EXPECT_TRUE(holds("name => \"0\" .AND. name <> [ABD]"));
  EXPECT_TRUE(holds("flag .OR. .F."));
  EXPECT_TRUE(holds(".NOT.EMPTY(name) AND EMPTY(born)"));
  EXPECT_TRUE(holds("price # 11 and -price < 0"));
  r.remove();
  EXPECT_FALSE(holds(".NOT.DELETED().AND..T."));
  EXPECT_TRUE(holds("DELETED()"));
  // A comparison with .NULL. is not true, so the record stays out of the tag.
  r.null("NAME");
  EXPECT_FALSE(holds("name = 'ABC'"));
  EXPECT_TRUE(holds("name = 'ABC' OR .T."));
}

TEST(KeyExpr, ExpressionsOutsideTheSubsetAreRefusedWithTheReason) {
  const KeySchema s = schema();
  auto why = [&](const char* text) -> std::string {
    try {
      Expression::compile(text, s);
    } catch (const UnsupportedExpression& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_NE(why("nosuch").find("unknown field \"nosuch\""), std::string::npos);
  EXPECT_NE(why("notes").find("type M"), std::string::npos);
  EXPECT_NE(why("TTOC(stamp)").find("TTOC(t, 1)"), std::string::npos);
  EXPECT_NE(why("price * 2").find("multiplication"), std::string::npos);
  EXPECT_NE(why("STR(name)").find("numeric"), std::string::npos);
  EXPECT_NE(why("name + id").find("not supported"), std::string::npos);
  EXPECT_NE(why("SUBSTR(name, id)").find("constants"), std::string::npos);
  EXPECT_NE(why("UPPER(name").find("expected"), std::string::npos);
  EXPECT_NE(why("name = 1").find("cannot compare"), std::string::npos);
  EXPECT_NE(why("SOUNDEX(name)").find("SOUNDEX"), std::string::npos);
  EXPECT_NE(why("{^2020-13-01}").find("not a valid date"), std::string::npos);
  EXPECT_NE(why("name = .NULL.").find(".NULL."), std::string::npos);  // conditions only
  EXPECT_NE(why("SUBSTR(name, 11)").find("empty"), std::string::npos);
  // Key kinds whose bytes in FoxPro's files are unverified are flagged for the maintainer.
  auto kind = [&](const char* text) {
    return Expression::compile(text, s).unverifiedKeyEncoding();
  };
  EXPECT_EQ(kind("stamp"), "datetime");
  EXPECT_EQ(kind("money + 1"), "currency");
  EXPECT_EQ(kind("TTOC(stamp,1)"), "");
  EXPECT_EQ(kind("STR(money,10,2)"), "");
  EXPECT_EQ(kind("price"), "");
  EXPECT_EQ(kind("born"), "");
  // Every message names the expression.
  EXPECT_NE(why("nosuch").find("\"nosuch\":"), std::string::npos);
}

TEST(KeyExpr, CaseConversionOnlyWhereTheCodePageIsKnown) {
  const KeySchema cp1250 = schema(0xC8);
  FakeRecord r(cp1250);
  r.text("NAME", "abc");
  auto e = Expression::compile("UPPER(name)", cp1250);
  EXPECT_EQ(e.key(r, true),
            "\x80"
            "ABC       ");
  r.text("NAME",
         "\xB9"
         "abc");  // a Polish letter whose upper case this engine does not map
  EXPECT_THROW(e.key(r, true), EvaluationError);
  // Double-byte code pages: string functions count characters, so they are refused.
  EXPECT_THROW(Expression::compile("UPPER(name)", schema(0x7A)), UnsupportedExpression);
  EXPECT_NO_THROW(Expression::compile("name+STR(id)", schema(0x7A)));
}
