// orvel-cli with the test encoder embedded as cjpegli and MozJPEG cjpeg (and
// no jpegtran), so tests can make an encoder hang, fail or run slowly through
// the test encoder's environment settings while the real start-up, signal
// handling and clean-up of the program run around it.
#include <string>
#include <vector>

#include "engines/engine_store.h"
#include "cli/cli_commands.h"
#include "platform/files.h"

namespace {

std::string& TestEncoderBytes() {
  static std::string bytes;
  return bytes;
}

EngineResource LookUpStandIn(int resourceId) {
  if (resourceId != kEngineResourceJpegli && resourceId != kEngineResourceMozjpeg) return {};
  const std::string& bytes = TestEncoderBytes();
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

}  // namespace

int main(int argc, char** argv) {
  if (!ReadFileBytes(ORVEL_TEST_ENCODER, TestEncoderBytes())) return 70;
  SetEngineResourceLookup(LookUpStandIn);
  return RunCliProgram(std::vector<std::string>(argv + 1, argv + argc));
}
