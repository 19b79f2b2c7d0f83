// orvel-cli: the headless front-end to the optimiser. Everything lives in
// cli_commands.cpp (start-up and the commands), cli_options.cpp,
// parallel_batch.cpp and (for profile development) bench_command.cpp.
#include <string>
#include <vector>

#include "cli/cli_commands.h"

int main(int argc, char** argv) {
  return RunCliProgram(std::vector<std::string>(argv + 1, argv + argc));
}
