#include "zarvi_core/spec/balance_error.h"

#include "zarvi_core/spec/render.h"

namespace zarvi_core::spec {

std::string to_string(const BalanceError& e) {
  using K = BalanceError::Kind;
  switch (e.kind) {
    case K::EmptyName:
      return "the rule name is empty";
    case K::UnknownLoop:
      return e.path + " names loop " + quote_name(e.loop) + ", which the spec does not declare";
    case K::NoTerms:
      return e.path + " is empty; list at least one value";
    case K::LoopOutsidePer:
      return e.path + " reads loop " + quote_name(e.loop) + ", which is neither the rule's \"per\" loop " +
             quote_name(e.per) + " nor a loop below it";
    case K::UnknownOccurrence:
      return e.path + " names occurrence " + quote_name(e.occurrence) + ", which loop " +
             quote_name(e.loop) + " does not declare";
    case K::NoElements:
      return e.path + " is empty; list at least one element position";
    case K::UndefinedElement:
      return e.path + " names " + e.place + ", which the \"segments\" section does not define";
    case K::NotDecimal:
      return e.path + " names " + e.place + ", of type " + e.type +
             "; a balancing value must be of type R";
    case K::UnknownSign:
      return e.path + " must be \"+\" or \"-\"; found " + quote_name(e.sign);
    case K::RepeatedValue:
      return e.path + " counts " + e.place + " of the same occurrence that " + e.earlier +
             " already counts";
  }
  return {};
}

}  // namespace zarvi_core::spec
