#include "zarvi_core/spec/raw.h"

#include <functional>
#include <initializer_list>
#include <string_view>

#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;
// A decoding problem, or none.
using Problem = std::optional<DecodeError>;

// How the decoder names a value it did not expect.
std::string unexpected(const json& v) {
  switch (v.type()) {
    case json::value_t::boolean:
      return std::string("boolean `") + (v.get<bool>() ? "true" : "false") + "`";
    case json::value_t::number_unsigned:
      return "integer `" + std::to_string(v.get<uint64_t>()) + "`";
    case json::value_t::number_integer: return "integer `" + std::to_string(v.get<int64_t>()) + "`";
    case json::value_t::number_float: return "floating point `" + compact_json(v) + "`";
    case json::value_t::string: return "string " + quote_bytes(v.get_ref<const std::string&>());
    case json::value_t::array: return "sequence";
    case json::value_t::object: return "map";
    case json::value_t::binary: return "byte array";
    case json::value_t::null:
    case json::value_t::discarded: break;
  }
  return "null";
}

DecodeError invalid_type(const json& v, std::string_view expected) {
  return "invalid type: " + unexpected(v) + ", expected " + std::string(expected);
}

Problem read(const json& v, std::string& out);
Problem read(const json& v, uint64_t& out);
Problem read(const json& v, uint8_t& out);
Problem read(const json& v, bool& out);
Problem read(const json& v, RawVersion& out);
Problem read(const json& v, RawTrigger& out);
Problem read(const json& v, RawControl& out);
Problem read(const json& v, RawOccurrence& out);
Problem read(const json& v, RawQualifier& out);
Problem read(const json& v, RawElement& out);
Problem read(const json& v, RawRepeat& out);
Problem read(const json& v, RawPick& out);
Problem read(const json& v, RawTerm& out);
template <class T>
Problem read(const json& v, std::optional<T>& out);
template <class T>
Problem read(const json& v, std::vector<T>& out);
template <class T>
Problem read(const json& v, std::map<std::string, T>& out);

template <class T>
Problem read(const json& v, std::optional<T>& out) {
  if (v.is_null()) {
    out.reset();
    return {};
  }
  T item{};
  if (Problem p = read(v, item)) return p;
  out = std::move(item);
  return {};
}

template <class T>
Problem read(const json& v, std::vector<T>& out) {
  if (!v.is_array()) return invalid_type(v, "a sequence");
  out.clear();
  out.reserve(v.size());
  for (const json& item : v) {
    T t{};
    if (Problem p = read(item, t)) return p;
    out.push_back(std::move(t));
  }
  return {};
}

template <class T>
Problem read(const json& v, std::map<std::string, T>& out) {
  if (!v.is_object()) return invalid_type(v, "a map");
  out.clear();
  for (const auto& [key, item] : v.items()) {
    T t{};
    if (Problem p = read(item, t)) return p;
    out.emplace_hint(out.end(), key, std::move(t));
  }
  return {};
}

// A member that stays undecoded: only its being an object is checked. Null
// counts as absent for an optional member.
Problem read_object_ref(const json& v, const json*& out, bool is_required) {
  if (v.is_null() && !is_required) {
    out = nullptr;
    return {};
  }
  if (!v.is_object()) return invalid_type(v, "a map");
  out = &v;
  return {};
}

Problem read(const json& v, std::string& out) {
  if (!v.is_string()) return invalid_type(v, "a string");
  out = v.get_ref<const std::string&>();
  return {};
}

Problem read(const json& v, uint64_t& out) {
  if (v.is_number_unsigned()) {
    out = v.get<uint64_t>();
    return {};
  }
  if (v.is_number_integer()) {
    const int64_t i = v.get<int64_t>();
    if (i < 0) return "invalid value: integer `" + std::to_string(i) + "`, expected u64";
    out = static_cast<uint64_t>(i);
    return {};
  }
  return invalid_type(v, "u64");
}

Problem read(const json& v, uint8_t& out) {
  uint64_t wide = 0;
  if (Problem p = read(v, wide)) {
    if (v.is_number_integer()) return "invalid value: " + unexpected(v) + ", expected u8";
    return invalid_type(v, "u8");
  }
  if (wide > 255) return "invalid value: " + unexpected(v) + ", expected u8";
  out = static_cast<uint8_t>(wide);
  return {};
}

Problem read(const json& v, bool& out) {
  if (!v.is_boolean()) return invalid_type(v, "a boolean");
  out = v.get<bool>();
  return {};
}

template <class T>
Problem from_decoded(Decoded<T> d, T& out) {
  if (!d.ok()) return std::move(d).error();
  out = std::move(d).value();
  return {};
}

Problem read(const json& v, RawVersion& out) { return from_decoded(decode_version(v), out); }
Problem read(const json& v, RawTrigger& out) { return from_decoded(decode_trigger(v), out); }
Problem read(const json& v, RawControl& out) { return from_decoded(decode_control(v), out); }
Problem read(const json& v, RawOccurrence& out) { return from_decoded(decode_occurrence(v), out); }
Problem read(const json& v, RawQualifier& out) { return from_decoded(decode_qualifier(v), out); }
Problem read(const json& v, RawElement& out) { return from_decoded(decode_element(v), out); }
Problem read(const json& v, RawRepeat& out) { return from_decoded(decode_repeat(v), out); }
Problem read(const json& v, RawPick& out) { return from_decoded(decode_pick(v), out); }
Problem read(const json& v, RawTerm& out) { return from_decoded(decode_term(v), out); }

struct Field {
  std::string_view name;
  bool required;
  std::function<Problem(const json&)> read;
};

template <class T>
Field need(std::string_view name, T& out) {
  return {name, true, [&out](const json& v) { return read(v, out); }};
}
template <class T>
Field may(std::string_view name, T& out) {
  return {name, false, [&out](const json& v) { return read(v, out); }};
}
Field object_ref(std::string_view name, bool is_required, const json*& out) {
  return {name, is_required,
          [&out, is_required](const json& v) { return read_object_ref(v, out, is_required); }};
}

using Fields = std::vector<Field>;

std::string field_list(const Fields& fields) {
  const size_t n = fields.size();
  if (n == 0) return "there are no fields";
  std::string out = n > 2 ? "expected one of " : "expected ";
  size_t i = 0;
  for (const Field& f : fields) {
    if (i > 0) out += n == 2 ? " or " : ", ";
    out += "`" + std::string(f.name) + "`";
    ++i;
  }
  return out;
}

// Members in key order: an unknown key or a member that does not decode
// fails at once; a missing required field is looked for afterwards, in
// declaration order.
Problem decode_object(const json& v, std::string_view expected, const Fields& fields) {
  if (!v.is_object()) return invalid_type(v, expected);
  std::vector<bool> seen(fields.size(), false);
  for (const auto& [key, member] : v.items()) {
    size_t i = 0;
    const Field* found = nullptr;
    for (const Field& f : fields) {
      if (f.name == key) {
        found = &f;
        break;
      }
      ++i;
    }
    if (found == nullptr) {
      return "unknown field `" + lossy_utf8(key) + "`, " + field_list(fields);
    }
    seen[i] = true;
    if (Problem p = found->read(member)) return p;
  }
  size_t i = 0;
  for (const Field& f : fields) {
    if (f.required && !seen[i]) return "missing field `" + std::string(f.name) + "`";
    ++i;
  }
  return {};
}

// A record whose fields `fields_of(record)` names, decoded from `v`.
template <class T, class F>
Decoded<T> decode_record(const json& v, std::string_view expected, F fields_of) {
  T record{};
  if (Problem p = decode_object(v, expected, fields_of(record))) return err(std::move(*p));
  return record;
}

}  // namespace

std::string RawPick::written() const {
  if (const uint64_t* n = std::get_if<uint64_t>(&value)) return std::to_string(*n);
  return compact_json(json(std::get<std::string>(value)));
}

Decoded<RawSpec> decode_spec(const json& value) {
  return decode_record<RawSpec>(value, "a spec object with \"name\" and \"loops\"", [](auto& out) {
    return Fields{need("name", out.name),
                  object_ref("loops", true, out.loops),
                  object_ref("segments", false, out.segments),
                  object_ref("tables", false, out.tables),
                  object_ref("balancing", false, out.balancing),
                  may("version", out.version)};
  });
}

Decoded<RawVersion> decode_version(const json& value) {
  return decode_record<RawVersion>(value, "a version object", [](auto& out) {
    return Fields{need("segment", out.segment), need("element", out.element),
                  need("values", out.values)};
  });
}

Decoded<RawLoop> decode_loop(const json& value) {
  return decode_record<RawLoop>(value, "a loop object", [](auto& out) {
    return Fields{may("parent", out.parent),
                  need("trigger", out.trigger),
                  may("occurrences", out.occurrences),
                  may("max", out.max),
                  may("usage", out.usage),
                  may("end", out.end),
                  may("control", out.control)};
  });
}

Decoded<RawTrigger> decode_trigger(const json& value) {
  return decode_record<RawTrigger>(value, "a trigger object", [](auto& out) {
    return Fields{need("segment", out.segment), may("where", out.where)};
  });
}

Decoded<RawControl> decode_control(const json& value) {
  return decode_record<RawControl>(value, "a control object", [](auto& out) {
    return Fields{need("opener_element", out.opener_element),
                  need("closer_element", out.closer_element),
                  need("count_element", out.count_element), need("count", out.count)};
  });
}

Decoded<RawOccurrence> decode_occurrence(const json& value) {
  return decode_record<RawOccurrence>(value, "an occurrence object", [](auto& out) {
    return Fields{need("segment", out.segment),    need("pos", out.pos),
                  may("usage", out.usage),         may("max", out.max),
                  may("qualifier", out.qualifier), may("codes", out.codes)};
  });
}

Decoded<RawQualifier> decode_qualifier(const json& value) {
  return decode_record<RawQualifier>(value, "a qualifier object", [](auto& out) {
    return Fields{need("element", out.element), may("component", out.component),
                  need("codes", out.codes)};
  });
}

Decoded<RawSegment> decode_segment(const json& value) {
  return decode_record<RawSegment>(value, "a segment object",
                                   [](auto& out) { return Fields{may("elements", out.elements)}; });
}

Decoded<RawElement> decode_element(const json& value) {
  return decode_record<RawElement>(value, "an element object", [](auto& out) {
    return Fields{need("name", out.name),        need("type", out.type),
                  may("required", out.required), may("min", out.min),
                  may("max", out.max),           may("scale", out.scale),
                  may("codes", out.codes),       may("composite", out.composite)};
  });
}

Decoded<RawTable> decode_table(const json& value) {
  return decode_record<RawTable>(value, "a table object", [](auto& out) {
    return Fields{need("loops", out.loops), may("ref", out.ref), may("segment", out.segment),
                  may("repeat", out.repeat), object_ref("columns", false, out.columns)};
  });
}

Decoded<RawRepeat> decode_repeat(const json& value) {
  return decode_record<RawRepeat>(value, "a repeat object", [](auto& out) {
    return Fields{need("from", out.from), need("step", out.step)};
  });
}

Decoded<RawColumn> decode_column(const json& value) {
  return decode_record<RawColumn>(value, "a column object", [](auto& out) {
    return Fields{may("loop", out.loop),
                  may("segment", out.segment),
                  may("where", out.where),
                  may("occurrence", out.occurrence),
                  may("pick", out.pick),
                  may("element", out.element),
                  may("component", out.component),
                  may("group_element", out.group_element),
                  may("segment_index", out.segment_index)};
  });
}

Decoded<RawPick> decode_pick(const json& value) {
  if (value.is_string()) return RawPick{value.get<std::string>()};
  uint64_t n = 0;
  if (value.is_number_integer() && !read(value, n)) return RawPick{n};
  return err(DecodeError("a pick"));
}

Decoded<RawBalance> decode_balance(const json& value) {
  return decode_record<RawBalance>(value, "a balancing rule object", [](auto& out) {
    return Fields{need("per", out.per), need("target", out.target), need("sum", out.sum)};
  });
}

Decoded<RawTerm> decode_term(const json& value) {
  return decode_record<RawTerm>(value, "a balancing value object", [](auto& out) {
    return Fields{may("loop", out.loop), need("occurrence", out.occurrence),
                  need("elements", out.elements), may("component", out.component),
                  may("sign", out.sign)};
  });
}

}  // namespace zarvi_core::spec