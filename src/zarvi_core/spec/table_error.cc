#include "zarvi_core/spec/table_error.h"

#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {

std::string to_string(const TableDefError& e) {
  using K = TableDefError::Kind;
  const auto& t = e.text;
  auto q = [](const std::string& s) { return quote_name(s); };
  auto n = [&](std::size_t i) { return std::to_string(e.number[i]); };
  switch (e.kind) {
    case K::EmptyName:
      return "the " + t[0] + " is empty";
    case K::NoLoops:
      return "\"loops\" is empty; a table anchors in at least one loop";
    case K::DuplicateLoop:
      return "loop " + q(t[0]) + " is listed more than once in \"loops\"";
    case K::UnknownLoop:
      return "loop " + q(t[0]) + " does not exist";
    case K::ReservedName:
      return "the name " + q(t[0]) + " is taken by an automatic column";
    case K::RefTaken:
      return "\"ref\" " + q(t[0]) + " is already used by table " + q(t[1]);
    case K::RepeatWithoutSegment:
      return "\"repeat\" requires \"segment\": only a segment's elements repeat";
    case K::ZeroStep:
      return "\"repeat.step\" is 0";
    case K::ZeroPosition:
      return q(t[0]) + " must be a 1-based position; found 0";
    case K::BadPosition:
      return "\"where\" position " + q(t[0]) + " is not a 1-based integer in canonical form";
    case K::OffsetBeyondStep:
      return "\"group_element\" " + n(0) + " is outside a group of " + n(1) +
             " elements (offsets start at 0)";
    case K::NestedAnchors:
      return "anchor loops " + q(t[0]) + " and " + q(t[1]) +
             " nest; a table without \"segment\" anchors in loops that do not";
    case K::SharedAnchor:
      return "loop " + q(t[0]) + " already anchors table " + q(t[1]) +
             "; a loop anchors at most one table without \"segment\"";
    case K::UnrelatedAnchors:
      return "anchor loops " + q(t[0]) + " and " + q(t[1]) +
             " sit under tables that are not one chain: " + q(t[0]) + " under " + t[2] + ", " +
             q(t[1]) + " under " + t[3];
    case K::UnrelatedLoop:
      return "loop " + q(t[0]) + " is neither anchor loop " + q(t[1]) +
             ", a loop inside it nor a loop above it";
    case K::UnknownOccurrence:
      return "loop " + q(t[0]) + " has no occurrence " + q(t[1]) + "; " +
             (e.names.empty() ? std::string("it declares none")
                              : "it declares " + quote_list(e.names));
    case K::OccurrenceAndSegment:
      return "\"occurrence\" already names the segment and its qualifier; " + q(t[0]) + " (" +
             t[1] + ") does not go with it";
    case K::OccurrenceSegments:
      return "occurrence " + q(t[0]) + " is segment " + q(t[1]) + " in anchor loop " + q(t[2]) +
             " but segment " + q(t[3]) + " in anchor loop " + q(t[4]) +
             "; name the loop to read with \"loop\"";
    case K::AfterAnchor:
      return "occurrence " + q(t[0]) + " (position " + n(0) + ") of loop " + q(t[1]) +
             " comes after anchor loop " + q(t[2]) + " opens (position " + n(1) +
             "): its segments arrive after the rows are appended, so the column never fills";
    case K::PickNeedsOccurrence:
      return "\"pick\" (" + t[0] + ") requires \"occurrence\": only a named occurrence has a known repeat";
    case K::BadPick:
      return "\"pick\" must be \"first\", \"last\" or a 1-based position; found " + t[0];
    case K::PickOnSingle:
      return "occurrence " + q(t[0]) + " of loop " + q(t[1]) + " appears at most once, so \"pick\" (" +
             t[2] + ") has nothing to choose from";
    case K::PickBeyondMax:
      return "\"pick\" " + n(0) + " is past occurrence " + q(t[0]) + " of loop " + q(t[1]) +
             ", which repeats at most " + n(1) + " times";
    case K::SegmentNotHeld:
      return "segment " + q(t[0]) + " is neither the trigger nor a segment of loop " + q(t[1]) +
             ", so it is never read there";
    case K::AnchorSegmentOnly:
      return q(t[0]) + " (" + t[1] + ") does not apply in a table anchored on segment " + q(t[2]) +
             ": its columns read that segment";
    case K::NeedsSegment:
      return "the column names no \"segment\" or \"occurrence\" to read";
    case K::GroupWithoutRepeat:
      return "\"group_element\" requires the table's \"repeat\"";
    case K::SourceCount:
      return "a column takes exactly one of \"element\", \"group_element\" or \"segment_index\"; "
             "found " + n(0);
    case K::ComponentOnIndex:
      return "\"component\" does not apply to \"segment_index\"";
  }
  return {};
}

}  // namespace zarvi_core::spec
