// Texts that write parts of a spec inside messages: keys, paths, name lists,
// table chains, JSON values, loop triggers and occurrence selectors. Pure
// functions; render_key may return its argument borrowed, so the key must
// outlive the returned view.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace zarvi_core::spec {

struct Trigger;
struct OccurrenceDef;

// The path of a member: "{path}.{key}", or the key alone under the empty path.
std::string child(std::string_view path, std::string_view key);

// A name as messages quote it: double quotes with debug escapes.
std::string quote_name(std::string_view name);

// Table names through render_key joined by "/"; "no table" for none.
std::string render_chain(const std::vector<std::string>& names);

// A JSON value for a message: "" for null, "{n} items", "{n} members", or
// the compact JSON text of a scalar.
std::string render_value(const nlohmann::json& value);

// A loop's trigger: "N1" where {1: "PR"}, or "LX" with no conditions. Ids
// and values are made text (invalid UTF-8 as U+FFFD), then quoted.
std::string render_trigger(const Trigger& trigger);

// How an occurrence is recognised: "REF" where REF01 is "EV", "N1" where
// N101 is one of "PR", "PE", "CAS" where CAS01 is one of 7 codes, or the
// quoted segment id alone without a qualifier.
std::string render_selector(const OccurrenceDef& occurrence);

// The compact JSON text of a scalar as the JSON library writes it.
std::string compact_json(const nlohmann::json& value);

}  // namespace zarvi_core::spec
