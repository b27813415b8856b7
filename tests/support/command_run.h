// Running a built program through the shell in a test: its arguments quoted, a string on its
// standard input, its output, errors and exit status back. POSIX only (the shell and
// WIFEXITED), like the tests that run programs.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace qmtest {

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

struct CommandRun {
  std::string out, err;
  int status = -1;  // the exit code; -1 when the program did not exit by itself
};

// Runs command (shell text, quoted by the caller) followed by args, each quoted.
inline CommandRun runCommand(const std::string& command, const std::vector<std::string>& args,
                             const std::string& input = "") {
  TempFolder io;
  const std::string in = io.file("in"), out = io.file("out"), err = io.file("err");
  std::ofstream(in, std::ios::binary) << input;
  std::string cmd = command;
  for (const auto& a : args) cmd += " " + shellQuote(a);
  cmd += " <" + shellQuote(in) + " >" + shellQuote(out) + " 2>" + shellQuote(err);
  const int status = std::system(cmd.c_str());
  CommandRun r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = readWholeFile(out);
  r.err = readWholeFile(err);
  return r;
}

}  // namespace qmtest
