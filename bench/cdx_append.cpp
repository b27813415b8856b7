// Appending rows through SQL to a table whose structural index is kept up to date (every batch
// rebuilds the .cdx). Usage: bench_cdx_append FOLDER TABLE ROWS "VALUES-TEXT"
// e.g. bench_cdx_append /tmp/nw orders 20000 "(0,'ALFKI',1,{^1998-01-01},NULL,NULL,1,0,'n','a','c','r','p','x')"
// FOLDER is changed: use a copy.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vfp/session.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_cdx_append FOLDER TABLE ROWS VALUES\n");
    return 2;
  }
  const long rows = std::atol(argv[3]);
  const auto t0 = std::chrono::steady_clock::now();
  {
    vfp::Session s(vfp::openCatalog(argv[1]));
    const std::string sql = std::string("INSERT INTO ") + argv[2] + " VALUES " + argv[4];
    for (long i = 0; i < rows; ++i) s.execute(sql);
    s.flush();
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%ld rows in %.0f ms (%.0f rows/s)\n", rows, ms, rows / (ms / 1000));
}
