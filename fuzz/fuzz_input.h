// Splits a fuzzer's bytes into the choices a target makes and the rest.
#ifndef TAUSPAN_FUZZ_FUZZ_INPUT_H_
#define TAUSPAN_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tauspan::fuzz {

struct FuzzInput {
  const uint8_t* data;
  size_t size;

  uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  double any_double() {
    uint64_t bits = 0;
    const size_t n = size < 8 ? size : 8;
    std::memcpy(&bits, data, n);
    data += n;
    size -= n;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  }
  std::string_view rest() const {
    return std::string_view(reinterpret_cast<const char*>(data), size);
  }
};

}  // namespace tauspan::fuzz

#endif  // TAUSPAN_FUZZ_FUZZ_INPUT_H_
