#include "zarvi_core/spec/elements.h"

#include <algorithm>
#include <charconv>

#include "zarvi_core/spec/compile.h"

namespace zarvi_core::spec {
namespace {

constexpr uint64_t kMaxScale = 18;
constexpr uint8_t kDefaultScale = 2;

// A code's length: its bytes, or for numeric types its ASCII digits.
uint64_t code_length(std::string_view code, const ElementType& type) {
  if (!type.is_numeric()) return code.size();
  return static_cast<uint64_t>(
      std::count_if(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

// `names` maps each name used by an earlier member of the same map to its key.
Result<ElementDef, ElementDefError> compile_element(
    const RawElement& raw, const std::string& key, bool is_component,
    std::map<std::string_view, std::string_view>& names) {
  if (!parse_position(key)) return err(ElementDefError::NonCanonicalPosition{});
  if (raw.name.empty()) return err(ElementDefError::EmptyName{});
  if (auto [it, fresh] = names.emplace(raw.name, key); !fresh) {
    return err(ElementDefError::DuplicateName{raw.name, std::string(it->second)});
  }
  std::optional<ElementType> type = parse_element_type(raw.type);
  if (!type) return err(ElementDefError::UnknownType{raw.type});
  if (type->kind != ElementType::Kind::R) {
    if (raw.scale) return err(ElementDefError::ScaleWithoutR{raw.type});
  } else {
    const uint64_t scale = raw.scale.value_or(kDefaultScale);
    if (scale > kMaxScale) return err(ElementDefError::ScaleAboveMaximum{scale, kMaxScale});
    type->scale = static_cast<uint8_t>(scale);
  }
  if (raw.max && *raw.max == 0) return err(ElementDefError::ZeroMax{});
  if (raw.min && raw.max && *raw.min > *raw.max) {
    return err(ElementDefError::MinAboveMax{*raw.min, *raw.max});
  }
  ElementDef def{raw.name, *type, raw.required, raw.min, raw.max, {}, std::nullopt};
  if (raw.codes) {
    if (raw.composite) return err(ElementDefError::CodesOnComposite{});
    if (type->is_numeric()) return err(ElementDefError::CodesOnNumeric{raw.type});
    auto codes = compile_codes(*raw.codes, *type, raw.min, raw.max);
    if (!codes.ok()) return err(std::move(codes).error());
    def.codes = std::move(codes).value();
  }
  if (raw.composite) {
    if (is_component) return err(ElementDefError::NestedComposite{});
    if (type->kind != ElementType::Kind::AN)
      return err(ElementDefError::CompositeOnNonAn{raw.type});
  }
  return def;
}

}  // namespace

bool ElementDef::rejects_code(std::string_view value) const {
  if (codes.empty()) return false;
  return !std::binary_search(codes.begin(), codes.end(), value, std::less<>());
}

std::optional<uint64_t> parse_position(std::string_view text) {
  if (text.empty() || text.front() == '0') return std::nullopt;
  uint64_t n = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, n);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return n;
}

Result<std::vector<std::string>, ElementDefError> compile_codes(
    const std::vector<std::string>& codes, const ElementType& type, std::optional<uint64_t> min,
    std::optional<uint64_t> max) {
  if (codes.empty()) return err(ElementDefError::EmptyCodes{});
  // Index of each code by its text, to name the first of a repeated pair.
  std::map<std::string_view, std::size_t> seen;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const std::string& code = codes[i];
    if (code.empty()) return err(ElementDefError::EmptyCode{i});
    const uint64_t length = code_length(code, type);
    if ((min && length < *min) || (max && length > *max)) {
      return err(ElementDefError::CodeLength{code, i, length, min, max});
    }
    auto [it, inserted] = seen.emplace(code, i);
    if (!inserted) return err(ElementDefError::DuplicateCode{code, it->second, i});
  }
  std::vector<std::string> out;
  out.reserve(seen.size());
  for (const auto& entry : seen) out.emplace_back(entry.first);
  return out;
}

Result<std::map<uint64_t, ElementDef>, SpecError> compile_elements(
    std::string_view segment, const std::map<std::string, RawElement>& elements,
    std::optional<std::string_view> parent) {
  std::map<uint64_t, ElementDef> out;
  std::map<std::string_view, std::string_view> names;
  for (const auto& [key, raw] : elements) {
    auto wrap = [&](ElementDefError reason) {
      std::string position = parent ? std::string(*parent) + ".composite." + key : key;
      return SpecError(
          SpecError::BadElementDef{std::string(segment), std::move(position), std::move(reason)});
    };
    auto def = compile_element(raw, key, parent.has_value(), names);
    if (!def.ok()) return err(wrap(std::move(def).error()));
    if (raw.composite) {
      auto components = compile_elements(segment, *raw.composite, key);
      if (!components.ok()) return err(std::move(components).error());
      def->composite = std::move(components).value();
    }
    out.emplace(*parse_position(key), std::move(def).value());
  }
  return out;
}

const ElementDef* find_element(const SegmentMap& segments, std::string_view segment,
                               uint64_t element, std::optional<uint64_t> component) {
  auto seg = segments.find(segment);
  if (seg == segments.end()) return nullptr;
  auto el = seg->second.elements.find(element);
  if (el == seg->second.elements.end()) return nullptr;
  if (!component) return &el->second;
  if (!el->second.composite) return nullptr;
  auto comp = el->second.composite->find(*component);
  return comp == el->second.composite->end() ? nullptr : &comp->second;
}

}  // namespace zarvi_core::spec
