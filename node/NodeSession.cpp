#include "NodeSession.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "BFormula.h"
#include "ProgramStructure.h"

NodeSession::NodeSession(SynthesisNode *node, Util *util, KelvaxComManager *link)
    : node(node), util(util), link(link), sock(-1), rankingRuns(0), addCoorIterations(0) {}

int NodeSession::connectToCoordinator(const char *address, int port, int retryMs) {
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo *found = nullptr;
  int rc = getaddrinfo(address, nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    std::cout << "morlet: cannot resolve the coordinator's address " << address << ": "
              << gai_strerror(rc) << std::endl;
    return -1;
  }
  struct sockaddr_in target;
  std::memcpy(&target, found->ai_addr, sizeof target);
  freeaddrinfo(found);
  target.sin_port = htons((uint16_t)port);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(retryMs);
  bool waitingShown = false;
  for (;;) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) {
      std::cout << "morlet: cannot create a socket: " << std::strerror(errno) << std::endl;
      return -1;
    }
    if (connect(s, (struct sockaddr *)&target, sizeof target) == 0) {
      int one = 1;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return s;
    }
    int err = errno;
    close(s);
    bool retry = err == ECONNREFUSED || err == EINTR || err == EAGAIN;
    if (!retry || std::chrono::steady_clock::now() >= deadline) {
      std::cout << "morlet: cannot connect to the coordinator at " << address << ":" << port
                << ": " << std::strerror(err) << std::endl;
      return -1;
    }
    if (!waitingShown) {
      std::cout << "morlet: waiting for the coordinator at " << address << ":" << port << " ..."
                << std::endl;
      waitingShown = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool NodeSession::waitForMessage() {
  for (;;) {
    char byte;
    ssize_t n = recv(sock, &byte, 1, MSG_PEEK);
    if (n > 0) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool NodeSession::sendDiagram(bdd_t *f) {
  bool sent = link->sendMDD(node->getManager(), f, util, sock);
  // The link's failure message has no line end.
  if (!sent) std::cout << std::endl;
  return sent;
}

void NodeSession::reportBrokenOff(const char *where) {
  std::cout << "morlet: the coordinator closed the connection " << where << std::endl;
}

bool NodeSession::rankingRun() {
  rankingRuns++;
  for (;;) {
    util->startTimer();
    bdd_t *reach = node->nextBReach();
    util->pauseSynTimer();
    util->startTimer();
    // A failed send shows as a closed connection at the receive below.
    (void)sendDiagram(reach);
    bdd_free(reach);
    if (!waitForMessage()) {
      util->pauseComTimer();
      reportBrokenOff("during a ranking run");
      return false;
    }
    std::vector<bdd_t *> rank = link->recvMDDVec(node->getManager(), util, sock);
    std::vector<bdd_t *> rankPrimed;
    bool open = waitForMessage();
    if (open) rankPrimed = link->recvMDDVec(node->getManager(), util, sock);
    util->pauseComTimer();
    util->startTimer();
    bool more = open && node->addRank(rank, rankPrimed);
    for (bdd_t *m : rank) bdd_free(m);
    for (bdd_t *m : rankPrimed) bdd_free(m);
    util->pauseSynTimer();
    if (!open) {
      reportBrokenOff("during a ranking run");
      return false;
    }
    if (!more) {
      std::cout << "morlet: ranking run " << rankingRuns << " ended with " << node->rankCount()
                << " ranks" << std::endl;
      return true;
    }
  }
}

int NodeSession::run(int socket) {
  sock = socket;
  bdd_manager *mgr = node->getManager();
  // Synthesis work (ranking steps, guards) and the link (sending, waiting,
  // receiving) are timed apart, each interval from its own startTimer.
  util->initTimer();
  util->startTimer();
  bdd_t *greeting = bdd_one(mgr);
  bool sent = sendDiagram(greeting);
  bdd_free(greeting);
  if (!sent || !waitForMessage()) {
    util->pauseComTimer();
    reportBrokenOff("before sending the initial state set");
    return 1;
  }
  bdd_t *initial = link->recvMDD(mgr, util, sock);
  util->pauseComTimer();
  util->startTimer();
  bdd_t *initialPrimed = node->primedCopy(initial);
  node->startRanking(initial, initialPrimed);
  bdd_free(initial);
  bdd_free(initialPrimed);
  util->pauseSynTimer();
  if (!rankingRun()) return 1;

  bool endExpected = false;
  for (;;) {
    util->startTimer();
    bdd_t *guard = node->computeGuard();
    util->pauseSynTimer();
    util->startTimer();
    (void)sendDiagram(guard);
    bdd_free(guard);
    if (!waitForMessage()) {
      util->pauseComTimer();
      if (endExpected) {
        std::cout << "morlet: the coordinator ended the synthesis" << std::endl;
        printProgram();
        return 0;
      }
      reportBrokenOff("before the synthesis ended");
      return 1;
    }
    bdd_t *received[4] = {nullptr, nullptr, nullptr, nullptr};
    bool open = true;
    for (int i = 0; i < 4 && open; i++) {
      if (i > 0) open = waitForMessage();
      if (open) received[i] = link->recvMDD(mgr, util, sock);
    }
    util->pauseComTimer();
    util->startTimer();
    if (open) {
      addCoorIterations++;
      node->acceptGuard();
      bdd_t *remaining = received[0];
      bdd_t *stuck = received[2];
      bdd_t *invariantLeft = bdd_and(remaining, node->getInvariant(), 1, 1);
      // The coordinator stops after this iteration's ranking run when no
      // stuck state or no invariant state is left.
      endExpected = bdd_is_tautology(stuck, 0) || bdd_is_tautology(invariantLeft, 0);
      bdd_free(invariantLeft);
      std::cout << "morlet: AddCoor iteration " << addCoorIterations
                << (endExpected ? ": the coordinator ends after this ranking run"
                                : ": stuck states left")
                << std::endl;
      node->startRanking(remaining, received[1]);
    }
    for (bdd_t *m : received)
      if (m != nullptr) bdd_free(m);
    util->pauseSynTimer();
    if (!open) {
      reportBrokenOff("during an AddCoor iteration");
      return 1;
    }
    if (!rankingRun()) return 1;
  }
}

int NodeSession::getAddCoorIterations() const { return addCoorIterations; }

void NodeSession::printProgram() {
  std::vector<std::string> lines = node->programLines(util);
  std::cout << "Synthesized action of process " << node->getProcess() << " (x"
            << node->getProcess() << " := " << node->getAction() << "), " << lines.size()
            << " guarded commands:" << std::endl;
  for (const std::string &line : lines) std::cout << line << std::endl;
  std::vector<std::string> compact = node->compactLines();
  std::cout << "Compact form: " << compact.size()
            << (compact.size() == 1 ? " guarded command" : " guarded commands") << std::endl;
  for (const std::string &line : compact) std::cout << "compact: " << line << std::endl;
  std::vector<std::string> states = node->currentStateTexts(util);
  std::cout << "Remaining states: " << states.size() << std::endl;
  for (const std::string &state : states) std::cout << "remaining: " << state << std::endl;
  std::cout << "Ranks of the last ranking run: " << node->rankCount() << std::endl;
  for (int k = 0; k < node->rankCount(); k++)
    for (const std::string &state : node->rankTexts(util, k))
      std::cout << "rank " << k << ": " << state << std::endl;
}

void NodeSession::printTimes() {
  // The microsecond totals are never carried into the seconds.
  double synthesis = util->getTotalSynTimeInSec() * 1000.0 + util->getTotalSynTimeInMSec() / 1000.0;
  double communication =
      util->getTotalComTimeInSec() * 1000.0 + util->getTotalComTimeInMSec() / 1000.0;
  std::ostringstream line;
  line << std::fixed << std::setprecision(3) << "morlet: synthesis time " << synthesis
       << " ms, communication time " << communication << " ms";
  std::cout << line.str() << std::endl;
}

int NodeSession::nodeMain(int argc, char **argv) {
  // A coordinator that has gone away must make a send fail, not end the
  // process.
  std::signal(SIGPIPE, SIG_IGN);
  Util util;
  char *address = nullptr;
  int port = INT_MIN, process = INT_MIN, action = INT_MIN;
  util.parseNodeCmdLine(argc, argv, &address, &port, &process, &action);
  if (address == nullptr || port < 1 || port > 65535 || !SynthesisNode::validProcess(process) ||
      !SynthesisNode::validAction(action)) {
    Util::printNodeUsage();
    return 2;
  }

  ProgramStructure model;
  model.Init();
  model.makeInvariant();
  int status = 1;
  {
    SynthesisNode node(&model, process, action);
    KelvaxComManager link;
    std::cout << "morlet: process " << process << ", action x" << process << " := " << action
              << std::endl;
    int s = connectToCoordinator(address, port, kConnectRetryMs);
    if (s >= 0) {
      std::cout << "morlet: connected to the coordinator at " << address << ":" << port
                << std::endl;
      NodeSession session(&node, &util, &link);
      status = session.run(s);
      session.printTimes();
      close(s);
    }
    node.release();
  }
  util.releaseMinterms();
  BFormula::releaseAll();
  mdd_manager *mgr = model.getMDDManager();
  model.release();
  mdd_quit(mgr);
  std::cout << std::flush;
  return status;
}
