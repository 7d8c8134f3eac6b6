// Signed and unsigned 128-bit integers: decimal amounts and decimal128 cells.
// `__extension__` keeps -Wpedantic quiet about the compiler's built-in type.
#pragma once

namespace zarvi_core {

__extension__ using i128 = __int128;
__extension__ using u128 = unsigned __int128;

}  // namespace zarvi_core
