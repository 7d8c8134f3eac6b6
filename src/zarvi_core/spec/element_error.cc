#include "zarvi_core/spec/element_error.h"

#include "zarvi_core/spec/render.h"

namespace zarvi_core::spec {
namespace {

using E = ElementDefError;
using std::to_string;

struct Message {
  std::string operator()(const E::NonCanonicalPosition&) const {
    return "positions are 1-based integers written in canonical form";
  }
  std::string operator()(const E::EmptyName&) const { return "\"name\" is empty"; }
  std::string operator()(const E::DuplicateName& e) const {
    return "name " + quote_name(e.name) + " is already used by position " + quote_name(e.position);
  }
  std::string operator()(const E::UnknownType& e) const {
    return "type " + quote_name(e.found) + " is not one of AN, ID, N0 to N9, R, DT, TM";
  }
  std::string operator()(const E::ScaleWithoutR& e) const {
    return "\"scale\" applies only to type R; found type " + quote_name(e.type);
  }
  std::string operator()(const E::MinAboveMax& e) const {
    return "\"min\" " + to_string(e.min) + " is greater than \"max\" " + to_string(e.max);
  }
  std::string operator()(const E::CompositeOnNonAn& e) const {
    return "\"composite\" requires type AN; found type " + quote_name(e.type);
  }
  std::string operator()(const E::NestedComposite&) const {
    return "a component cannot declare its own \"composite\"";
  }
  std::string operator()(const E::ScaleAboveMaximum& e) const {
    return "\"scale\" " + to_string(e.scale) + " is above the maximum of " + to_string(e.maximum);
  }
  std::string operator()(const E::ZeroMax&) const {
    return "\"max\" is 0; an element holds at least one character";
  }
  std::string operator()(const E::EmptyCodes&) const {
    return "\"codes\" is empty; leave the key out to accept any value";
  }
  std::string operator()(const E::EmptyCode& e) const {
    return "the code at codes[" + to_string(e.index) + "] is empty";
  }
  std::string operator()(const E::CodeLength& e) const {
    std::string out = "code " + quote_name(e.code) + " at codes[" + to_string(e.index) +
                      "] has length " + to_string(e.length) + "; the element allows ";
    if (e.min && e.max) return out + to_string(*e.min) + " to " + to_string(*e.max);
    if (e.max) return out + "at most " + to_string(*e.max);
    if (e.min) return out + "at least " + to_string(*e.min);
    return out + "any length";
  }
  std::string operator()(const E::DuplicateCode& e) const {
    return "code " + quote_name(e.code) + " is listed twice, at codes[" + to_string(e.first) +
           "] and codes[" + to_string(e.second) + "]";
  }
  std::string operator()(const E::CodesOnComposite&) const {
    return "\"codes\" applies to a simple element or a component; this element declares a "
           "\"composite\"";
  }
  std::string operator()(const E::CodesOnNumeric& e) const {
    return "\"codes\" applies to non-numeric types; type " + quote_name(e.type) +
           " holds numbers, which one value can write several ways (1, 01, 1.0)";
  }
};

}  // namespace

std::string ElementDefError::message() const { return std::visit(Message{}, value); }

}  // namespace zarvi_core::spec
