// Large buffers get transparent huge pages. The preview's editor keeps a script of a million
// lines in one buffer that grows by copying; touching a fresh 150 MB buffer page by page costs
// over half a second on some virtual machines, and a window that waits that long is frozen. In
// 2 MB pages the same buffer is touched in a fraction of that time. This replaces the global
// operator new of every program that shows the preview, so it reaches the editor's own
// allocations; the memory itself still comes from malloc.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLarge = std::size_t(8) << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;

void* allocate(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  if (n >= kLarge) {
    // malloc maps blocks this large afresh and has touched only their first page, so the
    // advice comes in time for the rest.
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (at + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (at + n) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
#endif
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
