// Shared by the FoxPro-to-MySQL tests: temporary FoxPro folders, a collector for what the transfer
// puts into the preview, and a small executor that runs such a script the way the preview does
// (line by line on one MySQL connection, each job after the line it recognises).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ado/dataaccess.h"
#include "transfer/foxpro_to_mysql.h"

namespace tomysql_test {

namespace fs = std::filesystem;

struct TempFolder {
  std::string path;
  TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "tomysql-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

inline std::string FolderConnection(const std::string& folder) {
  return "Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=general;";
}

// Runs statements on a FoxPro folder through the engine.
inline void Fox(const std::string& folder, const std::vector<std::string>& statements) {
  ado::Connection c;
  c.open(FolderConnection(folder));
  for (const auto& s : statements) c.execute(s);
  c.close();
}

struct CollectedScript : transfer::ScriptSink {
  std::vector<std::string> lines;
  std::vector<std::unique_ptr<transfer::ScriptJob>> jobs;
  void appendCommand(const std::string& command) override { lines.push_back(command); }
  void addJob(std::unique_ptr<transfer::ScriptJob> job) override { jobs.push_back(std::move(job)); }
  void add(transfer::TableScript part) {
    for (auto& l : part.commands) lines.push_back(l);
    jobs.push_back(std::move(part.job));
  }
};

struct RunResult {
  std::vector<std::string> notes;
  std::vector<int> progress;
  std::vector<std::string> jobsRun;
};

// Executes every non-empty line on one MySQL connection; after a line, the first job that
// recognises it and has not run yet runs. waiting: the connection's waiting callback.
inline RunResult Execute(const std::vector<std::string>& lines,
                         std::vector<std::unique_ptr<transfer::ScriptJob>>& jobs,
                         const std::string& mysql, const ado::Waiting& waiting = {}) {
  RunResult r;
  ado::Connection c;
  c.setWaiting(waiting);
  c.open(mysql);
  std::vector<bool> done(jobs.size(), false);
  for (const auto& line : lines) {
    if (line.empty()) continue;
    c.execute(line);
    for (std::size_t j = 0; j < jobs.size(); ++j) {
      if (done[j] || !jobs[j]->runsAfter(line)) continue;
      done[j] = true;
      r.jobsRun.push_back(jobs[j]->table());
      jobs[j]->run(
          c, [&](int p) { r.progress.push_back(p); }, r.notes);
      break;
    }
  }
  c.close();
  return r;
}

// A value as text, as the MySQL client prints it; null apart from the empty text.
inline std::string Canonical(const ado::Value& v) { return v.isNull() ? "<null>" : v.toText(); }

// Every row of the FoxPro table, canonical values.
inline std::vector<std::vector<std::string>> FoxRows(const std::string& foxConnection,
                                                     const std::string& table) {
  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open(foxConnection);
  ado::RecordSet rs;
  rs.open("SELECT * FROM \"" + table + "\"", c);
  std::vector<std::vector<std::string>> rows;
  for (; !rs.eof(); rs.moveNext()) {
    rows.emplace_back();
    for (int k = 0; k < rs.fieldCount(); ++k) rows.back().push_back(Canonical(rs.value(k)));
  }
  return rows;
}

// Every row of the MySQL table (or query), canonical values, and its column names.
inline std::vector<std::vector<std::string>> MySqlRows(
    const std::string& mysql, const std::string& query,
    std::vector<std::string>* columns = nullptr) {
  ado::Connection c;
  c.setCursorLocation(ado::adUseClient);
  c.open(mysql);
  ado::RecordSet rs;
  rs.open(query, c);
  if (columns) {
    columns->clear();
    for (int k = 0; k < rs.fieldCount(); ++k) columns->push_back(rs.field(k).name);
  }
  std::vector<std::vector<std::string>> rows;
  for (; !rs.eof(); rs.moveNext()) {
    rows.emplace_back();
    for (int k = 0; k < rs.fieldCount(); ++k) rows.back().push_back(Canonical(rs.value(k)));
  }
  return rows;
}

// A FoxPro table `name` made in code page cp whose header then names none (byte 29 = 0), as
// FoxPro 2.x and most other programs leave it: one row per sentence, the sentence in the C
// field t and the next one in the memo m. Returns the rows as they must arrive.
inline std::vector<std::vector<std::string>> UnmarkedTable(const std::string& folder,
                                                           const std::string& name, int cp,
                                                           const std::vector<std::string>& rows,
                                                           char mark = 0) {
  auto quoted = [](const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
  };
  std::vector<std::string> statements = {"CREATE TABLE " + name +
                                         " CODEPAGE = " + std::to_string(cp) + " (t C(120), m M)"};
  std::vector<std::vector<std::string>> expected;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& next = rows[(i + 1) % rows.size()];
    statements.push_back("INSERT INTO " + name + " VALUES (" + quoted(rows[i]) + ", " +
                         quoted(next) + ")");
    expected.push_back({rows[i], next});
  }
  Fox(folder, statements);
  std::fstream f(folder + "/" + name + ".dbf", std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(29);
  f.put(mark);
  return expected;
}

}  // namespace tomysql_test
