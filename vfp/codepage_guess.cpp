#include "vfp/codepage_guess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "vfp/codepage_guess_tables.h"
#include "vfp/error.h"
#include "vfp/table.h"

namespace vfp {

namespace {

using namespace cpguess;

bool isAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// ------------------------------------------------------------------ scores

// Natural logarithms of how likely each thing is; the scale is that of the letter shares.
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
