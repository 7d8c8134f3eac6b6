// Invariant checks. Debug and sanitizer builds stop at a broken invariant;
// release builds keep the guarded path (an early return, a skipped item) so a
// bug costs one datum rather than the process.
//   ZARVI_ASSERT(c)  checks c in debug builds only; release does not evaluate it.
//   ZARVI_VERIFY(c)  is c as a bool in every build, and stops when it is false
//                    in debug builds: `if (!ZARVI_VERIFY(i < n)) return;`
#pragma once

#include <cstdio>
#include <cstdlib>

namespace zarvi_core::detail {

[[noreturn]] inline void assert_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace zarvi_core::detail

#ifdef NDEBUG
#define ZARVI_ASSERT(c) static_cast<void>(sizeof(!(c)))
#define ZARVI_VERIFY(c) static_cast<bool>(c)
#else
#define ZARVI_ASSERT(c) \
  ((c) ? static_cast<void>(0) : ::zarvi_core::detail::assert_failed(#c, __FILE__, __LINE__))
#define ZARVI_VERIFY(c) \
  ((c) ? true : (::zarvi_core::detail::assert_failed(#c, __FILE__, __LINE__), false))
#endif
