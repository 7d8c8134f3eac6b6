// JSON merge patches over spec values: a patch object edits the members it
// names, null deletes one, anything else replaces the target.
#pragma once

#include <nlohmann/json.hpp>

namespace zarvi_core::spec {

// Merges `patch` into `target` in place (the merge patch of RFC 7396).
void merge_patch(nlohmann::json& target, const nlohmann::json& patch);

}  // namespace zarvi_core::spec
