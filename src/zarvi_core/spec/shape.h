// The shape check of a whole spec JSON value: known and required keys and the
// kind of every member, reported as the first SpecError with its JSON path.
// It runs before any record is decoded; values are judged later.
#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/spec_error.h"

namespace zarvi_core::spec {

using Checked = Result<Unit, SpecError>;

// The kinds of leaf value the format uses.
enum class LeafKind { String, Boolean, Count, SmallCount, Pick };

// The text a WrongType error shows as expected: "a string", "a non-negative
// integer", ...
std::string_view expected_text(LeafKind kind);

// What a value is, as WrongType and NotAnObject show it, described more
// closely for numbers where a count, small count or pick was expected.
std::string found_text(const nlohmann::json& value, LeafKind expected);
std::string found_text(const nlohmann::json& value);

Checked check_shape(const nlohmann::json& value);

// The value's object, or NotAnObject at `path`.
Result<const nlohmann::json::object_t*, SpecError> object_at(const nlohmann::json& value,
                                                             const std::string& path);
// Unknown keys (in key order) first, then required keys in the order listed.
Checked check_keys(const nlohmann::json::object_t& map, const std::string& path,
                   std::initializer_list<std::string_view> allowed,
                   std::initializer_list<std::string_view> required);
Checked check_member(const nlohmann::json::object_t& map, const std::string& path,
                     std::string_view key, LeafKind kind, bool nullable);
Checked check_leaf(const nlohmann::json& value, const std::string& path, LeafKind kind);
// The "where" member: an object of strings.
Checked check_member_map(const nlohmann::json::object_t& map, const std::string& path);
// A member that must be a list of strings.
Checked check_member_texts(const nlohmann::json::object_t& map, const std::string& path,
                           std::string_view key);
// A value that must be a list of strings, checked at `path` itself.
Checked check_texts(const nlohmann::json& value, const std::string& path);
// An array whose items must be `kind`; `expected` is the WrongType text for a
// value that is not an array ("an array of strings").
Checked check_array(const nlohmann::json& value, const std::string& path, std::string_view expected,
                    LeafKind kind);
Checked check_elements_shape(const nlohmann::json& value, const std::string& path);
Checked check_occurrences_shape(const nlohmann::json& value, const std::string& path);

// The path of an array item: "{path}[{index}]".
std::string item_path(std::string_view path, std::size_t index);

// The members of the top-level object `key` in key order; none when the
// member is absent or not an object. Views borrow from `spec`.
std::vector<std::pair<std::string_view, const nlohmann::json*>> section(const nlohmann::json& spec,
                                                                        std::string_view key);

}  // namespace zarvi_core::spec
