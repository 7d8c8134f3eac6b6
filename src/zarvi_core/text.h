// Text helpers shared by every message: quoted bytes, lossy UTF-8 and element
// places. All functions are pure; results are new strings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zarvi_core/int128.h"

namespace zarvi_core {

// Bytes in double quotes: valid UTF-8 escaped as a debug string (\t \r \n \0,
// backslash, double quote, and \u{..} for non-printable characters and
// combining marks), every byte outside valid UTF-8 as \xHH.
void append_quoted(std::string& out, std::string_view bytes);
std::string quote_bytes(std::string_view bytes);

// Each item quoted as above, joined by ", "; empty for no items.
void append_quoted_list(std::string& out, std::span<const std::string> items);
std::string quote_list(std::span<const std::string> items);

// UTF-8 text of the bytes, each maximal invalid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// An element place: id (lossy), the position zero-padded to two digits, and
// "-" with the component when given: CLP02, SVC01-2, CLP123.
std::string element_place(std::string_view id, uint64_t element,
                          std::optional<uint64_t> component = std::nullopt);

// The decimal text of `value` scaled by 10^scale: "-" when negative, the
// magnitude's digits padded with zeros to at least scale + 1 digits, and "."
// before the last `scale` digits when scale > 0. 5 at scale 2 is "0.05".
std::string render_amount(i128 value, uint8_t scale);
void append_amount(std::string& out, i128 value, uint8_t scale);

// A key as written in a path: bare, or a JSON string literal when it is empty
// or holds white space, "#", "." or "/". Returns `key` itself when bare;
// otherwise the literal is written into `storage` and that is returned.
std::string_view render_key(std::string_view key, std::string& storage);
std::string render_key(std::string_view key);

// Whether quoted text writes this code point as \u{..}.
bool escapes_code_point(char32_t cp);

}  // namespace zarvi_core
