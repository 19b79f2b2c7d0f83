// Prints each embedded tool resource as "<id> <size> <version>", one a line,
// for the encoder build test to compare with the tools the build made.
#include <cstdio>

#include "engines/engine_store.h"

int main() {
  for (const int id : {kEngineResourceJpegli, kEngineResourceMozjpeg, kEngineResourceJpegtran}) {
    const EngineResource resource = FindEmbeddedEngineResource(id);
    std::printf("%d %zu %s\n", id, resource.size, resource.version);
  }
  return 0;
}
