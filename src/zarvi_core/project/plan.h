// Projection plans: per segment id, the occurrences a placed segment may be
// in each loop, the element definitions to check it against and the table
// columns it feeds; and the column list and types of a projected table, which
// the writer and the table import share. Built once from a Spec, which must
// outlive the plans (they point into its definitions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zarvi_core/column/column.h"
#include "zarvi_core/id_table.h"
#include "zarvi_core/project/carry.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/loop_index.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::project::plan {

using spec::LoopId;


// A code list packed for membership tests: when every code is short, the
// codes are short keys, kept in the set itself when there are few of them
// (no further load) and in an id table otherwise; a list with a longer code
// is searched as strings.
class CodeSet {
 public:
  // `codes` (sorted, unique) must outlive the set; `occurrence` names the
  // occurrence whose own list it is (null for an element's list).
  CodeSet(const std::vector<std::string>& codes, const std::string* occurrence);

  bool contains(std::string_view text) const {
    if (!packable_ || text.size() > id_table::kShortBytes) return contains_other(text);
    const uint64_t key = id_table::short_key(text);
    if (!few_) return packed_.contains(key);
    // Unused places hold 0, which no short key is.
    return (key == inline_[0]) | (key == inline_[1]) | (key == inline_[2]) | (key == inline_[3]);
  }
  // Whether a value passes this list: any does when it is empty.
  bool admits(std::string_view text) const { return none_ || contains(text); }
  const std::vector<std::string>& codes() const { return *codes_; }
  const std::string* occurrence() const { return occurrence_; }

 private:
  static constexpr size_t kInline = 4;

  // contains() for a list with a long code, or a long text.
  bool contains_other(std::string_view text) const;

  // First, with the flags: what a lookup in a short list reads.
  uint64_t inline_[kInline] = {};  // used when few_
  bool packable_ = true;
  bool none_ = false;  // the list is empty
  bool few_ = false;   // packable, with at most kInline codes
  const std::vector<std::string>* codes_;
  const std::string* occurrence_;
  id_table::KeySet packed_;  // used when packable_ and not few_
};

// One occurrence a segment may be in its loop.
struct Candidate {
  size_t occurrence = 0;
  // The qualifier's codes, packed; none: matches any segment.
  const CodeSet* qualifier_codes = nullptr;
  // This candidate's index among every candidate of its segment id, in any
  // loop: what a value's code lists are keyed by.
  size_t slot = 0;
  // The qualifier's place, copied here so that a test loads no definition.
  uint64_t element = 0;
  std::optional<uint64_t> component;

  // Whether the segment is in this occurrence, as Qualifier::matches.
  bool matches(const Segment& segment) const {
    if (qualifier_codes == nullptr) return true;
    const auto text = component_text(segment, element, component);
    return text && qualifier_codes->contains(*text);
  }
};

// What first_match returns when no candidate matches.
inline constexpr size_t kNoCandidate = SIZE_MAX;

// The index of the first of a loop's candidates that a segment matches, or
// kNoCandidate.
size_t first_match(std::span<const Candidate> candidates, const Segment& segment);

// A candidate's occurrence and slot, as a choice of candidate gives them.
struct Choice {
  size_t occurrence = 0;
  size_t slot = 0;
};

// The candidates of one loop as one lookup, when every qualifier before the
// first candidate without one reads the same place and lists only short
// codes (so that a longer text matches none): the short key of a code to the
// first candidate's choice. Otherwise its own copy of the candidates is tried
// in turn. The choice is kept here, so that a segment reads nothing else of
// its plan to choose (most take the first candidate without a qualifier).
class Chooser {
 public:
  Chooser() = default;
  explicit Chooser(std::span<const Candidate> candidates);

  // The choice of candidate first_match(candidates, segment) for the
  // candidates it was made from; null for none. A pointer rather than an
  // optional: an optional returned through memory stalls its reader.
  const Choice* choose(const Segment& segment) const {
    if (!direct_) {
      const size_t i = first_match(candidates_, segment);
      return i == kNoCandidate ? nullptr : &choices_[i];
    }
    const Choice* const fallback = has_fallback_ ? &fallback_ : nullptr;
    if (!keys_) return fallback;
    const auto text = component_text(segment, element_, component_);
    if (!text || text->size() > id_table::kShortBytes) return fallback;
    const Choice* first = first_.find(id_table::short_key(*text));
    return first != nullptr ? first : fallback;
  }

 private:
  // What a direct choice reads first.
  bool direct_ = false;
  bool keys_ = false;  // some candidate before the fallback lists a code
  bool has_fallback_ = false;
  uint64_t element_ = 0;
  std::optional<uint64_t> component_;
  id_table::Table<Choice> first_;
  Choice fallback_;  // of the first candidate without a qualifier
  // Tried in turn when not direct.
  std::vector<Candidate> candidates_;
  std::vector<Choice> choices_;
};

// One value checked against an element definition.
struct ValuePlan {
  const spec::ElementDef* def = nullptr;
  column::ColumnType type;
  // A column or a balancing sum reads this value: checking it keeps the
  // parse for them.
  bool read = false;
  // The definition's, kept here so that a valid value never loads it.
  bool required = false;
  // The definition's length bounds, unbounded when it has none.
  uint64_t min_length = 0;
  uint64_t max_length = UINT64_MAX;
  // The element's own codes; null when it lists none.
  const CodeSet* codes = nullptr;
  // Lists of occurrences that give this value codes of their own, by
  // candidate slot.
  std::vector<std::pair<size_t, const CodeSet*>> occurrence_codes;
  // Whether a value may need a lookup: some list applies that no qualifier
  // has checked. Most values have none, and a valid one then loads no list.
  bool listed = false;
  // Per candidate slot when a list applies: codes_in(slot), or null where
  // the occurrence's qualifier reads this value and admits only codes of
  // that list (matching the occurrence has then checked the value).
  std::vector<const CodeSet*> unchecked;

  // The list a value in the occurrence of candidate `slot` (none: no
  // occurrence) must be in; null when any value will do.
  const CodeSet* codes_in(std::optional<size_t> slot) const {
    if (slot && !occurrence_codes.empty())
      for (const auto& [s, set] : occurrence_codes)
        if (s == *slot) return set;
    return codes;
  }
  // The list a value in the occurrence of candidate `slot` still has to be
  // looked up in; null when none. Only for a value that is not read joined.
  const CodeSet* codes_to_check(std::optional<size_t> slot) const {
    if (slot && *slot < unchecked.size()) return unchecked[*slot];
    return codes;
  }
};

struct ComponentPlan {
  uint64_t position = 0;
  ValuePlan value;
};

struct ElementPlan {
  explicit ElementPlan(uint64_t position, const spec::ElementDef& def);

  uint64_t position = 0;
  bool composite = false;  // the definition declares components
  ValuePlan value;
  // The largest declared component position; 0 for a simple element.
  uint64_t declared_components = 0;
  std::vector<ComponentPlan> components;  // in position order
  // One past the last required component: absent components after it
  // report nothing.
  size_t required_components_end = 0;
};

// One table column that a segment placed in a given loop feeds, with what
// its source reads resolved.
struct Watcher {
  size_t table = 0;
  size_t column = 0;  // among the table's declared columns
  spec::Pick pick;
  std::optional<size_t> carried;  // index into the table's carried values
  bool index = false;  // the segment's index rather than an element
  uint64_t element = 0;
  std::optional<uint64_t> component;
  column::ColumnType type;  // the column's
  // Conditions on the segment's simple elements; a watcher of a named
  // occurrence has none (the occurrence decides). A span, so that a watcher
  // without conditions reads nothing of the spec.
  std::span<const spec::Condition> where;
};

// What a segment's plan holds for one loop in which the segment has an
// occurrence, a watcher or a segment table.
struct InLoop {
  // In the loop's occurrence order.
  std::vector<Candidate> candidates;
  // The candidates as one lookup.
  Chooser chooser;
  // The watchers of columns that name no occurrence.
  std::vector<Watcher> watchers;
  // The segment tables whose rows this segment makes there, in table order.
  std::vector<size_t> segment_tables;
};

struct SegmentPlan {
  // Only the loops the segment has something in: a spec of many loops and
  // many segments holds no list per pair of them.
  std::map<LoopId, InLoop> loops;
  // Per candidate slot: the watchers of columns that name its occurrence.
  std::vector<std::vector<Watcher>> occurrence_watchers;
  // Whether any list of watchers above has one: most segments feed none.
  bool feeds = false;
  // In element position order; empty when the spec defines no such segment.
  std::vector<ElementPlan> elements;
  // One past the last element that is required: absent elements after it
  // report nothing.
  size_t required_end = 0;
  // How many candidates the plan has over all loops.
  size_t slots = 0;

  // What the plan holds for `loop`, or null.
  const InLoop* in(LoopId loop) const {
    const auto at = loops.find(loop);
    return at == loops.end() ? nullptr : &at->second;
  }
};

// What a segment placed in a loop reads of its plan before anything else:
// the plan, a copy of its chooser there and the segment tables it makes rows
// of there, kept together so that one lookup by id and loop finds them and
// choosing an occurrence waits on no further load of the plan.
struct Placed {
  Chooser chooser;
  const SegmentPlan* plan = nullptr;
  const InLoop* in = nullptr;
  std::span<const size_t> segment_tables;
};

// The column type of an element type: AN and ID binary, Nd int64 with scale
// d, R decimal128(38, scale), DT date32, TM time32.
column::ColumnType column_type_of(ElementType type);

// The columns of a projected table: "row", "segment", one key per table of
// its chain (named by that table's ref), then the declared columns.
std::vector<std::pair<std::string, column::ColumnType>> table_columns(const spec::Spec& spec,
                                                                      const spec::TableDef& table);
// The type of one declared column: int64 for a segment index; for an element,
// the column type of its definition; for a group element, that of element
// "from" + offset of the table's segment. Binary when there is no such
// definition, and for a group element without a repeat or past 64 bits.
column::ColumnType column_type(const spec::Spec& spec, const spec::TableDef& table,
                               const spec::ColumnSource& source);

// Per loop, the carried values that a new instance of the loop clears:
// (table index, carried index) pairs.
using CarryRegistrations = std::vector<std::vector<std::pair<size_t, size_t>>>;

class Plans {
 public:
  explicit Plans(const spec::Spec& spec);
  // The short-id index points into the maps' nodes, which a move keeps and
  // a copy would not.
  Plans(const Plans&) = delete;
  Plans& operator=(const Plans&) = delete;
  Plans(Plans&&) noexcept = default;
  Plans& operator=(Plans&&) noexcept = default;

  // Every placed segment asks: ids under 8 bytes take one probe or two of
  // an open-addressing index.
  const SegmentPlan* get(std::string_view id) const {
    if (id.size() > id_table::kShortBytes) return get_long(id);
    SegmentPlan* const* plan = index_.find(id_table::short_key(id));
    return plan == nullptr ? nullptr : *plan;
  }
  // The plan of the id with short key `id_key` (0: a longer id, as
  // Segment::id_key gives it) placed in `loop`, for a loop below
  // kPlacedLoops in which the id has an occurrence; null otherwise, when
  // get(id) and the plan's lists for the loop answer the same.
  const Placed* placed(uint64_t id_key, LoopId loop) const {
    if (id_key == 0 || loop >= kPlacedLoops) return nullptr;
    return placed_.find(id_key | uint64_t{loop} << kLoopShift);
  }
  // Makes the index of placed(); after the last add_segment_table, since it
  // copies what the plans hold per loop.
  void index_placed();

  // The plan of `id`, made empty on first use.
  SegmentPlan& entry(std::string_view id);

  // Registers the columns of table `t` (a table without "segment") under the
  // loops that feed them; returns the table's carried values.
  // `index` is over the spec's loops.
  std::vector<carry::Carried> watch_columns(const spec::Spec& spec, const spec::LoopIndex& index,
                                            size_t t, CarryRegistrations& carries);

  // Registers segment table `t`, whose rows segment `id` makes in `loop`;
  // false when `id` has no plan.
  bool add_segment_table(std::string_view id, LoopId loop, size_t t);

  // Sets the read flag of every element and component that a column of
  // `table` reads, so that checking it keeps its parsed value for the column.
  void mark_columns(const spec::TableDef& table);
  // The same for every element that a balancing sum reads whole or by its
  // first component, whose amount the sum then takes from the check.
  void mark_balanced(const spec::Spec& spec);

 private:
  SegmentPlan* find(std::string_view id);
  // Packs every code list of the spec's element definitions and of the
  // occurrences of `plan`'s candidates.
  void pack_codes(const spec::Spec& spec, SegmentPlan& plan);
  const CodeSet* code_set(const std::vector<std::string>& codes, const std::string* occurrence);

  const SegmentPlan* get_long(std::string_view id) const;
  // Adds a new plan of a short id to its index, which doubles when full, so
  // that indexing every id costs time in proportion to their number.
  void index_short(uint64_t key, SegmentPlan* plan);

  // A short key leaves the bits above it free for the loop.
  static constexpr unsigned kLoopShift = 8 * id_table::kShortBytes + 1;
  static constexpr uint64_t kPlacedLoops = uint64_t{1} << (64 - kLoopShift);

  id_table::Table<SegmentPlan*> index_;  // into short_'s nodes
  size_t index_room_ = 0;                // the keys index_ was built for
  id_table::Table<Placed> placed_;       // by short key and loop
  std::unordered_map<uint64_t, SegmentPlan, id_table::KeyHash> short_;  // by short key
  std::unordered_map<std::string, SegmentPlan, id_table::IdHash, std::equal_to<>> long_;
  std::deque<CodeSet> code_sets_;  // stable addresses for the value plans
};

}  // namespace zarvi_core::project::plan
