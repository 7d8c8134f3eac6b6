// Result<T, E>: the error-as-value return type of the core.
// Every fallible core function returns one; only the Python layer raises.
#pragma once

#include <utility>
#include <variant>

namespace zarvi_core {

template <class E>
struct Err {
  E error;
};

template <class E>
Err<std::decay_t<E>> err(E&& e) {
  return Err<std::decay_t<E>>{std::forward<E>(e)};
}

// The value of a Result that carries nothing but success.
struct Unit {
  friend bool operator==(Unit, Unit) { return true; }
};

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T v) : v_(std::in_place_index<0>, std::move(v)) {}
  Result(Err<E> e) : v_(std::in_place_index<1>, std::move(e.error)) {}
  template <class E2>
    requires(std::is_constructible_v<E, E2&&> && !std::is_same_v<E, E2>)
  Result(Err<E2> e) : v_(std::in_place_index<1>, E(std::move(e.error))) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return *std::get_if<0>(&v_); }
  const T& value() const& { return *std::get_if<0>(&v_); }
  T&& value() && { return std::move(*std::get_if<0>(&v_)); }
  E& error() & { return *std::get_if<1>(&v_); }
  const E& error() const& { return *std::get_if<1>(&v_); }
  E&& error() && { return std::move(*std::get_if<1>(&v_)); }

  T* operator->() { return std::get_if<0>(&v_); }
  const T* operator->() const { return std::get_if<0>(&v_); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, E> v_;
};

}  // namespace zarvi_core
