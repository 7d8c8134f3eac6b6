#include "zarvi_core/spec/compile.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "zarvi_core/spec/balance.h"
#include "zarvi_core/spec/raw.h"
#include "zarvi_core/spec/render.h"
#include "zarvi_core/spec/shape.h"
#include "zarvi_core/spec/tables.h"
#include "zarvi_core/spec/version.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

using json = nlohmann::json;

// Made on demand: a static string would be destroyed by exit() while a
// compile on another thread may still read it.
std::string too_deep() {
  return "the value nests arrays and objects deeper than " + std::to_string(kMaxSpecDepth) +
         " levels";
}

// Thrown by the parser callback to stop at the first container that is too
// deep; caught in parse_spec_json and never seen outside it.
struct TooDeep {};

// The JSON library's message without its "[json.exception...] " prefix.
std::string library_message(const char* what) {
  std::string_view text(what);
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find("] ");
    if (close != std::string_view::npos) text.remove_prefix(close + 2);
  }
  return lossy_utf8(text);
}

// An integer literal past 64 bits, which the JSON library would keep only as
// a rounded floating-point number: the `ordinal`-th number of the text.
struct LongInteger {
  size_t ordinal = 0;
  std::string_view digits;
};

// Whether a literal of digits (after an optional minus) fits the library's
// 64-bit integers.
bool fits_64_bits(std::string_view literal) {
  const bool negative = !literal.empty() && literal.front() == '-';
  const std::string_view digits = negative ? literal.substr(1) : literal;
  const std::string_view limit = negative ? "9223372036854775808" : "18446744073709551615";
  return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
}

// The integer literals of the text that do not fit 64 bits, in order.
std::vector<LongInteger> long_integers(std::string_view text) {
  std::vector<LongInteger> out;
  size_t ordinal = 0;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i)
        if (text[i] == '\\') ++i;
      ++i;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const size_t start = i;
      bool integer = true;
      for (++i; i < text.size(); ++i) {
        const char d = text[i];
        if (d == '.' || d == 'e' || d == 'E' || d == '+' || d == '-') {
          integer = false;
        } else if (d < '0' || d > '9') {
          break;
        }
      }
      const std::string_view literal = text.substr(start, i - start);
      if (integer && !fits_64_bits(literal)) out.push_back({ordinal, literal});
      ++ordinal;
    } else {
      ++i;
    }
  }
  return out;
}

// Thrown by the parser callback at the first integer that does not fit.
struct TooLong {
  std::string path;
  std::string_view digits;
};

// Where the parser is, for a message about the value it just read.
class PathTracker {
 public:
  void on(json::parse_event_t event, const json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        levels_.push_back({event == json::parse_event_t::array_start, {}, 0});
        break;
      case json::parse_event_t::key:
        if (!levels_.empty() && parsed.is_string()) levels_.back().key = parsed.get<std::string>();
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        if (!levels_.empty()) levels_.pop_back();
        next_item();
        break;
      case json::parse_event_t::value:
        break;
    }
  }
  // After a value that is not a container.
  void next_item() {
    if (!levels_.empty() && levels_.back().array) ++levels_.back().index;
  }
  std::string path() const {
    std::string out;
    for (const Level& l : levels_) out = l.array ? item_path(out, l.index) : child(out, l.key);
    return out;
  }

 private:
  struct Level {
    bool array = false;
    std::string key;
    size_t index = 0;
  };
  std::vector<Level> levels_;
};

}  // namespace

Result<json, SpecError> parse_spec_json(std::string_view text) {
  const std::vector<LongInteger> long_ones = long_integers(text);
  size_t next_long = 0;
  size_t numbers = 0;
  PathTracker where;
  const json::parser_callback_t guard = [&](int depth, json::parse_event_t event, json& parsed) {
    if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
        static_cast<size_t>(depth) >= kMaxSpecDepth) {
      throw TooDeep{};
    }
    // Paths are followed only for a text that holds a long integer.
    if (next_long == long_ones.size()) return true;
    where.on(event, parsed);
    if (event == json::parse_event_t::value) {
      if (parsed.is_number() && numbers++ == long_ones[next_long].ordinal)
        throw TooLong{where.path(), long_ones[next_long].digits};
      where.next_item();
    }
    return true;
  };
  try {
    return json::parse(text.begin(), text.end(), guard);
  } catch (const TooDeep&) {
    return err(SpecError::Json{too_deep()});
  } catch (const TooLong& e) {
    const bool negative = e.digits.front() == '-';
    return err(SpecError::Json{
        "the integer " + std::string(e.digits) + " " +
        (e.path.empty() ? std::string("at the top level") : "at " + e.path) + " is too " +
        (negative ? "small: integers in a spec are from -9223372036854775808"
                  : "large: integers in a spec are at most 18446744073709551615")});
  } catch (const json::exception& e) {
    return err(SpecError::Json{library_message(e.what())});
  }
}

Result<Unit, SpecError> check_depth(const json& value) {
  // Iterative, so that the check itself cannot overflow the stack.
  std::vector<std::pair<const json*, size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    auto [v, depth] = pending.back();
    pending.pop_back();
    if (!v->is_structured()) continue;
    if (depth >= kMaxSpecDepth) return err(SpecError::Json{too_deep()});
    for (const json& item : *v) pending.emplace_back(&item, depth + 1);
  }
  return Unit{};
}

Result<std::optional<DeclaredVersion>, SpecError> check_declared_version(
    const std::optional<RawVersion>& raw) {
  if (!raw) return std::optional<DeclaredVersion>();
  if (raw->segment.empty()) return err(SpecError::EmptySegmentId{std::nullopt, "version.segment"});
  auto version = compile_version(raw->segment, raw->element, raw->values);
  if (!version.ok()) return err(SpecError::BadVersion{std::move(version).error()});
  return std::optional<DeclaredVersion>(std::move(version).value());
}

Result<std::optional<DeclaredVersion>, SpecError> compile_version_member(const json& member) {
  if (member.is_null()) return check_declared_version(std::nullopt);
  auto raw = decode_version(member);
  if (!raw.ok()) return err(SpecError::Schema{std::nullopt, std::move(raw).error()});
  return check_declared_version(std::move(raw).value());
}

// Runs the compile steps in order over one value; owns the Spec being
// built until it is handed out.
class Compiler {
 public:
  explicit Compiler(json value) : spec_(new Spec()), source_(std::move(value)) {}

  Compiled run() {
    if (auto r = check_depth(source_); !r.ok()) return err(std::move(r).error());
    if (auto r = check_shape(source_); !r.ok()) return err(std::move(r).error());
    // Only merge_patch and to_json read the value again, so the Spec keeps a
    // compact form rather than the tree. It is written while the tree is
    // whole: the steps below free each part of the tree once it is read, so
    // that the tree and what is compiled from it are never held in full at
    // once.
    json::to_cbor(source_, spec_->source_);
    spec_->source_.shrink_to_fit();
    if (auto r = decode_top(); !r.ok()) return err(std::move(r).error());
    if (auto r = compile_loops(); !r.ok()) return err(std::move(r).error());
    drop("loops");
    if (auto r = link_loops(); !r.ok()) return err(std::move(r).error());
    if (auto r = compile_segments(); !r.ok()) return err(std::move(r).error());
    drop("segments");
    if (auto r = compile_occurrences_and_triggers(); !r.ok()) return err(std::move(r).error());
    raw_loops_ = {};
    if (auto r = compile_declared_version(); !r.ok()) return err(std::move(r).error());
    if (auto r = check_ambiguity(spec_->loops, spec_->roots); !r.ok()) {
      return err(std::move(r).error());
    }
    // Tables and balancing rules read the loops, segments and occurrences
    // compiled above.
    auto tables = compile_tables(*spec_, raw_.tables);
    if (!tables.ok()) return err(std::move(tables).error());
    spec_->tables = std::move(tables).value();
    auto balancing = compile_balancing(*spec_, raw_.balancing);
    if (!balancing.ok()) return err(std::move(balancing).error());
    spec_->balancing = std::move(balancing).value();
    return SpecPtr(spec_.release());
  }

 private:
  using Step = Result<Unit, SpecError>;

  // Frees a top-level member that no later step reads.
  void drop(const char* key) {
    if (const auto at = source_.find(key); at != source_.end()) *at = nullptr;
  }

  // The top-level record; "loops" must hold at least one loop.
  Step decode_top() {
    auto top = decode_spec(source_);
    if (!top.ok()) return err(SpecError::Schema{std::nullopt, std::move(top).error()});
    raw_ = std::move(top).value();
    spec_->name = raw_.name;
    if (raw_.loops->empty()) return err(SpecError::NoLoops{spec_->name});
    return Unit{};
  }

  // Every loop record is decoded before any loop is checked, so a record
  // that does not decode is reported first whatever its place.
  Step compile_loops() {
    for (const auto& [name, value] : raw_.loops->get_ref<const json::object_t&>()) {
      auto loop = decode_loop(value);
      if (!loop.ok()) return err(SpecError::Schema{name, std::move(loop).error()});
      raw_loops_.push_back(std::move(loop).value());
      spec_->loops.emplace_back();
      spec_->loops.back().name = name;
    }
    for (size_t id = 0; id < raw_loops_.size(); ++id) {
      if (auto r = compile_loop(id); !r.ok()) return r;
    }
    return Unit{};
  }

  Step compile_loop(LoopId id) {
    const RawLoop& raw = raw_loops_[id];
    LoopDef& loop = spec_->loops[id];
    const std::string& name = loop.name;
    if (raw.trigger.segment.empty()) return err(SpecError::EmptySegmentId{name, "trigger.segment"});
    if (raw.end && raw.end->empty()) return err(SpecError::EmptySegmentId{name, "end"});
    const std::optional<Usage> usage = parse_usage(raw.usage);
    if (!usage) return err(SpecError::UnknownLoopUsage{name, *raw.usage});
    if (raw.max && *raw.max == 0) return err(SpecError::ZeroLoopMax{name});
    if (raw.end && *raw.end == raw.trigger.segment) {
      return err(SpecError::EndIsTrigger{name, raw.trigger.segment});
    }
    if (raw.parent) {
      loop.parent = find_loop(*raw.parent);
      if (!loop.parent) return err(SpecError::UnknownParent{name, *raw.parent});
    }
    loop.trigger.segment = raw.trigger.segment;
    for (const auto& [key, value] : raw.trigger.where) {
      const std::optional<uint64_t> position = parse_position(key);
      if (!position) return err(SpecError::BadPosition{name, key});
      loop.trigger.conditions.push_back(Condition{*position, value});
    }
    std::stable_sort(loop.trigger.conditions.begin(), loop.trigger.conditions.end());
    if (raw.control) {
      auto control = compile_control(*raw.control, raw.end.has_value());
      if (!control.ok()) return err(SpecError::BadControl{name, std::move(control).error()});
      loop.control = std::move(control).value();
    }
    loop.end = raw.end;
    loop.usage = *usage;
    loop.max = raw.max;
    return Unit{};
  }

  // Loop names are sorted byte-wise, so a binary search finds a name.
  std::optional<LoopId> find_loop(std::string_view name) const {
    const std::vector<LoopDef>& loops = spec_->loops;
    auto it = std::lower_bound(loops.begin(), loops.end(), name,
                               [](const LoopDef& l, std::string_view n) { return l.name < n; });
    if (it == loops.end() || it->name != name) return std::nullopt;
    return static_cast<LoopId>(it - loops.begin());
  }

  Step link_loops() {
    if (auto r = check_cycles(spec_->loops); !r.ok()) return r;
    spec_->roots = link_children(spec_->loops);
    return Unit{};
  }

  Step compile_segments() {
    for (const auto& [id, value] : section(source_, "segments")) {
      if (id.empty()) return err(SpecError::EmptySegmentId{std::nullopt, child("segments", "")});
      auto segment = decode_segment(*value);
      if (!segment.ok())
        return err(SpecError::SegmentSchema{std::string(id), std::move(segment).error()});
      auto elements = compile_elements(id, segment->elements);
      if (!elements.ok()) return err(std::move(elements).error());
      spec_->segments.emplace(std::string(id), SegmentDef{std::move(elements).value()});
    }
    return Unit{};
  }

  Step compile_occurrences_and_triggers() {
    for (size_t id = 0; id < spec_->loops.size(); ++id) {
      LoopDef& loop = spec_->loops[id];
      auto occurrences =
          compile_occurrences(loop.name, raw_loops_[id].occurrences, spec_->segments);
      if (!occurrences.ok()) return err(std::move(occurrences).error());
      loop.occurrences = std::move(occurrences).value();
      if (auto r = check_trigger(loop.name, loop.occurrences, loop.trigger); !r.ok()) return r;
      std::set<std::string_view> seen;
      for (const OccurrenceDef& occ : loop.occurrences) {
        if (occ.opens_on(loop.trigger.segment, loop.trigger.conditions)) continue;
        if (seen.insert(occ.segment).second) loop.held.push_back(occ.segment);
      }
    }
    return Unit{};
  }

  Step compile_declared_version() {
    auto version = check_declared_version(raw_.version);
    if (!version.ok()) return err(std::move(version).error());
    spec_->version = std::move(version).value();
    return Unit{};
  }

  std::unique_ptr<Spec> spec_;
  json source_;
  RawSpec raw_;  // borrows from source_; its loops are dropped once compiled
  std::vector<RawLoop> raw_loops_;  // by LoopId
};

Compiled compile_spec(json value) { return Compiler(std::move(value)).run(); }

}  // namespace zarvi_core::spec
