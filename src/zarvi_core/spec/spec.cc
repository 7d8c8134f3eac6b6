#include "zarvi_core/spec/spec.h"

#include <algorithm>

#include "zarvi_core/spec/compile.h"

namespace zarvi_core::spec {

Compiled Spec::from_json(std::string_view text) {
  auto value = parse_spec_json(text);
  if (!value.ok()) return err(std::move(value).error());
  return compile_spec(std::move(value).value());
}

Compiled Spec::from_value(nlohmann::json value) { return compile_spec(std::move(value)); }

nlohmann::json Spec::source() const { return nlohmann::json::from_cbor(source_); }

std::optional<LoopId> Spec::loop_id(std::string_view loop_name) const {
  for (LoopId id = 0; id < loops.size(); ++id) {
    if (loops[id].name == loop_name) return id;
  }
  return std::nullopt;
}

const TableDef* Spec::table(std::string_view table_name) const {
  for (const TableDef& t : tables) {
    if (t.name == table_name) return &t;
  }
  return nullptr;
}

const ElementDef* Spec::element_def(std::string_view segment, uint64_t element,
                                    std::optional<uint64_t> component) const {
  return find_element(segments, segment, element, component);
}

std::vector<LoopId> Spec::ancestors(LoopId loop) const {
  std::vector<LoopId> out;
  if (loop >= loops.size()) return out;
  for (std::optional<LoopId> at = loops[loop].parent; at; at = loops[*at].parent)
    out.push_back(*at);
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace zarvi_core::spec
