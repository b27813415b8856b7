// Which code page a table's text is in when its header does not say (code-page mark 0, as
// FoxPro 2.x, dBase and most other programs leave it), and the one rule every reader of a table
// follows to choose the page it reads the text in.
//
// The text is weighed against every code page FoxPro knows. For each page the words that hold
// bytes above 127 are read as that page reads them and scored with a small model of the
// languages the page serves: how often each letter occurs in them, that the letters of one word
// share one script, that a capital does not follow a small letter inside a word, that a sign
// between two letters is unlikely and a byte the page leaves undefined all but impossible.
// Double-byte pages score their characters by how common their rows are. Pages that read the
// text exactly alike are one reading; the reading that scores best wins, and among its pages
// the one listed first in foxproCodePages().
//
// Callers may rely on:
// - a text without bytes above 127 is plain: every page reads it alike and none is guessed;
// - the guess is "judged" only when its reading is clearly likelier than every other reading
//   (the odds margin kJudgedMargin); a text too short or too ambiguous is still given the
//   likeliest page, marked as not judged, with the runner-up and one word as both read it;
// - each distinct word counts once, so a value repeated on every row is one piece of evidence;
// - a header that names a code page is never second-guessed, and a page the user named for
//   unmarked tables is used as named (chooseCodePage).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "vfp/codepage.h"

namespace vfp {

class Table;

// The words of a text that hold bytes above 127, gathered from many values as stored. Words end
// at bytes below 0x40 (spaces, digits, punctuation), which no double-byte page uses inside a
// character either.
class TextSample {
 public:
  void add(std::string_view bytes);
  // Enough text for a firm judgement: more would not change it.
  bool enough() const { return highBytes_ >= kEnoughHighBytes; }
  bool plain() const { return words_.empty(); }
  std::size_t highBytes() const { return highBytes_; }
  const std::vector<std::string>& words() const { return words_; }

  static constexpr std::size_t kEnoughHighBytes = 4000;
  static constexpr std::size_t kMaxWordBytes = 64;  // longer runs are cut there

 private:
  std::vector<std::string> words_;
  std::unordered_set<std::string> seen_;
  std::size_t highBytes_ = 0;
};

// How much likelier (natural logarithm of the odds) the best reading must be than the next for
// the text to count as judged.
inline constexpr double kJudgedMargin = 6.0;

struct CodePageGuess {
  bool plain = true;                // no byte above 127
  bool judged = false;              // the reading is clear (see kJudgedMargin)
  int codePage = kDefaultCodePage;  // the page the text reads best in
  std::vector<int> alike;           // further pages that read the text exactly alike
  int runnerUp = 0;                 // the best page that reads it otherwise; 0 when none
  std::string word;                 // a word (UTF-8) as codePage reads it ...
  std::string runnerUpWord;         // ... and as runnerUp reads it
  double margin = 0;                // log odds of the best reading over the runner-up's
  std::size_t words = 0;            // distinct words weighed
};

CodePageGuess guessCodePage(const TextSample& sample);

// The text of a table as stored: field names, character and varchar fields and memos that are
// not binary, of the records that are not deleted, read from the first until the sample has
// enough.
TextSample sampleTableText(const Table& table);

// How the code page a table is read in was chosen, and which it is.
struct CodePageChoice {
  enum class Source {
    Header,  // the table's header names it
    Named,   // the header names none; the user named this one for such tables
    Judged,  // the header names none; judged from the text
    Unsure,  // the header names none; the likeliest, but the text is too short or ambiguous
    Plain,   // the header names none and the text is plain ASCII: any page reads it alike
  };
  Source source = Source::Header;
  int codePage = kDefaultCodePage;
  CodePageGuess guess;  // for Judged and Unsure

  // Whether the header named none: the choice is worth a word to the user.
  bool unmarked() const { return source != Source::Header; }
  // "code page 866 (DOS Cyrillic), judged from the text: the table's header names none";
  // named: who named it ("--source-codepage"), for Named.
  std::string describe(const std::string& named = "as named") const;
};

// The rule every reader follows: the page the header names; else `named` (a FoxPro code page
// the user chose for tables whose header names none; 0 for no choice); else the page the text
// is judged to be in (kDefaultCodePage for plain text). Throws vfp::Error when the table cannot
// be read, or when `named` is not a code page FoxPro knows.
CodePageChoice chooseCodePage(const std::string& path, int named = 0);
CodePageChoice chooseCodePage(const Table& table, int named = 0);

// The same judgement over several tables at once (a folder whose tables name no code page):
// the text of each unmarked table in `paths`, pooled. Tables that cannot be read are passed by.
CodePageGuess guessFolderCodePage(const std::vector<std::string>& paths);

}  // namespace vfp
