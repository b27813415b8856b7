// Files on Windows: wide-character Win32 calls, so that any Unicode name opens, and share modes,
// so that a table another program writes is refused instead of written by two programs at once.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>

#include "vfp/error.h"
#include "vfp/file.h"
#include "vfp/os/windows/wide.h"

namespace vfp {

namespace {

HANDLE handleOf(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::string systemText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::unique_ptr<wchar_t, HLOCAL (*)(HLOCAL)> owner(text, LocalFree);
  std::string s = n ? os::toUtf8(std::wstring_view(text, n)) : std::string();
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  if (s.empty()) s = "system error " + std::to_string(code);
  return s;
}

bool inUse(DWORD e) { return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION; }

std::string systemMessage(const std::string& what, const std::string& path, DWORD e) {
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)
    return "File '" + fileNameOf(path) + "' does not exist.";
  if (inUse(e)) return "File '" + fileNameOf(path) + "' is in use by another program.";
  if (e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT) return "Access denied: '" + path + "'.";
  return what + " '" + path + "': " + systemText(e);
}

DWORD attributesOf(const std::string& path) { return GetFileAttributesW(os::toWide(path).c_str()); }

}  // namespace

File::File(const std::string& path, Mode mode) : path_(path) {
  // Readers let others read, write and delete, as a POSIX descriptor would; a writer lets others
  // only read, and is itself refused while another program has the file open for writing.
  DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD share =
      mode == Mode::Read ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
  DWORD disposition = mode == Mode::Create ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = CreateFileW(os::toWide(path).c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      throw Error("'" + path + "' is a folder, not a file.");
    throw Error(systemMessage("Cannot open file", path, e));
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

void File::close() {
  if (handle_ != -1) CloseHandle(handleOf(handle_));
  handle_ = -1;
}

std::uint64_t File::size() const {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(handleOf(handle_), &n))
    throw Error(systemMessage("Cannot read file", path_, GetLastError()));
  return std::uint64_t(n.QuadPart);
}

namespace {
OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = DWORD(offset & 0xFFFFFFFFu);
  o.OffsetHigh = DWORD(offset >> 32);
  return o;
}
constexpr std::size_t kMaxChunk = 1u << 30;
}  // namespace

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
  std::size_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < n) {
    OVERLAPPED o = at(offset + done);
    DWORD got = 0;
    DWORD want = DWORD(std::min(n - done, kMaxChunk));
    if (!ReadFile(handleOf(handle_), p + done, want, &got, &o)) {
      DWORD e = GetLastError();
      if (e == ERROR_HANDLE_EOF) break;
      throw Error(systemMessage("Cannot read file", path_, e));
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void File::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
  std::size_t done = 0;
  auto* p = static_cast<const char*>(data);
  while (done < n) {
    OVERLAPPED o = at(offset + done);
    DWORD put = 0;
    DWORD want = DWORD(std::min(n - done, kMaxChunk));
    if (!WriteFile(handleOf(handle_), p + done, want, &put, &o))
      throw Error(systemMessage("Cannot write file", path_, GetLastError()));
    done += put;
  }
}

void File::truncate(std::uint64_t size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = LONGLONG(size);
  if (!SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &info, sizeof info))
    throw Error(systemMessage("Cannot write file", path_, GetLastError()));
}

PathKind pathKind(const std::string& path) {
  DWORD a = attributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::None;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

std::optional<std::string> storedName(const std::string& path) {
  // FindFirstFileW takes wildcards; those are no valid file name characters anyway.
  if (fileNameOf(path).find_first_of("*?") != std::string::npos) return std::nullopt;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(os::toWide(path).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  FindClose(h);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return os::toUtf8(data.cFileName);
}

std::string pathKey(const std::string& path) {
  const std::wstring wide = os::toWide(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  n = n ? GetFullPathNameW(wide.c_str(), n, full.data(), nullptr) : 0;
  if (n == 0) full = wide;
  full.resize(n ? n : full.size());
  CharUpperBuffW(full.data(), DWORD(full.size()));
  return os::toUtf8(full);
}

std::optional<std::vector<std::string>> folderEntries(const std::string& folder) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(os::toWide(joinPath(folder, "*")).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    // An empty folder still lists "." and ".."; only a missing or unreadable one fails.
    return std::nullopt;
  }
  std::unique_ptr<void, BOOL (*)(HANDLE)> owner(h, FindClose);
  std::vector<std::string> out;
  do {
    std::string n = os::toUtf8(data.cFileName);
    if (n != "." && n != "..") out.push_back(std::move(n));
  } while (FindNextFileW(h, &data));
  return out;
}

bool removeFile(const std::string& path) { return DeleteFileW(os::toWide(path).c_str()) != 0; }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(os::toWide(from).c_str(), os::toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) !=
         0;
}

std::filesystem::path nativePath(const std::string& utf8) {
  return std::filesystem::path(os::toWide(utf8));
}

std::string utf8Path(const std::filesystem::path& path) { return os::toUtf8(path.wstring()); }

// Each file is opened for deletion: that fails while another program has it open without letting
// others delete it (as programs that write tables do), which Windows would also answer by
// refusing the deletion itself. The engine's own readers let others delete.
FileRemoval::FileRemoval(std::vector<std::string> paths) : paths_(std::move(paths)) {
  auto release = [this] {
    for (auto h : handles_) CloseHandle(handleOf(h));
    handles_.clear();
  };
  for (const auto& p : paths_) {
    DWORD a = attributesOf(p);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) {
      release();
      throw Error("File '" + fileNameOf(p) + "' is in use or read-only.");
    }
    HANDLE h = CreateFileW(os::toWide(p).c_str(), DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND) {
        handles_.push_back(-1);
        continue;
      }
      release();
      if (inUse(e)) throw Error("File '" + fileNameOf(p) + "' is in use by another program.");
      throw Error("File '" + fileNameOf(p) + "' is in use or read-only.");
    }
    handles_.push_back(reinterpret_cast<std::intptr_t>(h));
  }
}

FileRemoval::~FileRemoval() {
  for (auto h : handles_)
    if (h != -1) CloseHandle(handleOf(h));
}

void FileRemoval::commit() {
  for (std::size_t i = 0; i < handles_.size(); ++i) {
    if (handles_[i] == -1) continue;
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(handleOf(handles_[i]), FileDispositionInfo, &info, sizeof info))
      throw Error("File '" + fileNameOf(paths_[i]) + "' is in use or read-only.");
  }
  for (auto& h : handles_) {
    if (h != -1) CloseHandle(handleOf(h));
    h = -1;
  }
}

}  // namespace vfp
