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

namespace {

// The item named `name` in a list sorted byte-wise by name.
template <class T>
const T* find_named(const std::vector<T>& items, std::string_view name) {
  auto it = std::lower_bound(items.begin(), items.end(), name,
                             [](const T& item, std::string_view n) { return item.name < n; });
  return it == items.end() || it->name != name ? nullptr : &*it;
}

}  // namespace

std::optional<LoopId> Spec::loop_id(std::string_view loop_name) const {
  const LoopDef* loop = find_named(loops, loop_name);
  if (loop == nullptr) return std::nullopt;
  return static_cast<LoopId>(loop - loops.data());
}

const TableDef* Spec::table(std::string_view table_name) const {
  return find_named(tables, table_name);
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
