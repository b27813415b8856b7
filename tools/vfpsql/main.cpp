// vfpsql: a command-line shell over the FoxPro engine.
//
//   vfpsql SOURCE [SQL]...
//
// SOURCE is a folder of free tables or a .dbc file. Each SQL argument is run in turn; without
// any, statements are read from standard input, one per line. SELECT prints CSV with a header
// line; ".tables" lists the tables and their types. The first error is printed to standard
// error and ends the run with exit status 1.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/vfpsql/csv.h"
#include "vfp/database.h"
#include "vfp/error.h"

namespace {

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

void run(vfp::Session& session, const std::string& line, Output& out) {
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
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: vfpsql SOURCE [SQL]...\n"
                 "SOURCE is a folder of free tables or a .dbc file; without SQL arguments,\n"
                 "statements are read from standard input, one per line.\n");
    return 2;
  }
  Output out;
  long lineNo = 0;
  try {
    vfp::Session session(vfp::openCatalog(argv[1]));
    if (argc > 2) {
      for (int i = 2; i < argc; ++i) {
        lineNo = i - 1;
        run(session, argv[i], out);
      }
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        ++lineNo;
        run(session, line, out);
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
