#include "zarvi_core/write/envelope.h"

#include <algorithm>

#include "zarvi_core/write/render.h"

namespace zarvi_core::write::envelope {
namespace {

using finding::WriteError;

// Bytes that element values hold (letters, digits, white space); a delimiter
// among them would split ordinary values.
bool holds_in_values(char c) {
  const auto u = static_cast<unsigned char>(c);
  const bool alnum = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
  return alnum || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

// Padding past this would only build a value no reader takes; the read-back
// reports the short value instead of the write exhausting memory.
constexpr uint64_t kMaxPadding = uint64_t{1} << 20;

// How many bytes `text` lacks to reach `min`; 0 when it reaches it or the
// minimum is past padding.
size_t shortfall(const std::string& text, std::optional<uint64_t> min) {
  if (!min || *min <= text.size() || *min > kMaxPadding) return 0;
  return static_cast<size_t>(*min - text.size());
}

// An identifier padded to a fixed width, without its trailing white space.
std::string trimmed(std::string_view text) {
  const size_t end = text.find_last_not_of(" \t\n\v\f\r");
  return std::string(text.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

// The envelope field an element of a controlled loop's opening segment takes
// at this envelope level.
std::optional<Field> table_field(size_t level, uint64_t element) {
  if (level == 0) {
    switch (element) {
      case 5: return Field::SenderQualifier;
      case 6: return Field::SenderId;
      case 7: return Field::ReceiverQualifier;
      case 8: return Field::ReceiverId;
      case 9: return Field::Date;
      case 10: return Field::Time;
      case 11: return Field::Repetition;
      case 15: return Field::UsageIndicator;
      case 16: return Field::Component;
      default: return std::nullopt;
    }
  }
  if (level == 1) {
    switch (element) {
      case 2: return Field::ApplicationSender;
      case 3: return Field::ApplicationReceiver;
      case 4: return Field::Date;
      case 5: return Field::Time;
      default: return std::nullopt;
    }
  }
  return std::nullopt;
}

void take(Value& value, render::Rendered rendered) {
  if (rendered.ok()) {
    value.text = std::move(rendered).value();
  } else {
    value.failure = std::move(rendered).error();
  }
}

// The value of an envelope field for element `def`; false when the field
// gives no value at all (an unset repetition separator).
bool field_value(Field field, const spec::ElementDef& def, const Envelope& envelope, Value& value) {
  switch (field) {
    case Field::SenderQualifier: value.text = envelope.sender_qualifier; break;
    case Field::SenderId: value.text = envelope.sender_id; break;
    case Field::ReceiverQualifier: value.text = envelope.receiver_qualifier; break;
    case Field::ReceiverId: value.text = envelope.receiver_id; break;
    case Field::UsageIndicator: value.text = envelope.usage_indicator; break;
    case Field::ApplicationSender:
      value.text = envelope.application_sender ? *envelope.application_sender
                                               : trimmed(envelope.sender_id);
      break;
    case Field::ApplicationReceiver:
      value.text = envelope.application_receiver ? *envelope.application_receiver
                                                 : trimmed(envelope.receiver_id);
      break;
    case Field::Date: take(value, render::envelope_date(envelope.date, def.max)); break;
    case Field::Time: {
      uint32_t seconds = envelope.time;
      // An element of hours and minutes gets the time less its seconds.
      if (def.max && *def.max < 6) seconds -= seconds % 60;
      take(value, render::time_text(seconds, def.max));
      break;
    }
    case Field::Repetition:
      if (!def.codes.empty()) {
        value.text = def.codes.front();
      } else if (envelope.delimiters.repetition) {
        value.text = std::string(1, *envelope.delimiters.repetition);
      } else {
        return false;
      }
      break;
    case Field::Component: value.text = std::string(1, envelope.delimiters.component); break;
    case Field::ControlNumber:
    case Field::Version: break;  // not in the field tables
  }
  return true;
}

// Pads a text to the element's minimum length, in bytes as a reader
// measures it: numbers with leading zeros, fixed-width texts with spaces.
void pad(std::string& text, const spec::ElementDef& def) {
  const size_t missing = shortfall(text, def.min);
  if (def.type.kind == spec::ElementType::Kind::N) {
    text.insert(0, missing, '0');
  } else if (def.max == def.min) {
    text.append(missing, ' ');
  }
}

}  // namespace

Result<DelimiterList, WriteError> delimiters(const Envelope& envelope, bool header_repetition) {
  const Delimiters& d = envelope.delimiters;
  DelimiterList list = {{d.element, "element separator"},
                        {d.component, "component separator"},
                        {d.segment, "segment terminator"}};
  if (header_repetition) {
    if (!d.repetition) return err(WriteError{WriteError::RepetitionUnset{}});
    list.push_back({*d.repetition, "repetition separator"});
  }
  for (size_t i = 0; i < list.size(); ++i) {
    const Delimiter& entry = list[i];
    if (holds_in_values(entry.byte)) {
      return err(WriteError{WriteError::DelimiterNotAllowed{std::string(entry.name), entry.byte}});
    }
    for (size_t j = 0; j < i; ++j) {
      if (list[j].byte == entry.byte) {
        return err(WriteError{WriteError::SharedDelimiter{std::string(list[j].name),
                                                          std::string(entry.name), entry.byte}});
      }
    }
  }
  return list;
}

std::string_view own_delimiter(Field field) {
  switch (field) {
    case Field::Repetition: return "repetition separator";
    case Field::Component: return "component separator";
    default: return {};
  }
}

std::string control_text(uint64_t number, std::optional<uint64_t> min) {
  std::string text = std::to_string(number);
  text.insert(0, shortfall(text, min), '0');
  return text;
}

std::vector<Value> trigger_values(const spec::Spec& spec, std::string_view id, size_t level,
                                  uint64_t control_element, std::string_view control,
                                  const Envelope& envelope) {
  std::vector<Value> values;
  const auto found = spec.segments.find(id);
  if (found == spec.segments.end()) return values;
  const bool version_segment = spec.version && spec.version->segment == id;
  for (const auto& [position, def] : found->second.elements) {
    Value value{position, {}, std::nullopt, std::nullopt};
    if (position == control_element) {
      value.text = std::string(control);
      value.field = Field::ControlNumber;
    } else if (const auto field = table_field(level, position)) {
      value.field = *field;
      if (!field_value(*field, def, envelope, value)) continue;
    } else if (version_segment && spec.version->element == position) {
      if (!spec.version->values.empty()) value.text = spec.version->values.front();
      value.field = Field::Version;
    } else if (!def.codes.empty()) {
      value.text = def.codes.front();
    }
    if (!value.failure) pad(value.text, def);
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace zarvi_core::write::envelope
