#include "zarvi_core/spec/version.h"

#include <algorithm>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {

VersionMatch DeclaredVersion::matches(const Segment& seg) const {
  if (seg.id() != segment) return VersionMatch::NotThisSegment;
  const Element* e = seg.element(element);
  if (e == nullptr || e->is_composite()) return VersionMatch::Mismatch;
  bool listed = std::find(values.begin(), values.end(), e->value()) != values.end();
  return listed ? VersionMatch::Match : VersionMatch::Mismatch;
}

namespace {

Err<VersionError> version_error(VersionError::Kind kind, std::string value = {},
                                std::size_t first = 0, std::size_t second = 0) {
  VersionError e;
  e.kind = kind;
  e.value = std::move(value);
  e.first = first;
  e.second = second;
  return err(std::move(e));
}

}  // namespace

Result<DeclaredVersion, VersionError> compile_version(std::string segment, uint64_t element,
                                                      const std::vector<std::string>& values) {
  using K = VersionError::Kind;
  if (element == 0) return version_error(K::ZeroElement);
  if (values.empty()) return version_error(K::NoValues);
  for (std::size_t i = 0; i < values.size(); ++i)
    if (values[i].empty()) return version_error(K::EmptyValue, {}, i);
  for (std::size_t i = 1; i < values.size(); ++i) {
    auto earlier = std::find(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(i),
                             values[i]);
    if (earlier != values.begin() + static_cast<std::ptrdiff_t>(i))
      return version_error(K::DuplicateValue, values[i],
                           static_cast<std::size_t>(earlier - values.begin()), i);
  }
  return DeclaredVersion{std::move(segment), element, values};
}

std::optional<std::size_t> select_version(std::span<const DeclaredVersion* const> candidates,
                                          const NextSegment& next) {
  enum class State : uint8_t { Undecided, Matched, Out };
  std::vector<State> state(candidates.size());
  for (std::size_t i = 0; i < candidates.size(); ++i)
    state[i] = candidates[i] != nullptr ? State::Undecided : State::Out;
  auto first = [&](auto&& pred) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < state.size(); ++i)
      if (pred(state[i])) return i;
    return std::nullopt;
  };
  for (;;) {
    // An undecided earlier candidate holds back a matched later one.
    std::optional<std::size_t> lead = first([](State s) { return s != State::Out; });
    if (!lead) return std::nullopt;
    if (state[*lead] == State::Matched) return lead;
    std::optional<Segment> seg = next();
    if (!seg) return first([](State s) { return s == State::Matched; });
    for (std::size_t i = 0; i < state.size(); ++i) {
      if (state[i] != State::Undecided) continue;
      switch (candidates[i]->matches(*seg)) {
        case VersionMatch::NotThisSegment:
          break;
        case VersionMatch::Match:
          state[i] = State::Matched;
          break;
        case VersionMatch::Mismatch:
          state[i] = State::Out;
          break;
      }
    }
  }
}

SpecPtr Spec::select(std::span<const SpecPtr> candidates, SpecPtr fallback,
                     const NextSegment& next) {
  std::vector<const DeclaredVersion*> versions;
  versions.reserve(candidates.size());
  for (const SpecPtr& c : candidates) versions.push_back(c && c->version ? &*c->version : nullptr);
  const std::optional<std::size_t> chosen = select_version(versions, next);
  return chosen ? candidates[*chosen] : std::move(fallback);
}

}  // namespace zarvi_core::spec
