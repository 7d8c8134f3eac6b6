#include "zarvi_core/document.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zarvi_core {

std::string to_string(const SizeError& error) {
  return "input of " + std::to_string(error.length) +
         " bytes exceeds the document size limit of " + std::to_string(kMaxDocumentBytes) +
         " bytes (segment offsets are stored as 32-bit integers)";
}

std::string to_string(const DocumentError& error) {
  return error.kind == DocumentError::Kind::Isa ? to_string(error.isa) : to_string(error.size);
}

Result<Unit, SizeError> check_size(uint64_t length) {
  if (length > kMaxDocumentBytes) return err(SizeError{length});
  return Unit{};
}

BodyList::BodyList(std::initializer_list<Body> bodies) {
  reserve(bodies.size());
  for (const Body& b : bodies) push_back(b);
}

BodyList& BodyList::operator=(BodyList&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

BodyList::~BodyList() { std::free(data_); }

void BodyList::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  if (capacity > SIZE_MAX / sizeof(Body)) throw std::bad_alloc();
  void* grown = std::realloc(data_, capacity * sizeof(Body));
  if (grown == nullptr) throw std::bad_alloc();
  data_ = static_cast<Body*>(grown);
  capacity_ = capacity;
}

void BodyList::shrink_to_fit() {
  if (size_ == capacity_) return;
  if (size_ == 0) {
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    return;
  }
  // Shrinking in place cannot fail in practice; keep the block if it does.
  if (void* shrunk = std::realloc(data_, size_ * sizeof(Body))) {
    data_ = static_cast<Body*>(shrunk);
    capacity_ = size_;
  }
}

namespace {

// The framing of next_frame and first_frame, unrolled into one loop: this is
// the hot path of every parse. Frames are cut exactly as there.
template <bool kRelease>
Result<BodyList, SizeError> index_frames(std::string_view input, const Delimiters& delimiters,
                                         uint64_t limit) {
  const char* const base = input.data();
  const std::size_t n = input.size();
  const char terminator = delimiters.segment;
  const char release = delimiters.release.value_or('\0');

  BodyList bodies;
  // Segments of real files average well over 16 bytes; the spare capacity is
  // released at the end, and pages never written cost nothing meanwhile.
  bodies.reserve(n / 16 + 1);

  std::size_t at = 0;
  if (input.starts_with(kByteOrderMark)) {
    at = kByteOrderMark.size();
    if (at == n) bodies.push_back(Body{static_cast<uint32_t>(n), static_cast<uint32_t>(n)});
  }
  while (at < n) {
    std::size_t start = at;
    while (start < n && is_trivia(base[start])) ++start;
    std::size_t end = n;
    bool terminated = false;
    if constexpr (kRelease) {
      for (std::size_t i = start; i < n; ++i) {
        if (base[i] == release) {
          ++i;
        } else if (base[i] == terminator) {
          end = i;
          terminated = true;
          break;
        }
      }
    } else if (start < n) {
      if (const void* p = std::memchr(base + start, terminator, n - start)) {
        end = static_cast<std::size_t>(static_cast<const char*>(p) - base);
        terminated = true;
      }
    }
    if (end > limit) return err(SizeError{n});
    bodies.push_back(Body{static_cast<uint32_t>(start), static_cast<uint32_t>(end)});
    at = terminated ? end + 1 : n;
  }
  bodies.shrink_to_fit();
  return bodies;
}

}  // namespace

namespace detail {

Result<BodyList, SizeError> index(std::string_view input, const Delimiters& delimiters,
                                  uint64_t limit) {
  // Offsets reach at most `limit`, so only a terminator may lie past it:
  // anything longer is refused before the scan.
  if (input.size() - 1 > limit && !input.empty()) return err(SizeError{input.size()});
  return delimiters.release ? index_frames<true>(input, delimiters, limit)
                            : index_frames<false>(input, delimiters, limit);
}

}  // namespace detail

Result<BodyList, SizeError> index(std::string_view input, const Delimiters& delimiters) {
  return detail::index(input, delimiters, kMaxDocumentBytes);
}

Document::Document(std::string_view borrowed, const Delimiters& delimiters, BodyList bodies)
    : source_(borrowed), delimiters_(delimiters), bodies_(std::move(bodies)) {}

Document::Document(std::string&& owned, const Delimiters& delimiters, BodyList bodies)
    : owned_(std::make_unique<std::string>(std::move(owned))),
      source_(*owned_),
      delimiters_(delimiters),
      bodies_(std::move(bodies)) {}

namespace {

// Header, size, index: the steps both forms of Document::parse share.
Result<std::pair<Delimiters, BodyList>, DocumentError> read_and_index(
    std::string_view input) {
  auto delimiters = Delimiters::from_isa_after_leading_trivia(input);
  if (!delimiters.ok()) {
    return err(DocumentError{DocumentError::Kind::Isa, std::move(delimiters.error()), {}});
  }
  auto size = check_size(input.size());
  if (!size.ok()) return err(DocumentError{DocumentError::Kind::Size, {}, size.error()});
  auto bodies = index(input, delimiters.value());
  if (!bodies.ok()) return err(DocumentError{DocumentError::Kind::Size, {}, bodies.error()});
  return std::pair{delimiters.value(), std::move(bodies.value())};
}

}  // namespace

Result<Document, DocumentError> Document::parse(std::string_view input) {
  auto read = read_and_index(input);
  if (!read.ok()) return err(std::move(read.error()));
  return Document(input, read->first, std::move(read->second));
}

Result<Document, DocumentError> Document::parse(std::string&& input) {
  auto read = read_and_index(input);
  if (!read.ok()) return err(std::move(read.error()));
  return Document(std::move(input), read->first, std::move(read->second));
}

std::optional<std::string_view> Document::raw(std::size_t i) const noexcept {
  const std::optional<Span> s = span(i);
  if (!s) return std::nullopt;
  return source_.substr(s->raw_start, s->raw_end - s->raw_start);
}

std::optional<Segment> Document::segment(std::size_t i) const {
  const std::optional<Frame> f = frame(i);
  if (!f) return std::nullopt;
  Segment segment;
  segment.reparse(i, *f, delimiters_);
  return segment;
}

std::optional<std::string_view> Document::segment_id(std::size_t i) const noexcept {
  const std::optional<Span> s = span(i);
  if (!s) return std::nullopt;
  const std::string_view body = source_.substr(s->body_start, s->body_end - s->body_start);
  return body.substr(0, find_unreleased(body, delimiters_.element, delimiters_.release));
}

std::optional<Segment> Segments::next() {
  std::optional<Segment> segment = document_->segment(next_);
  if (segment) ++next_;
  return segment;
}

}  // namespace zarvi_core
