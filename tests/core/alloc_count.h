// Replaces the global allocation functions with counting ones, so that a test
// can show that a warm loop allocates nothing. Include it from exactly one
// file of a test program.
#pragma once

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

inline void* counted_alloc(std::size_t n, std::size_t align) {
  ++g_allocations;
  if (align > alignof(std::max_align_t)) ++g_aligned_allocations;
  void* p = align > alignof(std::max_align_t)
                ? std::aligned_alloc(align, (n + align - 1) / align * align)
                : std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop
