#include "zarvi_core/spec/shape.h"

#include <cmath>

#include "zarvi_core/spec/balance.h"
#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/render.h"

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;
using Object = json::object_t;

template <class T>
Checked fail(Result<T, SpecError>&& r) {
  return err(std::move(r).error());
}

const json* member(const Object& map, std::string_view key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

bool is_count(const json& v) {
  return v.is_number_unsigned() || (v.is_number_integer() && v.get<int64_t>() >= 0);
}

bool accepts(const json& v, LeafKind kind) {
  switch (kind) {
    case LeafKind::String: return v.is_string();
    case LeafKind::Boolean: return v.is_boolean();
    case LeafKind::Count: return is_count(v);
    case LeafKind::SmallCount: return is_count(v) && v.get<uint64_t>() <= 255;
    case LeafKind::Pick: return v.is_string() || is_count(v);
  }
  return false;
}

Checked check_loop(const json& value, const std::string& path) {
  auto loop = object_at(value, path);
  if (!loop.ok()) return fail(std::move(loop));
  const Object& map = **loop;
  if (Checked c = check_keys(map, path,
                             {"parent", "trigger", "occurrences", "max", "usage", "end", "control"},
                             {"trigger"});
      !c.ok())
    return c;
  if (Checked c = check_member(map, path, "parent", LeafKind::String, true); !c.ok()) return c;
  if (Checked c = check_member(map, path, "end", LeafKind::String, true); !c.ok()) return c;
  if (Checked c = check_member(map, path, "max", LeafKind::Count, true); !c.ok()) return c;
  if (Checked c = check_member(map, path, "usage", LeafKind::String, true); !c.ok()) return c;
  if (const json* occurrences = member(map, "occurrences")) {
    if (Checked c = check_occurrences_shape(*occurrences, child(path, "occurrences")); !c.ok())
      return c;
  }
  {
    const std::string tpath = child(path, "trigger");
    auto trigger = object_at(map.at("trigger"), tpath);
    if (!trigger.ok()) return fail(std::move(trigger));
    if (Checked c = check_keys(**trigger, tpath, {"segment", "where"}, {"segment"}); !c.ok())
      return c;
    if (Checked c = check_member(**trigger, tpath, "segment", LeafKind::String, false); !c.ok())
      return c;
    if (Checked c = check_member_map(**trigger, tpath); !c.ok()) return c;
  }
  if (const json* control = member(map, "control")) {
    const std::string cpath = child(path, "control");
    auto obj = object_at(*control, cpath);
    if (!obj.ok()) return fail(std::move(obj));
    if (Checked c =
            check_keys(**obj, cpath, {"opener_element", "closer_element", "count_element", "count"},
                       {"opener_element", "closer_element", "count_element", "count"});
        !c.ok())
      return c;
    for (std::string_view key : {"opener_element", "closer_element", "count_element"}) {
      if (Checked c = check_member(**obj, cpath, key, LeafKind::Count, false); !c.ok()) return c;
    }
    if (Checked c = check_member(**obj, cpath, "count", LeafKind::String, false); !c.ok()) return c;
  }
  return Unit{};
}

Checked check_column(const json& value, const std::string& path) {
  auto column = object_at(value, path);
  if (!column.ok()) return fail(std::move(column));
  const Object& map = **column;
  if (Checked c = check_keys(map, path,
                             {"loop", "segment", "where", "occurrence", "pick", "element",
                              "component", "group_element", "segment_index"},
                             {});
      !c.ok())
    return c;
  if (Checked c = check_member(map, path, "loop", LeafKind::String, true); !c.ok()) return c;
  if (Checked c = check_member(map, path, "segment", LeafKind::String, true); !c.ok()) return c;
  if (Checked c = check_member_map(map, path); !c.ok()) return c;
  if (Checked c = check_member(map, path, "occurrence", LeafKind::String, true); !c.ok()) return c;
  if (Checked c = check_member(map, path, "pick", LeafKind::Pick, true); !c.ok()) return c;
  for (std::string_view key : {"element", "component", "group_element"}) {
    if (Checked c = check_member(map, path, key, LeafKind::Count, true); !c.ok()) return c;
  }
  return check_member(map, path, "segment_index", LeafKind::Boolean, false);
}

Checked check_table(const json& value, const std::string& path) {
  auto table = object_at(value, path);
  if (!table.ok()) return fail(std::move(table));
  const Object& map = **table;
  if (Checked c =
          check_keys(map, path, {"loops", "ref", "segment", "repeat", "columns"}, {"loops"});
      !c.ok())
    return c;
  if (Checked c = check_member_texts(map, path, "loops"); !c.ok()) return c;
  if (Checked c = check_member(map, path, "ref", LeafKind::String, true); !c.ok()) return c;
  if (Checked c = check_member(map, path, "segment", LeafKind::String, true); !c.ok()) return c;
  if (const json* repeat = member(map, "repeat")) {
    const std::string rpath = child(path, "repeat");
    auto obj = object_at(*repeat, rpath);
    if (!obj.ok()) return fail(std::move(obj));
    if (Checked c = check_keys(**obj, rpath, {"from", "step"}, {"from", "step"}); !c.ok()) return c;
    if (Checked c = check_member(**obj, rpath, "from", LeafKind::Count, false); !c.ok()) return c;
    if (Checked c = check_member(**obj, rpath, "step", LeafKind::Count, false); !c.ok()) return c;
  }
  if (const json* columns = member(map, "columns")) {
    const std::string cpath = child(path, "columns");
    auto obj = object_at(*columns, cpath);
    if (!obj.ok()) return fail(std::move(obj));
    for (const auto& [name, column] : **obj) {
      if (Checked c = check_column(column, child(cpath, name)); !c.ok()) return c;
    }
  }
  return Unit{};
}

Checked check_segment(const json& value, const std::string& path) {
  auto segment = object_at(value, path);
  if (!segment.ok()) return fail(std::move(segment));
  if (Checked c = check_keys(**segment, path, {"elements"}, {}); !c.ok()) return c;
  if (const json* elements = member(**segment, "elements")) {
    return check_elements_shape(*elements, child(path, "elements"));
  }
  return Unit{};
}

// Members of one top-level section, each checked by `check` at its path.
template <class F>
Checked check_section(const json& value, const std::string& path, F check) {
  auto obj = object_at(value, path);
  if (!obj.ok()) return fail(std::move(obj));
  for (const auto& [name, item] : **obj) {
    if (Checked c = check(item, child(path, name)); !c.ok()) return c;
  }
  return Unit{};
}

}  // namespace

std::string_view expected_text(LeafKind kind) {
  switch (kind) {
    case LeafKind::String: return "a string";
    case LeafKind::Boolean: return "a boolean";
    case LeafKind::Count: return "a non-negative integer";
    case LeafKind::SmallCount: return "an integer from 0 to 255";
    case LeafKind::Pick: return "\"first\", \"last\" or a positive integer";
  }
  return {};
}

std::string found_text(const json& value) {
  switch (value.type()) {
    case json::value_t::boolean: return "a boolean";
    case json::value_t::string: return "a string";
    case json::value_t::array: return "an array";
    case json::value_t::object: return "an object";
    case json::value_t::number_unsigned:
    case json::value_t::number_integer:
    case json::value_t::number_float: return "a number";
    case json::value_t::binary: return "binary data";
    case json::value_t::null:
    case json::value_t::discarded: break;
  }
  return "null";
}

std::string found_text(const json& value, LeafKind expected) {
  if (!value.is_number() || expected == LeafKind::String || expected == LeafKind::Boolean) {
    return found_text(value);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    return std::trunc(d) == d ? "a floating-point number" : "a number with a fractional part";
  }
  if (value.is_number_integer() && value.get<int64_t>() < 0) return "a negative number";
  // A non-negative integer fails only where a small count was expected.
  return "a number above 255";
}

std::string item_path(std::string_view path, std::size_t index) {
  std::string out(path);
  out += "[" + std::to_string(index) + "]";
  return out;
}

Result<const Object*, SpecError> object_at(const json& value, const std::string& path) {
  if (value.is_object()) return value.get_ptr<const Object*>();
  return err(SpecError::NotAnObject{path, found_text(value)});
}

Checked check_keys(const Object& map, const std::string& path,
                   std::initializer_list<std::string_view> allowed,
                   std::initializer_list<std::string_view> required) {
  for (const auto& entry : map) {
    bool known = false;
    for (std::string_view a : allowed) known = known || a == entry.first;
    if (!known) return err(SpecError::UnknownKey{path, entry.first});
  }
  for (std::string_view r : required) {
    if (member(map, r) == nullptr) return err(SpecError::MissingKey{path, std::string(r)});
  }
  return Unit{};
}

Checked check_member(const Object& map, const std::string& path, std::string_view key,
                     LeafKind kind, bool nullable) {
  const json* m = member(map, key);
  if (m == nullptr || (nullable && m->is_null())) return Unit{};
  return check_leaf(*m, child(path, key), kind);
}

Checked check_leaf(const json& value, const std::string& path, LeafKind kind) {
  if (accepts(value, kind)) return Unit{};
  return err(SpecError::WrongType{path, std::string(expected_text(kind)), found_text(value, kind),
                                  render_value(value)});
}

Checked check_member_map(const Object& map, const std::string& path) {
  const json* where = member(map, "where");
  if (where == nullptr) return Unit{};
  const std::string wpath = child(path, "where");
  auto obj = object_at(*where, wpath);
  if (!obj.ok()) return fail(std::move(obj));
  for (const auto& [key, value] : **obj) {
    if (Checked c = check_leaf(value, child(wpath, key), LeafKind::String); !c.ok()) return c;
  }
  return Unit{};
}

Checked check_array(const json& value, const std::string& path, std::string_view expected,
                    LeafKind kind) {
  if (!value.is_array()) {
    return err(
        SpecError::WrongType{path, std::string(expected), found_text(value), render_value(value)});
  }
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (Checked c = check_leaf(value[i], item_path(path, i), kind); !c.ok()) return c;
  }
  return Unit{};
}

Checked check_texts(const json& value, const std::string& path) {
  return check_array(value, path, "an array of strings", LeafKind::String);
}

Checked check_member_texts(const Object& map, const std::string& path, std::string_view key) {
  const json* m = member(map, key);
  if (m == nullptr) return Unit{};
  return check_texts(*m, child(path, key));
}

Checked check_elements_shape(const json& value, const std::string& path) {
  auto obj = object_at(value, path);
  if (!obj.ok()) return fail(std::move(obj));
  for (const auto& [key, element] : **obj) {
    const std::string epath = child(path, key);
    auto el = object_at(element, epath);
    if (!el.ok()) return fail(std::move(el));
    const Object& map = **el;
    if (Checked c = check_keys(
            map, epath, {"name", "type", "required", "min", "max", "scale", "codes", "composite"},
            {"name", "type"});
        !c.ok())
      return c;
    if (Checked c = check_member_texts(map, epath, "codes"); !c.ok()) return c;
    if (Checked c = check_member(map, epath, "name", LeafKind::String, false); !c.ok()) return c;
    if (Checked c = check_member(map, epath, "type", LeafKind::String, false); !c.ok()) return c;
    if (Checked c = check_member(map, epath, "required", LeafKind::Boolean, false); !c.ok())
      return c;
    if (Checked c = check_member(map, epath, "min", LeafKind::Count, true); !c.ok()) return c;
    if (Checked c = check_member(map, epath, "max", LeafKind::Count, true); !c.ok()) return c;
    if (Checked c = check_member(map, epath, "scale", LeafKind::SmallCount, true); !c.ok())
      return c;
    // Composites nest to any depth here; the value's nesting depth was
    // bounded before the check began, and deeper nesting is refused when
    // the elements are compiled.
    if (const json* composite = member(map, "composite")) {
      if (Checked c = check_elements_shape(*composite, child(epath, "composite")); !c.ok())
        return c;
    }
  }
  return Unit{};
}

Checked check_occurrences_shape(const json& value, const std::string& path) {
  auto obj = object_at(value, path);
  if (!obj.ok()) return fail(std::move(obj));
  for (const auto& [name, occurrence] : **obj) {
    const std::string opath = child(path, name);
    auto occ = object_at(occurrence, opath);
    if (!occ.ok()) return fail(std::move(occ));
    const Object& map = **occ;
    if (Checked c = check_keys(map, opath, {"segment", "pos", "usage", "max", "qualifier", "codes"},
                               {"segment", "pos"});
        !c.ok())
      return c;
    if (Checked c = check_member(map, opath, "segment", LeafKind::String, false); !c.ok()) return c;
    if (Checked c = check_member(map, opath, "pos", LeafKind::Count, false); !c.ok()) return c;
    if (Checked c = check_member(map, opath, "usage", LeafKind::String, true); !c.ok()) return c;
    if (Checked c = check_member(map, opath, "max", LeafKind::Count, true); !c.ok()) return c;
    if (const json* qualifier = member(map, "qualifier")) {
      const std::string qpath = child(opath, "qualifier");
      auto q = object_at(*qualifier, qpath);
      if (!q.ok()) return fail(std::move(q));
      if (Checked c =
              check_keys(**q, qpath, {"element", "component", "codes"}, {"element", "codes"});
          !c.ok())
        return c;
      if (Checked c = check_member(**q, qpath, "element", LeafKind::Count, false); !c.ok())
        return c;
      if (Checked c = check_member(**q, qpath, "component", LeafKind::Count, true); !c.ok())
        return c;
      if (Checked c = check_member_texts(**q, qpath, "codes"); !c.ok()) return c;
    }
    if (const json* codes = member(map, "codes")) {
      const std::string cpath = child(opath, "codes");
      auto c_obj = object_at(*codes, cpath);
      if (!c_obj.ok()) return fail(std::move(c_obj));
      for (const auto& [key, list] : **c_obj) {
        if (Checked c = check_texts(list, child(cpath, key)); !c.ok()) return c;
      }
    }
  }
  return Unit{};
}

Checked check_shape(const json& value) {
  auto top = object_at(value, "");
  if (!top.ok()) return fail(std::move(top));
  const Object& map = **top;
  if (Checked c =
          check_keys(map, "", {"name", "loops", "segments", "tables", "balancing", "version"},
                     {"name", "loops"});
      !c.ok())
    return c;
  if (Checked c = check_member(map, "", "name", LeafKind::String, false); !c.ok()) return c;
  if (const json* version = member(map, "version")) {
    auto obj = object_at(*version, "version");
    if (!obj.ok()) return fail(std::move(obj));
    if (Checked c = check_keys(**obj, "version", {"segment", "element", "values"},
                               {"segment", "element", "values"});
        !c.ok())
      return c;
    if (Checked c = check_member(**obj, "version", "segment", LeafKind::String, false); !c.ok())
      return c;
    if (Checked c = check_member(**obj, "version", "element", LeafKind::Count, false); !c.ok())
      return c;
    if (Checked c = check_member_texts(**obj, "version", "values"); !c.ok()) return c;
  }
  if (Checked c = check_section(map.at("loops"), "loops", check_loop); !c.ok()) return c;
  if (const json* tables = member(map, "tables")) {
    if (Checked c = check_section(*tables, "tables", check_table); !c.ok()) return c;
  }
  if (const json* balancing = member(map, "balancing")) {
    if (Checked c = check_balancing_shape(*balancing); !c.ok()) return c;
  }
  if (const json* segments = member(map, "segments")) {
    if (Checked c = check_section(*segments, "segments", check_segment); !c.ok()) return c;
  }
  return Unit{};
}

std::vector<std::pair<std::string_view, const json*>> section(const json& spec,
                                                              std::string_view key) {
  std::vector<std::pair<std::string_view, const json*>> out;
  if (!spec.is_object()) return out;
  const json* s = member(spec.get_ref<const Object&>(), key);
  if (s == nullptr || !s->is_object()) return out;
  out.reserve(s->size());
  for (const auto& [name, value] : s->get_ref<const Object&>()) out.emplace_back(name, &value);
  return out;
}

}  // namespace zarvi_core::spec
