#include "zarvi_core/spec/control_error.h"

#include "zarvi_core/spec/render.h"

namespace zarvi_core::spec {
namespace {

struct Message {
  std::string operator()(const ControlError::NoEnd&) const {
    return "the loop has no \"end\" segment to check";
  }
  std::string operator()(const ControlError::ZeroPosition& e) const {
    return quote_name(e.key) + " must be a 1-based element position; found 0";
  }
  std::string operator()(const ControlError::UnknownCount& e) const {
    return "\"count\" must be \"segments\" or \"children\"; found " + quote_name(e.found);
  }
};

}  // namespace

std::string ControlError::message() const { return std::visit(Message{}, value); }

}  // namespace zarvi_core::spec
