// Files on POSIX systems: descriptors, pread/pwrite and the folder calls. Paths are passed to the
// system as they are (UTF-8 bytes).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vfp/error.h"
#include "vfp/file.h"

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
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) throw Error(systemMessage("Cannot open file", path));
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Error("'" + path + "' is a folder, not a file.");
  }
  handle_ = fd;
}

void File::close() {
  if (handle_ != -1) ::close(int(handle_));
  handle_ = -1;
}

std::uint64_t File::size() const {
  struct stat st;
  if (::fstat(int(handle_), &st) != 0) throw Error(systemMessage("Cannot read file", path_));
  return std::uint64_t(st.st_size);
}

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
  std::size_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t r = ::pread(int(handle_), p + done, n - done, off_t(offset + done));
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
    ssize_t r = ::pwrite(int(handle_), p + done, n - done, off_t(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw Error(systemMessage("Cannot write file", path_));
    }
    done += std::size_t(r);
  }
}

void File::truncate(std::uint64_t size) {
  if (::ftruncate(int(handle_), off_t(size)) != 0)
    throw Error(systemMessage("Cannot write file", path_));
}

PathKind pathKind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return PathKind::None;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  return S_ISREG(st.st_mode) ? PathKind::File : PathKind::None;
}

std::optional<std::string> storedName(const std::string& path) {
  if (pathKind(path) != PathKind::File) return std::nullopt;
  return fileNameOf(path);
}

std::string pathKey(const std::string& path) { return path; }

std::optional<std::vector<std::string>> folderEntries(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  std::vector<std::string> out;
  while (auto* e = ::readdir(dir.get())) {
    std::string n = e->d_name;
    if (n != "." && n != "..") out.push_back(std::move(n));
  }
  return out;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::filesystem::path nativePath(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string utf8Path(const std::filesystem::path& path) { return path.string(); }

// POSIX has no share modes: another program's descriptors do not stop a deletion, so holding the
// files is only a check that each can still be deleted (its folder is writable).
FileRemoval::FileRemoval(std::vector<std::string> paths) : paths_(std::move(paths)) {
  for (const auto& p : paths_)
    if (::access(folderOf(p).c_str(), W_OK) != 0)
      throw Error("File '" + fileNameOf(p) + "' is in use or read-only.");
}

FileRemoval::~FileRemoval() = default;

void FileRemoval::commit() {
  for (const auto& p : paths_)
    if (::unlink(p.c_str()) != 0 && errno != ENOENT)
      throw Error("File '" + fileNameOf(p) + "' is in use or read-only.");
  paths_.clear();
}

}  // namespace vfp
