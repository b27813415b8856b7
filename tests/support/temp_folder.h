// A fresh folder for one test, removed with everything in it when the test ends. Plain C++ over
// the engine's path functions, so that the engine's tests built for Windows use it too.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "vfp/file.h"

namespace qmtest {

class TempFolder {
 public:
  TempFolder() {
    // A random name made here: mkdtemp is not on every system.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path p = std::filesystem::temp_directory_path() /
                                      ("qmtest-" + std::to_string(random() % 1000000000));
      std::error_code ec;
      if (std::filesystem::create_directory(p, ec)) {
        path = vfp::utf8Path(p);
        for (auto& c : path)
          if (c == '\\') c = '/';
        return;
      }
    }
    throw std::runtime_error("cannot make a temporary folder");
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(vfp::nativePath(path), ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string file(const std::string& name) const { return path + "/" + name; }

  std::string path;  // UTF-8, with "/" between its parts
};

}  // namespace qmtest
