// How well the code-page guess reads tables whose header names no code page, per code page, on
// the sentences of tests/vfp/codepage_texts.h: tables of three rows, of one sentence, and of a
// few words. Where libuchardet is installed the same tables go through it too, for comparison:
// a result counts as right when the page (or for uchardet the charset) it names decodes the
// bytes to exactly the text they were made from.
//
//   build/bench/bench_codepage_guess            the figures
//   build/bench/bench_codepage_guess --misses   also every table the guess gets wrong or leaves
#include "vfp/codepage_guess.h"

#include <iconv.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/vfp/codepage_texts.h"
#include "vfp/codepage.h"

#ifdef QM_HAVE_UCHARDET
#include <uchardet/uchardet.h>
#endif

namespace {

// Per lower margin: how many guesses would then be judged, and how many of them wrongly.
std::map<int, std::pair<int, int>> atMargin;

struct Tally {
  int tables = 0;
  int right = 0;     // judged, and the page named decodes the text exactly
  int exact = 0;     // ... and it is the page the table was made in
  int unjudged = 0;  // said so (the page used may still decode it right)
  int wrong = 0;     // judged, and the text comes out otherwise: the failure that matters
  int ucRight = 0;   // uchardet: its charset decodes the text exactly
  int ucNone = 0;    // uchardet: no answer
  int ucWrong = 0;   // uchardet: an answer that decodes it otherwise
};

std::string decodeWith(const std::string& charset, const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return "\x01unknown charset";
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* o = out.data();
  std::size_t outLeft = out.size();
  const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return "\x01undecodable";
  out.resize(out.size() - outLeft);
  return out;
}

std::string uchardetOf(const std::string& bytes) {
#ifdef QM_HAVE_UCHARDET
  uchardet_t u = uchardet_new();
  uchardet_handle_data(u, bytes.data(), bytes.size());
  uchardet_data_end(u);
  std::string cs = uchardet_get_charset(u);
  uchardet_delete(u);
  return cs;
#else
  (void)bytes;
  return {};
#endif
}

void count(Tally& t, const std::string& utf8, const std::string& bytes, bool showMisses, int page,
           const char* kind) {
  vfp::TextSample s;
  s.add(bytes);
  if (s.plain()) return;  // plain ASCII needs no guess
  ++t.tables;
  const vfp::CodePageGuess g = vfp::guessCodePage(s);
  std::string back;
  vfp::converterFor(g.codePage)->toUtf8(bytes, back);
  const bool decodes = back == utf8;
  for (int m = 1; m <= 8; ++m)
    if (g.margin >= m) {
      ++atMargin[m].first;
      if (!decodes) ++atMargin[m].second;
    }
  if (!g.judged) {
    ++t.unjudged;
  } else if (decodes) {
    ++t.right;
    if (g.codePage == page) ++t.exact;
  } else {
    ++t.wrong;
  }
  if (showMisses && (!g.judged || !decodes)) {
    std::string shown = back;
    for (auto& c : shown)
      if (c == '\n') c = '/';
    std::printf("  %s %d %s as %d (runner-up %d, margin %.1f, \"%s\" there): %s\n", kind, page,
                g.judged ? "WRONG" : "unjudged", g.codePage, g.runnerUp, g.margin,
                g.runnerUpWord.c_str(), shown.c_str());
  }
  const std::string cs = uchardetOf(bytes);
  if (cs.empty())
    ++t.ucNone;
  else if (decodeWith(cs, bytes) == utf8)
    ++t.ucRight;
  else
    ++t.ucWrong;
}

// The first `n` words of a sentence, of which at least one is not ASCII; empty when none is.
std::string fewWords(const std::string& sentence, std::size_t first, std::size_t n) {
  std::vector<std::string> words;
  std::string w;
  for (char c : sentence + " ") {
    if (c == ' ') {
      if (!w.empty()) words.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (first >= words.size()) return {};
  std::string out;
  bool high = false;
  for (std::size_t i = first; i < words.size() && i < first + n; ++i) {
    if (!out.empty()) out += ' ';
    out += words[i];
    for (unsigned char c : words[i]) high = high || c >= 0x80;
  }
  return high ? out : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  const bool misses = argc > 1 && std::strcmp(argv[1], "--misses") == 0;
#ifndef QM_HAVE_UCHARDET
  std::printf("(built without libuchardet: its columns stay 0)\n");
#endif
  const char* kinds[] = {"3 rows", "1 sentence", "2 words", "1 word"};
  std::map<int, std::map<std::string, Tally>> byPage;
  const auto start = std::chrono::steady_clock::now();
  int guesses = 0;
  for (const auto& texts : cptext::corpus()) {
    for (int page : texts.pages) {
      const auto conv = vfp::converterFor(page);
      std::vector<std::string> rows, bytes;
      for (const auto& s : texts.sentences) {
        std::string b;
        if (conv->fromUtf8(s, b)) {
          std::printf("note: %s sentence not in code page %d: %s\n", texts.language, page,
                      s.c_str());
          continue;
        }
        rows.push_back(s);
        bytes.push_back(b);
      }
      auto& tallies = byPage[page];
      // Three rows: each run of three sentences (one table when there are fewer).
      for (std::size_t i = 0; i + 3 <= rows.size() || (i == 0 && !rows.empty()); ++i) {
        std::string u, b;
        for (std::size_t k = i; k < std::min(rows.size(), i + 3); ++k) {
          u += rows[k] + "\n";
          b += bytes[k] + "\n";
        }
        count(tallies[kinds[0]], u, b, misses, page, kinds[0]);
        ++guesses;
      }
      for (std::size_t i = 0; i < rows.size(); ++i) {
        count(tallies[kinds[1]], rows[i], bytes[i], misses, page, kinds[1]);
        ++guesses;
        for (std::size_t n : {2, 1}) {
          for (std::size_t w = 0; w < 12; w += n) {
            const std::string few = fewWords(rows[i], w, n);
            if (few.empty()) continue;
            std::string fb;
            conv->fromUtf8(few, fb);
            count(tallies[n == 2 ? kinds[2] : kinds[3]], few, fb, misses, page,
                  n == 2 ? kinds[2] : kinds[3]);
            ++guesses;
          }
        }
      }
    }
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

  std::printf("\n%-6s %-10s %6s | %5s %5s %8s %5s | %9s %7s %7s\n", "page", "tables", "n", "right",
              "exact", "unjudged", "WRONG", "uc right", "uc none", "uc wrong");
  std::map<std::string, Tally> total;
  for (const auto& [page, tallies] : byPage) {
    for (const char* kind : kinds) {
      auto it = tallies.find(kind);
      if (it == tallies.end()) continue;
      const Tally& t = it->second;
      std::printf("%-6d %-10s %6d | %5d %5d %8d %5d | %9d %7d %7d\n", page, kind, t.tables, t.right,
                  t.exact, t.unjudged, t.wrong, t.ucRight, t.ucNone, t.ucWrong);
      Tally& s = total[kind];
      s.tables += t.tables, s.right += t.right, s.exact += t.exact, s.unjudged += t.unjudged;
      s.wrong += t.wrong, s.ucRight += t.ucRight, s.ucNone += t.ucNone, s.ucWrong += t.ucWrong;
    }
  }
  for (const char* kind : kinds) {
    const Tally& t = total[kind];
    std::printf("%-6s %-10s %6d | %5d %5d %8d %5d | %9d %7d %7d\n", "all", kind, t.tables, t.right,
                t.exact, t.unjudged, t.wrong, t.ucRight, t.ucNone, t.ucWrong);
  }
  std::printf("\nwere the margin lower:");
  for (const auto& [m, n] : atMargin)
    std::printf(" %d: %d judged, %d wrong;", m, n.first, n.second);
  std::printf("\n%d guesses (and as many uchardet runs) in %.0f ms\n", guesses, ms);
  return 0;
}
