#include "zarvi_core/column/buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace zarvi_core::column::buffer {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

// A buffer holding n bytes of `fill`, appended at once: from 1 MiB on it is
// mapped, in sanitized builds too.
Buffer filled(size_t n, char fill) {
  const std::string bytes(n, fill);
  Buffer b;
  b.append(bytes.data(), bytes.size());
  return b;
}

// Whether the pages at p are still mapped in this process.
bool mapped(const void* p) {
  return msync(const_cast<void*>(p), 4096, MS_ASYNC) == 0 || errno != ENOMEM;
}

bool holds(const Buffer& b, size_t n, char fill) {
  if (b.size() != n) return false;
  const char* p = reinterpret_cast<const char*>(b.data());
  for (size_t i = 0; i < n; ++i)
    if (p[i] != fill) return false;
  // Arrow's padding: zero up to the next 64-byte boundary.
  for (size_t i = n; i % 64 != 0; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(BufferPool, FreedBlocksServeTheNextBuffers) {
  release_pool();
  const std::byte* first = nullptr;
  {
    const Buffer b = filled(2 * kMiB, '\xff');
    first = b.data();
  }
  EXPECT_EQ(pool_stats().blocks, 1u);
  EXPECT_GE(pool_stats().bytes, 2 * kMiB);
  // The old bytes are not zero: the new buffer still pads with zeros.
  const Buffer again = filled(2 * kMiB - 3, 'a');
  EXPECT_EQ(again.data(), first);
  EXPECT_TRUE(holds(again, 2 * kMiB - 3, 'a'));
  EXPECT_EQ(pool_stats().blocks, 0u);
  EXPECT_EQ(pool_stats().bytes, 0u);
}

TEST(BufferPool, BoundedAndReleasedToTheSystem) {
  release_pool();
  constexpr size_t kBlock = 4 * kMiB;
  constexpr size_t kFit = kPoolBytes / kBlock;
  std::vector<const std::byte*> blocks;
  {
    std::vector<Buffer> buffers;
    for (size_t i = 0; i < kFit + 2; ++i) {
      buffers.push_back(filled(kBlock, 'x'));
      blocks.push_back(buffers.back().data());
    }
    // Over a quarter of the bound: never pooled.
    buffers.push_back(filled(kPoolBytes / 4 + kMiB, 'y'));
    blocks.push_back(buffers.back().data());
  }
  EXPECT_EQ(pool_stats().blocks, kFit);
  EXPECT_EQ(pool_stats().bytes, kPoolBytes);
  size_t unmapped = 0;
  for (const std::byte* p : blocks) unmapped += !mapped(p);
  EXPECT_EQ(unmapped, 3u);

  release_pool();
  EXPECT_EQ(pool_stats().blocks, 0u);
  EXPECT_EQ(pool_stats().bytes, 0u);
  for (const std::byte* p : blocks) EXPECT_FALSE(mapped(p));
}

// The bound is on resident pages: a block counts the pages written into it,
// by any owner, not its capacity.
TEST(BufferPool, CountsThePagesWritten) {
  constexpr size_t kPage = kPageBytes;
  struct Case {
    const char* what;
    size_t reserve;      // room made before the first write
    size_t first;        // bytes written by the first owner
    size_t second;       // then by the next buffer given the block
    size_t pooled;       // the pool's bytes after both are freed
  };
  const Case cases[] = {
      {"filled whole", 0, 2 * kMiB, 0, 2 * kMiB},
      {"a quarter of the bound, the most pooled", 0, kPoolBytes / 4, 0, kPoolBytes / 4},
      {"room made, nothing written: the pool's header page", 4 * kMiB, 0, 0, kPage},
      {"large room, one page written", kPoolBytes / 2, 100, 0, kPage},
      {"a page past a block boundary", 4 * kMiB, kPage + 1, 0, 2 * kPage},
      {"the next owner writes less", 4 * kMiB, 3 * kMiB, kMiB, 3 * kMiB},
      {"the next owner writes more", 4 * kMiB, kMiB, 3 * kMiB + 1, 3 * kMiB + kPage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    release_pool();
    {
      Buffer b;
      b.reserve(c.reserve);
      const std::string bytes(c.first, 'p');
      b.append(bytes.data(), bytes.size());
    }
    EXPECT_EQ(pool_stats().blocks, 1u);
    if (c.second > 0) {
      Buffer b;
      b.reserve(c.reserve);
      EXPECT_EQ(pool_stats().blocks, 0u);
      const std::string bytes(c.second, 'q');
      b.append(bytes.data(), bytes.size());
      EXPECT_TRUE(holds(b, c.second, 'q'));
    }
    EXPECT_EQ(pool_stats().blocks, 1u);
    EXPECT_EQ(pool_stats().bytes, c.pooled);
  }
  release_pool();
}

// A pooled block serves requests of its own size class and the two below,
// so that a buffer never holds more than 16 times what it asked for.
TEST(BufferPool, ServesRequestsUpToThreeSizeClassesDown) {
  struct Case {
    const char* what;
    size_t want;
    bool served;
  };
  const Case cases[] = {
      {"a quarter of the block", 2 * kMiB, true},
      {"an eighth of the block", kMiB, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    release_pool();
    const std::byte* pooled = nullptr;
    {
      const Buffer b = filled(8 * kMiB, 'p');
      pooled = b.data();
    }
    Buffer b;
    b.reserve(c.want);
    EXPECT_EQ(b.data() == pooled, c.served);
    EXPECT_EQ(pool_stats().blocks, c.served ? 0u : 1u);
  }
  release_pool();
}

// A moved buffer keeps the count of pages its block has had written, which
// a cleared buffer no longer shows in its size.
TEST(BufferPool, MovesKeepThePagesWritten) {
  struct Case {
    const char* what;
    void (*move)(Buffer& from);
  };
  const Case cases[] = {
      {"by construction", [](Buffer& from) { const Buffer to(std::move(from)); }},
      {"by assignment",
       [](Buffer& from) {
         Buffer to = filled(100, 't');
         to = std::move(from);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    release_pool();
    Buffer b = filled(3 * kMiB, 'm');
    b.clear();
    c.move(b);
    EXPECT_EQ(pool_stats().blocks, 1u);
    EXPECT_EQ(pool_stats().bytes, 3 * kMiB);
  }
  release_pool();
}

// Parses run on many threads at once: no block is handed to two buffers.
TEST(BufferPool, ThreadsNeverShareABlock) {
  release_pool();
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([t, &failures] {
      for (size_t i = 0; i < 30; ++i) {
        const size_t n = kMiB + (i % 5) * kMiB / 2 + t;
        Buffer b = filled(n, char('a' + t));
        Buffer grown = std::move(b);
        grown.append("tail", 4);
        failures[t] += !holds(filled(n, char('k' + t)), n, char('k' + t));
        if (std::string(reinterpret_cast<const char*>(grown.data()) + n, 4) != "tail")
          ++failures[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  EXPECT_LE(pool_stats().bytes, kPoolBytes);
  release_pool();
}

}  // namespace
}  // namespace zarvi_core::column::buffer
