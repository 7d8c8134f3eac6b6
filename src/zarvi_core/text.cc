#include "zarvi_core/text.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace zarvi_core {
namespace {

struct Range {
  char32_t lo, hi;
};

constexpr Range kEscaped[] = {
#include "unicode_escape_table.inc"
};

// Length of the valid UTF-8 sequence at the start of s, or 0 when the first
// byte does not begin one. Overlong forms and surrogates are invalid.
size_t valid_sequence(std::string_view s, char32_t& cp) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t n;
  char32_t lo, hi;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F, lo = 0x80, hi = 0xBF;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F;
    lo = c == 0xE0 ? 0xA0 : 0x80;
    hi = c == 0xED ? 0x9F : 0xBF;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07;
    lo = c == 0xF0 ? 0x90 : 0x80;
    hi = c == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (s.size() < 2 || b(1) < lo || b(1) > hi) return 0;
  cp = (cp << 6) | (b(1) & 0x3F);
  for (size_t i = 2; i < n; ++i) {
    if (i >= s.size() || b(i) < 0x80 || b(i) > 0xBF) return 0;
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  return n;
}

// Length of the maximal prefix of an invalid sequence (at least 1), so that
// lossy decoding replaces it with a single U+FFFD.
size_t invalid_prefix(std::string_view s) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  size_t n;
  unsigned char lo, hi;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, lo = 0x80, hi = 0xBF;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 1;
  }
  size_t i = 1;
  if (i < s.size() && b(i) >= lo && b(i) <= hi) {
    ++i;
    while (i < n && i < s.size() && b(i) >= 0x80 && b(i) <= 0xBF) ++i;
  }
  return i;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool escapes_code_point(char32_t cp) {
  auto it = std::upper_bound(std::begin(kEscaped), std::end(kEscaped), cp,
                             [](char32_t v, const Range& r) { return v < r.lo; });
  return it != std::begin(kEscaped) && cp <= std::prev(it)->hi;
}

void append_quoted(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back('"');
  while (!bytes.empty()) {
    char32_t cp = 0;
    const size_t n = valid_sequence(bytes, cp);
    if (n == 0) {
      const auto c = static_cast<unsigned char>(bytes[0]);
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
      bytes.remove_prefix(1);
      continue;
    }
    switch (cp) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (escapes_code_point(cp)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
          out += buf;
        } else {
          out.append(bytes.substr(0, n));
        }
    }
    bytes.remove_prefix(n);
  }
  out.push_back('"');
}

std::string quote_bytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  append_quoted(out, bytes);
  return out;
}

void append_quoted_list(std::string& out, std::span<const std::string> items) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    append_quoted(out, items[i]);
  }
}

std::string quote_list(std::span<const std::string> items) {
  std::string out;
  append_quoted_list(out, items);
  return out;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t cp = 0;
    if (const size_t n = valid_sequence(bytes, cp); n > 0) {
      out.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
    } else {
      append_utf8(out, 0xFFFD);
      bytes.remove_prefix(invalid_prefix(bytes));
    }
  }
  return out;
}

std::string element_place(std::string_view id, uint64_t element,
                          std::optional<uint64_t> component) {
  std::string out = lossy_utf8(id);
  if (element < 10) out.push_back('0');
  out += std::to_string(element);
  if (component) {
    out.push_back('-');
    out += std::to_string(*component);
  }
  return out;
}

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

namespace {

// Unicode white space, as UTF-8; a key holding any of them is quoted so that
// it stays visible in a path.
constexpr std::string_view kWhiteSpace[] = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
    "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

bool needs_quotes(std::string_view key) {
  if (key.empty() || key.find_first_of("#./") != std::string_view::npos) return true;
  for (std::string_view ws : kWhiteSpace)
    if (key.find(ws) != std::string_view::npos) return true;
  return false;
}

}  // namespace

std::string_view render_key(std::string_view key, std::string& storage) {
  if (!needs_quotes(key)) return key;
  storage = nlohmann::json(std::string(key)).dump(-1, ' ', false,
                                                   nlohmann::json::error_handler_t::replace);
  return storage;
}

std::string render_key(std::string_view key) {
  std::string storage;
  return std::string(render_key(key, storage));
}

}  // namespace zarvi_core
