#include "vfp/codepage_guess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>

#include "vfp/error.h"
#include "vfp/table.h"

namespace vfp {

namespace {

// ------------------------------------------------------------------ what a character is

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

CharClass letter(Script s, bool upper, char32_t folded) {
  CharClass k;
  k.kind = Kind::Letter;
  k.script = s;
  k.upper = upper;
  k.lower = !upper;
  k.folded = folded;
  return k;
}

CharClass caseless(Script s, char32_t c, Kind kind = Kind::Letter) {
  CharClass k;
  k.kind = kind;
  k.script = s;
  k.folded = c;
  return k;
}

CharClass sign(char32_t c, Kind kind) {
  CharClass k;
  k.kind = kind;
  k.folded = c;
  return k;
}

bool isCommonSign(char32_t c) {
  switch (c) {
    case 0x00A0:
    case 0x00A1:
    case 0x00A2:
    case 0x00A3:
    case 0x00A5:
    case 0x00A7:
    case 0x00A9:
    case 0x00AA:
    case 0x00AB:
    case 0x00AE:
    case 0x00B0:
    case 0x00B1:
    case 0x00B2:
    case 0x00BA:
    case 0x00BB:
    case 0x00BD:
    case 0x00BF:
    case 0x2013:
    case 0x2014:
    case 0x201A:
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x2022:
    case 0x2026:
    case 0x2039:
    case 0x203A:
    case 0x20AC:
    case 0x2116:
    case 0x2122:
    case 0x060C:
    case 0x061B:
    case 0x061F:
    case 0x06D4:
    case 0x05BE:
    case 0x05C3:
    case 0x05F3:
    case 0x05F4:
    case 0x0E3F:
    case 0x0E5A:
    case 0x0E5B:
      return true;
    default:
      return false;
  }
}

// The classes of the characters FoxPro's code pages hold; anything else is a sign.
CharClass classify(char32_t c) {
  if (c < 0x80) {
    if (c >= 'a' && c <= 'z') return letter(Script::Latin, false, c);
    if (c >= 'A' && c <= 'Z') return letter(Script::Latin, true, c + 0x20);
    return sign(c, Kind::Ascii);
  }
  if ((c >= 0x80 && c <= 0x9F) || (c >= 0xF700 && c <= 0xF7FF) || c == 0xFFFD)
    return sign(c, Kind::Undefined);
  if (c == 0x2018 || c == 0x2019 || c == 0x00B4 || c == 0x00B7 || c == 0x0387)
    return sign(c, Kind::Joiner);
  if (isCommonSign(c)) return sign(c, Kind::Common);
  // Latin-1 letters (× and ÷ are signs).
  if (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7) {
    if (c == 0xDF || c >= 0xE0) return letter(Script::Latin, false, c);
    return letter(Script::Latin, true, c + 0x20);
  }
  // Latin Extended-A: pairs of capital and small letter, with a few that stand alone.
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return letter(Script::Latin, true, 0x130);  // İ: its small form is "i"
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
      return letter(Script::Latin, false, c);
    if (c == 0x178) return letter(Script::Latin, true, 0xFF);
    const bool oddIsCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool capital = oddIsCapital ? (c % 2 == 1) : (c % 2 == 0);
    return letter(Script::Latin, capital, capital ? c + 1 : c);
  }
  if (c >= 0x218 && c <= 0x21B) return letter(Script::Latin, c % 2 == 0, c | 1);  // Ș ș Ț ț
  // Greek.
  if (c >= 0x386 && c <= 0x3CE) {
    if (c == 0x386) return letter(Script::Greek, true, 0x3AC);
    if (c >= 0x388 && c <= 0x38A) return letter(Script::Greek, true, c + 0x25);
    if (c == 0x38C) return letter(Script::Greek, true, 0x3CC);
    if (c == 0x38E || c == 0x38F) return letter(Script::Greek, true, c + 0x3F);
    if (c == 0x390) return letter(Script::Greek, false, c);
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return letter(Script::Greek, true, c + 0x20);
    if (c >= 0x3AC) return letter(Script::Greek, false, c);
    return sign(c, Kind::Sign);
  }
  // Cyrillic.
  if (c >= 0x400 && c <= 0x40F) return letter(Script::Cyrillic, true, c + 0x50);
  if (c >= 0x410 && c <= 0x42F) return letter(Script::Cyrillic, true, c + 0x20);
  if (c >= 0x430 && c <= 0x45F) return letter(Script::Cyrillic, false, c);
  if (c == 0x490 || c == 0x491) return letter(Script::Cyrillic, c == 0x490, 0x491);
  // Hebrew.
  if (c >= 0x5B0 && c <= 0x5C7) return caseless(Script::Hebrew, c, Kind::Mark);
  if ((c >= 0x5D0 && c <= 0x5EA) || (c >= 0x5F0 && c <= 0x5F2)) return caseless(Script::Hebrew, c);
  // Arabic (with the letters Persian and Urdu add).
  if ((c >= 0x64B && c <= 0x652) || c == 0x640 || c == 0x670)
    return caseless(Script::Arabic, c, Kind::Mark);
  if ((c >= 0x621 && c <= 0x63A) || (c >= 0x641 && c <= 0x64A) || (c >= 0x671 && c <= 0x6D3))
    return caseless(Script::Arabic, c);
  if (c >= 0x660 && c <= 0x669) return sign(c, Kind::Common);
  // Thai.
  if (c == 0xE31 || (c >= 0xE34 && c <= 0xE3A) || (c >= 0xE47 && c <= 0xE4E))
    return caseless(Script::Thai, c, Kind::Mark);
  if ((c >= 0xE01 && c <= 0xE30) || c == 0xE32 || c == 0xE33 || (c >= 0xE40 && c <= 0xE46))
    return caseless(Script::Thai, c);
  if (c >= 0xE50 && c <= 0xE59) return sign(c, Kind::Common);
  // Joiners of Arabic and Hebrew text, and direction marks.
  if (c >= 0x200C && c <= 0x200F) return caseless(Script::None, c, Kind::Mark);
  return sign(c, Kind::Sign);
}

// ------------------------------------------------------------------ the languages

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

bool isAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// Shares from published letter counts of each language, rounded; what matters is the order of
// magnitude, which tells a letter of the language from one it does not use.
const std::vector<Language>& languages() {
  static std::vector<Language> all = {
      {"de",
       Script::Latin,
       {{U'ä', .0058}, {U'ö', .0044}, {U'ü', .0099}, {U'ß', .0031}, {U'é', .0002}}},
      {"fr",
       Script::Latin,
       {{U'à', .0049},
        {U'â', .0005},
        {U'ç', .0009},
        {U'è', .0027},
        {U'é', .0150},
        {U'ê', .0022},
        {U'ë', .0001},
        {U'î', .0005},
        {U'ï', .0001},
        {U'ô', .0006},
        {U'ù', .0006},
        {U'û', .0006},
        {U'œ', .0002},
        {U'ÿ', .00001}}},
      {"es",
       Script::Latin,
       {{U'á', .0050},
        {U'é', .0043},
        {U'í', .0073},
        {U'ñ', .0031},
        {U'ó', .0083},
        {U'ú', .0017},
        {U'ü', .0001}}},
      {"pt",
       Script::Latin,
       {{U'á', .0040},
        {U'â', .0010},
        {U'ã', .0070},
        {U'à', .0005},
        {U'ç', .0040},
        {U'é', .0030},
        {U'ê', .0045},
        {U'í', .0012},
        {U'ó', .0025},
        {U'ô', .0010},
        {U'õ', .0010},
        {U'ú', .0010},
        {U'ü', .00005}}},
      {"it",
       Script::Latin,
       {{U'à', .0060},
        {U'è', .0030},
        {U'é', .0010},
        {U'ì', .0010},
        {U'ò', .0010},
        {U'ù', .0010},
        {U'í', .00005},
        {U'ó', .00005}}},
      {"ca",
       Script::Latin,
       {{U'à', .0050},
        {U'ç', .0010},
        {U'è', .0030},
        {U'é', .0030},
        {U'í', .0030},
        {U'ï', .0005},
        {U'ò', .0010},
        {U'ó', .0020},
        {U'ú', .0010},
        {U'ü', .0002}}},
      {"nl",
       Script::Latin,
       {{U'ë', .0005}, {U'é', .0002}, {U'ï', .0001}, {U'ö', .0001}, {U'ü', .0001}, {U'è', .00005}}},
      {"da", Script::Latin, {{U'æ', .0080}, {U'ø', .0090}, {U'å', .0110}, {U'é', .0001}}},
      {"sv", Script::Latin, {{U'å', .0130}, {U'ä', .0180}, {U'ö', .0130}, {U'é', .0002}}},
      {"fi",
       Script::Latin,
       {{U'ä', .0360}, {U'ö', .0044}, {U'å', .0001}, {U'š', .0001}, {U'ž', .0001}}},
      {"is",
       Script::Latin,
       {{U'á', .0180},
        {U'é', .0060},
        {U'í', .0150},
        {U'ó', .0100},
        {U'ú', .0060},
        {U'ý', .0020},
        {U'ð', .0440},
        {U'þ', .0150},
        {U'æ', .0090},
        {U'ö', .0080}}},
      {"tr",
       Script::Latin,
       {{U'ç', .0146},
        {U'ğ', .0112},
        {U'ı', .0511},
        {0x130, .0030},
        {U'ö', .0078},
        {U'ş', .0178},
        {U'ü', .0185},
        {U'â', .0005},
        {U'î', .0002},
        {U'û', .0001}}},
      {"cs",
       Script::Latin,
       {{U'á', .0087},
        {U'č', .0046},
        {U'ď', .0002},
        {U'é', .0063},
        {U'ě', .0122},
        {U'í', .0164},
        {U'ň', .0001},
        {U'ó', .0002},
        {U'ř', .0038},
        {U'š', .0069},
        {U'ť', .0001},
        {U'ú', .0005},
        {U'ů', .0020},
        {U'ý', .0100},
        {U'ž', .0072}}},
      {"sk",
       Script::Latin,
       {{U'á', .0200},
        {U'ä', .0010},
        {U'č', .0100},
        {U'ď', .0010},
        {U'é', .0070},
        {U'í', .0150},
        {U'ĺ', .0001},
        {U'ľ', .0040},
        {U'ň', .0010},
        {U'ó', .0010},
        {U'ô', .0020},
        {U'ŕ', .0001},
        {U'š', .0070},
        {U'ť', .0030},
        {U'ú', .0070},
        {U'ý', .0120},
        {U'ž', .0080}}},
      {"pl",
       Script::Latin,
       {{U'ą', .0070},
        {U'ć', .0074},
        {U'ę', .0104},
        {U'ł', .0211},
        {U'ń', .0036},
        {U'ó', .0114},
        {U'ś', .0081},
        {U'ź', .0008},
        {U'ż', .0071}}},
      {"hu",
       Script::Latin,
       {{U'á', .0340},
        {U'é', .0360},
        {U'í', .0060},
        {U'ó', .0100},
        {U'ö', .0100},
        {U'ő', .0090},
        {U'ú', .0030},
        {U'ü', .0050},
        {U'ű', .0010}}},
      {"sl", Script::Latin, {{U'č', .0100}, {U'š', .0100}, {U'ž', .0070}}},
      {"hr",
       Script::Latin,
       {{U'č', .0110}, {U'ć', .0060}, {U'đ', .0030}, {U'š', .0100}, {U'ž', .0070}}},
      {"ro",
       Script::Latin,
       {{U'ă', .0250},
        {U'â', .0080},
        {U'î', .0100},
        {U'ş', .0130},
        {U'ţ', .0100},
        {U'ș', .0130},
        {U'ț', .0100}}},
      {"ru",
       Script::Cyrillic,
       {{U'а', .0801}, {U'б', .0159}, {U'в', .0454}, {U'г', .0170}, {U'д', .0298}, {U'е', .0845},
        {U'ё', .0004}, {U'ж', .0094}, {U'з', .0165}, {U'и', .0735}, {U'й', .0121}, {U'к', .0349},
        {U'л', .0440}, {U'м', .0321}, {U'н', .0670}, {U'о', .1097}, {U'п', .0281}, {U'р', .0473},
        {U'с', .0547}, {U'т', .0626}, {U'у', .0262}, {U'ф', .0026}, {U'х', .0097}, {U'ц', .0048},
        {U'ч', .0144}, {U'ш', .0073}, {U'щ', .0036}, {U'ъ', .0004}, {U'ы', .0190}, {U'ь', .0174},
        {U'э', .0032}, {U'ю', .0064}, {U'я', .0201}}},
      {"uk",
       Script::Cyrillic,
       {{U'а', .0800}, {U'б', .0170}, {U'в', .0530}, {U'г', .0160}, {U'ґ', .0001}, {U'д', .0320},
        {U'е', .0470}, {U'є', .0040}, {U'ж', .0090}, {U'з', .0210}, {U'и', .0610}, {U'і', .0540},
        {U'ї', .0080}, {U'й', .0110}, {U'к', .0350}, {U'л', .0360}, {U'м', .0300}, {U'н', .0650},
        {U'о', .0940}, {U'п', .0290}, {U'р', .0470}, {U'с', .0400}, {U'т', .0500}, {U'у', .0390},
        {U'ф', .0020}, {U'х', .0120}, {U'ц', .0100}, {U'ч', .0150}, {U'ш', .0080}, {U'щ', .0080},
        {U'ь', .0170}, {U'ю', .0080}, {U'я', .0290}}},
      {"be",
       Script::Cyrillic,
       {{U'а', .1100}, {U'б', .0160}, {U'в', .0350}, {U'г', .0170}, {U'д', .0300}, {U'е', .0680},
        {U'ё', .0100}, {U'ж', .0070}, {U'з', .0230}, {U'й', .0100}, {U'і', .0600}, {U'к', .0360},
        {U'л', .0360}, {U'м', .0310}, {U'н', .0600}, {U'о', .0500}, {U'п', .0250}, {U'р', .0420},
        {U'с', .0450}, {U'т', .0400}, {U'у', .0360}, {U'ў', .0200}, {U'ф', .0020}, {U'х', .0120},
        {U'ц', .0140}, {U'ч', .0180}, {U'ш', .0100}, {U'ы', .0350}, {U'ь', .0180}, {U'э', .0080},
        {U'ю', .0060}, {U'я', .0400}}},
      {"bg",
       Script::Cyrillic,
       {{U'а', .0950}, {U'б', .0170}, {U'в', .0460}, {U'г', .0160}, {U'д', .0360}, {U'е', .0890},
        {U'ж', .0080}, {U'з', .0200}, {U'и', .0940}, {U'й', .0050}, {U'к', .0360}, {U'л', .0320},
        {U'м', .0260}, {U'н', .0790}, {U'о', .0860}, {U'п', .0290}, {U'р', .0480}, {U'с', .0430},
        {U'т', .0790}, {U'у', .0140}, {U'ф', .0020}, {U'х', .0080}, {U'ц', .0060}, {U'ч', .0160},
        {U'ш', .0050}, {U'щ', .0040}, {U'ъ', .0250}, {U'ь', .0010}, {U'ю', .0020}, {U'я', .0240}}},
      {"sr",
       Script::Cyrillic,
       {{U'а', .1150}, {U'б', .0150}, {U'в', .0350}, {U'г', .0170}, {U'д', .0360}, {U'ђ', .0020},
        {U'е', .0850}, {U'ж', .0070}, {U'з', .0160}, {U'и', .0980}, {U'ј', .0520}, {U'к', .0360},
        {U'л', .0300}, {U'љ', .0050}, {U'м', .0310}, {U'н', .0430}, {U'њ', .0050}, {U'о', .0930},
        {U'п', .0300}, {U'р', .0450}, {U'с', .0460}, {U'т', .0450}, {U'ћ', .0090}, {U'у', .0420},
        {U'ф', .0030}, {U'х', .0080}, {U'ц', .0090}, {U'ч', .0120}, {U'џ', .0010}, {U'ш', .0100}}},
      {"el",
       Script::Greek,
       {{U'α', .1000}, {U'ά', .0190}, {U'β', .0060}, {U'γ', .0170}, {U'δ', .0160}, {U'ε', .0760},
        {U'έ', .0140}, {U'ζ', .0040}, {U'η', .0480}, {U'ή', .0090}, {U'θ', .0120}, {U'ι', .0700},
        {U'ί', .0170}, {U'ϊ', .0005}, {U'ΐ', .0002}, {U'κ', .0400}, {U'λ', .0270}, {U'μ', .0340},
        {U'ν', .0660}, {U'ξ', .0040}, {U'ο', .0850}, {U'ό', .0160}, {U'π', .0400}, {U'ρ', .0450},
        {U'σ', .0440}, {U'ς', .0260}, {U'τ', .0790}, {U'υ', .0350}, {U'ύ', .0080}, {U'ϋ', .0002},
        {U'ΰ', .0001}, {U'φ', .0080}, {U'χ', .0100}, {U'ψ', .0010}, {U'ω', .0120}, {U'ώ', .0050}}},
      {"he",
       Script::Hebrew,
       {{U'א', .0600}, {U'ב', .0500}, {U'ג', .0100}, {U'ד', .0300}, {U'ה', .0900}, {U'ו', .1000},
        {U'ז', .0100}, {U'ח', .0200}, {U'ט', .0100}, {U'י', .1100}, {U'ך', .0100}, {U'כ', .0300},
        {U'ל', .0700}, {U'ם', .0300}, {U'מ', .0600}, {U'ן', .0200}, {U'נ', .0400}, {U'ס', .0100},
        {U'ע', .0300}, {U'ף', .0030}, {U'פ', .0200}, {U'ץ', .0020}, {U'צ', .0100}, {U'ק', .0200},
        {U'ר', .0500}, {U'ש', .0400}, {U'ת', .0500}}},
      {"ar",
       Script::Arabic,
       {{U'ء', .0050}, {U'آ', .0020}, {U'أ', .0200}, {U'ؤ', .0020}, {U'إ', .0080}, {U'ئ', .0030},
        {U'ا', .1250}, {U'ب', .0400}, {U'ة', .0300}, {U'ت', .0400}, {U'ث', .0050}, {U'ج', .0150},
        {U'ح', .0200}, {U'خ', .0080}, {U'د', .0300}, {U'ذ', .0050}, {U'ر', .0450}, {U'ز', .0050},
        {U'س', .0250}, {U'ش', .0100}, {U'ص', .0100}, {U'ض', .0050}, {U'ط', .0070}, {U'ظ', .0020},
        {U'ع', .0350}, {U'غ', .0040}, {U'ف', .0300}, {U'ق', .0250}, {U'ك', .0200}, {U'ل', .1100},
        {U'م', .0600}, {U'ن', .0600}, {U'ه', .0400}, {U'و', .0600}, {U'ى', .0100}, {U'ي', .0700},
        {U'پ', .0010}, {U'چ', .0010}, {U'ژ', .0002}, {U'ک', .0010}, {U'گ', .0010}, {U'ی', .0010}}},
      {"th",
       Script::Thai,
       {{U'า', .0850}, {U'น', .0750}, {U'ร', .0650},  {U'อ', .0550},  {U'ก', .0500}, {U'เ', .0500},
        {U'่', .0500},  {U'ม', .0400}, {U'ง', .0400},  {U'ว', .0350},  {U'ย', .0300}, {U'ท', .0300},
        {U'ด', .0300}, {U'ล', .0300}, {U'้', .0300},   {U'ส', .0250},  {U'ห', .0250}, {U'ั', .0250},
        {U'ิ', .0250},  {U'ี', .0200},  {U'บ', .0200},  {U'ค', .0200},  {U'ต', .0200}, {U'ป', .0200},
        {U'ะ', .0200}, {U'จ', .0150}, {U'ไ', .0150},  {U'แ', .0150},  {U'ข', .0120}, {U'ำ', .0100},
        {U'ช', .0100}, {U'พ', .0100}, {U'ุ', .0100},   {U'ื', .0080},   {U'โ', .0080}, {U'็', .0060},
        {U'์', .0060},  {U'ใ', .0050}, {U'ู', .0050},   {U'ถ', .0050},  {U'ผ', .0040}, {U'ศ', .0040},
        {U'ซ', .0040}, {U'ึ', .0040},  {U'ภ', .0030},  {U'ธ', .0030},  {U'ณ', .0030}, {U'ษ', .0020},
        {U'ญ', .0020}, {U'ฟ', .0020}, {U'ฉ', .0020},  {U'ๆ', .0020},  {U'๊', .0020},  {U'ฝ', .0010},
        {U'ฐ', .0010}, {U'ฤ', .0010}, {U'ฮ', .0010},  {U'๋', .0010},   {U'ฆ', .0005}, {U'ฑ', .0005},
        {U'ฯ', .0005}, {U'ํ', .0005},  {U'ฎ', .0003},  {U'ฏ', .0003},  {U'ฒ', .0003}, {U'ฌ', .0002},
        {U'ฬ', .0002}, {U'ๅ', .0002}, {U'ฃ', .00005}, {U'ฅ', .00005}, {U'ฦ', .00005}}},
  };
  static const bool scored = [] {
    for (auto& l : all) {
      double rest = 1;
      for (const auto& s : l.letters) rest -= s.share;
      l.asciiScore = l.script == Script::Latin ? std::log(rest) : std::log(0.9);
    }
    return true;
  }();
  (void)scored;
  return all;
}

const Language& languageNamed(const char* code) {
  for (const auto& l : languages())
    if (std::string_view(l.code) == code) return l;
  throw Error(std::string("no language ") + code);
}

// ------------------------------------------------------------------ scores

// Natural logarithms of how likely each thing is; the scale is that of the letter shares.
constexpr double kUndefined = -20;      // a byte the page leaves undefined
constexpr double kForeignLetter = -12;  // a letter of another script than the language's
constexpr double kStranger = -13;       // a letter of the script that the language does not use
constexpr double kMarkOfScript = -4.6;  // a vowel point or mark of the language's script
constexpr double kCaseBreak = -5;       // a capital right after a small letter inside a word
constexpr double kLoneMark = -8;        // a vowel point or mark with no letter before it
constexpr double kScriptBreak = -8;     // two letters of different scripts side by side
constexpr double kSignBetween = -14;    // a sign between two letters
constexpr double kSignBeside = -11;     // a sign touching a letter
constexpr double kSignAlone = -9;       // a sign with no letter beside it
constexpr double kCommonBetween = -13;  // « » – … and the like between two letters
constexpr double kCommonBeside = -8;    // ... touching a letter
constexpr double kCommonAlone = -6;     // ... standing apart
constexpr double kJoinerBetween = -5;   // ’ ´ · between two letters
constexpr double kJoinerElse = -7;
constexpr double kMacPrior = -6;           // Mac pages are rare in FoxPro tables
constexpr double kFloorPerHighByte = -10;  // below this on average, no page reads the text well

// A double-byte page's characters by row: how common each kind is, as the share of the text's
// characters divided by how many characters of the kind there are.
struct Band {
  std::uint16_t first, last;  // lead and trail bytes together, inclusive
  std::uint8_t trailLow, trailHigh;
  double logShare;
};

double lg(double share, double count) { return std::log(share / count); }

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

const std::vector<DoubleBytePage>& doubleBytePages() {
  static const std::vector<DoubleBytePage> pages = {
      {936,
       0x81,
       0xFE,
       {{0x40, 0x7E}, {0x80, 0xFE}},
       {{0xA1A1, 0xA1FE, 0xA1, 0xFE, lg(.10, 94)},    // punctuation
        {0xA3A1, 0xA3FE, 0xA1, 0xFE, lg(.02, 94)},    // full-width ASCII
        {0xA2A1, 0xA9FE, 0xA1, 0xFE, lg(.004, 600)},  // numbers, kana, Greek, Cyrillic, boxes
        {0xB0A1, 0xD7FE, 0xA1, 0xFE, lg(.80, 3755)},  // the common characters
        {0xD8A1, 0xF7FE, 0xA1, 0xFE, lg(.06, 3008)}},
       lg(.015, 14000)},
      {950,
       0xA1,
       0xF9,
       {{0x40, 0x7E}, {0xA1, 0xFE}},
       {{0xA140, 0xA1FE, 0x40, 0xFE, lg(.10, 157)},  // punctuation
        {0xA240, 0xA3BF, 0x40, 0xFE, lg(.01, 250)},
        {0xA440, 0xC67E, 0x40, 0xFE, lg(.83, 5401)},  // the common characters
        {0xC940, 0xF9D5, 0x40, 0xFE, lg(.06, 7652)}},
       lg(.003, 2000)},
      {932,
       0x81,
       0xFC,
       {{0x40, 0x7E}, {0x80, 0xFC}},
       {{0x8140, 0x81FC, 0x40, 0xFC, lg(.10, 188)},   // punctuation
        {0x824F, 0x829A, 0x40, 0xFC, lg(.01, 62)},    // full-width digits and letters
        {0x829F, 0x82F1, 0x40, 0xFC, lg(.35, 83)},    // hiragana
        {0x8340, 0x8396, 0x40, 0xFC, lg(.12, 86)},    // katakana
        {0x889F, 0x9872, 0x40, 0xFC, lg(.38, 2965)},  // the common kanji
        {0x989F, 0xEAA4, 0x40, 0xFC, lg(.02, 3390)}},
       lg(.002, 2000),
       0xA1,
       0xDF,
       lg(.01, 63)},
      {949,
       0x81,
       0xFE,
       {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}},
       {{0xA1A1, 0xA1FE, 0xA1, 0xFE, lg(.05, 94)},  // punctuation
        {0xA2A1, 0xACFE, 0xA1, 0xFE, lg(.01, 900)},
        {0xB0A1, 0xC8FE, 0xA1, 0xFE, lg(.88, 2350)},  // the common syllables
        {0xCAA1, 0xFDFE, 0xA1, 0xFE, lg(.02, 4888)}},
       lg(.04, 8822)},  // the further syllables of the extended page
  };
  return pages;
}

// One page and how to score a word read in it.
struct Page {
  int codePage;
  std::shared_ptr<const TextConverter> converter;
  double prior = 0;
  // Single-byte pages: the class of each byte above 127, and per language the score of each
  // such byte when it is a letter or mark (signs are scored alike for every language).
  std::array<CharClass, 128> high{};
  std::array<char32_t, 128> highChar{};  // the character each byte above 127 stands for
  std::vector<const Language*> langs;
  std::vector<std::array<double, 128>> letterScores;
  const DoubleBytePage* dbcs = nullptr;
};

double letterScore(const CharClass& k, const Language& lang) {
  if (k.kind != Kind::Letter && k.kind != Kind::Mark) return 0;
  if (k.kind == Kind::Mark && k.script == Script::None) return kMarkOfScript;
  if (k.script != lang.script) return kForeignLetter;
  for (const auto& s : lang.letters)
    if (s.letter == k.folded) return std::log(s.share);
  return k.kind == Kind::Mark ? kMarkOfScript : kStranger;
}

std::vector<const char*> languagesOf(int cp) {
  static const std::map<int, std::vector<const char*>> byPage = {
      {1252, {"de", "fr", "es", "pt", "it", "ca", "nl", "da", "sv", "fi", "is"}},
      {850, {"de", "fr", "es", "pt", "it", "ca", "nl", "da", "sv", "fi", "is"}},
      {437, {"de", "fr", "es", "pt", "it", "ca", "nl", "da", "sv", "fi"}},
      {10000, {"de", "fr", "es", "pt", "it", "ca", "nl", "da", "sv", "fi", "is"}},
      {865, {"da", "sv", "fi", "de"}},
      {861, {"is", "da", "de", "fr"}},
      {1250, {"cs", "sk", "pl", "hu", "sl", "hr", "ro", "de"}},
      {852, {"cs", "sk", "pl", "hu", "sl", "hr", "ro", "de"}},
      {10029, {"cs", "sk", "pl", "hu", "sl", "hr", "de"}},
      {895, {"cs", "sk", "de"}},
      {620, {"pl", "de"}},
      {1251, {"ru", "uk", "be", "bg", "sr"}},
      {866, {"ru", "uk", "be", "bg"}},
      {10007, {"ru", "uk", "be", "bg", "sr"}},
      {1253, {"el"}},
      {737, {"el"}},
      {10006, {"el"}},
      {1254, {"tr", "de", "fr"}},
      {857, {"tr", "de", "fr"}},
      {1255, {"he"}},
      {1256, {"ar", "fr"}},
      {874, {"th"}},
  };
  auto it = byPage.find(cp);
  return it == byPage.end() ? std::vector<const char*>{} : it->second;
}

// Every FoxPro page this system can convert, built once.
const std::vector<Page>& pages() {
  static const std::vector<Page> all = [] {
    std::vector<Page> out;
    for (int cp : foxproCodePages()) {
      Page p;
      p.codePage = cp;
      try {
        p.converter = converterFor(cp);
      } catch (const Error&) {
        continue;  // this system cannot read the page, so no table is read in it either
      }
      if (cp >= 10000) p.prior = kMacPrior;
      if (isDoubleBytePage(cp)) {
        for (const auto& d : doubleBytePages())
          if (d.codePage == cp) p.dbcs = &d;
        if (!p.dbcs) continue;
        out.push_back(std::move(p));
        continue;
      }
      for (int b = 0x80; b < 0x100; ++b) {
        const char byte = char(b);
        std::string u;
        p.converter->toUtf8(std::string_view(&byte, 1), u);
        std::size_t i = 0;
        const char32_t c = u.empty() ? 0xFFFD : nextUtf8(u, i);
        p.high[std::size_t(b - 0x80)] = classify(c);
        p.highChar[std::size_t(b - 0x80)] = c;
      }
      for (const char* code : languagesOf(cp)) p.langs.push_back(&languageNamed(code));
      if (p.langs.empty()) continue;
      for (const Language* l : p.langs) {
        std::array<double, 128> s{};
        for (std::size_t b = 0; b < 128; ++b) s[b] = letterScore(p.high[b], *l);
        p.letterScores.push_back(s);
      }
      out.push_back(std::move(p));
    }
    return out;
  }();
  return all;
}

// The score of a word's shape in a single-byte page: its signs, undefined bytes, where its
// capitals stand and whether its letters share a script; the letters themselves are scored per
// language.
double shapeScore(const Page& p, std::string_view w) {
  static const std::array<CharClass, 128> ascii = [] {
    std::array<CharClass, 128> a{};
    for (std::size_t c = 0; c < 128; ++c) a[c] = classify(char32_t(c));
    return a;
  }();
  auto at = [&](std::size_t i) -> const CharClass& {
    const auto b = static_cast<unsigned char>(w[i]);
    return b < 0x80 ? ascii[b] : p.high[b - 0x80];
  };
  auto isLetter = [&](std::size_t i) {
    const Kind k = at(i).kind;
    return k == Kind::Letter || k == Kind::Mark;
  };
  double s = 0;
  for (std::size_t i = 0; i < w.size(); ++i) {
    const bool high = static_cast<unsigned char>(w[i]) >= 0x80;
    const CharClass& k = at(i);
    const bool before = i > 0 && isLetter(i - 1);
    const bool after = i + 1 < w.size() && isLetter(i + 1);
    if (high) {
      switch (k.kind) {
        case Kind::Undefined:
          s += kUndefined;
          break;
        case Kind::Sign:
          s += before && after ? kSignBetween : before || after ? kSignBeside : kSignAlone;
          break;
        case Kind::Common:
          s += before && after ? kCommonBetween : before || after ? kCommonBeside : kCommonAlone;
          break;
        case Kind::Joiner:
          s += before && after ? kJoinerBetween : kJoinerElse;
          break;
        default:
          break;
      }
    }
    if (high && k.kind == Kind::Mark && !before) s += kLoneMark;
    if (!before || (k.kind != Kind::Letter && k.kind != Kind::Mark)) continue;
    const CharClass& prev = at(i - 1);
    const bool eitherHigh = high || static_cast<unsigned char>(w[i - 1]) >= 0x80;
    if (!eitherHigh) continue;
    // A mark belongs to the letter before it; one of no particular script (a joiner of Arabic
    // or Hebrew text) goes with any.
    if (prev.script != k.script && prev.script != Script::None && k.script != Script::None)
      s += kScriptBreak;
    if (prev.lower && k.upper) s += kCaseBreak;
  }
  return s;
}

double doubleByteScore(const DoubleBytePage& d, std::string_view w) {
  auto inTrail = [&](std::uint8_t t) {
    for (const auto& [lo, hi] : d.trails)
      if (t >= lo && t <= hi) return true;
    return false;
  };
  double s = 0;
  bool lastWasLetter = false;  // the byte before was an ASCII letter
  for (std::size_t i = 0; i < w.size();) {
    const auto b = static_cast<std::uint8_t>(w[i]);
    if (b < 0x80) {
      // Latin letters glued to the page's own characters are unlikely: "Größe" is no word
      // with a Chinese character in it.
      if (isAsciiLetter(b) && i > 0 && static_cast<std::uint8_t>(w[i - 1]) >= 0x80 &&
          !lastWasLetter)
        s += kScriptBreak;
      lastWasLetter = isAsciiLetter(b);
      ++i;
      continue;
    }
    if (lastWasLetter) s += kScriptBreak;
    lastWasLetter = false;
    if (d.singleHigh && b >= d.singleLow && b <= d.singleHigh) {
      s += d.single;
      ++i;
      continue;
    }
    if (b < d.leadLow || b > d.leadHigh || i + 1 >= w.size() ||
        !inTrail(static_cast<std::uint8_t>(w[i + 1]))) {
      s += kUndefined;
      ++i;
      continue;
    }
    const auto t = static_cast<std::uint8_t>(w[i + 1]);
    const std::uint16_t code = std::uint16_t(b << 8 | t);
    double v = d.otherValid;
    for (const auto& band : d.bands)
      if (code >= band.first && code <= band.last && t >= band.trailLow && t <= band.trailHigh) {
        v = band.logShare;
        break;
      }
    s += v;
    i += 2;
  }
  return s;
}

// A word in a language of its own instead of the text's one costs this much: a table of names
// from several countries is possible, but one language per text is the rule.
constexpr double kOwnLanguage = 4;

// How one page reads a whole sample.
struct Reading {
  const Page* page = nullptr;
  double score = 0;
  bool mixed = false;             // each word in its own language (else one for all)
  std::vector<std::string> read;  // each word as read
  std::vector<double> word;       // each word's score
  std::vector<double> shape;      // single-byte pages: each word's shape score ...
  std::vector<std::size_t> lang;  // ... and the language its letters are scored in
};

Reading readAll(const Page& p, const std::vector<std::string>& words) {
  Reading r;
  r.page = &p;
  r.read.resize(words.size());
  for (std::size_t k = 0; k < words.size(); ++k) p.converter->toUtf8(words[k], r.read[k]);
  if (p.dbcs) {
    for (const auto& w : words) r.word.push_back(doubleByteScore(*p.dbcs, w));
  } else {
    const std::size_t nl = p.langs.size();
    std::vector<double> letters(words.size() * nl, 0.0);
    for (std::size_t k = 0; k < words.size(); ++k) {
      r.shape.push_back(shapeScore(p, words[k]));
      for (unsigned char b : words[k]) {
        if (b < 0x80) {
          if (isAsciiLetter(b))
            for (std::size_t l = 0; l < nl; ++l) letters[k * nl + l] += p.langs[l]->asciiScore;
          continue;
        }
        for (std::size_t l = 0; l < nl; ++l) letters[k * nl + l] += p.letterScores[l][b - 0x80];
      }
    }
    // One language for the whole text ...
    double best = -1e300;
    std::size_t bestLang = 0;
    for (std::size_t l = 0; l < nl; ++l) {
      double s = 0;
      for (std::size_t k = 0; k < words.size(); ++k) s += letters[k * nl + l];
      if (s > best) best = s, bestLang = l;
    }
    // ... or each word in its own.
    double mixed = 0;
    std::vector<std::size_t> own(words.size());
    for (std::size_t k = 0; k < words.size(); ++k) {
      for (std::size_t l = 1; l < nl; ++l)
        if (letters[k * nl + l] > letters[k * nl + own[k]]) own[k] = l;
      mixed += letters[k * nl + own[k]] - kOwnLanguage;
    }
    r.mixed = mixed > best;
    r.lang = r.mixed ? own : std::vector<std::size_t>(words.size(), bestLang);
    for (std::size_t k = 0; k < words.size(); ++k)
      r.word.push_back(r.shape[k] + letters[k * nl + r.lang[k]] - (r.mixed ? kOwnLanguage : 0));
  }
  for (double s : r.word) r.score += s;
  r.score += p.prior;
  return r;
}

// What a letter both readings share still says: only whether it belongs to the language each
// reading scores it in, not how often that language uses it.
double misfit(double letterScore) {
  if (letterScore <= kForeignLetter) return -8;
  if (letterScore <= kStranger) return -5;
  return 0;
}

// How much likelier reading a is than b, from the words they read differently and, in two
// single-byte pages, mostly from the bytes they read differently: a letter both read alike says
// little about which page the text is in, however differently their languages count it (é is
// more frequent in Hungarian than in French, which makes no French text Hungarian).
double advantage(const Reading& a, const Reading& b, const std::vector<std::string>& words) {
  double d = a.page->prior - b.page->prior;
  const bool bytewise = !a.page->dbcs && !b.page->dbcs;
  for (std::size_t k = 0; k < words.size(); ++k) {
    const bool same = a.read[k] == b.read[k];
    if (!bytewise) {
      if (!same) d += a.word[k] - b.word[k];
      continue;
    }
    const Language& langA = *a.page->langs[a.lang[k]];
    const Language& langB = *b.page->langs[b.lang[k]];
    const auto& la = a.page->letterScores[a.lang[k]];
    const auto& lb = b.page->letterScores[b.lang[k]];
    for (unsigned char c : words[k]) {
      if (c < 0x80) {
        if (isAsciiLetter(c)) d += langA.asciiScore - langB.asciiScore;
        continue;
      }
      const std::size_t i = c - 0x80;
      if (a.page->highChar[i] != b.page->highChar[i])
        d += la[i] - lb[i];
      else
        d += misfit(la[i]) - misfit(lb[i]);
    }
    if (same) continue;
    d += a.shape[k] - b.shape[k];
    if (a.mixed) d -= kOwnLanguage;
    if (b.mixed) d += kOwnLanguage;
  }
  return d;
}

}  // namespace

// ------------------------------------------------------------------ TextSample

void TextSample::add(std::string_view bytes) {
  if (asciiPrefix(bytes) == bytes.size()) return;
  std::size_t i = 0;
  while (i < bytes.size()) {
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x40) ++i;
    const std::size_t start = i;
    std::size_t high = 0;
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x40) {
      if (static_cast<unsigned char>(bytes[i]) >= 0x80) ++high;
      ++i;
    }
    if (high == 0) continue;
    std::string word(bytes.substr(start, std::min(i - start, kMaxWordBytes)));
    // A word cut short must not end inside a double-byte character: an odd run of bytes above
    // 127 at the cut loses its last.
    if (i - start > kMaxWordBytes) {
      std::size_t highTail = 0;
      while (highTail < word.size() &&
             static_cast<unsigned char>(word[word.size() - 1 - highTail]) >= 0x80)
        ++highTail;
      if (highTail % 2 == 1) word.pop_back();
    }
    if (!seen_.insert(word).second) continue;
    for (unsigned char b : word)
      if (b >= 0x80) ++highBytes_;
    words_.push_back(std::move(word));
  }
}

// ------------------------------------------------------------------ the guess

CodePageGuess guessCodePage(const TextSample& sample) {
  CodePageGuess g;
  g.words = sample.words().size();
  if (sample.plain()) return g;
  g.plain = false;
  const auto& words = sample.words();

  std::vector<Reading> readings;
  for (const Page& p : pages()) readings.push_back(readAll(p, words));
  if (readings.empty()) return g;

  // Pages that read the text alike are one reading, named by the first of them in FoxPro's
  // order and scored by the best of them.
  struct Group {
    std::size_t first;  // index into readings
    std::size_t best;
    std::vector<int> alike;
  };
  std::vector<Group> groups;
  for (std::size_t i = 0; i < readings.size(); ++i) {
    auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& gr) {
      return readings[gr.first].read == readings[i].read;
    });
    if (it == groups.end()) {
      groups.push_back({i, i, {}});
    } else {
      if (readings[i].score > readings[it->best].score) it->best = i;
      it->alike.push_back(readings[i].page->codePage);
    }
  }
  // The reading whose worst comparison with another is best wins; the margin is that worst
  // comparison. A tie goes to the group listed first.
  std::size_t winner = 0, rival = 0;
  double margin = -1e300;
  for (std::size_t a = 0; a < groups.size(); ++a) {
    double worst = 1e300;
    std::size_t worstRival = a;
    for (std::size_t b = 0; b < groups.size(); ++b) {
      if (a == b) continue;
      const double d = advantage(readings[groups[a].best], readings[groups[b].best], words);
      if (d < worst) worst = d, worstRival = b;
    }
    if (worst > margin) margin = worst, winner = a, rival = worstRival;
  }
  const Group& best = groups[winner];
  const Reading& win = readings[best.best];
  g.codePage = readings[best.first].page->codePage;
  g.alike = best.alike;
  const double perByte = win.score / double(std::max<std::size_t>(1, sample.highBytes()));
  if (groups.size() == 1) {
    g.margin = 1e9;
    g.judged = perByte >= kFloorPerHighByte;
    return g;
  }
  const Reading& other = readings[groups[rival].best];
  g.runnerUp = readings[groups[rival].first].page->codePage;
  g.margin = margin;
  g.judged = margin >= kJudgedMargin && perByte >= kFloorPerHighByte;
  // The word that tells the two readings apart most.
  std::size_t telling = 0;
  double most = -1e300;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (win.read[k] == other.read[k]) continue;
    const double d = win.word[k] - other.word[k];
    if (d > most) most = d, telling = k;
  }
  g.word = win.read[telling];
  g.runnerUpWord = other.read[telling];
  return g;
}

TextSample sampleTableText(const Table& table) {
  TextSample s;
  std::vector<std::size_t> textFields;
  for (int f : table.userFields()) {
    const auto& d = table.header().fields[std::size_t(f)];
    s.add(d.name);
    const bool text = (d.type == 'C' || d.type == 'V' || d.type == 'M') && !d.isBinary();
    if (text) textFields.push_back(std::size_t(f));
  }
  if (textFields.empty()) return s;
  RecordScanner scan(table);
  std::string bytes;
  while (const std::uint8_t* rec = scan.nextLive()) {
    for (std::size_t f : textFields) {
      bytes.clear();
      if (table.storedText(rec, f, bytes)) s.add(bytes);
    }
    if (s.enough()) break;
  }
  return s;
}

CodePageGuess guessFolderCodePage(const std::vector<std::string>& paths) {
  TextSample pooled;
  for (const auto& path : paths) {
    if (pooled.enough()) break;
    try {
      Table t(path);
      if (codePageFromMark(t.header().codePageMark)) continue;
      const TextSample one = sampleTableText(t);
      for (const auto& w : one.words()) pooled.add(w);
    } catch (const Error&) {
      // An unreadable table says nothing about the others.
    }
  }
  return guessCodePage(pooled);
}

CodePageChoice chooseCodePage(const Table& table, int named) {
  CodePageChoice c;
  if (int cp = codePageFromMark(table.header().codePageMark)) {
    c.codePage = cp;
    return c;
  }
  if (named) {
    if (!markFromCodePage(named))
      throw Error("Code page " + std::to_string(named) + " is not one FoxPro knows.");
    converterFor(named);  // throws when this system cannot convert it
    c.source = CodePageChoice::Source::Named;
    c.codePage = named;
    return c;
  }
  c.guess = guessCodePage(sampleTableText(table));
  c.codePage = c.guess.codePage;
  c.source = c.guess.plain    ? CodePageChoice::Source::Plain
             : c.guess.judged ? CodePageChoice::Source::Judged
                              : CodePageChoice::Source::Unsure;
  return c;
}

CodePageChoice chooseCodePage(const std::string& path, int named) {
  return chooseCodePage(Table(path), named);
}

std::string CodePageChoice::describe(const std::string& named) const {
  const std::string title = codePageTitle(codePage);
  const std::string none = "the table's header names none";
  switch (source) {
    case Source::Header:
      return title + ", as the table's header names it";
    case Source::Named:
      return title + ", " + named + ": " + none;
    case Source::Plain:
      return "plain ASCII text, which every code page reads alike: " + none;
    case Source::Judged: {
      std::string text = title + ", judged from the text: " + none;
      if (!guess.alike.empty()) {
        text += " (code page";
        text += guess.alike.size() > 1 ? "s " : " ";
        for (std::size_t i = 0; i < guess.alike.size(); ++i) {
          if (i) text += i + 1 == guess.alike.size() ? " and " : ", ";
          text += std::to_string(guess.alike[i]);
        }
        text += guess.alike.size() > 1 ? " read it alike)" : " reads it alike)";
      }
      return text;
    }
    case Source::Unsure: {
      std::string text = title + ", the likeliest, but not judged: " + none +
                         " and its text is too short or too ambiguous to tell";
      if (guess.runnerUp)
        text += "; " + codePageTitle(guess.runnerUp) + " would read \"" + guess.runnerUpWord +
                "\" where this reads \"" + guess.word + "\"";
      return text;
    }
  }
  return title;
}

}  // namespace vfp
