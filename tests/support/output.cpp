#include "support/output.h"

#include <unistd.h>

#include <cstdio>

namespace output_test {

std::string onlyLine(const std::string &line) {
  std::string re = "^";
  for (char c : line) {
    if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos) re += '\\';
    re += c;
  }
  return re + "\n$";
}

void stdoutToStderr() {
  fflush(stdout);
  dup2(2, 1);
  setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace output_test
