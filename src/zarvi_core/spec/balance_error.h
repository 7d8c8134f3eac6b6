// Why a balancing rule does not compile: the reason inside a spec error that
// names the rule. Owns its texts.
#pragma once

#include <cstdint>
#include <string>

namespace zarvi_core::spec {

struct BalanceError {
  enum class Kind : uint8_t {
    EmptyName,          //
    UnknownLoop,        // path, loop
    NoTerms,            // path (the side's name)
    LoopOutsidePer,     // path, loop, per
    UnknownOccurrence,  // path, occurrence, loop
    NoElements,         // path
    UndefinedElement,   // path, place
    NotDecimal,         // path, place, type
    UnknownSign,        // path, sign
    RepeatedValue,      // path, place, earlier
  };
  Kind kind = Kind::EmptyName;
  std::string path;
  std::string loop;        // UnknownLoop, LoopOutsidePer, UnknownOccurrence
  std::string per;         // LoopOutsidePer
  std::string occurrence;  // UnknownOccurrence
  std::string place;       // UndefinedElement, NotDecimal, RepeatedValue
  std::string type;        // NotDecimal: the type code as written in the spec
  std::string sign;        // UnknownSign
  std::string earlier;     // RepeatedValue: the earlier element's path

  friend bool operator==(const BalanceError&, const BalanceError&) = default;
};
std::string to_string(const BalanceError& error);

}  // namespace zarvi_core::spec
