// Elements of a segment: a simple value or a composite of components. Values
// borrow from the input, which must outlive them, unless a release character
// had to be removed: then the element owns its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Sixteen bytes, so that a segment of millions of empty elements costs little
// more than its input. A composite's components and a simple value that owns
// its bytes live in the Segment's part storage, which the element points to.
class Element {
 public:
  bool is_composite() const noexcept { return kind_ == kComposite; }
  // A simple element's bytes (empty for a composite).
  std::string_view value() const noexcept {
    if (kind_ == kBorrowed) [[likely]]
      return std::string_view(static_cast<const char*>(at_), size_);
    return kind_ == kOwned ? static_cast<const Bytes*>(at_)->view() : std::string_view();
  }
  // A composite's components, at least two (none for a simple element).
  std::span<const Bytes> components() const noexcept {
    if (kind_ != kComposite) return {};
    return {static_cast<const Bytes*>(at_), static_cast<std::size_t>(size_)};
  }

 private:
  friend class Segment;
  static constexpr unsigned kBorrowed = 0;  // at_: the bytes, size_: their length
  static constexpr unsigned kOwned = 1;     // at_: one part
  static constexpr unsigned kComposite = 2; // at_: the first part, size_: their count

  void borrow(std::string_view text) noexcept {
    at_ = text.data();
    size_ = text.size();
    kind_ = kBorrowed;
  }

  // While a segment is being split, parts are numbered (part_) and only
  // linked to their storage (at_) once it stops growing.
  union {
    const void* at_ = nullptr;
    std::size_t part_;
  };
  uint64_t size_ : 62 = 0;
  uint64_t kind_ : 2 = kBorrowed;
};

}  // namespace zarvi_core
