#include "zarvi_core/project.h"

#include <algorithm>
#include <limits>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/text.h"

namespace zarvi_core::project {

namespace {

using engine::Event;

void bump(uint64_t& counter) {
  if (counter != std::numeric_limits<uint64_t>::max()) ++counter;
}

bool valid_for_type(std::string_view text, spec::ElementType type) {
  using K = spec::ElementType::Kind;
  switch (type.kind) {
    case K::AN:
    case K::ID:
      return true;
    case K::N:
      return column::parse_int64(text).has_value();
    case K::R:
      return column::parse_r(text, type.scale).has_value();
    case K::DT:
      return column::civil_date(text).has_value();
    case K::TM:
      return column::parse_tm(text).has_value();
  }
  return true;
}

// Numbers count their digits only (sign and point do not count).
uint64_t value_length(std::string_view text, spec::ElementType type) {
  using K = spec::ElementType::Kind;
  if (type.kind != K::N && type.kind != K::R) return text.size();
  return static_cast<uint64_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

}  // namespace

Projector::Projector(const spec::Spec& spec, const Delimiters& delimiters)
    : spec_(&spec),
      component_(delimiters.component),
      plans_(spec),
      ordinals_(spec.loops.size(), 0) {}

const std::vector<Diagnostic>& Projector::on(std::span<const Event> events,
                                             const Segment& segment) {
  diagnostics_.clear();
  matched_.reset();
  for (const Event& event : events) {
    switch (event.kind) {
      case Event::Kind::Open:
        if (event.loop < ordinals_.size()) {
          bump(ordinals_[event.loop]);
          open_.push_back(OpenLoop{event.loop, ordinals_[event.loop]});
        }
        break;
      case Event::Kind::Close:
        if (!open_.empty()) open_.pop_back();
        break;
      case Event::Kind::Segment:
        on_placed(event.loop, segment);
        break;
      case Event::Kind::Unplaced:
      case Event::Kind::Empty:
        break;
    }
  }
  return diagnostics_;
}

void Projector::on_placed(LoopId loop, const Segment& segment) {
  const SegmentPlan* plan = plans_.get(segment.id());
  if (plan == nullptr) return;
  if (loop < plan->candidates.size()) {
    for (const Candidate& c : plan->candidates[loop]) {
      if (c.qualifier == nullptr || c.qualifier->matches(segment.elements())) {
        matched_ = c.occurrence;
        matched_loop_ = loop;
        break;
      }
    }
  }
  check_elements(*plan, segment);
}

void Projector::check_elements(const SegmentPlan& plan, const Segment& segment) {
  for (const ElementPlan& element : plan.elements) {
    if (element.def->composite) {
      check_composite(element, segment);
      continue;
    }
    std::string_view text =
        segment.text(element.position, component_, text_buffer_).value_or(std::string_view());
    check_value(text, *element.def, segment, element.position, std::nullopt);
  }
}

void Projector::check_composite(const ElementPlan& plan, const Segment& segment) {
  // A simple data element counts as a composite of one component.
  const Element* e = segment.element(plan.position);
  std::span<const Bytes> parts;
  std::string_view single;
  size_t present = 0;
  bool any = false;
  if (e != nullptr && e->is_composite()) {
    parts = e->components();
    present = parts.size();
    for (const Bytes& p : parts) any = any || !p.view().empty();
  } else if (e != nullptr) {
    single = e->value();
    present = 1;
    any = !single.empty();
  }
  auto component = [&](uint64_t c) -> std::string_view {
    if (c == 0 || c > present) return {};
    return e->is_composite() ? parts[c - 1].view() : single;
  };
  if (!any) {
    if (plan.def->required)
      report(Rule{Rule::RequiredElementMissing{
                 ElementRef{std::string(segment.id()), plan.position, std::nullopt},
                 plan.def->name}},
             segment, plan.position, std::nullopt, {});
    return;
  }
  if (present > plan.declared_components) {
    const uint64_t extra = plan.declared_components + 1;
    report(Rule{Rule::CompositeShape{ElementRef{std::string(segment.id()), plan.position, extra},
                                     plan.def->name, present, plan.declared_components}},
           segment, plan.position, extra, component(extra));
  }
  for (const ComponentPlan& c : plan.components)
    check_value(component(c.position), *c.def, segment, plan.position, c.position);
}

void Projector::check_value(std::string_view text, const spec::ElementDef& def,
                            const Segment& segment, uint64_t element,
                            std::optional<uint64_t> component) {
  auto here = [&] { return ElementRef{std::string(segment.id()), element, component}; };
  if (text.empty()) {
    if (def.required)
      report(Rule{Rule::RequiredElementMissing{here(), def.name}}, segment, element, component,
             text);
    return;
  }
  if (!valid_for_type(text, def.type)) {
    report(Rule{Rule::TypeMismatch{here(), def.name, def.type}}, segment, element, component,
           text);
    return;
  }
  const uint64_t length = value_length(text, def.type);
  if ((def.min && length < *def.min) || (def.max && length > *def.max)) {
    report(Rule{Rule::LengthOutOfRange{here(), def.name, length, def.min, def.max}}, segment,
           element, component, text);
    return;
  }
  const std::vector<std::string>* codes = &def.codes;
  const spec::OccurrenceDef* own = nullptr;
  if (matched_ && matched_loop_ < spec_->loops.size() &&
      *matched_ < spec_->loops[matched_loop_].occurrences.size()) {
    const spec::OccurrenceDef& occ = spec_->loops[matched_loop_].occurrences[*matched_];
    auto it = occ.codes.find({element, component});
    if (it != occ.codes.end()) {
      codes = &it->second;
      own = &occ;
    }
  }
  if (codes->empty() || std::binary_search(codes->begin(), codes->end(), text)) return;
  std::optional<std::string> occurrence;
  if (own != nullptr) occurrence = own->name;
  report(Rule{Rule::CodeNotInList{here(), def.name, *codes, std::move(occurrence)}}, segment,
         element, component, text);
}

void Projector::report(Rule rule, const Segment& segment, uint64_t element,
                       std::optional<uint64_t> component, std::string_view datum) {
  diagnostics_.push_back(engine::diagnostic_at(*spec_, std::move(rule), segment.index(), element,
                                                component, datum,
                                                std::span<const OpenLoop>(open_)));
}

const std::vector<Diagnostic>& Projector::finish() {
  diagnostics_.clear();
  open_.clear();
  matched_.reset();
  std::fill(ordinals_.begin(), ordinals_.end(), 0);
  return diagnostics_;
}

void Projector::take_rows(std::vector<column::Table>& out) {
  for (column::Table& table : tables_) out.push_back(table.take_rows());
}

}  // namespace zarvi_core::project
