// SHA-256 of a run's bytes: a run's identity on the board, so the same file is never queued or
// verified twice. A cryptographic hash, because a collision would let one file take another's
// place.
#pragma once

#include <string>

namespace board {

std::string sha256_hex(const std::string &bytes);  // 64 lowercase hex digits

}  // namespace board
