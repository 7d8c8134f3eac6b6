// Diagnostics: every problem that reading finds in the data, as a plain value
// with its rule (21 kinds, each with its data and one sentence), SNIP level,
// position and open loops. Diagnostics own or share all their data; none
// borrows from the input. Names, lists and texts of the spec are shared with
// the spec (Shared keeps it alive), never copied per diagnostic. Bytes in
// sentences are quoted by quote_bytes (text.h) and element places written by
// element_place (text.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "zarvi_core/element_type.h"
#include "zarvi_core/int128.h"
#include "zarvi_core/never_destroyed.h"
#include "zarvi_core/shared.h"

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
  SharedText key;
  uint64_t instance = 0;
  friend bool operator==(const LoopRef&, const LoopRef&) = default;
};

// "{key}#{instance}", the key written by render_key.
std::string to_string(const LoopRef& loop);
void append_loop(std::string& out, const LoopRef& loop);

// The open loops of a diagnostic, outermost first: immutable, and shared by
// the diagnostics reported while the same loops are open, so that millions
// of findings in one place hold one path.
class LoopPath {
 public:
  LoopPath() = default;
  LoopPath(std::vector<LoopRef> loops)
      : loops_(loops.empty() ? nullptr
                             : std::make_shared<const std::vector<LoopRef>>(std::move(loops))) {}
  // Out of line: inlined, GCC 12 warns of a free of a non-heap object in the
  // cleanup of the list's vector.
  LoopPath(std::initializer_list<LoopRef> loops);

  const std::vector<LoopRef>& get() const noexcept { return loops_ ? *loops_ : kNone.get(); }
  operator const std::vector<LoopRef>&() const noexcept { return get(); }
  bool empty() const noexcept { return get().empty(); }
  size_t size() const noexcept { return get().size(); }
  const LoopRef& operator[](size_t i) const { return get()[i]; }
  auto begin() const noexcept { return get().begin(); }
  auto end() const noexcept { return get().end(); }
  friend bool operator==(const LoopPath& a, const LoopPath& b) { return a.get() == b.get(); }

 private:
  // Never destroyed: paths are read on other threads while exit() destroys
  // statics.
  static inline const NeverDestroyed<std::vector<LoopRef>> kNone;
  std::shared_ptr<const std::vector<LoopRef>> loops_;
};

// An index or position that may be absent, in eight bytes where
// std::optional<uint64_t> takes sixteen: the largest value stands for none.
class Position {
 public:
  constexpr Position() = default;
  constexpr Position(std::nullopt_t) {}
  constexpr Position(uint64_t value) : value_(value) {}
  constexpr Position(std::optional<uint64_t> value) : value_(value.value_or(kNone)) {}

  constexpr bool has_value() const { return value_ != kNone; }
  constexpr explicit operator bool() const { return has_value(); }
  constexpr uint64_t operator*() const { return value_; }
  constexpr uint64_t value_or(uint64_t otherwise) const { return has_value() ? value_ : otherwise; }
  constexpr operator std::optional<uint64_t>() const {
    return has_value() ? std::optional<uint64_t>(value_) : std::nullopt;
  }
  friend constexpr bool operator==(Position, Position) = default;

  static constexpr uint64_t kNone = UINT64_MAX;

 private:
  uint64_t value_ = kNone;
};

// An element place: segment id (bytes), 1-based element and component.
struct ElementRef {
  SharedText id;
  uint64_t element = 0;
  Position component;
  friend bool operator==(const ElementRef&, const ElementRef&) = default;
};

// CLP02, SVC01-2, CLP123 (element_place).
std::string to_string(const ElementRef& place);

// A value kept on the heap, so that a variant of rare, large alternatives
// stays as small as its common ones. Copies are deep; a moved-from box is
// only assigned or destroyed.
template <class T>
class Boxed {
 public:
  Boxed(T value) : p_(std::make_unique<T>(std::move(value))) {}
  Boxed(const Boxed& o) : p_(std::make_unique<T>(*o.p_)) {}
  Boxed& operator=(const Boxed& o) {
    if (this != &o) p_ = std::make_unique<T>(*o.p_);
    return *this;
  }
  Boxed(Boxed&&) noexcept = default;
  Boxed& operator=(Boxed&&) noexcept = default;
  const T& operator*() const noexcept { return *p_; }
  const T* operator->() const noexcept { return p_.get(); }

 private:
  std::unique_ptr<T> p_;
};

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
// What comes from the spec is shared (Shared); values of the file are owned,
// but for the id in an element place, which a segment's findings share.
struct Rule {
  struct ByteOrderMark {};
  struct UnknownSegment {
    std::string id;
  };
  struct ImplicitLoop {
    SharedText loop;
    SharedText trigger;
    std::string id;
  };
  struct UnterminatedLoop {
    SharedText loop;
    std::optional<uint64_t> opened_at;
    SharedText end_id;
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
    SharedText name;
  };
  struct TypeMismatch {
    ElementRef place;
    SharedText name;
    ElementType type;
  };
  struct LengthOutOfRange {
    ElementRef place;
    SharedText name;
    uint64_t length = 0;
    std::optional<uint64_t> min;
    std::optional<uint64_t> max;
  };
  struct ValueDropped {
    SharedText column;
    SharedText table;
    uint64_t size = 0;
  };
  struct CompositeShape {
    ElementRef place;
    SharedText name;
    uint64_t found = 0;
    uint64_t declared = 0;
  };
  struct CodeNotInList {
    ElementRef place;
    SharedText name;
    SharedTexts codes;
    std::optional<SharedText> occurrence;
  };
  struct RequiredOccurrenceMissing {
    SharedText loop;
    std::optional<uint64_t> opened_at;
    SharedText occurrence;
    SharedText selector;
  };
  struct OccurrenceOverMax {
    SharedText occurrence;
    SharedText selector;
    SharedText loop;
    uint64_t count = 0;
    uint64_t max = 0;
  };
  struct LoopOverMax {
    SharedText loop;
    uint64_t count = 0;
    std::optional<SharedText> parent;
    uint64_t max = 0;
  };
  struct OutOfOrder {
    SharedText occurrence;
    uint64_t position = 0;
    SharedText loop;
    SharedText earlier;
    uint64_t earlier_position = 0;
    SharedText earlier_loop;
  };
  struct UnknownOccurrence {
    std::string id;
    SharedTexts occurrences;
    SharedText loop;
    ElementRef qualifier;
  };
  struct RequiredLoopMissing {
    SharedText loop;
    std::optional<uint64_t> opened_at;
    SharedText child;
    SharedText trigger;
  };
  struct BalanceMismatch {
    SharedText rule;
    SharedText loop;
    std::optional<uint64_t> opened_at;
    SharedText target_terms;
    i128 target = 0;
    SharedText sum_terms;
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

  // Alternatives in RuleKind order: the index is the kind. All but the two
  // smallest are boxed: a file can hold millions of diagnostics. A code not
  // in its list names only the spec, so the reports of one place share it.
  using Data =
      std::variant<ByteOrderMark, UnknownSegment, Boxed<ImplicitLoop>, Boxed<UnterminatedLoop>,
                   Boxed<ControlCountMismatch>, Boxed<ControlElementMissing>,
                   Boxed<ControlNumberMismatch>, Boxed<RequiredElementMissing>,
                   Boxed<TypeMismatch>, Boxed<LengthOutOfRange>, Boxed<ValueDropped>,
                   Boxed<CompositeShape>, Shared<CodeNotInList>, Boxed<RequiredOccurrenceMissing>,
                   Boxed<OccurrenceOverMax>, Boxed<LoopOverMax>, Boxed<OutOfOrder>,
                   Boxed<UnknownOccurrence>, Boxed<RequiredLoopMissing>, Boxed<BalanceMismatch>,
                   Boxed<External>>;
  Data data;

  RuleKind kind() const { return static_cast<RuleKind>(data.index()); }
  // The rule's data when it is of kind T, else null.
  template <class T>
  const T* get_if() const noexcept {
    if constexpr (std::is_same_v<T, ByteOrderMark> || std::is_same_v<T, UnknownSegment>) {
      return std::get_if<T>(&data);
    } else if constexpr (std::is_same_v<T, CodeNotInList>) {
      const Shared<T>* shared = std::get_if<Shared<T>>(&data);
      return shared == nullptr ? nullptr : &shared->get();
    } else {
      const Boxed<T>* box = std::get_if<Boxed<T>>(&data);
      return box == nullptr ? nullptr : &**box;
    }
  }
  // The level every reporter gives this kind; External carries its own.
  SnipLevel level() const;
};

// The rule's sentence.
std::string to_string(const Rule& rule);
void append_rule(std::string& out, const Rule& rule);

struct Diagnostic {
  Position segment;  // none at the end of the stream
  Position element;
  Position component;
  Rule rule;
  LoopPath loops;              // outermost first
  std::string datum;           // the offending bytes as in the file
  SnipLevel level;  // rule.level() for every reported diagnostic
};

// The open loops joined by "/", empty at the root.
std::string render_path(const std::vector<LoopRef>& loops);

// The one-line form: "SNIP 2 · {sentence} · segment #4, element 2 · at
// transaction#1/2100#3 · datum \"X\"".
std::string to_string(const Diagnostic& d);

// What a reporter's diagnostics share: texts inside `owner` (the compiled
// spec) and the open loops of its last diagnostic, while they stay open.
class Shares : public SharedFrom {
 public:
  using SharedFrom::SharedFrom;

  // An element place in a segment whose id is `id`, the spec's own.
  ElementRef place(const std::string& id, uint64_t element, Position component = {}) const {
    return ElementRef{text(id), element, component};
  }

  // A diagnostic with the level of its rule and, as its loops, the open
  // instances `open` (each with a `loop` and an `ordinal`), outermost first;
  // `name_of(loop)` gives a loop's name, which lies inside the owner.
  template <class Open, class NameOf>
  Diagnostic diagnostic(Rule rule, std::optional<uint64_t> segment,
                        std::optional<uint64_t> element, std::optional<uint64_t> component,
                        std::string_view datum, std::span<const Open> open,
                        const NameOf& name_of) {
    bool same = path_.size() == open.size();
    for (size_t i = 0; same && i < open.size(); ++i)
      same = path_[i].instance == open[i].ordinal && path_[i].key == name_of(open[i].loop);
    if (!same) {
      std::vector<LoopRef> loops;
      loops.reserve(open.size());
      for (const Open& o : open) loops.push_back(LoopRef{text(name_of(o.loop)), o.ordinal});
      path_ = LoopPath(std::move(loops));
    }
    Diagnostic d;
    d.segment = segment;
    d.element = element;
    d.component = component;
    d.loops = path_;
    d.datum.assign(datum);
    d.level = rule.level();
    d.rule = std::move(rule);
    return d;
  }

  // Forgets the last path, for a new input.
  void reset() { path_ = LoopPath(); }

 private:
  LoopPath path_;
};

}  // namespace zarvi_core
