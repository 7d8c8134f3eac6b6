#include "zarvi_core/column/buffer.h"

#include <atomic>
#include <bit>
#include <mutex>
#include <new>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#define ZARVI_MAPPED_BUFFERS 1
#endif

namespace zarvi_core::column::buffer {
namespace {

#ifdef ZARVI_MAPPED_BUFFERS
// Buffers from this capacity on are pages of their own. Low, because a
// buffer on the heap is copied at every doubling and leaves the old block
// behind, resident, for whatever allocation fits it next; mapped pages grow
// in place and are resident only as far as they are written.
#ifdef __SANITIZE_ADDRESS__
// The address sanitizer watches heap blocks only: there, only large buffers
// are mapped.
constexpr size_t kMappedBytes = size_t{1} << 20;
#else
constexpr size_t kMappedBytes = size_t{16} << 10;
#endif

// Each mapped buffer costs the process a mapping, and the kernel allows
// about 65530 of them to everything in the process together; past this many
// live mapped buffers, new ones go on the heap.
constexpr size_t kMaxMappedBuffers = 16384;
std::atomic<size_t> mapped_buffers{0};

// Freed mapped blocks wait here for the next buffers, so that a parse after
// another finds its pages mapped and resident: no page faults, and no
// unmapping or remapping, which stop every thread of the process to flush
// its TLB. Blocks past the bound go back to the system. A pooled block
// keeps its own header (size and link), so pooling never allocates; pooled
// blocks still count among the mapped buffers.
class Pool {
 public:
  struct Taken {
    std::byte* block = nullptr;
    size_t capacity = 0;
    size_t written = 0;  // the pages of the block written so far
  };
  // A pooled block of at least `want` bytes from the three size classes
  // from `want` up (so under 16 times `want`), or none.
  Taken take(size_t want) {
    const size_t first = std::bit_width(want - 1);  // 2^first >= want
    const std::lock_guard lock(mutex_);
    for (size_t b = first; b < std::min(first + 3, kBuckets); ++b) {
      Header* h = heads_[b];
      if (h == nullptr) continue;
      heads_[b] = h->next;
      const Taken taken{reinterpret_cast<std::byte*>(h), h->capacity, h->written};
      bytes_ -= taken.written * kPageBytes;
      --blocks_;
      return taken;
    }
    return {};
  }
  // Pools a block of which `written` pages are resident (at least the
  // first, which the pool writes); false: the pool is full, and the caller
  // unmaps the block.
  bool give(std::byte* data, size_t capacity, size_t written) {
    const size_t bytes = written * kPageBytes;
    if (bytes > kPoolBytes / 4) return false;
    const size_t b = std::bit_width(capacity) - 1;  // 2^b <= capacity
    const std::lock_guard lock(mutex_);
    if (bytes_ + bytes > kPoolBytes) return false;
    heads_[b] = ::new (data) Header{heads_[b], capacity, written};
    bytes_ += bytes;
    ++blocks_;
    return true;
  }
  PoolStats stats() {
    const std::lock_guard lock(mutex_);
    return {blocks_, bytes_};
  }
  void release() {
    Header* all[kBuckets];
    {
      const std::lock_guard lock(mutex_);
      std::copy(std::begin(heads_), std::end(heads_), all);
      std::fill(std::begin(heads_), std::end(heads_), nullptr);
      bytes_ = blocks_ = 0;
    }
    for (Header* h : all) {
      while (h != nullptr) {
        Header* const next = h->next;
        munmap(h, h->capacity);
        mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
        h = next;
      }
    }
  }

 private:
  struct Header {
    Header* next;
    size_t capacity;
    size_t written;
  };
  // Bucket b holds blocks of 2^b to 2^(b+1) - 1 bytes.
  static constexpr size_t kBuckets = 64;
  std::mutex mutex_;
  Header* heads_[kBuckets] = {};
  size_t bytes_ = 0;
  size_t blocks_ = 0;
};

// Never destroyed: buffers may be freed while the process exits.
Pool& pool() {
  static Pool* const p = new Pool;
  return *p;
}
#endif

// What data() shows of an empty buffer: aligned and padded like the others.
alignas(64) constexpr std::byte kEmptyBlock[64] = {};

}  // namespace

Buffer::Buffer(Buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      written_pages_(std::exchange(other.written_pages_, 0)) {}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Buffer old(std::move(*this));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, false);
    written_pages_ = std::exchange(other.written_pages_, 0);
  }
  return *this;
}

Buffer::~Buffer() { release(); }

void Buffer::release() {
  if (data_ == nullptr) return;
#ifdef ZARVI_MAPPED_BUFFERS
  if (mapped_) {
    note_written();
    const size_t written = std::max<size_t>(written_pages_, 1);
    if (!pool().give(data_, capacity_, written)) {
      munmap(data_, capacity_);
      mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    }
    return;
  }
#endif
  ::operator delete(data_, std::align_val_t{kAlign});
}

void Buffer::adopt(std::byte* fresh, size_t capacity, bool mapped, size_t written) {
  // The bytes up to the end of the last used block: the values and their
  // zeroed padding.
  if (size_ > 0) std::memcpy(fresh, data_, round_up(size_));
  release();
  data_ = fresh;
  capacity_ = capacity;
  mapped_ = mapped;
  written_pages_ = static_cast<uint32_t>(written);
}

const std::byte* Buffer::data() const { return data_ != nullptr ? data_ : kEmptyBlock; }

void Buffer::grow(size_t extra) {
  if (extra > SIZE_MAX / 4 - size_) throw std::bad_alloc();
  // Doubling keeps appends amortised; the unused capacity is never written,
  // so it does not become resident.
  const size_t want = round_up(std::max({size_ + extra, capacity_ * 2, kAlign}));
#ifdef ZARVI_MAPPED_BUFFERS
  if (want >= kMappedBytes && grow_mapped(want)) return;
#endif
  // Also where mapping fails (the process may be out of mappings): the heap
  // holds the buffer just as well.
  adopt(static_cast<std::byte*>(::operator new(want, std::align_val_t{kAlign})), want, false);
}

#ifdef ZARVI_MAPPED_BUFFERS
bool Buffer::grow_mapped(size_t want) {
  // A pooled block, even for a buffer already mapped: copying resident
  // bytes costs less than remapping them while other threads run.
  if (const Pool::Taken t = pool().take(want); t.block != nullptr) {
    adopt(t.block, t.capacity, true, t.written);
    return true;
  }
  if (mapped_) {
    void* moved = mremap(data_, capacity_, want, MREMAP_MAYMOVE);
    if (moved != MAP_FAILED) {
      data_ = static_cast<std::byte*>(moved);
      capacity_ = want;
      return true;
    }
  }
  if (mapped_buffers.fetch_add(1, std::memory_order_relaxed) >= kMaxMappedBuffers) {
    mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  void* fresh = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (fresh == MAP_FAILED) {
    mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  // A huge page would make a whole 2 MiB resident at the first write into it;
  // the pages stay small so that only what is written is resident.
  madvise(fresh, want, MADV_NOHUGEPAGE);
  adopt(static_cast<std::byte*>(fresh), want, true);
  return true;
}

PoolStats pool_stats() { return pool().stats(); }
void release_pool() { pool().release(); }
#else
PoolStats pool_stats() { return {}; }
void release_pool() {}
#endif

}  // namespace zarvi_core::column::buffer
