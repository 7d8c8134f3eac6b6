// Elements of a segment: a simple value or a composite of components. Values
// borrow from the input, which must outlive them, unless a release character
// had to be removed: then their segment holds the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zarvi_core {

// Bytes of one value: borrowed from the input, or from the bytes its Segment
// holds once a release character was removed from them. Sixteen bytes, so
// that an element of millions of empty components costs little more than
// its input.
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view bytes) noexcept : bytes_(bytes) {}

  std::string_view view() const noexcept { return bytes_; }
  operator std::string_view() const noexcept { return bytes_; }

  friend bool operator==(const Bytes& a, const Bytes& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const Bytes& a, std::string_view b) noexcept { return a.view() == b; }

 private:
  std::string_view bytes_;
};

// Appends bytes to out (a string or a vector of char) with each release byte
// dropped and the byte after it kept literally; a release byte at the very
// end is dropped.
template <class Out>
void unescape_append(Out& out, std::string_view bytes, char release) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == release && ++i == bytes.size()) break;
    out.push_back(bytes[i]);
  }
}

// bytes unescaped: bytes themselves when no release byte occurs, else the
// bytes written to `owned`.
std::string_view unescape(std::string_view bytes, std::optional<char> release, std::string& owned);

// Sixteen bytes, so that a segment of millions of empty elements costs little
// more than its input. A composite's components live in the Segment's part
// storage and unescaped bytes in its owned storage; the element points to
// them.
class Element {
 public:
  bool is_composite() const noexcept { return kind_ == kComposite; }
  // A simple element's bytes (empty for a composite).
  std::string_view value() const noexcept {
    if (kind_ != kComposite) [[likely]]
      return std::string_view(static_cast<const char*>(at_), size_);
    return std::string_view();
  }
  // A composite's components, at least two (none for a simple element).
  std::span<const Bytes> components() const noexcept {
    if (kind_ != kComposite) return {};
    return {static_cast<const Bytes*>(at_), static_cast<std::size_t>(size_)};
  }

 private:
  friend class Segment;
  static constexpr unsigned kBorrowed = 0;  // at_: the bytes, size_: their length
  static constexpr unsigned kOwned = 1;     // the same, in the segment's owned bytes
  static constexpr unsigned kComposite = 2; // at_: the first part, size_: their count

  void borrow(std::string_view text) noexcept {
    // No input comes near 2^62 bytes; told so, the compiler stores the size
    // without masking it to the field.
    if (text.size() >> 62 != 0) __builtin_unreachable();
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
