#include "zarvi_core/column/buffer.h"

#include <atomic>
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
#endif

// What data() shows of an empty buffer: aligned and padded like the others.
alignas(64) constexpr std::byte kEmptyBlock[64] = {};

}  // namespace

Buffer::Buffer(Buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      borrowed_(std::exchange(other.borrowed_, false)) {}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Buffer old(std::move(*this));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, false);
    borrowed_ = std::exchange(other.borrowed_, false);
  }
  return *this;
}

Buffer::~Buffer() { release(); }

Buffer Buffer::copy_to(std::byte* at) const {
  Buffer out;
  if (size_ == 0) return out;
  // The padding is zero already.
  std::memcpy(at, data_, round_up(size_));
  out.data_ = at;
  out.size_ = size_;
  out.capacity_ = round_up(size_);
  out.borrowed_ = true;
  return out;
}

void Buffer::release() {
  if (data_ == nullptr || borrowed_) return;
#ifdef ZARVI_MAPPED_BUFFERS
  if (mapped_) {
    munmap(data_, capacity_);
    mapped_buffers.fetch_sub(1, std::memory_order_relaxed);
    return;
  }
#endif
  ::operator delete(data_, std::align_val_t{kAlign});
}

void Buffer::adopt(std::byte* fresh, size_t capacity, bool mapped) {
  // The bytes up to the end of the last used block: the values and their
  // zeroed padding.
  if (size_ > 0) std::memcpy(fresh, data_, round_up(size_));
  release();
  data_ = fresh;
  capacity_ = capacity;
  mapped_ = mapped;
  borrowed_ = false;
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
#endif

}  // namespace zarvi_core::column::buffer
