// LoopIndex: what the table and balancing steps ask of the compiled loops
// once per column or term (which loop encloses which, an occurrence by name,
// whether a loop holds a segment), answered without walking a chain of
// parents or a list of occurrences. Built once per compile, in time that
// follows the loops and occurrences; it borrows the loops' names and
// segment ids, so the loops must outlive it unchanged.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "zarvi_core/spec/loops.h"

namespace zarvi_core::spec {

class LoopIndex {
 public:
  // `roots` and each loop's children as link_children fills them; the
  // parents form no cycle.
  LoopIndex(const std::vector<LoopDef>& loops, const std::vector<LoopId>& roots);

  // Loops in depth-first order, each before its children.
  const std::vector<LoopId>& preorder() const { return preorder_; }
  // A loop's place in preorder(); the loops it encloses are the ones placed
  // after it and before end(loop).
  std::size_t place(LoopId loop) const { return place_[loop]; }
  std::size_t end(LoopId loop) const { return end_[loop]; }
  // Whether `outer` is an ancestor of `loop` (never of itself).
  bool encloses(LoopId outer, LoopId loop) const {
    return place_[outer] < place_[loop] && place_[loop] < end_[outer];
  }

  // The index in the loop's occurrences of the one named `name`.
  std::optional<std::size_t> occurrence(LoopId loop, std::string_view name) const;
  // The index of the loop's first occurrence (lowest "pos") of `segment`.
  std::optional<std::size_t> first_of_segment(LoopId loop, std::string_view segment) const;
  // Whether the loop reads `segment`: as its trigger, its "end" or a held one.
  bool holds(LoopId loop, std::string_view segment) const;

  // The "pos" of the occurrence that opens the loop.
  std::optional<uint64_t> opener_pos(LoopId loop) const { return opener_pos_[loop]; }
  // How many loops on the way from `loop` up to its root open at a "pos"
  // not below that of the loop under them (or have no opener).
  std::size_t rises(LoopId loop) const { return rises_[loop]; }
  // For `loop` inside `outer`: whether each loop from `loop` up to `outer`
  // opens at a lower "pos" than the one below it, so that positions compare
  // across them.
  bool descends(LoopId loop, LoopId outer) const { return rises_[loop] == rises_[outer]; }

 private:
  // One (loop, key) pair; sorted by loop, key, then index.
  struct Entry {
    LoopId loop;
    std::string_view key;
    std::size_t index;
    friend auto operator<=>(const Entry&, const Entry&) = default;
  };
  static std::optional<std::size_t> find(const std::vector<Entry>& entries, LoopId loop,
                                         std::string_view key);

  const std::vector<LoopDef>& loops_;
  std::vector<LoopId> preorder_;
  std::vector<std::size_t> place_;
  std::vector<std::size_t> end_;
  std::vector<Entry> names_;     // occurrence names, index into occurrences
  std::vector<Entry> segments_;  // occurrence segments, index into occurrences
  std::vector<Entry> held_;      // held segments
  std::vector<std::optional<uint64_t>> opener_pos_;
  std::vector<std::size_t> rises_;
};

}  // namespace zarvi_core::spec
