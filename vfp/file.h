// Files on disk: an RAII file handle with positioned reads and writes, and the case-insensitive
// lookup FoxPro names need on systems whose file names are case-sensitive ("calls.CDX" is the
// index of "calls.dbf").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vfp {

class File {
 public:
  enum class Mode { Read, ReadWrite, Create };  // Create truncates or makes a new file

  File() = default;
  File(const std::string& path, Mode mode);  // throws vfp::Error naming the file
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  std::uint64_t size() const;
  // Reads up to n bytes at offset; returns how many were read (fewer only at end of file).
  std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t n) const;
  void writeAt(std::uint64_t offset, const void* data, std::size_t n);
  void truncate(std::uint64_t size);
  void close();

 private:
  int fd_ = -1;
  std::string path_;
};

// Splits a path at its last "/" or "\" (both count: paths may come from Windows users).
std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);

// The existing file in folder whose name equals name ignoring ASCII letter case; an exact match
// wins over others. Empty when none.
std::optional<std::string> findFileNoCase(const std::string& folder, const std::string& name);
// Same, for a full path: the file itself when it exists, else its case-insensitive sibling.
std::optional<std::string> findPathNoCase(const std::string& path);
// A companion of a table (".fpt", ".cdx" ...) in any letter case.
std::optional<std::string> findCompanion(const std::string& tablePath,
                                         const std::string& extension);
std::string replaceExtension(const std::string& path, const std::string& extension);

bool equalsNoCase(const std::string& a, const std::string& b);
std::string toLowerAscii(std::string s);
std::string toUpperAscii(std::string s);

}  // namespace vfp
