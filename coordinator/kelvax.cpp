// Entry point of the synthesis coordinator.
#include <climits>
#include <cstdlib>

#include "Util.h"

int main(int argc, char **argv) {
  int portNumber = INT_MIN;
  int numberOfNodes = INT_MIN;
  Util util;
  util.parseCoorCmdLine(argc, argv, &portNumber, &numberOfNodes);
  if (portNumber < 1 || portNumber > 65535 || numberOfNodes < 0) {
    Util::printCoorUsage();
    return 2;
  }
  return 0;
}
