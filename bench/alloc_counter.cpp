// See alloc_counter.h. The counters are plain thread-local state: the
// measured loops are single-threaded, and other threads (Qt's helpers)
// never count.
#include "alloc_counter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// A sanitizer brings its own allocator: replacing or interposing it would
// break the sanitizer, so such builds count nothing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZORBELIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define ZORBELIX_SANITIZED 1
#endif
#endif
#ifndef ZORBELIX_SANITIZED
#define ZORBELIX_SANITIZED 0
#endif

#if defined(__GLIBC__)
#include <execinfo.h>
#include <unistd.h>
#endif

#if defined(__GLIBC__) && !ZORBELIX_SANITIZED
#define ZORBELIX_COUNT_MALLOC 1
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}
#else
#define ZORBELIX_COUNT_MALLOC 0
#endif

namespace alloc_counter {
namespace {

thread_local bool counting = false;
thread_local bool inHook = false;  // a stack print allocating must not recurse
thread_local Counts counts;
int stacksLeft = 0;

void Note(bool viaNew) {
  if (!counting || inHook) {
    return;
  }
  if (viaNew) {
    ++counts.operatorNew;
  } else {
    ++counts.malloc;
  }
#if defined(__GLIBC__)
  if (stacksLeft > 0) {
    --stacksLeft;
    inHook = true;
    void* frames[40];
    const int n = backtrace(frames, 40);
    static const char kHead[] = "---- allocation during the measured loop:\n";
    (void)!write(2, kHead, sizeof kHead - 1);
    backtrace_symbols_fd(frames, n, 2);
    inHook = false;
  }
#endif
}

[[maybe_unused]] void* RawAlloc(std::size_t size) {
#if ZORBELIX_COUNT_MALLOC
  return __libc_malloc(size == 0 ? 1 : size);
#else
  return std::malloc(size == 0 ? 1 : size);
#endif
}

[[maybe_unused]] void* RawAlignedAlloc(std::size_t size, std::size_t alignment) {
#if ZORBELIX_COUNT_MALLOC
  return __libc_memalign(alignment, size == 0 ? 1 : size);
#else
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
}

[[maybe_unused]] void RawFree(void* pointer) {
#if ZORBELIX_COUNT_MALLOC
  __libc_free(pointer);
#else
  std::free(pointer);
#endif
}

[[maybe_unused]] void* NewOrThrow(std::size_t size) {
  Note(true);
  void* pointer = RawAlloc(size);
  if (pointer == nullptr) {
    throw std::bad_alloc();
  }
  return pointer;
}

[[maybe_unused]] void* NewAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  Note(true);
  void* pointer = RawAlignedAlloc(size, static_cast<std::size_t>(alignment));
  if (pointer == nullptr) {
    throw std::bad_alloc();
  }
  return pointer;
}

}  // namespace

bool Available() {
  return ZORBELIX_SANITIZED == 0;
}

bool CountsMalloc() {
  return ZORBELIX_COUNT_MALLOC != 0;
}

void Start() {
#if defined(__GLIBC__)
  // The first backtrace() loads the unwinder, which allocates; do it now.
  void* frames[4];
  (void)backtrace(frames, 4);
#endif
  counts = {};
  counting = true;
}

Counts Stop() {
  counting = false;
  stacksLeft = 0;
  return counts;
}

void PrintStacks(int limit) {
  stacksLeft = limit;
}

}  // namespace alloc_counter

// ---- operator new and delete, every form ----

#if !ZORBELIX_SANITIZED

void* operator new(std::size_t size) {
  return alloc_counter::NewOrThrow(size);
}
void* operator new[](std::size_t size) {
  return alloc_counter::NewOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  alloc_counter::Note(true);
  return alloc_counter::RawAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  alloc_counter::Note(true);
  return alloc_counter::RawAlloc(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return alloc_counter::NewAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return alloc_counter::NewAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  alloc_counter::Note(true);
  return alloc_counter::RawAlignedAlloc(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  alloc_counter::Note(true);
  return alloc_counter::RawAlignedAlloc(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* pointer) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete[](void* pointer) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept {
  alloc_counter::RawFree(pointer);
}
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept {
  alloc_counter::RawFree(pointer);
}

#endif  // !ZORBELIX_SANITIZED

// ---- the C allocator, counted but not replaced (glibc) ----

#if ZORBELIX_COUNT_MALLOC
extern "C" {

void* malloc(std::size_t size) {
  alloc_counter::Note(false);
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  alloc_counter::Note(false);
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
  alloc_counter::Note(false);
  return __libc_realloc(pointer, size);
}

void free(void* pointer) {
  __libc_free(pointer);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  alloc_counter::Note(false);
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) {
    return 12;  // ENOMEM
  }
  *result = pointer;
  return 0;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  alloc_counter::Note(false);
  return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
  alloc_counter::Note(false);
  return __libc_memalign(alignment, size);
}

}  // extern "C"
#endif
