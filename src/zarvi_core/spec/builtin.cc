#include "zarvi_core/spec/builtin.h"

#include <string_view>

namespace zarvi_core::spec {

namespace {
#include "builtin_texts.inc"
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
// concurrent caller waits for it.
const Compiled& shared_builtin_835() {
  static const Compiled cell = Spec::builtin_835();
  return cell;
}

const Compiled& shared_builtin_835_4010() {
  static const Compiled cell = []() -> Compiled {
    const Compiled& base = shared_builtin_835();
    if (!base.ok()) return err(base.error());
    return base.value()->merge_patch(builtin_835_4010_patch_text());
  }();
  return cell;
}

Compiled select_builtin(const NextSegment& next) {
  const Compiled& v5010 = shared_builtin_835();
  if (!v5010.ok()) return v5010;
  const Compiled& v4010 = shared_builtin_835_4010();
  if (!v4010.ok()) return v4010;
  const SpecPtr candidates[] = {v5010.value(), v4010.value()};
  return Spec::select(candidates, v5010.value(), next);
}

}  // namespace zarvi_core::spec
