// The interchange envelope a write is given (who sends and receives, when,
// the first control number, the delimiters) and what it supplies: the check
// of its delimiters and the element values of each control loop's opening
// segment. Envelope is a plain value owned by the caller; results own their
// texts, and delimiter names are static.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/result.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/finding.h"

namespace zarvi_core::write::envelope {

struct Envelope {
  std::string sender_qualifier;
  std::string sender_id;
  std::string receiver_qualifier;
  std::string receiver_id;
  std::string usage_indicator = "P";
  std::optional<std::string> application_sender;
  std::optional<std::string> application_receiver;
  uint64_t control_number = 1;
  int32_t date = 0;   // days since 1970-01-01
  uint32_t time = 0;  // seconds after midnight
  Delimiters delimiters{'*', ':', '~', '^', std::nullopt};
  bool line_break = false;

  Envelope() = default;
  Envelope(std::string sender_qualifier_, std::string sender_id_, std::string receiver_qualifier_,
           std::string receiver_id_, int32_t date_, uint32_t time_)
      : sender_qualifier(std::move(sender_qualifier_)),
        sender_id(std::move(sender_id_)),
        receiver_qualifier(std::move(receiver_qualifier_)),
        receiver_id(std::move(receiver_id_)),
        date(date_),
        time(time_) {}
};

// The envelope fields that values come from, in the order of their names;
// findings and traces carry the index.
enum class Field : uint8_t {
  SenderQualifier,
  SenderId,
  ReceiverQualifier,
  ReceiverId,
  ApplicationSender,
  ApplicationReceiver,
  Date,
  Time,
  UsageIndicator,
  ControlNumber,
  Repetition,
  Component,
  Version,
};

inline constexpr std::array<std::string_view, 13> kFieldNames = {
    "sender_qualifier", "sender_id",        "receiver_qualifier",   "receiver_id",
    "application_sender", "application_receiver", "date",           "time",
    "usage_indicator",  "control_number",   "delimiters.repetition", "delimiters.component",
    "version",
};

constexpr std::string_view field_name(Field field) {
  return kFieldNames[static_cast<size_t>(field)];
}

// One delimiter that no value may hold.
struct Delimiter {
  char byte = 0;
  std::string_view name;  // "element separator" ...
  friend bool operator==(const Delimiter&, const Delimiter&) = default;
};

// Element separator, component separator, segment terminator and, when the
// interchange header carries one, the repetition separator.
using DelimiterList = std::vector<Delimiter>;

// The delimiter list, or why the envelope's delimiters cannot be written:
// RepetitionUnset, DelimiterNotAllowed or SharedDelimiter, the first found.
Result<DelimiterList, finding::WriteError> delimiters(const Envelope& envelope,
                                                      bool header_repetition);

// The delimiter that a field's value holds by definition (ISA11, ISA16):
// checking a value against its own delimiter would always fail. Empty for
// the other fields.
std::string_view own_delimiter(Field field);

// A control number in decimal, left-padded with "0" to `min`.
std::string control_text(uint64_t number, std::optional<uint64_t> min);

// One element of an opening segment: its text (padded to the element's
// minimum) or the reason it cannot be written.
struct Value {
  uint64_t element = 0;  // 1-based
  std::string text;      // empty when failed
  std::optional<std::string> failure;
  std::optional<Field> field;
  friend bool operator==(const Value&, const Value&) = default;
};

// The values of the opening segment `id` of a loop at envelope `level`
// (interchange 0, group 1, transaction 2), one per defined element in
// ascending position; empty for a segment the spec does not define.
std::vector<Value> trigger_values(const spec::Spec& spec, std::string_view id, size_t level,
                                  uint64_t control_element, std::string_view control,
                                  const Envelope& envelope);

}  // namespace zarvi_core::write::envelope
