// Audio companding of the downward stream.
#include "vesk_net/companding.h"

namespace vesk {

uint8_t stream_compand(int16_t s) {
  const int32_t x = s;
  const int32_t t = (x * (x < 0 ? -x : x)) >> 1;
  const int32_t v = ((x * 32768) - t) >> 22;
  const int32_t out = v + 128;
  if (out > 255) return 255;
  if (out < 0) return 0;
  return static_cast<uint8_t>(out);
}

}  // namespace vesk
