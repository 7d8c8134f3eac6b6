#include "zarvi_core/spec/spec_error.h"

#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

using E = SpecError;
using std::to_string;

std::string loop_prefix(const std::string& loop_name) { return "loop " + quote_name(loop_name); }

std::string parent_part(const std::optional<std::string>& parent) {
  return parent ? quote_name(*parent) : std::string("the root");
}

struct Message {
  std::string operator()(const E::Json& e) const { return "invalid spec JSON: " + e.message; }
  std::string operator()(const E::Schema& e) const {
    if (e.loop_name) return loop_prefix(*e.loop_name) + " does not match the schema: " + e.source;
    return "spec does not match the schema: " + e.source;
  }
  std::string operator()(const E::Patch& e) const {
    return "applying patch: " + (e.source ? e.source->message() : std::string());
  }
  std::string operator()(const E::UnknownParent& e) const {
    return loop_prefix(e.loop_name) + " names unknown parent " + quote_name(e.parent);
  }
  std::string operator()(const E::Cycle& e) const {
    std::string out = "loops form a parent cycle: ";
    for (const std::string& m : e.members) out += m + " -> ";
    if (!e.members.empty()) out += e.members.front();
    return out;
  }
  std::string operator()(const E::NoLoops& e) const {
    return "spec " + quote_name(e.spec_name) + " declares no loops";
  }
  std::string operator()(const E::EmptySegmentId& e) const {
    if (e.loop_name) return loop_prefix(*e.loop_name) + " has an empty segment id at " + e.key;
    return "the spec has an empty segment id at " + e.key;
  }
  std::string operator()(const E::EndIsTrigger& e) const {
    return loop_prefix(e.loop_name) + " has \"end\" " + quote_name(e.segment) +
           ", the same segment as its \"trigger\": the loop would close on the segment that "
           "opens it";
  }
  std::string operator()(const E::BadPosition& e) const {
    return loop_prefix(e.loop_name) + " has an invalid \"where\" position " +
           quote_name(e.position) + ": positions are 1-based integers written in canonical form";
  }
  std::string operator()(const E::NotAnObject& e) const {
    if (e.path.empty()) return "the spec must be a JSON object; found " + e.found;
    return "spec: the value at " + e.path + " must be a JSON object; found " + e.found;
  }
  std::string operator()(const E::WrongType& e) const {
    std::string out =
        "spec: the value at " + e.path + " must be " + e.expected + "; found " + e.found;
    if (!e.value.empty()) out += " (" + e.value + ")";
    return out;
  }
  std::string operator()(const E::UnknownKey& e) const {
    return "spec: unknown key " + quote_name(e.key) + at(e.path);
  }
  std::string operator()(const E::MissingKey& e) const {
    return "spec: missing required key " + quote_name(e.key) + at(e.path);
  }
  std::string operator()(const E::SegmentSchema& e) const {
    return "segment " + quote_name(e.segment) + " does not match the schema: " + e.source;
  }
  std::string operator()(const E::BadElementDef& e) const {
    return "segment " + quote_name(e.segment) + " element " + quote_name(e.position) + ": " +
           e.reason.message();
  }
  std::string operator()(const E::TableSchema& e) const {
    return table_part(e.table, e.column) + " does not match the schema: " + e.source;
  }
  std::string operator()(const E::BadTable& e) const {
    return table_part(e.table, e.column) + ": " + to_string(e.reason);
  }
  std::string operator()(const E::BadVersion& e) const {
    return "the spec's \"version\" is invalid: " + to_string(e.reason);
  }
  std::string operator()(const E::BadControl& e) const {
    return loop_prefix(e.loop_name) + " has an invalid \"control\": " + e.reason.message();
  }
  std::string operator()(const E::BadOccurrence& e) const {
    return loop_prefix(e.loop_name) + " occurrence " + quote_name(e.occurrence) + ": " +
           e.reason.message();
  }
  std::string operator()(const E::BalanceSchema& e) const {
    return "balancing rule " + quote_name(e.rule) + " does not match the schema: " + e.source;
  }
  std::string operator()(const E::BadBalance& e) const {
    return "balancing rule " + quote_name(e.rule) + ": " + to_string(e.reason);
  }
  std::string operator()(const E::UnmatchedTrigger& e) const {
    std::string out = loop_prefix(e.loop_name) + " opens on " + e.trigger +
                      ", but none of its occurrences holds that segment";
    if (e.segment_held) return out + " with a qualifier the trigger's conditions select";
    return out + ": declare the occurrence the loop opens on";
  }
  std::string operator()(const E::TriggerQualifierWider& e) const {
    return loop_prefix(e.loop_name) + " opens on " + e.trigger + ", and its occurrence " +
           quote_name(e.occurrence) + " also accepts code " + quote_name(e.code) +
           ": a segment with that code would match the occurrence without opening the loop";
  }
  std::string operator()(const E::TriggerNotFirst& e) const {
    return loop_prefix(e.loop_name) + ": occurrence " + quote_name(e.occurrence) + " has \"pos\" " +
           to_string(e.pos) + ", at or before " + to_string(e.other_pos) + " of " +
           quote_name(e.other) + ", the occurrence the loop opens on, which must come first";
  }
  std::string operator()(const E::UnknownLoopUsage& e) const {
    return loop_prefix(e.loop_name) + " has \"usage\" " + quote_name(e.found) +
           "; it must be \"required\" or \"situational\"";
  }
  std::string operator()(const E::ZeroLoopMax& e) const {
    return loop_prefix(e.loop_name) +
           " has \"max\" 0; a loop that may appear appears at least once";
  }
  std::string operator()(const E::AmbiguousTrigger& e) const {
    std::string out = "loops " + quote_name(e.first) + " and " + quote_name(e.second) + " under " +
                      parent_part(e.parent) + " share the identical trigger " +
                      quote_name(e.segment);
    if (!e.conditions.empty()) {
      out += " where {";
      for (size_t i = 0; i < e.conditions.size(); ++i) {
        if (i > 0) out += ", ";
        out += to_string(e.conditions[i].first) + ": " + quote_name(e.conditions[i].second);
      }
      out += "}";
    }
    return out;
  }
  std::string operator()(const E::OverlappingTriggers& e) const {
    return "loops " + quote_name(e.a) + " and " + quote_name(e.b) + " under " +
           parent_part(e.parent) + " can open on the same segment: " + quote_name(e.a) + " on " +
           e.conditions_a + ", " + quote_name(e.b) + " on " + e.conditions_b +
           ", no position they both test requires different values, and neither trigger is "
           "more specific than the other";
  }

  static std::string at(const std::string& path) {
    return path.empty() ? std::string(" at the top level") : " at " + path;
  }
  static std::string table_part(const std::string& table,
                                const std::optional<std::string>& column) {
    std::string out = "table " + quote_name(table);
    if (column) out += " column " + quote_name(*column);
    return out;
  }
};

// Field-by-field text of the debug form.
class Fields {
 public:
  explicit Fields(std::string_view kind) : out_(kind) {}
  Fields& text(std::string_view name, const std::string& v) { return raw(name, quote_name(v)); }
  Fields& text(std::string_view name, const std::optional<std::string>& v) {
    return raw(name, v ? "Some(" + quote_name(*v) + ")" : std::string("None"));
  }
  Fields& num(std::string_view name, uint64_t v) { return raw(name, to_string(v)); }
  Fields& flag(std::string_view name, bool v) { return raw(name, v ? "true" : "false"); }
  Fields& names(std::string_view name, const std::vector<std::string>& v) {
    return raw(name, "[" + quote_list(v) + "]");
  }
  Fields& raw(std::string_view name, const std::string& v) {
    out_ += first_ ? " { " : ", ";
    first_ = false;
    out_.append(name).append(": ").append(v);
    return *this;
  }
  std::string done() { return first_ ? out_ : out_ + " }"; }

 private:
  std::string out_;
  bool first_ = true;
};

struct Debug {
  std::string operator()(const E::Json& e) const {
    return Fields("Json").text("source", e.message).done();
  }
  std::string operator()(const E::Schema& e) const {
    return Fields("Schema").text("loop_name", e.loop_name).text("source", e.source).done();
  }
  std::string operator()(const E::Patch& e) const {
    return Fields("Patch").raw("source", e.source ? e.source->debug() : std::string()).done();
  }
  std::string operator()(const E::UnknownParent& e) const {
    return Fields("UnknownParent").text("loop_name", e.loop_name).text("parent", e.parent).done();
  }
  std::string operator()(const E::Cycle& e) const {
    return Fields("Cycle").names("members", e.members).done();
  }
  std::string operator()(const E::NoLoops& e) const {
    return Fields("NoLoops").text("spec_name", e.spec_name).done();
  }
  std::string operator()(const E::EmptySegmentId& e) const {
    return Fields("EmptySegmentId").text("loop_name", e.loop_name).text("key", e.key).done();
  }
  std::string operator()(const E::EndIsTrigger& e) const {
    return Fields("EndIsTrigger").text("loop_name", e.loop_name).text("segment", e.segment).done();
  }
  std::string operator()(const E::BadPosition& e) const {
    return Fields("BadPosition").text("loop_name", e.loop_name).text("position", e.position).done();
  }
  std::string operator()(const E::NotAnObject& e) const {
    return Fields("NotAnObject").text("path", e.path).text("found", e.found).done();
  }
  std::string operator()(const E::WrongType& e) const {
    return Fields("WrongType")
        .text("path", e.path)
        .text("expected", e.expected)
        .text("found", e.found)
        .text("value", e.value)
        .done();
  }
  std::string operator()(const E::UnknownKey& e) const {
    return Fields("UnknownKey").text("path", e.path).text("key", e.key).done();
  }
  std::string operator()(const E::MissingKey& e) const {
    return Fields("MissingKey").text("path", e.path).text("key", e.key).done();
  }
  std::string operator()(const E::SegmentSchema& e) const {
    return Fields("SegmentSchema").text("segment", e.segment).text("source", e.source).done();
  }
  std::string operator()(const E::BadElementDef& e) const {
    return Fields("BadElementDef")
        .text("segment", e.segment)
        .text("position", e.position)
        .text("reason", e.reason.message())
        .done();
  }
  std::string operator()(const E::TableSchema& e) const {
    return Fields("TableSchema")
        .text("table", e.table)
        .text("column", e.column)
        .text("source", e.source)
        .done();
  }
  std::string operator()(const E::BadTable& e) const {
    return Fields("BadTable").text("table", e.table).text("column", e.column).text("reason", to_string(e.reason)).done();
  }
  std::string operator()(const E::BadVersion& e) const {
    return Fields("BadVersion").text("reason", to_string(e.reason)).done();
  }
  std::string operator()(const E::BadControl& e) const {
    return Fields("BadControl")
        .text("loop_name", e.loop_name)
        .text("reason", e.reason.message())
        .done();
  }
  std::string operator()(const E::BadOccurrence& e) const {
    return Fields("BadOccurrence")
        .text("loop_name", e.loop_name)
        .text("occurrence", e.occurrence)
        .text("reason", e.reason.message())
        .done();
  }
  std::string operator()(const E::BalanceSchema& e) const {
    return Fields("BalanceSchema").text("rule", e.rule).text("source", e.source).done();
  }
  std::string operator()(const E::BadBalance& e) const {
    return Fields("BadBalance").text("rule", e.rule).text("reason", to_string(e.reason)).done();
  }
  std::string operator()(const E::UnmatchedTrigger& e) const {
    return Fields("UnmatchedTrigger")
        .text("loop_name", e.loop_name)
        .text("trigger", e.trigger)
        .flag("segment_held", e.segment_held)
        .done();
  }
  std::string operator()(const E::TriggerQualifierWider& e) const {
    return Fields("TriggerQualifierWider")
        .text("loop_name", e.loop_name)
        .text("occurrence", e.occurrence)
        .text("trigger", e.trigger)
        .text("code", e.code)
        .done();
  }
  std::string operator()(const E::TriggerNotFirst& e) const {
    return Fields("TriggerNotFirst")
        .text("loop_name", e.loop_name)
        .text("occurrence", e.occurrence)
        .num("pos", e.pos)
        .text("other", e.other)
        .num("other_pos", e.other_pos)
        .done();
  }
  std::string operator()(const E::UnknownLoopUsage& e) const {
    return Fields("UnknownLoopUsage").text("loop_name", e.loop_name).text("found", e.found).done();
  }
  std::string operator()(const E::ZeroLoopMax& e) const {
    return Fields("ZeroLoopMax").text("loop_name", e.loop_name).done();
  }
  std::string operator()(const E::AmbiguousTrigger& e) const {
    std::string conditions = "[";
    for (size_t i = 0; i < e.conditions.size(); ++i) {
      if (i > 0) conditions += ", ";
      conditions +=
          "(" + to_string(e.conditions[i].first) + ", " + quote_name(e.conditions[i].second) + ")";
    }
    conditions += "]";
    return Fields("AmbiguousTrigger")
        .text("first", e.first)
        .text("second", e.second)
        .text("parent", e.parent)
        .text("segment", e.segment)
        .raw("conditions", conditions)
        .done();
  }
  std::string operator()(const E::OverlappingTriggers& e) const {
    return Fields("OverlappingTriggers")
        .text("parent", e.parent)
        .text("a", e.a)
        .text("b", e.b)
        .text("conditions_a", e.conditions_a)
        .text("conditions_b", e.conditions_b)
        .done();
  }
};

}  // namespace

SpecError SpecError::patch(SpecError inner) {
  return SpecError(Patch{std::make_shared<const SpecError>(std::move(inner))});
}

std::string SpecError::message() const { return std::visit(Message{}, value); }

std::string SpecError::debug() const { return std::visit(Debug{}, value); }

std::string_view kind_name(SpecError::Kind kind) {
  static constexpr std::string_view kNames[] = {
      "Json",
      "Schema",
      "Patch",
      "UnknownParent",
      "Cycle",
      "NoLoops",
      "EmptySegmentId",
      "EndIsTrigger",
      "BadPosition",
      "NotAnObject",
      "WrongType",
      "UnknownKey",
      "MissingKey",
      "SegmentSchema",
      "BadElementDef",
      "TableSchema",
      "BadTable",
      "BadVersion",
      "BadControl",
      "BadOccurrence",
      "BalanceSchema",
      "BadBalance",
      "UnmatchedTrigger",
      "TriggerQualifierWider",
      "TriggerNotFirst",
      "UnknownLoopUsage",
      "ZeroLoopMax",
      "AmbiguousTrigger",
      "OverlappingTriggers",
  };
  const auto i = static_cast<size_t>(kind);
  return i < std::size(kNames) ? kNames[i] : std::string_view();
}

}  // namespace zarvi_core::spec
