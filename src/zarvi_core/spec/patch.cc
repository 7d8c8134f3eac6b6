#include "zarvi_core/spec/patch.h"

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

}  // namespace zarvi_core::spec
