// The byte buffers under every column: 64-byte-aligned blocks on the heap,
// or, when large, pages mapped for one buffer alone. A buffer owns its block;
// what data() returns lives until the buffer grows or dies.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zarvi_core::column::buffer {

// The page size the pool counts resident memory in.
inline constexpr size_t kPageBytes = 4096;

// A growable, 64-byte-aligned byte buffer that owns one heap block (a large
// one: pages mapped for it alone, which grow without a copy). Moves
// keep the block; data() is never null (an empty buffer points at a shared
// zeroed block), as Arrow consumers expect of buffer pointers. The bytes from
// size() to the next 64-byte boundary are zero (Arrow's padding); the rest of
// the capacity is never touched, so a large buffer is resident only as far
// as it is filled.
class Buffer {
 public:
  Buffer() = default;
  Buffer(Buffer&& other) noexcept;
  Buffer& operator=(Buffer&& other) noexcept;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer();

  const std::byte* data() const;
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }

  void append(const void* src, size_t n) {
    if (n == 0) return;
    if (capacity_ - size_ < n) grow(n);
    const size_t end = size_ + n;
    // Most values are short codes and amounts: copied in fixed-size moves,
    // without a call.
    if (n <= 16) return append_short(static_cast<const std::byte*>(src), n, end);
    // The first write into a 64-byte block zeroes the block's tail; capacity
    // is whole blocks, so the block lies within it.
    const size_t padded = round_up(size_);
    if (end > padded) {
      const size_t from = std::max(padded, end & ~(kAlign - 1));
      std::memset(data_ + from, 0, round_up(end) - from);
    }
    std::memcpy(data_ + size_, src, n);
    size_ = end;
  }
  // Makes room for n more bytes without filling them.
  void reserve(size_t n) {
    if (capacity_ - size_ < n) grow(n);
  }
  // Appends n bytes (n > 0) that the caller writes at the returned pointer
  // before anything else touches the buffer; the padding after them is zeroed.
  std::byte* extend(size_t n) {
    if (capacity_ - size_ < n) grow(n);
    const size_t end = size_ + n;
    const size_t padded = round_up(size_);
    if (end > padded) {
      const size_t from = std::max(padded, end & ~(kAlign - 1));
      std::memset(data_ + from, 0, round_up(end) - from);
    }
    std::byte* const dst = data_ + size_;
    size_ = end;
    return dst;
  }
  template <class T>
  void push(const T& v) {
    static_assert(kAlign % sizeof(T) == 0);
    // A buffer of whole values never has one straddle a block: only the
    // first value of a block zeroes the block.
    if (size_ % sizeof(T) != 0) return append(&v, sizeof v);
    if (capacity_ - size_ < sizeof(T)) grow(sizeof(T));
    if (size_ % kAlign == 0) {
      std::memset(data_ + size_, 0, kAlign);
      ahead(data_ + size_);
    }
    std::memcpy(data_ + size_, &v, sizeof v);
    size_ += sizeof v;
  }
  // Appends n zero bytes, where n divides the 64-byte block and size() is a
  // multiple of n: the padding past size() is already zero, so only entering
  // a fresh block writes.
  void push_zeros(size_t n) {
    if (size_ % kAlign == 0) {
      if (capacity_ - size_ < n) grow(n);
      std::memset(data_ + size_, 0, kAlign);
      ahead(data_ + size_);
    }
    size_ += n;
  }
  // append() of 1 to 16 bytes that fit the capacity, ending at `end`.
  void append_short(const std::byte* src, size_t n, size_t end) {
    // Entering a fresh block zeroes it; the copy then overwrites its head.
    // n <= 16 < kAlign, so at most the block holding the last byte is fresh.
    const size_t last = (end - 1) & ~(kAlign - 1);
    if (last >= round_up(size_)) {
      std::memset(data_ + last, 0, kAlign);
      ahead(data_ + last);
    }
    copy_short(data_ + size_, src, n);
    size_ = end;
  }
  // Copies n <= 16 bytes in fixed-size moves, without a call.
  static void copy_short(std::byte* dst, const std::byte* src, size_t n) {
    if (n >= 8) {
      copy_ends<uint64_t>(dst, src, n);
    } else if (n >= 4) {
      copy_ends<uint32_t>(dst, src, n);
    } else if (n >= 2) {
      copy_ends<uint16_t>(dst, src, n);
    } else if (n == 1) {
      *dst = *src;
    }
  }
  // Copies n bytes, sizeof(T) <= n <= 2 * sizeof(T), as two overlapping
  // moves of T.
  template <class T>
  static void copy_ends(std::byte* dst, const std::byte* src, size_t n) {
    T head;
    T tail;
    std::memcpy(&head, src, sizeof head);
    std::memcpy(&tail, src + n - sizeof tail, sizeof tail);
    std::memcpy(dst, &head, sizeof head);
    std::memcpy(dst + n - sizeof tail, &tail, sizeof tail);
  }
  // The byte at i, for updating the validity bitmap in place.
  std::byte& at(size_t i) { return data_[i]; }

  // Empties the buffer, keeping its block for what comes next.
  void clear() {
    note_written();
    size_ = 0;
  }

  // The contents as an array of T (the buffer holds only T values).
  template <class T>
  std::span<const T> as() const {
    return {reinterpret_cast<const T*>(data()), size_ / sizeof(T)};
  }

 private:
  static constexpr size_t kAlign = 64;
  // Entering a block asks for the one four blocks on: a table writes many
  // columns in turn, too many streams for the hardware to fetch ahead, and
  // every fresh block would otherwise wait on memory.
  static void ahead(const std::byte* block) { __builtin_prefetch(block + 4 * kAlign, 1, 3); }
  static constexpr size_t round_up(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }
  void grow(size_t extra);
  bool grow_mapped(size_t want);  // false: no pages could be mapped
  // Copies the contents into `fresh`, of which `written` pages are
  // resident, and frees the old block.
  void adopt(std::byte* fresh, size_t capacity, bool mapped, size_t written = 0);
  void release();
  // Raises written_pages_ to cover the blocks written up to size().
  void note_written() {
    const size_t pages = (round_up(size_) + kPageBytes - 1) / kPageBytes;
    if (pages > written_pages_) written_pages_ = static_cast<uint32_t>(pages);
  }

  // From aligned operator new; or, when mapped_, pages of its own
  // (capacity_ bytes).
  std::byte* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool mapped_ = false;
  // Mapped: how many pages of the block had been written, by this buffer or
  // an earlier owner, when last counted (at clear and release); with the
  // bytes up to size(), what the block keeps resident. Beside mapped_, so
  // that the buffer stays four words.
  uint32_t written_pages_ = 0;
};

// Freed large buffers keep their pages for the next buffers of the process,
// up to kPoolBytes of resident pages in all (the pages written; a block's
// unwritten capacity costs nothing): most of the tables of a 100 MB file, so
// that parsing such files one after another pays for fewer fresh pages.
// Beyond that, and for blocks holding over a quarter of it, the pages go
// back to the system at once. (Advising pooled pages as free for the system
// to take back cost 7% of a thread's speed and a third of eight threads':
// each advice stops every core the process runs on.) Safe from any thread.
inline constexpr size_t kPoolBytes = size_t{256} << 20;
struct PoolStats {
  size_t blocks = 0;
  size_t bytes = 0;  // resident: the pages written of the pooled blocks
};
PoolStats pool_stats();
// Returns every pooled block to the system.
void release_pool();

}  // namespace zarvi_core::column::buffer
