#include "vfp/codepage_guess_tables.h"

#include <cmath>
#include <map>
#include <string>
#include <string_view>

#include "vfp/error.h"

namespace vfp::cpguess {

namespace {

// ------------------------------------------------------------------ what a character is

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

double lg(double share, double count) { return std::log(share / count); }

}  // namespace

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

// ------------------------------------------------------------------ double-byte pages

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

}  // namespace vfp::cpguess
