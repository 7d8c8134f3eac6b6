// One segment: its id, its elements and its raw bytes. A Segment borrows from
// the input it was framed from (which must outlive it) except for element
// bytes from which a release character was removed; refilling one Segment
// for each segment of an input reuses its element storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/element.h"
#include "zarvi_core/frame.h"
#include "zarvi_core/id_table.h"

namespace zarvi_core {

// Byte equality for ids and codes, which are a few bytes long: comparing
// them in place costs less than a call to memcmp.
inline bool same_bytes(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

class Segment {
 public:
  Segment() = default;
  // A copy's elements point to its own parts.
  Segment(const Segment& other);
  Segment& operator=(const Segment& other);
  Segment(Segment&&) noexcept = default;
  Segment& operator=(Segment&&) noexcept = default;

  // The body before the first element separator, release bytes kept; the
  // whole body when there is no separator.
  std::string_view id() const noexcept { return id_; }
  // The id packed as id_table::short_key packs it, 0 when it is longer than
  // id_table::kShortBytes: lookups by id need not pack it again.
  uint64_t id_key() const noexcept { return id_key_; }
  // Leading trivia, body and terminator, exactly as in the input.
  std::string_view raw() const noexcept { return raw_; }
  // 0-based position of the segment in its input.
  std::size_t index() const noexcept { return index_; }
  bool terminated() const noexcept { return terminated_; }

  // elements()[0] is element 01.
  std::span<const Element> elements() const noexcept { return {elements_.data(), count_}; }
  // The element at a 1-based position, or null.
  const Element* element(std::size_t position) const noexcept {
    return position == 0 || position > count_ ? nullptr : &elements_[position - 1];
  }

  // Refills this segment from a frame. Element slots beyond the new count
  // are kept, unused, so a walk allocates only when a segment outgrows them.
  void reparse(std::size_t index, const Frame& frame, const Delimiters& delimiters) {
    index_ = index;
    raw_ = frame.raw;
    terminated_ = frame.terminated;
    parts_used_ = 0;
    owned_.clear();
    if (delimiters.release)
      split_released(frame.body, delimiters);
    else
      split_plain(frame.body, delimiters.element, delimiters.component);
  }

  // The text of the element at a 1-based position: a simple element's bytes,
  // or a composite's components joined by separator into buffer. Absent for
  // position 0 and past the last element.
  std::optional<std::string_view> text(std::size_t position, char separator,
                                       std::string& buffer) const {
    const Element* e = element(position);
    if (e == nullptr) return std::nullopt;
    if (!e->is_composite()) return e->value();
    return joined(*e, separator, buffer);
  }

 private:
  // A composite's components joined by separator into buffer.
  static std::string_view joined(const Element& composite, char separator, std::string& buffer);
  void split_plain(std::string_view body, char element, char component);
  // split_plain for a body of 64 bytes or more.
  void split_chunked(std::string_view body, char element, char component);
  // split_plain for a body with more elements than slots: makes room, then
  // splits.
  [[gnu::noinline]] void split_roomy(std::string_view body, char element, char component);
  // The elements after the id of a body shorter than 64 bytes: one ends at
  // each set bit of `ends` (bit i: byte i); the set bits of `components`
  // are component separators.
  [[gnu::noinline]] void split_marked(std::string_view body, uint64_t ends, uint64_t components);
  void split_released(std::string_view body, const Delimiters& delimiters);
  // Makes room for at least one more element, keeping those in use. A long
  // segment gets exactly as many slots as separators remain in `rest`
  // (each starts one more element), so that it is never copied at twice its
  // size.
  void grow(std::string_view rest, char element);
  // Makes room for n more parts, keeping those in use; `rest` is the body
  // after the element that needs them, empty when n covers every part still
  // to come. Past a few hundred, parts are counted
  // as grow counts elements, so that one element of millions of components
  // costs sixteen bytes per component, never a copy at twice its size.
  void reserve_parts(std::size_t n, std::string_view rest, char element, char component);
  // The components of text (holding no release byte) split at every component
  // separator, as element e; simple when there is none.
  void put_plain(Element& e, std::string_view text, std::string_view rest, char element,
                 char component);
  // text split at unreleased component separators, with release bytes removed.
  void put_released(Element& e, std::string_view text, std::string_view rest,
                    const Delimiters& delimiters);
  // text unescaped into owned_, which the split has made large enough never
  // to move.
  std::string_view own(std::string_view text, char release);
  // Sets id_key_ from id_.
  void pack_id() noexcept {
    id_key_ = id_.size() <= id_table::kShortBytes ? id_table::short_key(id_) : 0;
  }
  // Points every composite at its parts, now that they stay put.
  void link_parts();

  std::string_view id_;
  uint64_t id_key_ = 1;  // the empty id's
  std::string_view raw_;
  std::size_t index_ = 0;
  bool terminated_ = false;
  std::vector<Element> elements_;  // the first count_ are in use
  std::size_t count_ = 0;
  // Components, the first parts_used_ in use.
  std::vector<Bytes> parts_;
  std::size_t parts_used_ = 0;
  // Values and components with their release bytes removed; reserved at the
  // body's size before a split, so it never moves while one runs. A vector,
  // not a string: a moved segment's views must stay valid.
  std::vector<char> owned_;
};

// The text a reader of one value takes from element `element`: component
// `component` (1 when none) of a composite, or a simple element itself when
// no component or component 1 is asked for; none otherwise or when absent.
// Inline: the balancing sums and the projector read every amount through it.
inline std::optional<std::string_view> component_text(const Segment& segment, uint64_t element,
                                                      std::optional<uint64_t> component) {
  const Element* e = segment.element(element);
  if (e == nullptr) return std::nullopt;
  const uint64_t c = component.value_or(1);
  if (e->is_composite()) {
    auto parts = e->components();
    if (c == 0 || c > parts.size()) return std::nullopt;
    return parts[c - 1].view();
  }
  if (c != 1) return std::nullopt;
  return e->value();
}

}  // namespace zarvi_core
