// The recovery grade's arithmetic.
#include "engine/grading.h"

namespace fennick::engine {

std::int8_t share_percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0 || part <= 0) return 0;
  if (part >= whole) return 100;
  // 100·part = q·whole + r; a remainder of exactly half goes to the even quotient.
  const std::int64_t scaled = part * 100;
  std::int64_t q = scaled / whole;
  const std::int64_t r = scaled % whole;
  if (2 * r > whole || (2 * r == whole && q % 2 != 0)) ++q;
  return static_cast<std::int8_t>(q);
}

}  // namespace fennick::engine
