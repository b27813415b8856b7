// How long rebuilding a compound index takes: sorting and packing N keys into a whole .cdx, held
// flat as the index maintainer keeps them. Usage: bench_cdx_build [records]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vfp/cdx_writer.h"
#include "vfp/keyexpr.h"

int main(int argc, char** argv) {
  const std::uint32_t n = argc > 1 ? std::uint32_t(std::atol(argv[1])) : 1000000;
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };

  vfp::cdx::TagBuild text, number;
  text.name = "NAME";
  text.header.keyLength = 30;
  number.name = "AMOUNT";
  number.header.keyLength = 8;
  number.pad = 0;
  vfp::cdx::KeyList textKeys(30), numberKeys(8);
  std::uint32_t x = 12345;
  for (std::uint32_t r = 1; r <= n; ++r) {
    x = x * 1103515245u + 12345u;
    char buf[40];
    std::snprintf(buf, sizeof buf, "CUSTOMER %-21u", x % 100000u);
    textKeys.push(std::string_view(buf, 30), r);
    numberKeys.push(vfp::keyexpr::encodeDouble(double(x % 1000000) / 100.0), r);
  }
  auto t0 = Clock::now();
  textKeys.sort();
  numberKeys.sort();
  text.keys = &textKeys;
  number.keys = &numberKeys;
  std::vector<vfp::cdx::TagBuild> tags;
  tags.push_back(std::move(text));
  tags.push_back(std::move(number));
  auto t1 = Clock::now();
  const auto file = vfp::cdx::buildIndexFile(tags);
  auto t2 = Clock::now();
  std::printf("%u records, 2 tags: sort %.1f ms, build %.1f ms, file %.1f MB\n", n, ms(t1 - t0),
              ms(t2 - t1), double(file.size()) / 1e6);
}
