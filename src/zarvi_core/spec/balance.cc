#include "zarvi_core/spec/balance.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/balance_error.h"
#include "zarvi_core/spec/compile.h"
#include "zarvi_core/spec/loop_index.h"
#include "zarvi_core/spec/raw.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/spec/shape.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {



namespace {

using json = nlohmann::json;
using K = BalanceError::Kind;

// The place of one balancing value: CLP03, SVC01-2.
std::string term_place(const Spec& spec, const BalanceTerm& term, uint64_t element) {
  const OccurrenceDef& o = spec.loops[term.loop].occurrences[term.occurrence];
  return element_place(o.segment, element, term.component);
}

BalanceError balance_error(BalanceError::Kind kind, std::string path) {
  BalanceError e;
  e.kind = kind;
  e.path = std::move(path);
  return e;
}

Err<SpecError> bad_balance(const std::string& rule, BalanceError reason) {
  return err(SpecError(SpecError::BadBalance{rule, std::move(reason)}));
}

// One value a rule reads.
struct Seen {
  LoopId loop;
  std::size_t occurrence;
  uint64_t element;
  std::optional<uint64_t> component;
  friend auto operator<=>(const Seen&, const Seen&) = default;
};

}  // namespace

Result<Unit, SpecError> check_balancing_shape(const json& value) {
  auto section = object_at(value, "balancing");
  if (!section.ok()) return err(std::move(section.error()));
  for (const auto& [name, rule_value] : *section.value()) {
    const std::string rule_path = child("balancing", name);
    auto rule = object_at(rule_value, rule_path);
    if (!rule.ok()) return err(std::move(rule.error()));
    const json::object_t& rule_map = *rule.value();
    if (auto r = check_keys(rule_map, rule_path, {"per", "target", "sum"}, {"per", "target", "sum"});
        !r.ok())
      return r;
    if (auto r = check_member(rule_map, rule_path, "per", LeafKind::String, false); !r.ok())
      return r;
    for (const char* side : {"target", "sum"}) {
      const std::string side_path = child(rule_path, side);
      const json& terms = rule_map.at(side);
      if (!terms.is_array())
        return err(SpecError::WrongType{side_path, "an array of objects", found_text(terms),
                                        render_value(terms)});
      for (std::size_t i = 0; i < terms.size(); ++i) {
        const std::string term_path = side_path + "[" + std::to_string(i) + "]";
        auto term = object_at(terms[i], term_path);
        if (!term.ok()) return err(std::move(term.error()));
        const json::object_t& term_map = *term.value();
        if (auto r = check_keys(term_map, term_path,
                                {"loop", "occurrence", "elements", "component", "sign"},
                                {"occurrence", "elements"});
            !r.ok())
          return r;
        for (const auto& [key, kind] : {std::pair{"loop", LeafKind::String},
                                        std::pair{"occurrence", LeafKind::String},
                                        std::pair{"component", LeafKind::Count},
                                        std::pair{"sign", LeafKind::String}})
          if (auto r = check_member(term_map, term_path, key, kind, false); !r.ok()) return r;
        if (auto r = check_array(term_map.at("elements"), child(term_path, "elements"),
                                 "an array of non-negative integers", LeafKind::Count);
            !r.ok())
          return r;
      }
    }
  }
  return Unit{};
}

Result<std::vector<BalanceRule>, SpecError> compile_balancing(const Spec& spec,
                                                              const LoopIndex& index,
                                                              const json* balancing) {
  std::vector<BalanceRule> rules;
  if (balancing == nullptr || !balancing->is_object()) return rules;
  for (const auto& [name, value] : balancing->items()) {
    auto fail = [&](BalanceError reason) { return bad_balance(name, std::move(reason)); };
    auto decoded = decode_balance(value);
    if (!decoded.ok())
      return err(SpecError(SpecError::BalanceSchema{name, std::move(decoded.error())}));
    const RawBalance& raw = decoded.value();
    if (name.empty()) return fail(balance_error(K::EmptyName, ""));
    BalanceRule rule;
    rule.name = name;
    const std::string& per_name = raw.per;
    std::optional<LoopId> per = spec.loop_id(per_name);
    if (!per) {
      BalanceError e = balance_error(K::UnknownLoop, "per");
      e.loop = per_name;
      return fail(std::move(e));
    }
    rule.per = *per;
    // Each value read so far, with the path of its first reading.
    std::map<Seen, std::string> seen;
    for (const char* side : {"target", "sum"}) {
      const bool is_target = std::string_view(side) == "target";
      const std::vector<RawTerm>& terms = is_target ? raw.target : raw.sum;
      if (terms.empty()) return fail(balance_error(K::NoTerms, side));
      std::vector<BalanceTerm>& out = is_target ? rule.target : rule.sum;
      for (std::size_t i = 0; i < terms.size(); ++i) {
        const RawTerm& t = terms[i];
        std::string path = std::string(side) + "[" + std::to_string(i) + "]";
        BalanceTerm term;
        term.loop = *per;
        if (t.loop) {
          const std::string& loop_name = *t.loop;
          std::optional<LoopId> l = spec.loop_id(loop_name);
          BalanceError e = balance_error(K::UnknownLoop, path + ".loop");
          e.loop = loop_name;
          if (!l) return fail(std::move(e));
          if (*l != *per && !index.encloses(*per, *l)) {
            e.kind = K::LoopOutsidePer;
            e.per = per_name;
            return fail(std::move(e));
          }
          term.loop = *l;
        }
        const LoopDef& loop = spec.loops[term.loop];
        const std::string& occurrence = t.occurrence;
        const std::optional<std::size_t> at = index.occurrence(term.loop, occurrence);
        if (!at) {
          BalanceError e = balance_error(K::UnknownOccurrence, path + ".occurrence");
          e.occurrence = occurrence;
          e.loop = loop.name;
          return fail(std::move(e));
        }
        term.occurrence = *at;
        const OccurrenceDef* found = &loop.occurrences[*at];
        term.component = t.component;
        if (t.elements.empty()) return fail(balance_error(K::NoElements, path + ".elements"));
        for (std::size_t j = 0; j < t.elements.size(); ++j) {
          const uint64_t position = t.elements[j];
          std::string element_path = path + ".elements[" + std::to_string(j) + "]";
          BalanceError e = balance_error(K::UndefinedElement, element_path);
          e.place = element_place(found->segment, position, term.component);
          const ElementDef* def = spec.element_def(found->segment, position, term.component);
          if (def == nullptr) return fail(std::move(e));
          if (def->type.kind != ElementType::Kind::R || def->composite) {
            e.kind = K::NotDecimal;
            e.type = type_code(def->type);
            return fail(std::move(e));
          }
          const auto [earlier, fresh] =
              seen.try_emplace({term.loop, term.occurrence, position, term.component}, element_path);
          if (!fresh) {
            e.kind = K::RepeatedValue;
            e.earlier = earlier->second;
            return fail(std::move(e));
          }
          rule.scale = std::max(rule.scale, def->type.scale);
          term.elements.push_back(position);
        }
        if (t.sign) {
          const std::string& sign = *t.sign;
          if (sign != "+" && sign != "-") {
            BalanceError e = balance_error(K::UnknownSign, path + ".sign");
            e.sign = sign;
            return fail(std::move(e));
          }
          term.negative = sign == "-";
        }
        out.push_back(std::move(term));
      }
    }
    rules.push_back(std::move(rule));
  }
  return rules;
}

std::string render_terms(const Spec& spec, LoopId per, const std::vector<BalanceTerm>& terms) {
  std::string out;
  for (std::size_t i = 0; i < terms.size(); ++i) {
    const BalanceTerm& term = terms[i];
    if (i == 0) {
      if (term.negative) out += "- ";
    } else {
      out += term.negative ? " - " : " + ";
    }
    const LoopDef& loop = spec.loops[term.loop];
    const OccurrenceDef& o = loop.occurrences[term.occurrence];
    bool single = term.loop == per && o.max == std::optional<uint64_t>(1) && term.elements.size() == 1;
    if (!single) out += "sum ";
    for (std::size_t j = 0; j < term.elements.size(); ++j) {
      if (j > 0) out += ", ";
      out += term_place(spec, term, term.elements[j]);
    }
    out += " of ";
    out += render_key(loop.name);
    out += " ";
    out += quote_name(o.name);
  }
  return out;
}

}  // namespace zarvi_core::spec
