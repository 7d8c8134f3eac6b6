// Elements of a segment: a simple value or a composite of components. Values
// borrow from the input, which must outlive them, unless a release character
// had to be removed: then the element owns its bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zarvi_core {

// Bytes borrowed from the input, or owned when a release character was
// removed from them. Refilling keeps the owned buffer's capacity.
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view borrowed) noexcept : borrowed_(borrowed) {}

  std::string_view view() const noexcept { return owned_ ? std::string_view(own_) : borrowed_; }
  operator std::string_view() const noexcept { return view(); }
  bool is_owned() const noexcept { return owned_; }

  void borrow(std::string_view bytes) noexcept {
    borrowed_ = bytes;
    owned_ = false;
  }
  // The owned buffer, cleared, for the caller to fill.
  std::string& own() {
    owned_ = true;
    own_.clear();
    return own_;
  }

  friend bool operator==(const Bytes& a, const Bytes& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const Bytes& a, std::string_view b) noexcept { return a.view() == b; }

 private:
  std::string_view borrowed_;
  std::string own_;
  bool owned_ = false;
};

// bytes with each release byte dropped and the byte after it kept literally
// (a release byte at the very end is dropped). Borrowed when no release
// byte occurs.
Bytes unescape(std::string_view bytes, std::optional<char> release);
void unescape_into(Bytes& out, std::string_view bytes, std::optional<char> release);

class Element {
 public:
  bool is_composite() const noexcept { return composite_; }
  // A simple element's bytes (empty for a composite).
  std::string_view value() const noexcept { return composite_ ? std::string_view() : simple_.view(); }
  // A composite's components, at least two (none for a simple element).
  std::span<const Bytes> components() const noexcept {
    return {components_.data(), composite_ ? count_ : 0};
  }

  // Refills this element from its text, splitting at unreleased component
  // separators. Component storage is kept for the next composite.
  void reparse(std::string_view text, char component, std::optional<char> release);
  // Refills this element from text holding no release byte, split at every
  // component separator.
  void reparse_plain(std::string_view text, char component);
  // Refills this element as a simple value borrowing text, which the caller
  // knows holds no component separator and no release byte. count_ is left
  // as is: it is read only for a composite.
  void reparse_simple(std::string_view text) noexcept {
    composite_ = false;
    simple_.borrow(text);
  }

 private:
  bool composite_ = false;
  Bytes simple_;
  std::vector<Bytes> components_;  // the first count_ are in use
  std::size_t count_ = 0;
};

}  // namespace zarvi_core
