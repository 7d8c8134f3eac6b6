#include "zarvi_core/spec/render.h"

#include <nlohmann/json.hpp>

#include "zarvi_core/spec/occurrences.h"
#include "zarvi_core/spec/trigger.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
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

std::string compact_json(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string_view render_key(std::string_view key, std::string& storage) {
  if (!needs_quotes(key)) return key;
  storage = compact_json(nlohmann::json(std::string(key)));
  return storage;
}

std::string render_key(std::string_view key) {
  std::string storage;
  return std::string(render_key(key, storage));
}

std::string child(std::string_view path, std::string_view key) {
  std::string storage;
  std::string_view k = render_key(key, storage);
  if (path.empty()) return std::string(k);
  std::string out;
  out.reserve(path.size() + 1 + k.size());
  out.append(path).push_back('.');
  out.append(k);
  return out;
}

std::string quote_name(std::string_view name) { return quote_bytes(name); }

std::string render_chain(const std::vector<std::string>& names) {
  if (names.empty()) return "no table";
  std::string out;
  std::string storage;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out.push_back('/');
    out.append(render_key(names[i], storage));
  }
  return out;
}

std::string render_value(const nlohmann::json& value) {
  if (value.is_null()) return "";
  if (value.is_array()) return std::to_string(value.size()) + " items";
  if (value.is_object()) return std::to_string(value.size()) + " members";
  return compact_json(value);
}

std::string render_trigger(const Trigger& trigger) {
  std::string out = quote_name(lossy_utf8(trigger.segment));
  if (trigger.conditions.empty()) return out + " with no conditions";
  out += " where {";
  for (size_t i = 0; i < trigger.conditions.size(); ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(trigger.conditions[i].position) + ": ";
    append_quoted(out, lossy_utf8(trigger.conditions[i].value));
  }
  out += "}";
  return out;
}

std::string render_selector(const OccurrenceDef& occurrence) {
  const std::string id = lossy_utf8(occurrence.segment);
  std::string out = quote_name(id);
  if (!occurrence.qualifier) return out;
  const Qualifier& q = *occurrence.qualifier;
  out += " where " + element_place(id, q.element, q.component) + " ";
  const size_t n = q.codes.size();
  if (n == 1) {
    out += "is ";
    append_quoted(out, lossy_utf8(q.codes.front()));
  } else if (n <= 5) {
    out += "is one of ";
    std::vector<std::string> shown;
    for (const std::string& code : q.codes) shown.push_back(lossy_utf8(code));
    append_quoted_list(out, shown);
  } else {
    out += "is one of " + std::to_string(n) + " codes";
  }
  return out;
}

}  // namespace zarvi_core::spec
