// The coordinator's side of a whole conversation: one to three nodes played
// by the fuzz input over loopback TCP (each node's bytes: its greeting,
// bReach texts, guards, broken or oversized frames, and the stream ends
// where its part of the input ends), driven through the coordinator's own
// steps from the command line to the outcome line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BFormula.h"
#include "Coordinator.h"
#include "fuzz_support.h"

namespace {

// A loopback port that was free when asked; kept for the whole process.
int freePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  if (s < 0 || bind(s, (struct sockaddr *)&a, sizeof a) != 0 ||
      getsockname(s, (struct sockaddr *)&a, &length) != 0)
    fuzz::finding("no loopback port to listen on");
  close(s);
  return ntohs(a.sin_port);
}

int connectTo(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons((uint16_t)port);
  if (s < 0 || connect(s, (struct sockaddr *)&a, sizeof a) != 0) fuzz::finding("cannot connect to the coordinator");
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::setUp();
  static int port = freePort();
  fuzz::Input in(data, size);
  int nodes = 1 + in.byte() % 3;
  std::vector<std::string> parts;
  for (int i = 0; i + 1 < nodes; i++) parts.push_back(in.take(in.u16()));
  parts.push_back(in.rest());

  std::string portText = std::to_string(port), nodesText = std::to_string(nodes);
  std::vector<std::string> args = {"kelvax", "-p", portText, "-n", nodesText, "-b", "127.0.0.1"};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);

  std::vector<std::unique_ptr<fuzz::PlayedPeer>> peers;
  {
    Coordinator c;
    fuzz::exitsFatally([&] {
      c.initialise();
      if (!c.parseCommandLine((int)argv.size(), argv.data())) fuzz::finding("the command line was refused");
      if (!c.openListener()) {
        // Another process took the port: take a new one for the next input.
        port = freePort();
        return;
      }
      for (const std::string &part : parts) peers.emplace_back(new fuzz::PlayedPeer(connectTo(port), part));
      c.buildInvariants();
      c.acceptNodes();
      if ((int)c.getAddresses().size() != nodes) fuzz::finding("a connected node was not accepted");
      c.openingBroadcast();
      c.firstRanking();
      c.addCoorLoop();
      c.reportOutcome();
    });
    c.shutdown();
  }
  peers.clear();
  BFormula::releaseAll();
  return 0;
}
