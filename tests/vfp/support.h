// Helpers shared by the engine's tests: fixture paths, temporary folders, running the
// independent Python readers, dumping what the engine reads.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_folder.h"
#include "vfp/session.h"
#include "vfp/table.h"

namespace vfptest {

std::string fixture(const std::string& relative);
// Every .dbf/.dbc among the fixtures, sorted.
std::vector<std::string> fixtureTables();

using qmtest::TempFolder;

// The engine's message for a statement run (and flushed) in s; "(no error)" when it runs.
std::string errorOf(vfp::Session& s, std::string_view sql);

// JSON dump of the live records of a table as the engine reads them (format in
// compare_readers.py).
std::string engineDump(const vfp::Table& table);
// The independent readers are Python programs of this machine's Linux; the Windows build made
// here runs under Wine without them (what they check does not depend on the system).
bool independentReadersAvailable();
// Runs compare_readers.py over (table, dump) pairs; returns its output lines.
std::vector<std::string> compareWithReaders(const std::vector<std::string>& tables,
                                            const std::string& workDir);
// Runs a command, returns its standard output; exitCode receives the status.
std::string runCommand(const std::string& command, int* exitCode = nullptr);

std::string readFile(const std::string& path);
// The bytes of every file in a folder, by file name.
std::map<std::string, std::string> folderBytes(const std::string& dir);
void copyFixtureFolder(const std::string& fixtureFile, const std::string& toDir);

}  // namespace vfptest
