#include "zarvi_core/spec/occurrence_error.h"

#include "zarvi_core/spec/render.h"

namespace zarvi_core::spec {
namespace {

using E = OccurrenceError;

struct Message {
  std::string operator()(const E::EmptyName&) const { return "the occurrence name is empty"; }
  std::string operator()(const E::UnknownUsage& e) const {
    return "\"usage\" must be \"required\" or \"situational\"; found " + quote_name(e.found);
  }
  std::string operator()(const E::ZeroMax&) const {
    return "\"max\" is 0; an occurrence that may appear appears at least once";
  }
  std::string operator()(const E::UndefinedElement& e) const {
    return e.subject + " names " + e.place +
           ", which the \"segments\" section does not define for " + quote_name(e.segment);
  }
  std::string operator()(const E::BadCodesKey& e) const {
    return "codes key " + quote_name(e.key) +
           " must be \"<element>\" or \"<element>-<component>\", 1-based integers in canonical "
           "form";
  }
  std::string operator()(const E::EmptyCodes& e) const {
    return e.subject + " is empty; list at least one code";
  }
  std::string operator()(const E::BadCodes& e) const {
    return e.subject + ": " + e.reason.message();
  }
  std::string operator()(const E::QualifierInCodes& e) const {
    return "codes key " + quote_name(e.key) +
           " names the qualifier's own place; its codes are the qualifier's \"codes\"";
  }
  std::string operator()(const E::QualifierCodeOutsideElement& e) const {
    return "qualifier.codes: code " + quote_name(e.code) + " is not among the codes " + e.place +
           " allows (" + e.allowed + ")";
  }
  std::string operator()(const E::Indistinct& e) const {
    return "holds segment " + quote_name(e.segment) + " like occurrence " + quote_name(e.other) +
           ", and the two have no qualifier on one shared element to tell them apart";
  }
  std::string operator()(const E::QualifierPlaces& e) const {
    return "reads its qualifier at " + e.place + " but occurrence " + quote_name(e.other) +
           " of the same segment reads it at " + e.other_place +
           "; every occurrence of one segment in a loop reads its qualifier at the same place";
  }
  std::string operator()(const E::SharedCode& e) const {
    return "holds segment " + quote_name(e.segment) + " like occurrence " + quote_name(e.other) +
           ", and both qualifiers accept code " + quote_name(e.code);
  }
};

}  // namespace

std::string OccurrenceError::message() const { return std::visit(Message{}, value); }

}  // namespace zarvi_core::spec
