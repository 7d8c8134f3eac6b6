// An interchange held byte for byte with an index of its segments: two 32-bit
// body offsets per segment. The Document owns its bytes or borrows them (the
// borrowed input must then outlive it); every view and Segment it hands out
// borrows from the Document's bytes, which stay in place when it is moved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/frame.h"
#include "zarvi_core/result.h"
#include "zarvi_core/segment.h"

namespace zarvi_core {

// Offsets are 32-bit, so no input may be longer than this.
inline constexpr uint64_t kMaxDocumentBytes = 4294967295;

// One segment's body: [start, end); the terminator, when there is one, is at end.
struct Body {
  uint32_t start = 0;
  uint32_t end = 0;
  friend bool operator==(const Body&, const Body&) = default;
};

// The index: Body entries in one malloc'd block, so that growing and
// shrinking a large index can remap its pages (realloc) instead of copying
// them. Throws std::bad_alloc when memory runs out, like the standard
// containers.
class BodyList {
 public:
  BodyList() = default;
  BodyList(std::initializer_list<Body> bodies);
  BodyList(BodyList&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  BodyList& operator=(BodyList&& other) noexcept;
  BodyList(const BodyList&) = delete;
  BodyList& operator=(const BodyList&) = delete;
  ~BodyList();

  void reserve(std::size_t capacity);
  void push_back(Body body) {
    if (size_ == capacity_) reserve(capacity_ < 16 ? 16 : capacity_ * 2);
    data_[size_++] = body;
  }
  void shrink_to_fit();

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  const Body& operator[](std::size_t i) const noexcept { return data_[i]; }
  const Body* begin() const noexcept { return data_; }
  const Body* end() const noexcept { return data_ + size_; }
  operator std::span<const Body>() const noexcept { return {data_, size_}; }

 private:
  Body* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

struct SizeError {
  uint64_t length = 0;  // the input length
  friend bool operator==(const SizeError&, const SizeError&) = default;
};
std::string to_string(const SizeError& error);

struct DocumentError {
  enum class Kind { Isa, Size };
  Kind kind = Kind::Isa;
  IsaError isa;    // kind Isa
  SizeError size;  // kind Size
};
// The inner error's sentence, nothing added.
std::string to_string(const DocumentError& error);

// Refuses a length above kMaxDocumentBytes; a caller that indexes with its
// own delimiters checks this first, as Document::parse does.
Result<Unit, SizeError> check_size(uint64_t length);

// Frames the whole input (the byte order mark and trivia go with segment 0)
// and returns one Body per segment, shrunk to fit.
Result<BodyList, SizeError> index(std::string_view input, const Delimiters& delimiters);

namespace detail {
// index with the offset limit as a parameter, so the size rule can be tested
// without a 4 GiB input.
Result<BodyList, SizeError> index(std::string_view input, const Delimiters& delimiters,
                                  uint64_t limit);
}  // namespace detail

// Byte ranges of one segment; ends are exclusive.
struct Span {
  uint64_t raw_start = 0;
  uint64_t raw_end = 0;
  uint64_t body_start = 0;
  uint64_t body_end = 0;
  bool terminated = false;
  friend bool operator==(const Span&, const Span&) = default;
};

class Document {
 public:
  // Reads the delimiters from the ISA header, then indexes. The first form
  // borrows input; the second takes over the buffer without copying it.
  static Result<Document, DocumentError> parse(std::string_view input);
  static Result<Document, DocumentError> parse(std::string&& input);

  // A document over bodies indexed by the caller (with its own delimiters).
  Document(std::string_view borrowed, const Delimiters& delimiters, BodyList bodies);
  Document(std::string&& owned, const Delimiters& delimiters, BodyList bodies);

  Document(Document&&) noexcept = default;
  Document& operator=(Document&&) noexcept = default;

  std::size_t size() const noexcept { return bodies_.size(); }
  std::string_view source() const noexcept { return source_; }
  const Delimiters& delimiters() const noexcept { return delimiters_; }
  std::span<const Body> bodies() const noexcept { return bodies_; }

  // Each accessor is absent for i >= size() and for an entry whose spans do
  // not lie within the source in order. Inline: a walk frames every segment.
  std::optional<Span> span(std::size_t i) const noexcept {
    if (i >= bodies_.size()) return std::nullopt;
    const Body& body = bodies_[i];
    const uint64_t len = source_.size();
    Span s;
    s.raw_start = i == 0 ? 0 : uint64_t{bodies_[i - 1].end} + 1;
    s.body_start = body.start;
    s.body_end = body.end;
    s.terminated = len > body.end || i + 1 < bodies_.size();
    s.raw_end = s.body_end + (s.terminated ? 1 : 0);
    if (s.raw_start > s.body_start || s.body_start > s.body_end || s.raw_end > len) {
      return std::nullopt;
    }
    return s;
  }
  std::optional<std::string_view> raw(std::size_t i) const noexcept;
  std::optional<Frame> frame(std::size_t i) const noexcept {
    const std::optional<Span> s = span(i);
    if (!s) return std::nullopt;
    const char* const data = source_.data();
    return Frame{std::string_view(data + s->raw_start, s->raw_end - s->raw_start),
                 std::string_view(data + s->body_start, s->body_end - s->body_start),
                 s->terminated};
  }
  std::optional<Segment> segment(std::size_t i) const;
  // The id without building the elements; empty for an empty body.
  std::optional<std::string_view> segment_id(std::size_t i) const noexcept;

 private:
  std::unique_ptr<std::string> owned_;  // heap-held so views survive a move
  std::string_view source_;
  Delimiters delimiters_;
  BodyList bodies_;
};

// The segments of a document in order, each rebuilt fresh.
class Segments {
 public:
  explicit Segments(const Document& document, std::size_t next = 0) noexcept
      : document_(&document), next_(next) {}
  std::optional<Segment> next();

 private:
  const Document* document_;
  std::size_t next_;
};

}  // namespace zarvi_core
