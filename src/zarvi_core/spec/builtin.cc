#include "zarvi_core/spec/builtin.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "zarvi_core/never_destroyed.h"
#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/patch.h"

namespace zarvi_core::spec {

namespace {
#include "builtin_texts.inc"

using json = nlohmann::json;

// The text's value with only the top-level "version" member kept: the
// parser drops the others as it reads them, so they are never held.
json version_only(std::string_view text) {
  const json::parser_callback_t keep = [](int depth, json::parse_event_t event, json& parsed) {
    return depth != 1 || event != json::parse_event_t::key || parsed == "version";
  };
  return json::parse(text.begin(), text.end(), keep, false);
}

}  // namespace

std::string_view builtin_835_text() { return kSpec835; }
std::string_view builtin_835_4010_patch_text() { return kPatch835_4010; }
std::string_view edi_835_parser_patch_text() { return kPatchEdi835Parser; }

Compiled Spec::builtin_835() { return Spec::from_json(builtin_835_text()); }

Compiled Spec::builtin_835_4010() {
  auto base = builtin_835();
  if (!base.ok()) return base;
  return base.value()->merge_patch(builtin_835_4010_patch_text());
}

// Function-local statics: filled once, by the first caller, while any
// concurrent caller waits for it. Never destroyed, since a parse on another
// thread may still read them while exit() destroys statics.
const Compiled& shared_builtin_835() {
  static const NeverDestroyed<Compiled> cell(Spec::builtin_835());
  return cell.get();
}

const Compiled& shared_builtin_835_4010() {
  static const NeverDestroyed<Compiled> cell([]() -> Compiled {
    const Compiled& base = shared_builtin_835();
    if (!base.ok()) return err(base.error());
    return base.value()->merge_patch(builtin_835_4010_patch_text());
  }());
  return cell.get();
}

const std::optional<DeclaredVersion>* builtin_835_4010_version() {
  // Merging the patch's "version" member over the 5010 text's gives the
  // member the whole merge gives, so its declaration is the 4010 spec's.
  // Never destroyed, like the specs.
  static const NeverDestroyed<std::optional<std::optional<DeclaredVersion>>> cell(
      []() -> std::optional<std::optional<DeclaredVersion>> {
        json merged = version_only(builtin_835_text());
        const json patch = version_only(builtin_835_4010_patch_text());
        if (!merged.is_object() || !patch.is_object()) return std::nullopt;
        merge_patch(merged, patch);
        const auto found = merged.find("version");
        auto version = compile_version_member(found == merged.end() ? json() : *found);
        if (!version.ok()) return std::nullopt;
        return std::move(version).value();
      }());
  return cell.get() ? &*cell.get() : nullptr;
}

Compiled select_builtin(const NextSegment& next) {
  const Compiled& v5010 = shared_builtin_835();
  if (!v5010.ok()) return v5010;
  // The 4010 spec is compiled only once a file declares it.
  const std::optional<DeclaredVersion>* v4010 = builtin_835_4010_version();
  if (v4010 == nullptr) {
    const Compiled& compiled = shared_builtin_835_4010();
    if (!compiled.ok()) return compiled;
    v4010 = &compiled.value()->version;
  }
  const std::optional<DeclaredVersion>& v5010_version = v5010.value()->version;
  const DeclaredVersion* versions[] = {v5010_version ? &*v5010_version : nullptr,
                                       *v4010 ? &**v4010 : nullptr};
  if (select_version(versions, next) != std::optional<std::size_t>(1)) return v5010.value();
  return shared_builtin_835_4010();
}

}  // namespace zarvi_core::spec
