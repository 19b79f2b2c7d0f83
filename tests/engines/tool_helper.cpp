// A tiny stand-in for an encoder tool: the engine store tests embed its bytes
// as a resource, write it into the engine folder and run it from there. It
// prints its arguments one per line, so a test can tell it really ran with
// the argv it was given.
#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::printf("%s\n", argv[i]);
  return 0;
}
