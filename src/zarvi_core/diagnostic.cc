#include "zarvi_core/diagnostic.h"

#include "zarvi_core/column/column.h"
#include "zarvi_core/text.h"

namespace zarvi_core {
namespace {

// Codes and occurrence names are listed only up to this many.
constexpr size_t kMaxListed = 5;
// Balancing failures name at most this many source segments.
constexpr size_t kMaxSegments = 10;

constexpr std::string_view kKindNames[kRuleKinds] = {
    "ByteOrderMark",
    "UnknownSegment",
    "ImplicitLoop",
    "UnterminatedLoop",
    "ControlCountMismatch",
    "ControlElementMissing",
    "ControlNumberMismatch",
    "RequiredElementMissing",
    "TypeMismatch",
    "LengthOutOfRange",
    "ValueDropped",
    "CompositeShape",
    "CodeNotInList",
    "RequiredOccurrenceMissing",
    "OccurrenceOverMax",
    "LoopOverMax",
    "OutOfOrder",
    "UnknownOccurrence",
    "RequiredLoopMissing",
    "BalanceMismatch",
    "External",
};

// Builds one sentence; names and bytes alike are quoted by append_quoted.
class Sentence {
 public:
  explicit Sentence(std::string& out) : out_(out) {}
  Sentence& operator<<(std::string_view text) {
    out_.append(text);
    return *this;
  }
  Sentence& quoted(std::string_view bytes) {
    append_quoted(out_, bytes);
    return *this;
  }
  Sentence& number(uint64_t n) {
    out_ += std::to_string(n);
    return *this;
  }
  Sentence& place(const ElementRef& p) {
    out_ += to_string(p);
    return *this;
  }
  Sentence& amount(i128 value, uint8_t scale) {
    append_amount(out_, value, scale);
    return *this;
  }
  // "{place} ({name})", how element findings name their element.
  Sentence& element(const ElementRef& p, std::string_view name) {
    return place(p) << " (" << name << ")";
  }
  Sentence& opened_at(const std::optional<uint64_t>& index) {
    if (index) {
      *this << "opened at segment #";
      number(*index) << " ";
    }
    return *this;
  }
  // Quoted items joined by ", ".
  Sentence& quoted_list(const std::vector<std::string>& items) {
    append_quoted_list(out_, items);
    return *this;
  }

 private:
  std::string& out_;
};

// a - b, or none when the difference leaves the signed 128-bit range.
std::optional<i128> checked_sub(i128 a, i128 b) {
  i128 r;
  if (__builtin_sub_overflow(a, b, &r)) return std::nullopt;
  return r;
}

void write(Sentence& s, const Rule::ByteOrderMark&) {
  s << "the input starts with a UTF-8 byte order mark, kept as leading trivia of the first "
       "segment";
}

void write(Sentence& s, const Rule::UnknownSegment& r) {
  s << "segment ";
  s.quoted(r.id) << " is not part of the structure: no open loop holds it and it opens no loop";
}

void write(Sentence& s, const Rule::ImplicitLoop& r) {
  s << "loop ";
  s.quoted(r.loop) << " opened without its own trigger (" << r.trigger << ") to hold segment ";
  s.quoted(r.id);
}

void write(Sentence& s, const Rule::UnterminatedLoop& r) {
  s << "loop ";
  s.quoted(r.loop) << " ";
  s.opened_at(r.opened_at) << "closed without its end segment ";
  s.quoted(r.end_id);
}

void write(Sentence& s, const Rule::ControlCountMismatch& r) {
  s.place(r.place) << " declares ";
  s.quoted(r.declared) << " but the count is ";
  s.number(r.count);
}

void write(Sentence& s, const Rule::ControlElementMissing& r) {
  s << "control element ";
  s.place(r.place) << " is missing: the segment has no element ";
  s.number(r.position);
}

void write(Sentence& s, const Rule::ControlNumberMismatch& r) {
  s.place(r.closer) << " ";
  s.quoted(r.closer_value) << " does not match ";
  s.place(r.opener) << " ";
  s.quoted(r.opener_value);
  if (r.opened_at) {
    s << " of segment #";
    s.number(*r.opened_at);
  }
}

void write(Sentence& s, const Rule::RequiredElementMissing& r) {
  s << "required element ";
  s.element(r.place, r.name) << " is missing or empty";
}

void write(Sentence& s, const Rule::TypeMismatch& r) {
  s << "element ";
  s.element(r.place, r.name) << " is not a valid " << to_string(r.type);
}

void write(Sentence& s, const Rule::LengthOutOfRange& r) {
  s << "element ";
  s.element(r.place, r.name) << " has length ";
  s.number(r.length) << "; the spec allows ";
  if (r.min && r.max) {
    s.number(*r.min) << " to ";
    s.number(*r.max);
  } else if (r.max) {
    s << "at most ";
    s.number(*r.max);
  } else if (r.min) {
    s << "at least ";
    s.number(*r.min);
  } else {
    s << "any length";
  }
}

void write(Sentence& s, const Rule::ValueDropped& r) {
  s << "text for column ";
  s.quoted(r.column) << " of table ";
  s.quoted(r.table) << " was not stored: it would bring the column to ";
  s.number(r.size) << " bytes and a column holds at most ";
  s.number(column::kMaxBinaryBytes);
}

void write(Sentence& s, const Rule::CompositeShape& r) {
  s << "element ";
  s.element(r.place, r.name) << " has ";
  s.number(r.found) << " components; the spec declares ";
  s.number(r.declared);
}

void write(Sentence& s, const Rule::CodeNotInList& r) {
  s << "element ";
  s.element(r.place, r.name);
  if (r.codes->size() == 1) {
    s << " is not the one code the spec lists for it";
  } else {
    s << " is not one of the ";
    s.number(r.codes->size()) << " codes the spec lists for it";
  }
  if (r.occurrence) {
    s << " in occurrence ";
    s.quoted(*r.occurrence);
  }
  if (r.codes->size() <= kMaxListed) {
    s << " (";
    s.quoted_list(r.codes) << ")";
  }
}

void write(Sentence& s, const Rule::RequiredOccurrenceMissing& r) {
  s << "loop ";
  s.quoted(r.loop) << " ";
  s.opened_at(r.opened_at) << "closed without its required occurrence ";
  s.quoted(r.occurrence) << " (" << r.selector << ")";
}

void write(Sentence& s, const Rule::OccurrenceOverMax& r) {
  s << "occurrence ";
  s.quoted(r.occurrence) << " (" << r.selector << ") of loop ";
  s.quoted(r.loop) << " appears ";
  s.number(r.count) << " times in one instance; the spec allows at most ";
  s.number(r.max);
}

void write(Sentence& s, const Rule::LoopOverMax& r) {
  s << "loop ";
  s.quoted(r.loop) << " has ";
  s.number(r.count) << " instances ";
  if (r.parent) {
    s << "under one instance of loop ";
    s.quoted(*r.parent);
  } else {
    s << "at the root";
  }
  s << "; the spec allows at most ";
  s.number(r.max);
}

void write(Sentence& s, const Rule::OutOfOrder& r) {
  s << "occurrence ";
  s.quoted(r.occurrence) << " (position ";
  s.number(r.position) << ") of loop ";
  s.quoted(r.loop) << " comes after occurrence ";
  s.quoted(r.earlier) << " (position ";
  s.number(r.earlier_position) << ") of loop ";
  s.quoted(r.earlier_loop);
}

void write(Sentence& s, const Rule::UnknownOccurrence& r) {
  s << "segment ";
  s.quoted(r.id) << " matches none of the ";
  s.number(r.occurrences->size()) << " occurrences loop ";
  s.quoted(r.loop) << " declares for it";
  if (r.occurrences->size() <= kMaxListed) {
    s << " (";
    s.quoted_list(r.occurrences) << ")";
  }
  s << ": ";
  s.place(r.qualifier) << " holds none of their qualifier codes";
}

void write(Sentence& s, const Rule::RequiredLoopMissing& r) {
  s << "loop ";
  s.quoted(r.loop) << " ";
  s.opened_at(r.opened_at) << "closed without its required child loop ";
  s.quoted(r.child) << " (trigger " << r.trigger << ")";
}

void write(Sentence& s, const Rule::BalanceMismatch& r) {
  s << "balancing rule ";
  s.quoted(r.rule) << " fails in loop ";
  s.quoted(r.loop) << " ";
  if (r.opened_at) {
    s << "opened at segment #";
    s.number(*r.opened_at);
  } else {
    s << "opened implicitly";
  }
  s << ": " << r.target_terms << " is ";
  s.amount(r.target, r.scale) << ", but " << r.sum_terms << " adds up to ";
  s.amount(r.sum, r.scale);
  if (const auto off = checked_sub(r.target, r.sum)) {
    s << " (off by ";
    s.amount(*off, r.scale) << ")";
  }
  s << "; read from segments ";
  for (size_t i = 0; i < r.segments.size() && i < kMaxSegments; ++i) {
    s << (i > 0 ? ", #" : "#");
    s.number(r.segments[i]);
  }
  if (r.segments.size() > kMaxSegments) {
    s << " and ";
    s.number(r.segments.size() - kMaxSegments) << " more";
  }
}

void write(Sentence& s, const Rule::External& r) {
  s << r.message << " (reported by " << r.origin;
  if (r.code) s << ", code " << *r.code;
  s << ")";
}

}  // namespace

LoopPath::LoopPath(std::initializer_list<LoopRef> loops) : LoopPath(std::vector<LoopRef>(loops)) {}

std::string to_string(SnipLevel level) { return "SNIP " + std::to_string(level.level()); }

void append_loop(std::string& out, const LoopRef& loop) {
  std::string storage;
  out.append(render_key(loop.key, storage));
  out.push_back('#');
  out += std::to_string(loop.instance);
}

std::string to_string(const LoopRef& loop) {
  std::string out;
  append_loop(out, loop);
  return out;
}

std::string to_string(const ElementRef& place) {
  return element_place(place.id, place.element, place.component);
}

std::string_view kind_name(RuleKind kind) {
  const auto i = static_cast<size_t>(kind);
  return i < kRuleKinds ? kKindNames[i] : std::string_view();
}

SnipLevel Rule::level() const {
  if (const auto* external = get_if<External>()) return external->level;
  const RuleKind k = kind();
  if (k <= RuleKind::ControlNumberMismatch) return SnipLevel::of_level(1);
  if (k <= RuleKind::RequiredLoopMissing) return SnipLevel::of_level(2);
  return SnipLevel::of_level(3);
}

void append_rule(std::string& out, const Rule& rule) {
  Sentence s(out);
  std::visit(
      [&]<class T>(const T& r) {
        if constexpr (requires { *r; })
          write(s, *r);
        else
          write(s, r);
      },
      rule.data);
}

std::string to_string(const Rule& rule) {
  std::string out;
  append_rule(out, rule);
  return out;
}

std::string render_path(const std::vector<LoopRef>& loops) {
  std::string out;
  for (size_t i = 0; i < loops.size(); ++i) {
    if (i > 0) out.push_back('/');
    append_loop(out, loops[i]);
  }
  return out;
}

std::string to_string(const Diagnostic& d) {
  static constexpr std::string_view kSep = " \xC2\xB7 ";  // space, U+00B7, space
  std::string out = to_string(d.level);
  out.append(kSep);
  append_rule(out, d.rule);
  out.append(kSep);
  if (d.segment) {
    out += "segment #" + std::to_string(*d.segment);
  } else {
    out += "end of stream";
  }
  if (d.element) {
    out += ", element " + std::to_string(*d.element);
    if (d.component) out += ", component " + std::to_string(*d.component);
  }
  out.append(kSep);
  out += "at ";
  out += d.loops.empty() ? std::string("the root") : render_path(d.loops);
  out.append(kSep);
  out += "datum ";
  append_quoted(out, d.datum);
  return out;
}

}  // namespace zarvi_core
