// The program's operator new. Two things set it apart from the library's:
// - Blocks of 8 MB and more get transparent huge pages: a fresh block's pages are touched in
//   2 MB pages rather than 4 KB ones, which makes the preview's growing buffer far cheaper to
//   copy.
// - A block made ready by Prepare() is handed to the first large allocation that fits, so the
//   editor's buffer arrives already touched (see large_buffers.h).
// Everything else comes from malloc as before. It is compiled into every program that shows
// the preview: a replaced operator new must be part of the program itself.
#include "preview/buffers/large_buffers.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr std::size_t kLarge = std::size_t(8) << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
constexpr std::size_t kPage = 4096;

void adviseHugePages(void* p, std::size_t n) {
#ifdef MADV_HUGEPAGE
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t begin = (at + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (at + n) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)p;
  (void)n;
#endif
}

// The one prepared block, and the one taken from it. Built in static storage and never
// destroyed: allocations go on until the program's very end.
struct Reservoir {
  std::mutex mutex;
  char* block = nullptr;  // being touched or ready, not yet taken
  std::size_t size = 0;
  std::thread toucher;
  std::atomic<bool> ready{false};
  std::atomic<char*> taken{nullptr};  // handed out; unmapped when deleted
  std::size_t takenSize = 0;
};

Reservoir& reservoir() {
  alignas(Reservoir) static unsigned char storage[sizeof(Reservoir)];
  static Reservoir* r = new (storage) Reservoir;
  return *r;
}

void discardLocked(Reservoir& r) {
  if (r.toucher.joinable()) r.toucher.join();
  if (r.block) munmap(r.block, r.size);
  r.block = nullptr;
  r.size = 0;
  r.ready = false;
}

void* takePrepared(std::size_t n) {
  Reservoir& r = reservoir();
  if (!r.ready.load(std::memory_order_acquire)) return nullptr;
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.ready || !r.block || n > r.size || r.taken.load() != nullptr) return nullptr;
  if (r.toucher.joinable()) r.toucher.join();
  char* p = r.block;
  r.takenSize = r.size;
  r.taken.store(p, std::memory_order_release);
  r.block = nullptr;
  r.size = 0;
  r.ready = false;
  return p;
}

bool releaseTaken(void* p) {
  Reservoir& r = reservoir();
  char* taken = r.taken.load(std::memory_order_acquire);
  if (!p || p != taken) return false;
  munmap(taken, r.takenSize);
  r.taken.store(nullptr, std::memory_order_release);
  return true;
}

void* allocate(std::size_t n) {
  if (n >= kLarge) {
    if (void* p = takePrepared(n)) return p;
  }
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  // malloc maps blocks this large afresh and has touched only their first page, so the advice
  // comes in time for the rest.
  if (n >= kLarge) adviseHugePages(p, n);
  return p;
}

void release(void* p) {
  if (!releaseTaken(p)) std::free(p);
}

}  // namespace

namespace transfer::buffers {

void Prepare(std::size_t bytes) {
  Reservoir& r = reservoir();
  const std::size_t size = (bytes + kHugePage - 1) & ~std::size_t(kHugePage - 1);
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  adviseHugePages(p, size);
  std::lock_guard<std::mutex> lock(r.mutex);
  discardLocked(r);
  r.block = static_cast<char*>(p);
  r.size = size;
  // The thread's own bookkeeping is allocated here, while the lock is held: it is small, so it
  // never asks for the lock again.
  r.toucher = std::thread([&r, block = r.block, size] {
    for (std::size_t i = 0; i < size; i += kPage) static_cast<volatile char*>(block)[i] = 0;
    r.ready.store(true, std::memory_order_release);
  });
}

bool Ready() { return reservoir().ready.load(std::memory_order_acquire); }

void Discard() {
  Reservoir& r = reservoir();
  std::lock_guard<std::mutex> lock(r.mutex);
  discardLocked(r);
}

}  // namespace transfer::buffers

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
