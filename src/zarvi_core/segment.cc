#include "zarvi_core/segment.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zarvi_core {

Segment::Segment(const Segment& other)
    : id_(other.id_),
      id_key_(other.id_key_),
      raw_(other.raw_),
      index_(other.index_),
      terminated_(other.terminated_),
      elements_(other.elements_),
      count_(other.count_),
      parts_(other.parts_),
      parts_used_(other.parts_used_),
      owned_(other.owned_) {
  // Pointers into the other's storage move to the same offsets in this one.
  // Borrowed bytes lie in the input, never inside the other's owned bytes.
  const auto from = reinterpret_cast<std::uintptr_t>(other.owned_.data());
  auto moved = [&](const char* p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    return at >= from && at <= from + other.owned_.size() ? owned_.data() + (at - from) : p;
  };
  for (std::size_t i = 0; i < parts_used_; ++i) {
    const std::string_view v = parts_[i].view();
    parts_[i] = Bytes(std::string_view(moved(v.data()), v.size()));
  }
  for (std::size_t i = 0; i < count_; ++i) {
    Element& e = elements_[i];
    if (e.kind_ == Element::kComposite)
      e.at_ = parts_.data() + (static_cast<const Bytes*>(e.at_) - other.parts_.data());
    else if (e.kind_ == Element::kOwned)
      e.at_ = moved(static_cast<const char*>(e.at_));
  }
}

Segment& Segment::operator=(const Segment& other) {
  if (this != &other) *this = Segment(other);
  return *this;
}

void Segment::link_parts() {
  for (std::size_t i = 0; i < count_; ++i) {
    Element& e = elements_[i];
    if (e.kind_ == Element::kComposite) e.at_ = parts_.data() + e.part_;
  }
}

void Segment::reserve_parts(std::size_t n, std::string_view rest, char element,
                            char component) {
  constexpr std::size_t kCountFrom = 1024;
  const std::size_t need = parts_used_ + n;
  if (need <= parts_.size()) return;
  std::size_t slots = std::max(need, parts_.size() < 8 ? 16 : 2 * parts_.size());
  if (slots >= kCountFrom) {
    // Each later composite has one part per component separator, plus one
    // that its element separator accounts for.
    std::size_t later = 0;
    for (char c : rest) later += c == element || c == component;
    slots = need + later;
  }
  parts_.reserve(slots);  // exactly: resize alone may double
  parts_.resize(slots);
}

std::string_view Segment::own(std::string_view text, char release) {
  const std::size_t from = owned_.size();
  unescape_append(owned_, text, release);
  return std::string_view(owned_.data() + from, owned_.size() - from);
}

void Segment::put_plain(Element& e, std::string_view text, std::string_view rest, char element,
                        char component) {
  const std::size_t n =
      1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), component));
  if (n == 1) return e.borrow(text);
  reserve_parts(n, rest, element, component);
  const std::size_t first = parts_used_;
  Bytes* out = parts_.data() + first;
  const char* const end = text.data() + text.size();
  const char* start = text.data();
  for (const char* p = start; p != end; ++p) {
    if (*p == component) {
      *out++ = Bytes(std::string_view(start, static_cast<std::size_t>(p - start)));
      start = p + 1;
    }
  }
  *out = Bytes(std::string_view(start, static_cast<std::size_t>(end - start)));
  parts_used_ = first + n;
  e.part_ = first;
  e.size_ = n;
  e.kind_ = Element::kComposite;
}

void Segment::put_released(Element& e, std::string_view text, std::string_view rest,
                           const Delimiters& delimiters) {
  const char component = delimiters.component;
  const std::optional<char> release = delimiters.release;
  std::size_t at = find_unreleased(text, component, release);
  if (at == std::string_view::npos) {
    if (!release || text.find(*release) == std::string_view::npos) return e.borrow(text);
    e.borrow(own(text, *release));
    e.kind_ = Element::kOwned;
    return;
  }
  // At most one part per component separator and one more.
  reserve_parts(1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), component)),
                rest, delimiters.element, component);
  auto put = [&](std::string_view piece) {
    const bool plain = !release || piece.find(*release) == std::string_view::npos;
    parts_[parts_used_++] = Bytes(plain ? piece : own(piece, *release));
  };
  const std::size_t first = parts_used_;
  while (at != std::string_view::npos) {
    put(text.substr(0, at));
    text.remove_prefix(at + 1);
    at = find_unreleased(text, component, release);
  }
  put(text);
  e.part_ = first;
  e.size_ = parts_used_ - first;
  e.kind_ = Element::kComposite;
}

void Segment::split_released(std::string_view body, const Delimiters& delimiters) {
  count_ = 0;
  // Unescaped bytes are never more than the body's.
  if (delimiters.release && owned_.capacity() < body.size() &&
      body.find(*delimiters.release) != std::string_view::npos)
    owned_.reserve(body.size());
  std::size_t at = find_unreleased(body, delimiters.element, delimiters.release);
  if (at == std::string_view::npos) {
    id_ = body;
    pack_id();
    return;
  }
  id_ = body.substr(0, at);
  pack_id();
  // Every separator starts one more element, so a trailing separator leaves
  // an empty last element: 'N1*' has one.
  do {
    body.remove_prefix(at + 1);
    at = find_unreleased(body, delimiters.element, delimiters.release);
    if (count_ == elements_.size()) grow(body, delimiters.element);
    const std::string_view text = body.substr(0, at);
    put_released(elements_[count_++], text, body.substr(text.size()), delimiters);
  } while (at != std::string_view::npos);
  if (parts_used_ != 0) link_parts();
}

namespace {

// Bit i of `elements` (`components`): byte i of the chunk is an element
// (component) separator. Bits past the body's end are clear.
struct Marks {
  uint32_t elements = 0;
  uint32_t components = 0;
};

#if defined(__SSE2__)

// The first `size` (at most 8) bytes at p; x86 is little-endian.
inline uint64_t load(const char* p, std::size_t size) noexcept {
  uint64_t word = 0;
  std::memcpy(&word, p, size);
  return word;
}

class Finder {
 public:
  Finder(char element, char component) noexcept
      : element_(_mm_set1_epi8(element)), component_(_mm_set1_epi8(component)) {}

  // The sixteen bytes at p; all of them lie in the body.
  Marks whole(const char* p) const noexcept {
    return marks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }

  // The `size` (< 16) bytes at p, which end the body; `body` is where the
  // body starts. Nothing outside the body is read.
  Marks tail(const char* body, const char* p, std::size_t size) const noexcept {
    const char* const end = p + size;
    if (end - body >= 16) {
      // The body's last sixteen bytes, moved down to start at p.
      const Marks m = whole(end - 16);
      return {m.elements >> (16 - size), m.components >> (16 - size)};
    }
    // A short body: assembled from overlapping loads of its own bytes.
    uint64_t low;
    uint64_t high = 0;
    if (size > 8) {
      low = load(p, 8);
      high = load(end - 8, 8) >> (8 * (16 - size));
    } else if (size >= 4) {
      low = load(p, 4) | load(end - 4, 4) << (8 * (size - 4));
    } else {
      low = 0;
      for (std::size_t i = 0; i < size; ++i)
        low |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    }
    const uint32_t valid = (uint32_t{1} << size) - 1;
    const Marks m =
        marks(_mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
    return {m.elements & valid, m.components & valid};
  }

 private:
  Marks marks(__m128i bytes) const noexcept {
    return {static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, element_))),
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, component_)))};
  }

  __m128i element_;
  __m128i component_;
};

#else

class Finder {
 public:
  Finder(char element, char component) noexcept : element_(element), component_(component) {}
  Marks whole(const char* p) const noexcept { return tail(p, p, 16); }
  Marks tail(const char*, const char* p, std::size_t size) const noexcept {
    Marks m;
    for (std::size_t i = 0; i < size; ++i) {
      m.elements |= uint32_t{p[i] == element_} << i;
      m.components |= uint32_t{p[i] == component_} << i;
    }
    return m;
  }

 private:
  char element_;
  char component_;
};

#endif

// The number of set bits. std::popcount is a library call unless the target
// is known to have the instruction; this is a dozen inline ones.
inline unsigned bits_set(uint64_t x) noexcept {
#if defined(__POPCNT__)
  return static_cast<unsigned>(std::popcount(x));
#else
  x -= (x >> 1) & 0x5555555555555555ULL;
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
#endif
}

// Bit i of `ends` (`components`): byte i of a body shorter than 64 bytes is
// an element (component) separator; bit n: the body's end, which closes the
// last element as a separator would.
struct ShortMarks {
  uint64_t ends;
  uint64_t components;
};

inline ShortMarks mark_short(std::string_view body, char element, char component) noexcept {
  const char* const base = body.data();
  const std::size_t n = body.size();
  const Finder finder(element, component);
  uint64_t elements = 0;
  uint64_t components = 0;
  if (n >= 16) {
    std::size_t at = 0;
    for (; at + 16 <= n; at += 16) {
      const Marks m = finder.whole(base + at);
      elements |= uint64_t{m.elements} << at;
      components |= uint64_t{m.components} << at;
    }
    if (at != n) {
      // The last sixteen bytes, overlapping the chunk before: the same bytes
      // give the same bits.
      const Marks m = finder.whole(base + n - 16);
      elements |= uint64_t{m.elements} << (n - 16);
      components |= uint64_t{m.components} << (n - 16);
    }
  } else {
    const Marks m = finder.tail(base, base, n);
    elements = m.elements;
    components = m.components;
  }
  return {elements | uint64_t{1} << n, components & ~elements};
}

inline std::size_t lowest_bit(uint64_t bits) noexcept {
  return static_cast<uint32_t>(std::countr_zero(bits));
}

}  // namespace

void Segment::grow(std::string_view rest, char element) {
  constexpr std::size_t kCountFrom = 1024;
  std::size_t slots = elements_.size() < 8 ? 16 : 2 * elements_.size();
  if (elements_.size() >= kCountFrom)
    slots = count_ + 1 + static_cast<std::size_t>(std::count(rest.begin(), rest.end(), element));
  elements_.reserve(slots);  // exactly: resize alone may double
  elements_.resize(slots);
}

// Nearly every body is shorter than 64 bytes: it is marked whole, and one
// pass over the marks places the id and every element. The rare cases leave
// by tail calls, so that this path saves no registers.
void Segment::split_plain(std::string_view body, char element, char component) {
  const std::size_t n = body.size();
  if (n >= 64) [[unlikely]]
    return split_chunked(body, element, component);
  const ShortMarks marks = mark_short(body, element, component);
  std::size_t end = lowest_bit(marks.ends);
  id_ = std::string_view(body.data(), end);
  if (n >= 8 && end <= id_table::kShortBytes && std::endian::native == std::endian::little) {
    // The key is the id's bytes in order under a 1 bit; a word of the body
    // holds them.
    uint64_t head;
    std::memcpy(&head, body.data(), 8);
    const uint64_t top = uint64_t{1} << (8 * end);
    id_key_ = (head & (top - 1)) | top;
  } else {
    pack_id();
  }
  // Every separator starts one more element, so a trailing separator leaves
  // an empty last element: 'N1*' has one.
  uint64_t ends = marks.ends & (marks.ends - 1);
  if (elements_.size() < n - end && elements_.size() < bits_set(ends)) [[unlikely]]
    return split_roomy(body, element, component);
  if (marks.components != 0) [[unlikely]]
    return split_marked(body, ends, marks.components);
  Element* out = elements_.data();
  for (; ends != 0; ends &= ends - 1) {
    const std::size_t start = end + 1;
    end = lowest_bit(ends);
    (out++)->borrow(std::string_view(body.data() + start, end - start));
  }
  count_ = static_cast<std::size_t>(out - elements_.data());
}

void Segment::split_roomy(std::string_view body, char element, char component) {
  // The marks again: rare enough not to be worth passing.
  const uint64_t ends = mark_short(body, element, component).ends;
  const std::size_t count = bits_set(ends) - 1;
  // Short of 1024 slots, grow doubles and reads neither the rest nor count_.
  count_ = 0;
  while (elements_.size() < count) grow(std::string_view(), element);
  split_plain(body, element, component);
}

void Segment::split_marked(std::string_view body, uint64_t ends, uint64_t components) {
  std::size_t end = id_.size();
  // Component separators in the id are its bytes.
  components &= ~((uint64_t{2} << end) - 1);
  // Room for every part at once, so that each composite points to its parts
  // straight away: one per component separator, one more per composite.
  reserve_parts(std::size_t{bits_set(components)} + bits_set(ends), std::string_view(), 0, 0);
  Element* out = elements_.data();
  for (; ends != 0; ends &= ends - 1) {
    const std::size_t start = end + 1;
    end = lowest_bit(ends);
    const std::string_view text(body.data() + start, end - start);
    // Bits through the element's end; 2 << 63 wraps to 0, so all for end 63.
    const uint64_t through = (uint64_t{2} << end) - 1;
    uint64_t inside = components & through;
    if (inside == 0) {
      out->borrow(text);
    } else {
      components &= ~through;
      inside >>= start;
      Bytes* const first = parts_.data() + parts_used_;
      Bytes* part = first;
      std::size_t from = 0;
      for (; inside != 0; inside &= inside - 1) {
        const std::size_t at = lowest_bit(inside);
        *part++ = Bytes(std::string_view(text.data() + from, at - from));
        from = at + 1;
      }
      *part++ = Bytes(std::string_view(text.data() + from, text.size() - from));
      parts_used_ += static_cast<std::size_t>(part - first);
      out->at_ = first;
      out->size_ = static_cast<std::size_t>(part - first);
      out->kind_ = Element::kComposite;
    }
    ++out;
  }
  count_ = static_cast<std::size_t>(out - elements_.data());
}

// Longer bodies are read sixteen bytes at a time: each chunk gives the
// positions of its element separators, and a chunk without a component
// separator (nearly all of them) needs no more than that.
void Segment::split_chunked(std::string_view body, char element, char component) {
  const char* const base = body.data();
  const std::size_t n = body.size();
  const Finder finder(element, component);
  // Locals rather than members: stores into the elements could otherwise
  // alias them and force a reload after each one.
  Element* slots = elements_.data();
  std::size_t capacity = elements_.size();
  std::size_t count = 0;
  const char* start = base;  // of the id, then of the element being read
  bool in_id = true;
  bool composite = false;  // a component separator since start
  auto put = [&](const char* end) {
    const std::string_view text(start, static_cast<std::size_t>(end - start));
    if (in_id) [[unlikely]] {
      id_ = text;
      in_id = false;
      return;
    }
    if (count == capacity) [[unlikely]] {
      count_ = count;
      grow(std::string_view(end, static_cast<std::size_t>(base + n - end)), element);
      slots = elements_.data();
      capacity = elements_.size();
    }
    Element& e = slots[count++];
    if (composite) [[unlikely]]
      put_plain(e, text, std::string_view(end, static_cast<std::size_t>(base + n - end)), element,
                component);
    else
      e.borrow(text);
  };
  for (std::size_t at = 0; at < n; at += 16) {
    const char* const chunk = base + at;
    const Marks m = n - at >= 16 ? finder.whole(chunk) : finder.tail(base, chunk, n - at);
    uint32_t separators = m.elements;
    uint32_t components = m.components & ~separators;
    if (components == 0 && separators != 0) [[likely]] {
      // Only the first piece (the id, or an element begun in an earlier
      // chunk with a component separator) needs put; the others are simple.
      const char* sep = chunk + std::countr_zero(separators);
      put(sep);
      start = sep + 1;
      composite = false;
      for (separators &= separators - 1; separators != 0; separators &= separators - 1) {
        sep = chunk + std::countr_zero(separators);
        if (count == capacity) [[unlikely]] {
          count_ = count;
          grow(std::string_view(sep, static_cast<std::size_t>(base + n - sep)), element);
          slots = elements_.data();
          capacity = elements_.size();
        }
        slots[count++].borrow(std::string_view(start, static_cast<std::size_t>(sep - start)));
        start = sep + 1;
      }
      continue;
    }
    for (; separators != 0; separators &= separators - 1) {
      const uint32_t before = (separators & (~separators + 1)) - 1;
      composite = composite || (components & before) != 0;
      components &= ~before;
      const char* const sep = chunk + std::countr_zero(separators);
      put(sep);
      start = sep + 1;
      composite = false;
    }
    composite = composite || components != 0;
  }
  // Every separator starts one more element, so a trailing separator leaves
  // an empty last element: 'N1*' has one.
  put(base + n);
  count_ = count;
  pack_id();
  if (parts_used_ != 0) link_parts();
}

std::string_view Segment::joined(const Element& composite, char separator,
                                 std::string& buffer) {
  buffer.clear();
  bool first = true;
  for (const Bytes& c : composite.components()) {
    if (!first) buffer += separator;
    buffer += c.view();
    first = false;
  }
  return std::string_view(buffer);
}

}  // namespace zarvi_core
