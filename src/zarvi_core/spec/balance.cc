#include "zarvi_core/spec/balance.h"

#include <algorithm>

namespace zarvi_core::spec {

void append_amount(std::string& out, i128 value, uint8_t scale) {
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  u128 magnitude = value < 0 ? u128(0) - static_cast<u128>(value) : static_cast<u128>(value);
  char digits[40];  // 2^127 has 39 digits
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  std::reverse(digits, digits + n);

  const size_t width = std::max(n, size_t{scale} + 1);
  out.reserve(out.size() + width + 2);
  if (value < 0) out.push_back('-');
  const size_t whole = width - scale;
  for (size_t i = 0; i < width; ++i) {
    if (i == whole) out.push_back('.');
    out.push_back(i + n < width ? '0' : digits[i + n - width]);
  }
}

std::string render_amount(i128 value, uint8_t scale) {
  std::string out;
  append_amount(out, value, scale);
  return out;
}

}  // namespace zarvi_core::spec
