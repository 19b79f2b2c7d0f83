// orvel-cli: the headless front-end to the optimiser. Everything lives in
// cli_commands.cpp (start-up and the commands), cli_options.cpp and (for
// profile development) bench_command.cpp; the batch runs through
// core/parallel_batch.
#include <string>
#include <vector>

#include "cli/cli_commands.h"

int main(int argc, char** argv) {
  return RunCliProgram(std::vector<std::string>(argv + 1, argv + argc));
}
