#include "vfp/file.h"

// The parts of file handling that are the same on every system; the system calls are in
// vfp/os/<system>/file_*.cpp.

namespace vfp {

File::~File() { close(); }

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = -1;
  }
  return *this;
}

std::string folderOf(const std::string& path) {
  auto p = path.find_last_of("/\\");
  if (p == std::string::npos) return ".";
  if (p == 0) return path.substr(0, 1);
  return path.substr(0, p);
}

std::string fileNameOf(const std::string& path) {
  auto p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  if (last == '/' || last == '\\') return folder + name;
  return folder + "/" + name;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string toLowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return s;
}

std::string toUpperAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

std::optional<std::string> findFileNoCase(const std::string& folder, const std::string& name) {
  if (auto stored = storedName(joinPath(folder, name))) return joinPath(folder, *stored);
  auto entries = folderEntries(folder);
  if (!entries) return std::nullopt;
  for (const auto& entry : *entries) {
    if (!equalsNoCase(entry, name)) continue;
    std::string full = joinPath(folder, entry);
    if (pathKind(full) == PathKind::File) return full;
  }
  return std::nullopt;
}

std::optional<std::string> findPathNoCase(const std::string& path) {
  return findFileNoCase(folderOf(path), fileNameOf(path));
}

std::string replaceExtension(const std::string& path, const std::string& extension) {
  auto slash = path.find_last_of("/\\");
  auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return path + extension;
  return path.substr(0, dot) + extension;
}

std::optional<std::string> findCompanion(const std::string& tablePath,
                                         const std::string& extension) {
  return findPathNoCase(replaceExtension(tablePath, extension));
}

}  // namespace vfp
