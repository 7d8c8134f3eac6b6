// Diagnostics: every problem that reading finds in the data, as a plain value
// with its rule (21 kinds, each with its data and one sentence), SNIP level,
// position and open loops. Diagnostics own all their data (deep copies); none
// borrows from the input. Bytes in sentences are quoted by quote_bytes
// (text.h) and element places written by element_place (text.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zarvi_core/element_type.h"
#include "zarvi_core/int128.h"

namespace zarvi_core {

// A SNIP level stored as the level minus one (0, 1 or 2 for levels 1 to 3).
struct SnipLevel {
  uint8_t value = 0;

  static constexpr SnipLevel of_level(uint8_t level) { return SnipLevel{uint8_t(level - 1)}; }
  constexpr int level() const { return value + 1; }
  friend bool operator==(SnipLevel, SnipLevel) = default;
};

// "SNIP 1", "SNIP 2", "SNIP 3".
std::string to_string(SnipLevel level);

// One open loop instance: the loop's name and its 1-based ordinal among the
// instances of that loop in the stream.
struct LoopRef {
  std::string key;
  uint64_t instance = 0;
  friend bool operator==(const LoopRef&, const LoopRef&) = default;
};

// "{key}#{instance}", the key written by render_key.
std::string to_string(const LoopRef& loop);
void append_loop(std::string& out, const LoopRef& loop);

// An element place: segment id (bytes), 1-based element and component.
struct ElementRef {
  std::string id;
  uint64_t element = 0;
  std::optional<uint64_t> component;
  friend bool operator==(const ElementRef&, const ElementRef&) = default;
};

// CLP02, SVC01-2, CLP123 (element_place).
std::string to_string(const ElementRef& place);

// Rule kinds, numbered 0 to 20 in this order.
enum class RuleKind : uint8_t {
  ByteOrderMark,
  UnknownSegment,
  ImplicitLoop,
  UnterminatedLoop,
  ControlCountMismatch,
  ControlElementMissing,
  ControlNumberMismatch,
  RequiredElementMissing,
  TypeMismatch,
  LengthOutOfRange,
  ValueDropped,
  CompositeShape,
  CodeNotInList,
  RequiredOccurrenceMissing,
  OccurrenceOverMax,
  LoopOverMax,
  OutOfOrder,
  UnknownOccurrence,
  RequiredLoopMissing,
  BalanceMismatch,
  External,
};

inline constexpr size_t kRuleKinds = 21;

// The kind's name: "ByteOrderMark" ... "External".
std::string_view kind_name(RuleKind kind);

// What failed, with its data. Names (loops, occurrences, elements, tables,
// columns) are text; ids, codes and values are bytes as in the file;
// `opened_at` is the index of the segment that opened the loop instance.
struct Rule {
  struct ByteOrderMark {};
  struct UnknownSegment {
    std::string id;
  };
  struct ImplicitLoop {
    std::string loop;
    std::string trigger;
    std::string id;
  };
  struct UnterminatedLoop {
    std::string loop;
    std::optional<uint64_t> opened_at;
    std::string end_id;
  };
  struct ControlCountMismatch {
    ElementRef place;
    std::string declared;
    uint64_t count = 0;
  };
  struct ControlElementMissing {
    ElementRef place;
    uint64_t position = 0;
  };
  struct ControlNumberMismatch {
    ElementRef closer;
    std::string closer_value;
    ElementRef opener;
    std::string opener_value;
    std::optional<uint64_t> opened_at;
  };
  struct RequiredElementMissing {
    ElementRef place;
    std::string name;
  };
  struct TypeMismatch {
    ElementRef place;
    std::string name;
    ElementType type;
  };
  struct LengthOutOfRange {
    ElementRef place;
    std::string name;
    uint64_t length = 0;
    std::optional<uint64_t> min;
    std::optional<uint64_t> max;
  };
  struct ValueDropped {
    std::string column;
    std::string table;
    uint64_t size = 0;
  };
  struct CompositeShape {
    ElementRef place;
    std::string name;
    uint64_t found = 0;
    uint64_t declared = 0;
  };
  struct CodeNotInList {
    ElementRef place;
    std::string name;
    std::vector<std::string> codes;
    std::optional<std::string> occurrence;
  };
  struct RequiredOccurrenceMissing {
    std::string loop;
    std::optional<uint64_t> opened_at;
    std::string occurrence;
    std::string selector;
  };
  struct OccurrenceOverMax {
    std::string occurrence;
    std::string selector;
    std::string loop;
    uint64_t count = 0;
    uint64_t max = 0;
  };
  struct LoopOverMax {
    std::string loop;
    uint64_t count = 0;
    std::optional<std::string> parent;
    uint64_t max = 0;
  };
  struct OutOfOrder {
    std::string occurrence;
    uint64_t position = 0;
    std::string loop;
    std::string earlier;
    uint64_t earlier_position = 0;
    std::string earlier_loop;
  };
  struct UnknownOccurrence {
    std::string id;
    std::vector<std::string> occurrences;
    std::string loop;
    ElementRef qualifier;
  };
  struct RequiredLoopMissing {
    std::string loop;
    std::optional<uint64_t> opened_at;
    std::string child;
    std::string trigger;
  };
  struct BalanceMismatch {
    std::string rule;
    std::string loop;
    std::optional<uint64_t> opened_at;
    std::string target_terms;
    i128 target = 0;
    std::string sum_terms;
    i128 sum = 0;
    uint8_t scale = 0;
    std::vector<uint64_t> segments;
  };
  struct External {
    std::string message;
    std::string origin;
    std::optional<std::string> code;
    SnipLevel level;
  };

  // Alternatives in RuleKind order: the index is the kind.
  using Data = std::variant<ByteOrderMark, UnknownSegment, ImplicitLoop, UnterminatedLoop,
                            ControlCountMismatch, ControlElementMissing, ControlNumberMismatch,
                            RequiredElementMissing, TypeMismatch, LengthOutOfRange, ValueDropped,
                            CompositeShape, CodeNotInList, RequiredOccurrenceMissing,
                            OccurrenceOverMax, LoopOverMax, OutOfOrder, UnknownOccurrence,
                            RequiredLoopMissing, BalanceMismatch, External>;
  Data data;

  RuleKind kind() const { return static_cast<RuleKind>(data.index()); }
  // The level every reporter gives this kind; External carries its own.
  SnipLevel level() const;
};

// The rule's sentence.
std::string to_string(const Rule& rule);
void append_rule(std::string& out, const Rule& rule);

struct Diagnostic {
  std::optional<uint64_t> segment;  // none at the end of the stream
  std::optional<uint64_t> element;
  std::optional<uint64_t> component;
  Rule rule;
  std::vector<LoopRef> loops;  // outermost first
  std::string datum;           // the offending bytes as in the file
  SnipLevel level;  // rule.level() for every reported diagnostic
};

// The open loops joined by "/", empty at the root.
std::string render_path(const std::vector<LoopRef>& loops);

// The one-line form: "SNIP 2 · {sentence} · segment #4, element 2 · at
// transaction#1/2100#3 · datum \"X\"".
std::string to_string(const Diagnostic& d);

// A diagnostic with the level of its rule and, as its loops, the open
// instances `open` (each with a `loop` and an `ordinal`), outermost first;
// `name_of(loop)` gives a loop's name.
template <class Open, class NameOf>
Diagnostic diagnostic_at(Rule rule, std::optional<uint64_t> segment,
                         std::optional<uint64_t> element, std::optional<uint64_t> component,
                         std::string_view datum, std::span<const Open> open,
                         const NameOf& name_of) {
  Diagnostic d;
  d.segment = segment;
  d.element = element;
  d.component = component;
  d.loops.reserve(open.size());
  for (const Open& o : open) d.loops.push_back(LoopRef{std::string(name_of(o.loop)), o.ordinal});
  d.datum.assign(datum);
  d.level = rule.level();
  d.rule = std::move(rule);
  return d;
}

}  // namespace zarvi_core
