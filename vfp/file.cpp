#include "vfp/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "vfp/error.h"

namespace vfp {

namespace {
std::string systemMessage(const std::string& what, const std::string& path) {
  int e = errno;
  if (e == ENOENT) return "File '" + fileNameOf(path) + "' does not exist.";
  if (e == EACCES || e == EPERM || e == EROFS) return "Access denied: '" + path + "'.";
  return what + " '" + path + "': " + std::strerror(e);
}
}  // namespace

File::File(const std::string& path, Mode mode) : path_(path) {
  int flags = mode == Mode::Read        ? O_RDONLY
              : mode == Mode::ReadWrite ? O_RDWR
                                        : O_RDWR | O_CREAT | O_TRUNC;
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd_ < 0) throw Error(systemMessage("Cannot open file", path));
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw Error("'" + path + "' is a folder, not a file.");
  }
}

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

void File::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint64_t File::size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) throw Error(systemMessage("Cannot read file", path_));
  return std::uint64_t(st.st_size);
}

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
  std::size_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, off_t(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw Error(systemMessage("Cannot read file", path_));
    }
    if (r == 0) break;
    done += std::size_t(r);
  }
  return done;
}

void File::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
  std::size_t done = 0;
  auto* p = static_cast<const char*>(data);
  while (done < n) {
    ssize_t r = ::pwrite(fd_, p + done, n - done, off_t(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw Error(systemMessage("Cannot write file", path_));
    }
    done += std::size_t(r);
  }
}

void File::truncate(std::uint64_t size) {
  if (::ftruncate(fd_, off_t(size)) != 0) throw Error(systemMessage("Cannot write file", path_));
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

bool equalsNoCase(const std::string& a, const std::string& b) {
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
  std::string exact = joinPath(folder, name);
  struct stat st;
  if (::stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  while (auto* e = ::readdir(dir.get())) {
    std::string entry = e->d_name;
    if (equalsNoCase(entry, name)) {
      std::string full = joinPath(folder, entry);
      if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return full;
    }
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
