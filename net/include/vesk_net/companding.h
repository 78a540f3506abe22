// Audio companding of the downward stream: 16-bit samples to the platform's 8-bit ones.
#pragma once

#include <cstdint>

namespace vesk {

// One signed 16-bit sample to an unsigned 8-bit one centred on 128 through
// the soft limiter y = x - x|x|/2 (x = s / 32768).
uint8_t stream_compand(int16_t s);

}  // namespace vesk
