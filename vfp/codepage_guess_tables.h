// The tables the code page guess reads text against: what each character is (letter of which
// script, mark, sign), the languages each page is written in and their letter shares, and how
// common each row of characters is in the double-byte pages. Internal to codepage_guess.cpp.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace vfp::cpguess {

enum class Script : std::uint8_t { None, Latin, Greek, Cyrillic, Hebrew, Arabic, Thai };

enum class Kind : std::uint8_t {
  Ascii,   // an ASCII character that is not a letter (inside a word: @ [ \ ] ^ _ ` { | } ~)
  Letter,  // of a script, with case where the script has it
  Mark,    // a vowel point or other combining sign of a script; part of its words
  Joiner,  // an apostrophe-like sign that stands between letters in ordinary text (’ ´ ·)
  Common,  // a sign ordinary text holds beside words (« » „ “ ” – — … € § ° ¿ ...)
  Sign,    // any other sign: box drawing, mathematics, spacing accents
  Undefined,  // a byte the page leaves undefined (a C1 control or private-use stand-in)
};

struct CharClass {
  Kind kind = Kind::Sign;
  Script script = Script::None;
  bool upper = false;
  bool lower = false;
  char32_t folded = 0;  // the small letter of a letter; the character itself otherwise
};

// The classes of the characters FoxPro's code pages hold; anything else is a sign.
CharClass classify(char32_t c);

struct Share {
  char32_t letter;  // small letter
  double share;     // of all the letters of ordinary text
};

struct Language {
  const char* code;
  Script script;
  // Latin languages list their letters outside ASCII only; the others their whole alphabet.
  std::vector<Share> letters;
  // What an ASCII letter scores: the share ASCII letters have of a Latin language's letters
  // (few for Czech, most for French: a text with few letters outside ASCII is less likely
  // Czech); for other scripts, whose tables hold Latin words apart, an average one.
  double asciiScore = 0;
};

// Every language the guess knows, with its letters' shares and what an ASCII letter scores.
const std::vector<Language>& languages();
// The language of that ISO 639 code; throws for one the table does not hold.
const Language& languageNamed(const char* code);
// The codes of the languages FoxPro tables in page cp are usually written in.
std::vector<const char*> languagesOf(int cp);

// The natural logarithm of how likely a byte the page leaves undefined is.
constexpr double kUndefined = -20;

// A double-byte page's characters by row: how common each kind is, as the share of the text's
// characters divided by how many characters of the kind there are.
struct Band {
  std::uint16_t first, last;  // lead and trail bytes together, inclusive
  std::uint8_t trailLow, trailHigh;
  double logShare;
};

struct DoubleBytePage {
  int codePage;
  std::uint8_t leadLow, leadHigh;
  // Valid trail byte ranges.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> trails;
  std::vector<Band> bands;  // first match wins
  double otherValid;        // a valid character in no band
  // Single bytes above 127 that are characters of their own (Japanese half-width katakana).
  std::uint8_t singleLow = 0, singleHigh = 0;
  double single = kUndefined;
};

// The double-byte pages the guess can score, with their rows.
const std::vector<DoubleBytePage>& doubleBytePages();

}  // namespace vfp::cpguess
