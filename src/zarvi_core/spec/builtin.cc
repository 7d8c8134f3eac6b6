#include "zarvi_core/spec/builtin.h"

#include <string_view>

namespace zarvi_core::spec {

namespace {
#include "builtin_texts.inc"
}  // namespace

std::string_view builtin_835_text() { return kSpec835; }
std::string_view builtin_835_4010_patch_text() { return kPatch835_4010; }
std::string_view edi_835_parser_patch_text() { return kPatchEdi835Parser; }

Result<Spec, SpecError> Spec::builtin_835() { return Spec::from_json(builtin_835_text()); }

Result<Spec, SpecError> Spec::builtin_835_4010() {
  auto base = builtin_835();
  if (!base.ok()) return err(std::move(base.error()));
  return base.value().merge_patch(builtin_835_4010_patch_text());
}

namespace {

Result<SharedSpec, SpecError> share(Result<Spec, SpecError> compiled) {
  if (!compiled.ok()) return err(std::move(compiled.error()));
  return SharedSpec(std::make_shared<const Spec>(std::move(compiled.value())));
}

}  // namespace

const Result<SharedSpec, SpecError>& shared_builtin_835() {
  static const Result<SharedSpec, SpecError> cell = share(Spec::builtin_835());
  return cell;
}

const Result<SharedSpec, SpecError>& shared_builtin_835_4010() {
  static const Result<SharedSpec, SpecError> cell = [] () -> Result<SharedSpec, SpecError> {
    const auto& base = shared_builtin_835();
    if (!base.ok()) return err(base.error());
    return share(base.value()->merge_patch(builtin_835_4010_patch_text()));
  }();
  return cell;
}

Result<SharedSpec, SpecError> select_builtin(const NextSegment& next) {
  const auto& v5010 = shared_builtin_835();
  if (!v5010.ok()) return err(v5010.error());
  const auto& v4010 = shared_builtin_835_4010();
  if (!v4010.ok()) return err(v4010.error());
  const SharedSpec candidates[] = {v5010.value(), v4010.value()};
  return Spec::select(candidates, v5010.value(), next);
}

}  // namespace zarvi_core::spec
