#include "support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/vfpsql/csv.h"
#include "vfp/codepage.h"
#include "vfp/error.h"
#include "vfp/file.h"

namespace fs = std::filesystem;

namespace vfptest {

std::string fixture(const std::string& relative) {
  return std::string(QM_FIXTURES_DIR) + "/" + relative;
}

std::vector<std::string> fixtureTables() {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(QM_FIXTURES_DIR)) {
    if (!e.is_regular_file()) continue;
    std::string ext = vfp::toLowerAscii(vfp::utf8Path(e.path().extension()));
    if (ext == ".dbf" || ext == ".dbc") out.push_back(vfp::utf8Path(e.path()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::map<std::string, std::string> folderBytes(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    out[e.path().filename().string()] = readFile(e.path().string());
  return out;
}

std::string errorOf(vfp::Session& s, std::string_view sql) {
  try {
    s.execute(sql);
    s.flush();
  } catch (const vfp::Error& e) {
    return e.what();
  }
  return "(no error)";
}

namespace {

void jsonString(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += char(c);
    }
  }
  out += '"';
}

}  // namespace

std::string engineDump(const vfp::Table& table) {
  using K = vfp::Value::Kind;
  std::string out = "{";
  if (table.header().codePageMark == 0) out += "\"encoding\":\"cp1252\",";
  if (table.header().nullFlagsField()) out += "\"null_flags\":true,";
  out += "\"fields\":[";
  bool first = true;
  for (int i : table.userFields()) {
    if (!first) out += ',';
    first = false;
    const auto& f = table.header().fields[std::size_t(i)];
    out += '[';
    jsonString(out, table.fieldName(std::size_t(i)));
    out += ',';
    jsonString(out, std::string(1, f.type));
    out += ']';
  }
  out += "],\"rows\":[";
  vfp::RecordScanner scan(table);
  vfp::Value v;
  bool firstRow = true;
  while (const auto* r = scan.nextLive()) {
    out += firstRow ? "[" : ",[";
    firstRow = false;
    bool firstCell = true;
    for (int i : table.userFields()) {
      if (!firstCell) out += ',';
      firstCell = false;
      table.decodeField(r, std::size_t(i), v);
      std::string kind, text;
      switch (v.kind) {
        case K::Null:
          kind = "null";
          break;
        case K::Bool:
          kind = "bool", text = v.b ? "1" : "0";
          break;
        case K::Int:
          kind = "int", text = std::to_string(v.i);
          break;
        case K::Double:
          kind = "double", text = vfpsql::shortestDouble(v.d);
          break;
        case K::Decimal:
          kind = "decimal", text = v.s;
          break;
        case K::Text:
          kind = "text", text = v.s;
          break;
        case K::Bytes: {
          kind = "bytes";
          std::string hex;
          vfpsql::appendCsvValue(hex, v);
          text = hex.substr(2);
          break;
        }
        case K::Date:
          kind = "date", vfpsql::appendCsvValue(text, v);
          break;
        case K::DateTime:
          kind = "datetime", vfpsql::appendCsvValue(text, v);
          break;
      }
      out += '[';
      jsonString(out, kind);
      out += ',';
      jsonString(out, text);
      out += ']';
    }
    out += ']';
  }
  out += "]}";
  return out;
}

std::string runCommand(const std::string& command, int* exitCode) {
  std::string out;
#ifdef _WIN32
  FILE* p = _popen(command.c_str(), "rb");
#else
  FILE* p = popen(command.c_str(), "r");
#endif
  if (!p) throw std::runtime_error("cannot run " + command);
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
#ifdef _WIN32
  int status = _pclose(p);
  if (exitCode) *exitCode = status;
#else
  int status = pclose(p);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return out;
}

bool independentReadersAvailable() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

std::vector<std::string> compareWithReaders(const std::vector<std::string>& tables,
                                            const std::string& workDir) {
  std::string manifest = workDir + "/manifest.txt";
  std::ofstream m(manifest);
  int k = 0;
  for (const auto& t : tables) {
    std::string dumpPath = workDir + "/dump" + std::to_string(k++) + ".json";
    std::ofstream(dumpPath) << engineDump(vfp::Table(t));
    m << t << '\t' << dumpPath << '\n';
  }
  m.close();
  std::string out = runCommand("/usr/bin/python3 " + std::string(QM_SOURCE_DIR) +
                               "/tests/vfp/compare_readers.py '" + manifest + "' 2>&1");
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream f(vfp::nativePath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void copyFixtureFolder(const std::string& fixtureFile, const std::string& toDir) {
  fs::path src = vfp::nativePath(fixtureFile).parent_path();
  for (const auto& e : fs::directory_iterator(src))
    if (e.is_regular_file()) {
      const fs::path to = vfp::nativePath(toDir) / e.path().filename();
      fs::copy_file(e.path(), to);
      // The shared fixtures are read-only; a copy is made to be changed.
      fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    }
}

}  // namespace vfptest
