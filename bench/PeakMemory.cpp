// Runs a command and reports the most memory it held resident at once.
//
//   kestrow_peak_memory COMMAND [ARG...]
//
// The command's own output passes through; the last line on standard error
// is "peak resident memory: N kB". The exit status is the command's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::fprintf(stderr, "kestrow_peak_memory: fork: %s\n", std::strerror(errno));
    return 2;
  }
  if (child == 0) {
    ::execvp(argv[1], argv + 1);
    std::fprintf(stderr, "kestrow_peak_memory: %s: %s\n", argv[1], std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "kestrow_peak_memory: wait: %s\n", std::strerror(errno));
      return 2;
    }
  }
  std::fprintf(stderr, "peak resident memory: %ld kB\n", usage.ru_maxrss);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
