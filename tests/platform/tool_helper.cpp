// A tiny child program for the process-runner tests. The first argument picks
// what it does:
//   exit N          exit with status N
//   print TEXT...   write the texts, one per line, to standard output
//   env NAME        write the value of environment variable NAME
//   pwd             write the current folder to standard output
//   fds             write the descriptors open besides 0, 1 and 2
//   stdin           write how many bytes standard input held
//   stderr          write to standard error only
//   signal          kill itself with SIGKILL
//   touch PATH      create an empty file at PATH
//   hang PATH       create an empty file at PATH, then wait for a signal
//                   for ever
//   signals         write the blocked and the ignored signal sets as the
//                   kernel reports them ("SigBlk:" and "SigIgn:" lines)
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  const std::string command = argv[1];
  if (command == "exit" && argc > 2) return std::atoi(argv[2]);
  if (command == "print") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
    return 0;
  }
  if (command == "env" && argc > 2) {
    const char* value = std::getenv(argv[2]);
    std::printf("%s\n", value == nullptr ? "(unset)" : value);
    return 0;
  }
  if (command == "pwd") {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr) return 3;
    std::printf("%s\n", buffer);
    return 0;
  }
  if (command == "fds") {
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr) return 3;
    const int own = dirfd(listing);
    while (const dirent* entry = readdir(listing)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || fd <= 2 || fd == own) continue;
      std::printf("%d\n", fd);
    }
    closedir(listing);
    return 0;
  }
  if (command == "stdin") {
    char buffer[256];
    size_t total = 0;
    ssize_t got;
    while ((got = read(0, buffer, sizeof buffer)) > 0) total += static_cast<size_t>(got);
    std::printf("%zu\n", total);
    return 0;
  }
  if (command == "stderr") {
    std::fprintf(stderr, "noise\n");
    return 0;
  }
  if (command == "touch" && argc > 2) {
    FILE* file = std::fopen(argv[2], "w");
    if (file == nullptr) return 3;
    std::fclose(file);
    return 0;
  }
  if (command == "hang" && argc > 2) {
    FILE* file = std::fopen(argv[2], "w");
    if (file == nullptr) return 3;
    std::fclose(file);
    for (;;) pause();
  }
  if (command == "signals") {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 3;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "SigBlk:", 7) == 0 || std::strncmp(line, "SigIgn:", 7) == 0) {
        std::fputs(line, stdout);
      }
    }
    std::fclose(status);
    return 0;
  }
  if (command == "signal") {
    raise(SIGKILL);
    return 0;
  }
  return 65;
}
