// Tables whose header names no code page (byte 29 = 0) are read in the page their text is in;
// a header that names one is obeyed, and a page the user names wins over the guess.
#include "vfp/codepage_guess.h"

#include <gtest/gtest.h>

#include <fstream>

#include "codepage_texts.h"
#include "support.h"
#include "vfp/session.h"
#include "vfp/error.h"

using namespace vfptest;

namespace {

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

void setMark(const std::string& path, unsigned char mark) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(29);
  f.put(static_cast<char>(mark));
}

// A table of the rows (sentence in a C field, the next one in a memo) made in code page cp,
// then with its header's code-page byte set to `mark`.
void makeTable(const TempFolder& dir, const std::string& name, int cp,
               const std::vector<std::string>& rows, unsigned char mark = 0) {
  {
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    s.execute("CREATE TABLE " + name + " CODEPAGE = " + std::to_string(cp) + " (t C(120), m M)");
    for (std::size_t i = 0; i < rows.size(); ++i)
      s.execute("INSERT INTO " + name + " VALUES (" + quoted(rows[i]) + ", " +
                quoted(rows[(i + 1) % rows.size()]) + ")");
    s.flush();
    EXPECT_EQ(s.charactersReplaced(), 0) << cp;
  }
  setMark(dir.file(name + ".dbf"), mark);
}

std::vector<std::string> readAll(vfp::Session& s, const std::string& name) {
  std::vector<std::string> out;
  auto r = s.execute("SELECT * FROM " + name);
  while (r->next()) {
    out.push_back(r->value(0).s);
    out.push_back(r->value(1).s);
  }
  return out;
}

std::vector<std::string> sentences(const char* language, std::size_t n) {
  for (const auto& t : cptext::corpus())
    if (std::string(t.language) == language)
      return {t.sentences.begin(), t.sentences.begin() + std::ptrdiff_t(n)};
  return {};
}

}  // namespace

TEST(CodePageGuess, UnmarkedTablesOfEachPageAreJudgedAndReadBackExactly) {
  struct Case {
    int cp;
    const char* language;
  };
  // 850 with Portuguese, whose ã and õ 437 does not have; German reads alike in 437 and 850.
  const Case cases[] = {{1250, "Czech"},  {1251, "Russian"},   {1252, "French"}, {1253, "Greek"},
                        {866, "Russian"}, {850, "Portuguese"}, {437, "German"}};
  TempFolder dir;
  for (const auto& c : cases) {
    const std::string name = "t" + std::to_string(c.cp);
    const auto rows = sentences(c.language, 3);
    makeTable(dir, name, c.cp, rows);
    vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
    const auto& choice = s.codePageOf(name);
    EXPECT_EQ(choice.source, vfp::CodePageChoice::Source::Judged) << c.cp;
    EXPECT_EQ(choice.codePage, c.cp);
    const auto got = readAll(s, name);
    ASSERT_EQ(got.size(), rows.size() * 2) << c.cp;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(got[2 * i], rows[i]) << c.cp;
      EXPECT_EQ(got[2 * i + 1], rows[(i + 1) % rows.size()]) << c.cp;
    }
    if (c.cp == 866) {
      EXPECT_EQ(choice.describe(),
                "code page 866 (DOS Cyrillic), judged from the text: the table's header names "
                "none");
    }
    if (c.cp == 437) {
      EXPECT_NE(choice.describe().find("850"), std::string::npos) << choice.describe();
    }
  }
  // Plain ASCII needs no guess.
  makeTable(dir, "plain", 1252, {"Just ASCII here", "and here"});
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  EXPECT_EQ(s.codePageOf("plain").source, vfp::CodePageChoice::Source::Plain);
  EXPECT_EQ(s.codePageOf("plain").codePage, 1252);
}

TEST(CodePageGuess, AHeaderThatNamesAPageIsObeyedAndANamedPageWinsOverTheGuess) {
  TempFolder dir;
  const auto russian = sentences("Russian", 3);
  // Russian text in a table whose header says 1252: read as 1252, never second-guessed.
  makeTable(dir, "says1252", 1251, russian, 0x03);
  // The same text in a table that names none, read as the user says: 866.
  makeTable(dir, "nomark", 1251, russian);
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  s.setUnmarkedCodePage(866);

  EXPECT_EQ(s.codePageOf("says1252").source, vfp::CodePageChoice::Source::Header);
  std::string as1252, as866, bytes;
  vfp::converterFor(1251)->fromUtf8(russian[0], bytes);
  vfp::converterFor(1252)->toUtf8(bytes, as1252);
  vfp::converterFor(866)->toUtf8(bytes, as866);
  EXPECT_EQ(readAll(s, "says1252")[0], as1252);

  const auto& named = s.codePageOf("nomark");
  EXPECT_EQ(named.source, vfp::CodePageChoice::Source::Named);
  EXPECT_EQ(named.describe("named by --source-codepage"),
            "code page 866 (DOS Cyrillic), named by --source-codepage: the table's header names "
            "none");
  EXPECT_EQ(readAll(s, "nomark")[0], as866);
  // Rows written to it are stored in the page it is read in.
  s.execute("INSERT INTO nomark VALUES ('Щука', '')");
  s.flush();
  EXPECT_EQ(readAll(s, "nomark")[6], "Щука");

  EXPECT_THROW(s.setUnmarkedCodePage(1257), vfp::Error);  // FoxPro has no mark for it
}

TEST(CodePageGuess, ShortTextsAreJudgedRightOrSaidToBeNotJudged) {
  // Every word, and every pair of words, of the sentences, in each page they are written in.
  int judged = 0, samples = 0;
  for (const auto& t : cptext::corpus()) {
    for (int cp : t.pages) {
      const auto conv = vfp::converterFor(cp);
      for (const auto& sentence : t.sentences) {
        std::vector<std::string> words;
        std::string w;
        for (char c : sentence + " ") {
          if (c != ' ') {
            w += c;
          } else if (!w.empty()) {
            words.push_back(w);
            w.clear();
          }
        }
        for (std::size_t i = 0; i < words.size(); ++i) {
          for (std::size_t n = 1; n <= 2 && i + n <= words.size(); ++n) {
            std::string text = words[i], bytes, back;
            if (n == 2) text += " " + words[i + 1];
            if (conv->fromUtf8(text, bytes)) continue;  // not in this page
            vfp::TextSample sample;
            sample.add(bytes);
            if (sample.plain()) continue;
            ++samples;
            const auto g = vfp::guessCodePage(sample);
            vfp::converterFor(g.codePage)->toUtf8(bytes, back);
            if (!g.judged) continue;
            ++judged;
            EXPECT_EQ(back, text) << cp << " judged " << g.codePage;
          }
        }
      }
    }
  }
  // Most are short enough to leave unjudged, but far from all.
  EXPECT_GT(judged, samples / 4);

  // One name in DOS Western European, which Windows pages read as plausibly ("šnal"): the
  // table says it is not judged, and how the runner-up would read it.
  TempFolder dir;
  makeTable(dir, "one", 850, {"Ünal"});
  vfp::Session s(std::make_shared<vfp::FolderCatalog>(dir.path));
  const auto& c = s.codePageOf("one");
  ASSERT_EQ(c.source, vfp::CodePageChoice::Source::Unsure);
  EXPECT_NE(c.describe().find("too short or too ambiguous"), std::string::npos) << c.describe();
  EXPECT_NE(c.describe().find("\"Ünal\""), std::string::npos) << c.describe();
}
