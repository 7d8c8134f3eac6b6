// Replaces the global allocation functions with counting ones, so that a test
// can show that a warm loop allocates nothing, or bound the memory a step
// holds at its peak. Include it from exactly one file of a test program.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace zarvi_test {

inline std::atomic<std::size_t> g_allocations{0};
// Over-aligned allocations (column buffers) are also counted apart.
inline std::atomic<std::size_t> g_aligned_allocations{0};

// Counts the allocations made while it lives.
class AllocationCount {
 public:
  AllocationCount()
      : start_(g_allocations.load()), aligned_start_(g_aligned_allocations.load()) {}
  std::size_t count() const { return g_allocations.load() - start_; }
  std::size_t aligned() const { return g_aligned_allocations.load() - aligned_start_; }
  std::size_t ordinary() const { return count() - aligned(); }

 private:
  std::size_t start_;
  std::size_t aligned_start_;
};

// Bytes held through operator new, and the most held at once since the last
// PeakBytes began.
inline std::atomic<std::size_t> g_live_bytes{0};
inline std::atomic<std::size_t> g_peak_bytes{0};

// The most bytes held at once while it lives, beyond those held when it began.
class PeakBytes {
 public:
  PeakBytes() : start_(g_live_bytes.load()) { g_peak_bytes.store(start_); }
  std::size_t peak() const { return g_peak_bytes.load() - start_; }

 private:
  std::size_t start_;
};

inline void count_bytes(void* p) {
  const std::size_t live = g_live_bytes += malloc_usable_size(p);
  std::size_t peak = g_peak_bytes.load();
  while (live > peak && !g_peak_bytes.compare_exchange_weak(peak, live)) {
  }
}

inline void counted_free(void* p) noexcept {
  if (p != nullptr) g_live_bytes -= malloc_usable_size(p);
  std::free(p);
}

inline void* counted_alloc(std::size_t n, std::size_t align) {
  ++g_allocations;
  if (align > alignof(std::max_align_t)) ++g_aligned_allocations;
  void* p = align > alignof(std::max_align_t)
                ? std::aligned_alloc(align, (n + align - 1) / align * align)
                : std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  count_bytes(p);
  return p;
}

inline void* counted_alloc_nothrow(std::size_t n, std::size_t align) noexcept {
  try {
    return counted_alloc(n, align);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace zarvi_test

// GCC pairs malloc/free with new/delete only by name and cannot see that these
// replace both sides together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) { return zarvi_test::counted_alloc(n, 0); }
void* operator new[](std::size_t n) { return zarvi_test::counted_alloc(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) {
  return zarvi_test::counted_alloc(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return zarvi_test::counted_alloc(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return zarvi_test::counted_alloc_nothrow(n, 0);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return zarvi_test::counted_alloc_nothrow(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return zarvi_test::counted_alloc_nothrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return zarvi_test::counted_alloc_nothrow(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { zarvi_test::counted_free(p); }
void operator delete[](void* p) noexcept { zarvi_test::counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { zarvi_test::counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { zarvi_test::counted_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { zarvi_test::counted_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { zarvi_test::counted_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { zarvi_test::counted_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { zarvi_test::counted_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { zarvi_test::counted_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { zarvi_test::counted_free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { zarvi_test::counted_free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { zarvi_test::counted_free(p); }
#pragma GCC diagnostic pop
