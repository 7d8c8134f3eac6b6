// gen835 <bytes> <out-file> [--version 5010|4010]: writes a deterministic,
// valid, balanced 835 interchange of about <bytes> bytes. A size may end in
// K, M or G (powers of 1000).
#include <cstdio>
#include <cstring>
#include <string>

#include "generator.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: gen835 <bytes> <out-file> [--version 5010|4010]\n");
  return 2;
}

bool parse_size(const char* text, uint64_t& out) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || value == 0) return false;
  uint64_t scale = 1;
  if (*end == 'K' || *end == 'k') {
    scale = 1000;
    ++end;
  } else if (*end == 'M' || *end == 'm') {
    scale = 1000 * 1000;
    ++end;
  } else if (*end == 'G' || *end == 'g') {
    scale = 1000 * 1000 * 1000;
    ++end;
  }
  if (*end == 'B' || *end == 'b') ++end;
  if (*end != '\0') return false;
  out = value * scale;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) return usage();
  uint64_t bytes = 0;
  if (!parse_size(argv[1], bytes)) return usage();
  zarvi_bench::Version version = zarvi_bench::Version::V5010;
  if (argc == 5) {
    if (std::strcmp(argv[3], "--version") != 0) return usage();
    if (std::strcmp(argv[4], "4010") == 0) {
      version = zarvi_bench::Version::V4010;
    } else if (std::strcmp(argv[4], "5010") != 0) {
      return usage();
    }
  }
  const std::string text = zarvi_bench::generate_835(bytes, version);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
