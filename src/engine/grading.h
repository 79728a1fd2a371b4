// The recovery grade's arithmetic, shared by the engines: a share as a whole percentage.
#pragma once

#include <cstdint>

namespace fennick::engine {

// part ÷ whole × 100, rounded to the nearest integer with an exact half going to the even
// neighbour; 0 when either is not positive, 100 when part reaches whole. Whole-number
// arithmetic, so no rounding error decides a half; counts stay far below 2^56.
std::int8_t share_percent(std::int64_t part, std::int64_t whole);

}  // namespace fennick::engine
