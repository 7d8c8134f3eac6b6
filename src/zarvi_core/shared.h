// Shared<T>: an immutable value that copies share instead of duplicating.
// Findings repeat names, lists and rendered texts of the compiled spec; a
// Shared made with an owner points into it and keeps it alive, so a finding
// costs the same whatever the length of what it names. Made from a plain
// value it owns a copy of its own.
#pragma once

#include <concepts>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "zarvi_core/never_destroyed.h"

namespace zarvi_core {

template <class T>
class Shared {
 public:
  Shared() = default;
  template <class U>
    requires std::constructible_from<T, U&&> &&
             (!std::same_as<std::remove_cvref_t<U>, Shared>) &&
             (!std::same_as<std::remove_cvref_t<U>, std::nullptr_t>)
  Shared(U&& value) : value_(std::make_shared<const T>(std::forward<U>(value))) {}
  Shared(std::initializer_list<std::string> items)
    requires std::same_as<T, std::vector<std::string>>
      : value_(std::make_shared<const T>(items)) {}
  // `value` lies inside what `owner` keeps alive; without an owner it is
  // copied.
  Shared(const std::shared_ptr<const void>& owner, const T& value)
      : value_(owner ? std::shared_ptr<const T>(owner, &value) : std::make_shared<const T>(value)) {}

  const T& get() const noexcept { return value_ ? *value_ : kEmpty.get(); }
  operator const T&() const noexcept { return get(); }
  operator std::string_view() const noexcept
    requires std::same_as<T, std::string>
  {
    return get();
  }
  const T& operator*() const noexcept { return get(); }
  const T* operator->() const noexcept { return &get(); }

  friend bool operator==(const Shared& a, const Shared& b) { return a.get() == b.get(); }
  // Against a plain value, without making a Shared of it.
  template <class U>
    requires(!std::same_as<U, Shared>) &&
            (std::same_as<T, std::string> ? std::convertible_to<const U&, std::string_view>
                                          : std::convertible_to<const U&, const T&>)
  friend bool operator==(const Shared& a, const U& b) {
    if constexpr (std::same_as<T, std::string>)
      return std::string_view(a.get()) == std::string_view(b);
    else
      return a.get() == static_cast<const T&>(b);
  }

 private:
  // Never destroyed: findings are read on other threads while exit()
  // destroys statics.
  static inline const NeverDestroyed<T> kEmpty;
  std::shared_ptr<const T> value_;
};

using SharedText = Shared<std::string>;
using SharedTexts = Shared<std::vector<std::string>>;

// Makes Shared values of what lies inside one owner (a compiled spec),
// each keeping the owner alive; without an owner they are copies.
class SharedFrom {
 public:
  explicit SharedFrom(std::shared_ptr<const void> owner = nullptr) : owner_(std::move(owner)) {}

  SharedText text(const std::string& text) const { return SharedText(owner_, text); }
  SharedTexts list(const std::vector<std::string>& list) const {
    return SharedTexts(owner_, list);
  }
  std::optional<SharedText> text(const std::string* text) const {
    if (text == nullptr) return std::nullopt;
    return this->text(*text);
  }

 private:
  std::shared_ptr<const void> owner_;
};

}  // namespace zarvi_core
