// The libFuzzer entry point of one fuzz target. The build compiles this file
// once per target with ORVEL_FUZZ_FUNCTION naming the function of
// fuzz_targets.h; a broken property traps, so libFuzzer keeps the input.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (!ORVEL_FUZZ_FUNCTION(data, size)) __builtin_trap();
  return 0;
}
