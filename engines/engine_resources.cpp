// The embedded encoder tools as resources 301, 302 and 303.
//
// The bytes are placed into the executable by the generated assembler file
// (cmake/EmbedEngines.cmake); each tool lies between a begin and an end symbol,
// and its version text, a zero-terminated string, follows.
// engine_store.cpp reads them through FindEngineResource, which tests can
// redirect with SetEngineResourceLookup.
#include <cstdint>

#include "engines/engine_store.h"

extern "C" {
extern const std::uint8_t orvel_engine_jpegli_begin[];
extern const std::uint8_t orvel_engine_jpegli_end[];
extern const std::uint8_t orvel_engine_mozjpeg_begin[];
extern const std::uint8_t orvel_engine_mozjpeg_end[];
extern const std::uint8_t orvel_engine_jpegtran_begin[];
extern const std::uint8_t orvel_engine_jpegtran_end[];
extern const char orvel_engine_jpegli_version[];
extern const char orvel_engine_mozjpeg_version[];
extern const char orvel_engine_jpegtran_version[];
}

namespace {

// The symbols belong to different objects as far as C++ knows, so the size is
// taken from the addresses rather than by pointer subtraction.
EngineResource ResourceBetween(const std::uint8_t* begin, const std::uint8_t* end,
                               const char* version) {
  const auto first = reinterpret_cast<std::uintptr_t>(begin);
  const auto last = reinterpret_cast<std::uintptr_t>(end);
  if (last <= first) return EngineResource{};
  return EngineResource{begin, static_cast<std::size_t>(last - first), version};
}

}  // namespace

EngineResource FindEmbeddedEngineResource(int resourceId) {
  switch (resourceId) {
    case kEngineResourceJpegli:
      return ResourceBetween(orvel_engine_jpegli_begin, orvel_engine_jpegli_end,
                             orvel_engine_jpegli_version);
    case kEngineResourceMozjpeg:
      return ResourceBetween(orvel_engine_mozjpeg_begin, orvel_engine_mozjpeg_end,
                             orvel_engine_mozjpeg_version);
    case kEngineResourceJpegtran:
      return ResourceBetween(orvel_engine_jpegtran_begin, orvel_engine_jpegtran_end,
                             orvel_engine_jpegtran_version);
    default:
      return EngineResource{};
  }
}
