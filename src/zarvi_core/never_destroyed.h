// NeverDestroyed<T>: a T built in place whose destructor never runs. Objects
// of static storage that other threads may still read while exit() runs the
// destructors of statics hold their value in one; it is itself trivially
// destructible, so exit() has nothing of it to destroy. Owns its T.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace zarvi_core {

template <class T>
class NeverDestroyed {
 public:
  NeverDestroyed() { ::new (static_cast<void*>(storage_)) T(); }
  template <class... Args>
  explicit NeverDestroyed(Args&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
  }
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;

  const T& get() const noexcept { return *std::launder(reinterpret_cast<const T*>(storage_)); }

 private:
  alignas(T) std::byte storage_[sizeof(T)];
};

}  // namespace zarvi_core
