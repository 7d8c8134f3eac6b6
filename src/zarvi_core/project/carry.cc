#include "zarvi_core/project/carry.h"

#include <limits>

namespace zarvi_core::project::carry {

void Held::set(const column::Cell& cell) {
  if (cell.is_null()) {
    state_ = State::Null;
    return;
  }
  state_ = State::Value;
  if (cell.kind() == column::Cell::Kind::Binary) {
    bytes_.assign(cell.bytes());
    cell_ = column::Cell::binary({});
  } else {
    cell_ = cell;
  }
}

column::Cell Held::cell() const {
  if (state_ != State::Value) return column::Cell::null();
  if (cell_.kind() == column::Cell::Kind::Binary) return column::Cell::binary(bytes_);
  return cell_;
}

uint64_t Held::count_pick() {
  if (picks_ != std::numeric_limits<uint64_t>::max()) ++picks_;
  return picks_;
}

}  // namespace zarvi_core::project::carry
