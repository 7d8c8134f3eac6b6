#include "zarvi_core/spec/render.h"

#include <nlohmann/json.hpp>

#include "zarvi_core/spec/occurrences.h"
#include "zarvi_core/spec/trigger.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {

std::string compact_json(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
