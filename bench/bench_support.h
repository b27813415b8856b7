// What the benchmarks that talk to a server all need: the sandbox's settings from the
// environment, wall-clock seconds, and a statement that must succeed. A benchmark that cannot
// reach its server or run its own setup has nothing to measure, so each of these ends the
// process with the reason instead of returning an error.
#pragma once

#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// A setting the sandbox's env file exports (QM_MYSQL_HOST, QM_MYSQL_PORT, ...).
inline std::string env(const char* name) {
  const char* v = std::getenv(name);
  if (!v) {
    std::fprintf(stderr, "%s is not set: source the sandbox's env file first\n", name);
    std::exit(2);
  }
  return v;
}

// Runs one statement and discards its result.
inline void run(MYSQL* m, const std::string& sql) {
  if (mysql_real_query(m, sql.data(), sql.size()) != 0) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), mysql_error(m));
    std::exit(1);
  }
  if (MYSQL_RES* r = mysql_store_result(m)) mysql_free_result(r);
}

// A connection to the sandbox's database as its user, in utf8mb4; `local` allows LOAD DATA LOCAL.
inline MYSQL* connect(bool local = false) {
  MYSQL* m = mysql_init(nullptr);
  unsigned int on = local ? 1 : 0;
  mysql_options(m, MYSQL_OPT_LOCAL_INFILE, &on);
  mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  if (!mysql_real_connect(m, env("QM_MYSQL_HOST").c_str(), env("QM_MYSQL_USER").c_str(),
                          env("QM_MYSQL_PASSWORD").c_str(), env("QM_MYSQL_DATABASE").c_str(),
                          unsigned(std::stoul(env("QM_MYSQL_PORT"))), nullptr, 0)) {
    std::fprintf(stderr, "connect: %s\n", mysql_error(m));
    std::exit(1);
  }
  return m;
}

// The first row's value in `column` as a number; -1 when the statement fails or gives none.
inline long long scalar(MYSQL* m, const std::string& sql, int column = 0) {
  if (mysql_real_query(m, sql.data(), sql.size()) != 0) return -1;
  MYSQL_RES* r = mysql_store_result(m);
  long long v = -1;
  if (MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr)
    v = row[column] ? std::atoll(row[column]) : -1;
  if (r) mysql_free_result(r);
  return v;
}

}  // namespace bench
