// Entry point of the synthesis coordinator.
#include <csignal>

#include "Coordinator.h"

int main(int argc, char **argv) {
  // A node that has gone away must make a send fail, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  Coordinator coordinator;
  return coordinator.run(argc, argv);
}
