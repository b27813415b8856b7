// Runs quillmere-transfer as a whole process for the benchmarks that time it from start to exit:
// its wall-clock seconds, its peak memory (the process's own maximum resident size), its exit
// status and its standard output. The sandbox's MySQL settings are added to its arguments.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_support.h"

extern char** environ;

namespace bench {

struct Run {
  double seconds = 0;
  long maxRssKb = 0;
  int status = -1;
  std::string out;
};

inline Run Tool(const std::string& tool, std::vector<std::string> args,
                const std::string& outFile) {
  args.insert(args.begin(), tool);
  for (const char* v : {"--mysql-server", "QM_MYSQL_HOST", "--mysql-port", "QM_MYSQL_PORT",
                        "--mysql-user", "QM_MYSQL_USER", "--mysql-password", "QM_MYSQL_PASSWORD",
                        "--mysql-database", "QM_MYSQL_DATABASE"})
    args.push_back(v[0] == '-' ? std::string(v) : env(v));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t io;
  posix_spawn_file_actions_init(&io);
  posix_spawn_file_actions_addopen(&io, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&io, 2, "/dev/null", O_WRONLY, 0);
  Run r;
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, tool.c_str(), &io, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.maxRssKb = usage.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&io);
  std::ifstream in(outFile);
  r.out.assign(std::istreambuf_iterator<char>(in), {});
  return r;
}

// A benchmark of the tool's own folder under `base` (its stored settings there, so none of the
// user's), and the tool: the one named, else the one built beside the benchmark.
struct ToolBench {
  std::string tool, folder;
  ToolBench(const char* argv0, const char* toolArg, const std::string& base, const char* name) {
    namespace fs = std::filesystem;
    tool = toolArg
               ? toolArg
               : (fs::path(argv0).parent_path() / ".." / "tools" / "quillmere-transfer").string();
    folder = base + "/" + name + "-" + std::to_string(getpid());
    fs::create_directories(folder + "/config");
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
  }
};

// The sync after 1% of the rows changed and the one right after it, printed with the full copy
// they are measured against, and a RESULT line bench/run-all reads. True when all three ran
// to exit status 0.
inline bool SyncTwice(const std::string& tool, const std::vector<std::string>& args,
                      const std::string& folder, const Run& full) {
  // The same sync written and not run first: what reading and comparing both sides cost.
  std::vector<std::string> dry = args;
  dry.insert(dry.end(), {"--dry-run", folder + "/planned.sql"});
  const Run planned = Tool(tool, dry, folder + "/planned.txt");
  std::printf("the same sync, --dry-run: %.2f s, at most %ld KB, exit status %d\n", planned.seconds,
              planned.maxRssKb, planned.status);
  const Run sync = Tool(tool, args, folder + "/sync.txt");
  std::printf("sync of 1%% changed: %.2f s, at most %ld KB, exit status %d\n", sync.seconds,
              sync.maxRssKb, sync.status);
  std::printf("  %s", sync.out.c_str());
  const Run again = Tool(tool, args, folder + "/again.txt");
  std::printf("second sync: %.2f s, at most %ld KB, exit status %d\n", again.seconds,
              again.maxRssKb, again.status);
  std::printf("  %s", again.out.c_str());
  std::printf(
      "RESULT sync_s=%.2f full_s=%.2f ratio=%.3f sync_rss_kb=%ld second_s=%.2f "
      "second_found_nothing=%s dry_run_s=%.2f\n",
      sync.seconds, full.seconds, sync.seconds / full.seconds, sync.maxRssKb, again.seconds,
      again.status == 0 && again.out.find("Nothing changed.") != std::string::npos ? "yes" : "no",
      planned.seconds);
  return full.status == 0 && planned.status == 0 && sync.status == 0 && again.status == 0;
}

}  // namespace bench
