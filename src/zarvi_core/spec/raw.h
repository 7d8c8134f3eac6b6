// The decoded records of a spec JSON value, one per object of the format, and
// their decoders. Each decoder takes a borrowed value and returns the record
// or the decoding error text. RawSpec and RawTable keep pointers to members
// they leave undecoded: the value they were decoded from must outlive them.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "zarvi_core/result.h"

namespace zarvi_core::spec {

// A decoding failure, in the words of the decoder: "missing field `name`",
// "invalid type: string \"x\", expected a loop object" ...
using DecodeError = std::string;

template <class T>
using Decoded = Result<T, DecodeError>;

struct RawVersion {
  std::string segment;
  uint64_t element = 0;
  std::vector<std::string> values;
};

struct RawTrigger {
  std::string segment;
  std::map<std::string, std::string> where;
};

struct RawControl {
  uint64_t opener_element = 0;
  uint64_t closer_element = 0;
  uint64_t count_element = 0;
  std::string count;
};

struct RawQualifier {
  uint64_t element = 0;
  std::optional<uint64_t> component;
  std::vector<std::string> codes;
};

struct RawOccurrence {
  std::string segment;
  uint64_t pos = 0;
  std::optional<std::string> usage;
  std::optional<uint64_t> max;
  std::optional<RawQualifier> qualifier;
  std::map<std::string, std::vector<std::string>> codes;
};

struct RawLoop {
  std::optional<std::string> parent;
  RawTrigger trigger;
  std::map<std::string, RawOccurrence> occurrences;
  std::optional<uint64_t> max;
  std::optional<std::string> usage;
  std::optional<std::string> end;
  std::optional<RawControl> control;
};

struct RawElement {
  std::string name;
  std::string type;
  bool required = false;
  std::optional<uint64_t> min;
  std::optional<uint64_t> max;
  std::optional<uint8_t> scale;
  std::optional<std::vector<std::string>> codes;
  std::optional<std::map<std::string, RawElement>> composite;
};

struct RawSegment {
  std::map<std::string, RawElement> elements;
};

struct RawRepeat {
  uint64_t from = 0;
  uint64_t step = 0;
};

// A column's "pick" as written: a number, or any text.
struct RawPick {
  std::variant<uint64_t, std::string> value;

  // A number in decimal, a text as a JSON string literal: 3, "first".
  std::string written() const;
};

struct RawColumn {
  std::optional<std::string> loop;
  std::optional<std::string> segment;
  std::optional<std::map<std::string, std::string>> where;
  std::optional<std::string> occurrence;
  std::optional<RawPick> pick;
  std::optional<uint64_t> element;
  std::optional<uint64_t> component;
  std::optional<uint64_t> group_element;
  bool segment_index = false;
};

struct RawTable {
  std::vector<std::string> loops;
  std::optional<std::string> ref;
  std::optional<std::string> segment;
  std::optional<RawRepeat> repeat;
  // The "columns" object, checked to be one and decoded column by column
  // later; null when absent.
  const nlohmann::json* columns = nullptr;
};

struct RawTerm {
  std::optional<std::string> loop;
  std::string occurrence;
  std::vector<uint64_t> elements;
  std::optional<uint64_t> component;
  std::optional<std::string> sign;
};

struct RawBalance {
  std::string per;
  std::vector<RawTerm> target;
  std::vector<RawTerm> sum;
};

// The top level. The four sections are checked to be objects and decoded
// member by member later; each pointer is null when its section is absent.
struct RawSpec {
  std::string name;
  const nlohmann::json* loops = nullptr;
  const nlohmann::json* segments = nullptr;
  const nlohmann::json* tables = nullptr;
  const nlohmann::json* balancing = nullptr;
  std::optional<RawVersion> version;
};

Decoded<RawSpec> decode_spec(const nlohmann::json& value);
Decoded<RawVersion> decode_version(const nlohmann::json& value);
Decoded<RawLoop> decode_loop(const nlohmann::json& value);
Decoded<RawTrigger> decode_trigger(const nlohmann::json& value);
Decoded<RawControl> decode_control(const nlohmann::json& value);
Decoded<RawOccurrence> decode_occurrence(const nlohmann::json& value);
Decoded<RawQualifier> decode_qualifier(const nlohmann::json& value);
Decoded<RawSegment> decode_segment(const nlohmann::json& value);
Decoded<RawElement> decode_element(const nlohmann::json& value);
Decoded<RawTable> decode_table(const nlohmann::json& value);
Decoded<RawRepeat> decode_repeat(const nlohmann::json& value);
Decoded<RawColumn> decode_column(const nlohmann::json& value);
Decoded<RawPick> decode_pick(const nlohmann::json& value);
Decoded<RawBalance> decode_balance(const nlohmann::json& value);
Decoded<RawTerm> decode_term(const nlohmann::json& value);

}  // namespace zarvi_core::spec
