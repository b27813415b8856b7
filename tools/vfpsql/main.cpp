// vfpsql: a command-line shell over the FoxPro engine.
//
//   vfpsql [--codepage N] SOURCE [SQL]...
//
// SOURCE is a folder of free tables or a .dbc file. Each SQL argument is run in turn; without
// any, statements are read from standard input, one per line. SELECT prints CSV with a header
// line; ".tables" lists the tables and their types. The first error is printed to standard
// error and ends the run with exit status 1.
//
// A table whose header names no code page is read in the one its text is judged to be in, as
// the program reads it; standard error says which, once per table. --codepage N names the page
// for such tables instead.
#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "tools/vfpsql/csv.h"
#include "vfp/session.h"
#include "vfp/error.h"

#ifdef _WIN32
// windows.h first, the other Windows headers need its types.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include "vfp/os/windows/wide.h"
#endif

namespace {

// The arguments in UTF-8, as the engine takes paths and text. Windows hands a narrow argv in
// the ANSI code page, which cannot spell every file name; its wide command line can. Output is
// written byte for byte there too (no "\n" -> "\r\n"), so it equals the Linux build's.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(vfp::os::toUtf8(wide[i]));
  LocalFree(wide);
  return out;
#else
  return std::vector<std::string>(argv, argv + argc);
#endif
}

class Output {
 public:
  ~Output() { flush(); }
  std::string& buf() { return buf_; }
  void maybeFlush() {
    if (buf_.size() > (1 << 20)) flush();
  }
  void flush() {
    std::fwrite(buf_.data(), 1, buf_.size(), stdout);
    buf_.clear();
    std::fflush(stdout);
  }

 private:
  std::string buf_;
};

// Says once per table in which code page a table that names none is read, when it was judged.
void sayCodePage(const vfp::QueryResult& result, std::set<std::string>& said, Output& out) {
  using Source = vfp::CodePageChoice::Source;
  const vfp::CodePageChoice& c = result.codePageChoice();
  if (c.source != Source::Judged && c.source != Source::Unsure) return;
  if (!said.insert(result.table().path()).second) return;
  out.flush();  // the note stands after the rows printed before it
  std::fprintf(stderr, "vfpsql: table %s: %s\n", result.table().name().c_str(),
               c.describe().c_str());
}

void run(vfp::Session& session, const std::string& line, Output& out, std::set<std::string>& said) {
  std::string s = line;
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return;
  if (s.compare(b, 7, ".tables") == 0) {
    session.flush();
    out.buf() += "TABLE_NAME,TABLE_TYPE\r\n";
    for (const auto& t : session.catalog().tables()) {
      vfpsql::appendCsvText(out.buf(), t.name);
      out.buf() += ',';
      vfpsql::appendCsvText(out.buf(), t.type);
      out.buf() += "\r\n";
    }
    return;
  }
  auto result = session.execute(s);
  if (!result) return;
  sayCodePage(*result, said, out);
  std::string& o = out.buf();
  for (std::size_t i = 0; i < result->fieldCount(); ++i) {
    if (i) o += ',';
    vfpsql::appendCsvText(o, result->fieldName(i));
  }
  o += "\r\n";
  while (result->next()) {
    for (std::size_t i = 0; i < result->fieldCount(); ++i) {
      if (i) o += ',';
      vfpsql::appendCsvValue(o, result->value(i));
    }
    o += "\r\n";
    out.maybeFlush();
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = utf8Arguments(argc, argv);
  int codePage = 0;
  if (args.size() > 2 && args[1] == "--codepage") {
    try {
      std::size_t used = 0;
      codePage = std::stoi(args[2], &used);
      if (used != args[2].size() || !vfp::markFromCodePage(codePage)) codePage = -1;
    } catch (const std::exception&) {
      codePage = -1;
    }
    if (codePage < 0) {
      std::fprintf(stderr, "vfpsql: --codepage %s is no code page FoxPro knows\n", args[2].c_str());
      return 2;
    }
    args.erase(args.begin() + 1, args.begin() + 3);
  }
  if (args.size() < 2) {
    std::fprintf(stderr,
                 "usage: vfpsql [--codepage N] SOURCE [SQL]...\n"
                 "SOURCE is a folder of free tables or a .dbc file; without SQL arguments,\n"
                 "statements are read from standard input, one per line. --codepage names\n"
                 "the code page of tables whose header names none (else it is judged from\n"
                 "their text, and standard error says which).\n");
    return 2;
  }
  Output out;
  long lineNo = 0;
  std::set<std::string> said;
  try {
    vfp::Session session(vfp::openCatalog(args[1]));
    session.setUnmarkedCodePage(codePage);
    if (args.size() > 2) {
      for (std::size_t i = 2; i < args.size(); ++i) {
        lineNo = long(i) - 1;
        run(session, args[i], out, said);
      }
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        ++lineNo;
        run(session, line, out, said);
      }
    }
    session.flush();
    out.flush();
    if (session.charactersReplaced() > 0)
      std::fprintf(stderr,
                   "vfpsql: %lld character(s) could not be stored in the table's code page and "
                   "were written as \"?\".\n",
                   session.charactersReplaced());
  } catch (const std::exception& e) {
    out.flush();
    if (lineNo > 0)
      std::fprintf(stderr, "vfpsql: statement %ld: %s\n", lineNo, e.what());
    else
      std::fprintf(stderr, "vfpsql: %s\n", e.what());
    return 1;
  }
  return 0;
}
