#include "zarvi_core/spec/compile.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "zarvi_core/spec/balance.h"
#include "zarvi_core/spec/loop_index.h"
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

// The first integer literal of the text that does not fit 64 bits: the
// parse stops there, so no later one is ever reported.
std::optional<LongInteger> first_long_integer(std::string_view text) {
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
      if (integer && !fits_64_bits(literal)) return LongInteger{ordinal, literal};
      ++ordinal;
    } else {
      ++i;
    }
  }
  return std::nullopt;
}

std::string too_long(std::string_view digits, const std::string& path) {
  const bool negative = digits.front() == '-';
  return "the integer " + std::string(digits) + " " +
         (path.empty() ? std::string("at the top level") : "at " + path) + " is too " +
         (negative ? "small: integers in a spec are from -9223372036854775808"
                   : "large: integers in a spec are at most 18446744073709551615");
}

// Builds the value from the parser's events, and stops at the first
// container past kMaxSpecDepth and at the long integer. The library's own
// builder takes a callback for such checks, but then rescans the enclosing
// container each time an object ends: many small objects in one array
// would cost time by the square of their number.
class SpecReader {
 public:
  explicit SpecReader(std::optional<LongInteger> long_one) : long_one_(long_one) {}

  // The JSON library's event interface.
  bool null() { return put(nullptr); }
  bool boolean(bool value) { return put(value); }
  bool number_integer(json::number_integer_t value) { return number(value); }
  bool number_unsigned(json::number_unsigned_t value) { return number(value); }
  bool number_float(json::number_float_t value, const std::string& /*literal*/) {
    return number(value);
  }
  bool string(std::string& value) { return put(value); }
  bool binary(json::binary_t& value) { return put(std::move(value)); }
  bool start_object(size_t /*size*/) { return open(json::value_t::object); }
  bool start_array(size_t /*size*/) { return open(json::value_t::array); }
  bool key(std::string& key) {
    // A key written twice keeps its place; the later value replaces the
    // earlier one.
    Level& level = levels_.back();
    level.member = level.value->get_ref<json::object_t&>().try_emplace(key).first;
    return true;
  }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool parse_error(size_t /*position*/, const std::string& /*token*/, const json::exception& e) {
    error_ = library_message(e.what());
    return false;
  }

  json take_value() { return std::move(root_); }
  std::string take_error() { return std::move(error_); }

 private:
  // An open container; `member` is the current one of an object. Pointers
  // stay valid: a container grows only while no child of it is open.
  struct Level {
    json* value = nullptr;
    json::object_t::iterator member;
  };

  template <class V>
  json* place(V&& value) {
    if (levels_.empty()) {
      root_ = json(std::forward<V>(value));
      return &root_;
    }
    Level& level = levels_.back();
    if (level.value->is_array()) {
      json::array_t& items = level.value->get_ref<json::array_t&>();
      items.emplace_back(std::forward<V>(value));
      return &items.back();
    }
    level.member->second = json(std::forward<V>(value));
    return &level.member->second;
  }

  template <class V>
  bool put(V&& value) {
    place(std::forward<V>(value));
    return true;
  }

  template <class V>
  bool number(V value) {
    if (long_one_ && numbers_++ == long_one_->ordinal) {
      error_ = too_long(long_one_->digits, path());
      return false;
    }
    return put(value);
  }

  bool open(json::value_t type) {
    if (levels_.size() >= kMaxSpecDepth) {
      error_ = too_deep();
      return false;
    }
    levels_.push_back({place(type), {}});
    return true;
  }

  bool close() {
    levels_.pop_back();
    return true;
  }

  // Where the next value goes.
  std::string path() const {
    std::string out;
    for (size_t i = 0; i < levels_.size(); ++i) {
      const json& value = *levels_[i].value;
      if (value.is_array()) {
        // The open child of an outer array is already its last item.
        const bool inner = i + 1 == levels_.size();
        out = item_path(out, inner ? value.size() : value.size() - 1);
      } else {
        out = child(out, levels_[i].member->first);
      }
    }
    return out;
  }

  std::optional<LongInteger> long_one_;
  size_t numbers_ = 0;
  json root_;
  std::vector<Level> levels_;
  std::string error_;
};

}  // namespace

Result<json, SpecError> parse_spec_json(std::string_view text) {
  SpecReader reader(first_long_integer(text));
  if (!json::sax_parse(text.begin(), text.end(), &reader))
    return err(SpecError::Json{reader.take_error()});
  return reader.take_value();
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
    const LoopIndex index(spec_->loops, spec_->roots);
    auto tables = compile_tables(*spec_, index, raw_.tables);
    if (!tables.ok()) return err(std::move(tables).error());
    spec_->tables = std::move(tables).value();
    auto balancing = compile_balancing(*spec_, index, raw_.balancing);
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
      loop.parent = spec_->loop_id(*raw.parent);
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
