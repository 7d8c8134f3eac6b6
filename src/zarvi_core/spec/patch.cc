#include "zarvi_core/spec/patch.h"

#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::spec {

void merge_patch(nlohmann::json& target, const nlohmann::json& patch) {
  if (!patch.is_object()) {
    target = patch;
    return;
  }
  if (!target.is_object()) target = nlohmann::json::object();
  for (const auto& [key, value] : patch.items()) {
    if (value.is_null()) {
      target.erase(key);
      continue;
    }
    // operator[] creates the member as null, so a scalar replaces it and an
    // object merges into an empty object.
    merge_patch(target[key], value);
  }
}

Compiled Spec::merge_patch(std::string_view patch) const {
  auto parsed = parse_spec_json(patch);
  if (!parsed.ok()) return err(std::move(parsed).error());
  nlohmann::json merged = source();
  spec::merge_patch(merged, parsed.value());
  auto compiled = Spec::from_value(std::move(merged));
  if (!compiled.ok()) return err(SpecError::patch(std::move(compiled).error()));
  return compiled;
}

std::string Spec::to_json() const {
  try {
    return source().dump(2);
  } catch (const nlohmann::json::exception&) {
    // Only text the parser let through can be here, so this does not
    // happen; the contract is an empty text rather than an error.
    return {};
  }
}

}  // namespace zarvi_core::spec
