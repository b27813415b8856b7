// Files on disk: an RAII file handle with positioned reads and writes, and the case-insensitive
// lookup FoxPro names need on systems whose file names are case-sensitive ("calls.CDX" is the
// index of "calls.dbf").
//
// Paths are UTF-8 strings everywhere in the engine. The system calls behind this header are the
// only place that knows how the system spells a path (wide characters on Windows), so that
// "Données/Müller.dbf" opens alike on every system. The implementation of each system lives in
// vfp/os/<system>/.
//
// Sharing: a file opened for writing is opened so that no other program can write it meanwhile,
// and a file another program holds for writing is not opened for writing here. Where the system
// enforces that (Windows share modes) the refusal says the file is in use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

  bool isOpen() const { return handle_ != -1; }
  const std::string& path() const { return path_; }
  std::uint64_t size() const;
  // Reads up to n bytes at offset; returns how many were read (fewer only at end of file).
  std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t n) const;
  void writeAt(std::uint64_t offset, const void* data, std::size_t n);
  void truncate(std::uint64_t size);
  void close();

 private:
  std::intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE (whose invalid value is -1)
  std::string path_;
};

// What a path names: nothing (or nothing readable), a file, or a folder.
enum class PathKind { None, File, Folder };
PathKind pathKind(const std::string& path);

// The name of an existing file as its folder spells it (a folder that ignores letter case finds
// "orders.dbf" as "Orders.DBF"); nullopt when path is no file.
std::optional<std::string> storedName(const std::string& path);

// One spelling for every way of writing the path of one file, for telling whether two paths name
// the same file: on Windows the full path with one separator, in upper case (its file names
// ignore case); elsewhere the path itself.
std::string pathKey(const std::string& path);

// The names in a folder ("." and ".." left out); nullopt when it cannot be read.
std::optional<std::vector<std::string>> folderEntries(const std::string& folder);

// Deletes one file; false when the system refuses.
bool removeFile(const std::string& path);
// Moves from over to, replacing to when it exists; false when the system refuses.
bool replaceFile(const std::string& from, const std::string& to);

// The std::filesystem form of a UTF-8 path, and back.
std::filesystem::path nativePath(const std::string& utf8);
std::string utf8Path(const std::filesystem::path& path);

// Deletes a set of files together or not at all. The constructor takes hold of every file so
// that no other program can use it meanwhile (on Windows: a handle that shares nothing); when one
// cannot be taken it throws an error naming it and nothing is deleted. commit() deletes them
// all. A table's companions are dropped with it this way, so a table in use elsewhere is never
// left without its memo file or index.
class FileRemoval {
 public:
  explicit FileRemoval(std::vector<std::string> paths);
  ~FileRemoval();
  FileRemoval(const FileRemoval&) = delete;
  FileRemoval& operator=(const FileRemoval&) = delete;
  // Throws when a file still cannot be deleted (the ones before it are gone then; the system
  // gave no way to foresee that).
  void commit();

 private:
  std::vector<std::string> paths_;
  std::vector<std::intptr_t> handles_;
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

bool equalsNoCase(std::string_view a, std::string_view b);
std::string toLowerAscii(std::string s);
std::string toUpperAscii(std::string s);

}  // namespace vfp
