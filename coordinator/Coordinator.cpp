#include "Coordinator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "BFormula.h"
#include "Union.h"

Coordinator::Coordinator()
    : manager(nullptr),
      listenSocket(-1),
      portNumber(INT_MIN),
      numberOfNodes(INT_MIN),
      receiveSeconds(0),
      currentStates(nullptr),
      currentStatesPrimed(nullptr),
      invariantPred(nullptr),
      invariantPredPrimed(nullptr),
      failed(false),
      noInvariantLeft(false),
      noStuckStates(false),
      initialised(false),
      closed(false) {}

Coordinator::~Coordinator() { shutdown(); }

void Coordinator::freeHandle(bdd_t **handle) {
  if (*handle != nullptr) bdd_free(*handle);
  *handle = nullptr;
}

int Coordinator::run(int argc, char **argv) {
  initialise();
  if (!parseCommandLine(argc, argv)) {
    shutdown();
    return 2;
  }
  if (!openListener()) {
    shutdown();
    return 1;
  }
  buildInvariants();
  acceptNodes();
  openingBroadcast();
  firstRanking();
  addCoorLoop();
  reportOutcome();
  shutdown();
  return 0;
}

void Coordinator::initialise() {
  std::cout << "Initiailizing data structures ..." << std::endl;
  model.Init();
  manager = model.getMDDManager();
  initialised = true;
  std::cout << "Before making invariant ..." << std::endl;
  model.makeInvariant();
  std::cout << "After making invariant ..." << std::endl;
  currentStates = bdd_one(manager);
  currentStatesPrimed = bdd_one(manager);
}

bool Coordinator::parseCommandLine(int argc, char **argv) {
  util.parseCoorCmdLine(argc, argv, &portNumber, &numberOfNodes);
  // The command line has no defaults; a run needs a usable port and a
  // non-negative number of nodes.
  if (portNumber < 1 || portNumber > 65535 || numberOfNodes < 0 ||
      !parseOperatorOptions(argc, argv, &bindAddress, &receiveSeconds)) {
    Util::printCoorUsage();
    return false;
  }
  comManager.reset(new KelvaxComManager());
  addresses.clear();
  std::cout << "End of Initiailization!" << std::endl;
  return true;
}

namespace {

bool optionIs(const char *arg, char lower) {
  return arg[0] == '-' && arg[1] != '\0' && (arg[1] == lower || arg[1] == lower - ('a' - 'A'));
}

// Bounds every blocking read (and accept) on the socket by `seconds`.
void setReceiveDeadline(int sock, int seconds) {
  if (seconds <= 0) return;
  struct timeval limit = {seconds, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

}  // namespace

bool Coordinator::parseOperatorOptions(int argc, char **argv, std::string *bindAddress,
                                       int *receiveSeconds) {
  for (int i = 1; i < argc; i++) {
    bool isBind = optionIs(argv[i], 'b');
    if (!isBind && !optionIs(argv[i], 't')) continue;
    if (i + 1 >= argc) return false;
    const char *value = argv[i + 1];
    if (isBind) {
      struct in_addr address;
      if (inet_pton(AF_INET, value, &address) != 1) return false;
      *bindAddress = value;
    } else {
      size_t digits = strspn(value, "0123456789");
      if (digits == 0 || digits > 9 || value[digits] != '\0') return false;
      int seconds = atoi(value);
      if (seconds < 1 || seconds > kMaxReceiveSeconds) return false;
      *receiveSeconds = seconds;
    }
  }
  return true;
}

bool Coordinator::openListener() {
  listenSocket = socket(AF_INET, SOCK_STREAM, 0);
  if (listenSocket < 0) {
    // Going on would block for ever in accept.
    std::cout << "Synthesis Coordinator: cannot create a socket!" << std::endl;
    return false;
  }
  std::cout << "Created a socket!" << std::endl;
  int one = 1;
  setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  struct sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!bindAddress.empty()) inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr);
  address.sin_port = htons((uint16_t)portNumber);
  if (bind(listenSocket, (struct sockaddr *)&address, sizeof address) < 0) {
    std::cout << "Synthesis Coordinator: cannot bind the local address!" << std::endl;
    return false;
  }
  (void)listen(listenSocket, kBacklog);
  setReceiveDeadline(listenSocket, receiveSeconds);
  return true;
}

void Coordinator::buildInvariants() {
  freeHandle(&invariantPred);
  freeHandle(&invariantPredPrimed);
  invariantPred = model.buildSynthesisInvariant(false);
  invariantPredPrimed = model.buildSynthesisInvariant(true);
}

void Coordinator::acceptNodes() {
  for (int i = 0; i < numberOfNodes; i++) {
    std::cout << "Number of accepted connections " << i << std::endl;
    std::cout << "before accept ..." << std::endl;
    struct sockaddr_in peer;
    socklen_t peerLength = sizeof peer;
    int sock = accept(listenSocket, (struct sockaddr *)&peer, &peerLength);
    std::cout << "after accept ..." << std::endl;
    if (sock < 0) {
      std::cout << "Synthesis Coordinator: unable to accept connections!" << std::endl;
      continue;
    }
    // Small messages go out at once instead of waiting for the peer's
    // acknowledgement of the previous one.
    int one = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setReceiveDeadline(sock, receiveSeconds);
    addresses.push_back(sock);
    bdd_t *greeting = comManager->recvMDD(manager, &util, sock);
    bdd_free(greeting);
  }
  std::cout << "End of receiving addresses!" << std::endl;
}

void Coordinator::openingBroadcast() {
  for (int sock : addresses) {
    bdd_t *one = bdd_one(manager);
    if (!comManager->sendMDD(manager, one, &util, sock))
      std::cout << "Failed to send the MDD to the node " << sock << std::flush;
    bdd_free(one);
  }
}

void Coordinator::ensureRanking() {
  if (!ranking)
    ranking.reset(new KelvaxBRanking(manager, portNumber, comManager.get(), &model, &util));
}

void Coordinator::firstRanking() {
  ensureRanking();
  ranking->rankingCoordinator(currentStates, currentStatesPrimed, invariantPred,
                              invariantPredPrimed, manager, addresses, model.getUnPrimedmVars());
  std::cout << "Finished ranking!" << std::endl;
}

void Coordinator::addCoorIteration() {
  ensureRanking();
  bdd_t *zero = bdd_zero(manager);
  Union guards(manager);
  for (int sock : addresses) {
    bdd_t *guard = comManager->recvMDD(manager, &util, sock);
    if (bdd_equal(guard, zero)) {
      std::cout << "AddCoor: Received an empty guard from node " << sock << std::endl;
      bdd_free(guard);
    } else {
      guards.addPredicate(guard);
    }
  }
  bdd_t *enabledGuards = guards.toMDD();
  for (bdd_t *guard : guards.getVector()) bdd_free(guard);

  bdd_t *notEnabled = bdd_not(enabledGuards);
  bdd_t *stuckStates = bdd_and(currentStates, notEnabled, 1, 1);
  bdd_t *stuckStatesPrimed = Util::genPrimed(stuckStates, manager, &model);
  bdd_t *notStuck = bdd_not(stuckStates);
  bdd_t *remainingStates = bdd_and(currentStates, notStuck, 1, 1);
  bdd_t *remainingStatesPrimed = Util::genPrimed(remainingStates, manager, &model);
  bdd_free(notEnabled);
  bdd_free(notStuck);
  bdd_free(enabledGuards);

  for (int sock : addresses) {
    if (!comManager->sendMDD(manager, remainingStates, &util, sock))
      std::cout << "AddCoor: Failed to send an MDD!" << std::endl;
    if (!comManager->sendMDD(manager, remainingStatesPrimed, &util, sock))
      std::cout << "AddCoor: Failed to send an MDD!" << std::endl;
  }
  for (int sock : addresses) {
    if (!comManager->sendMDD(manager, stuckStates, &util, sock))
      std::cout << "AddCoor: Failed to send an MDD!" << std::endl;
    if (!comManager->sendMDD(manager, stuckStatesPrimed, &util, sock))
      std::cout << "AddCoor: Failed to send an MDD!" << std::endl;
  }

  ranking->rankingCoordinator(remainingStates, remainingStatesPrimed, invariantPred,
                              invariantPredPrimed, manager, addresses, model.getUnPrimedmVars());

  freeHandle(&currentStates);
  currentStates = bdd_dup(remainingStates);

  if (bdd_equal(currentStates, zero)) failed = true;
  bdd_t *invariantLeft = bdd_and(invariantPred, currentStates, 1, 1);
  if (bdd_equal(invariantLeft, zero)) noInvariantLeft = true;
  if (bdd_equal(stuckStates, zero)) noStuckStates = true;

  bdd_free(invariantLeft);
  bdd_free(stuckStates);
  bdd_free(stuckStatesPrimed);
  bdd_free(remainingStates);
  bdd_free(remainingStatesPrimed);
  bdd_free(zero);
}

void Coordinator::addCoorLoop() {
  // Each iteration removes its stuck states from the current states, so the
  // loop ends at the latest when the current states are empty.
  do {
    addCoorIteration();
  } while (!noInvariantLeft && !noStuckStates);
}

void Coordinator::reportOutcome() {
  if (failed)
    std::cout << "Failed to synthesize a program!" << std::endl;
  else
    std::cout << "Successfully synthesized a program!" << std::endl;
}

void Coordinator::shutdown() {
  if (closed) return;
  closed = true;
  if (initialised) {
    if (ranking) ranking->release();
    BFormula::releaseAll();
    freeHandle(&currentStates);
    freeHandle(&currentStatesPrimed);
    freeHandle(&invariantPred);
    freeHandle(&invariantPredPrimed);
    util.releaseMinterms();
    model.release();
    mdd_quit(manager);
    manager = nullptr;
  }
  ranking.reset();
  std::cout << std::flush;
  for (int sock : addresses) close(sock);
  addresses.clear();
  if (listenSocket >= 0) close(listenSocket);
  listenSocket = -1;
}

const std::vector<int> &Coordinator::getAddresses() const { return addresses; }

void Coordinator::addAddress(int sock) { addresses.push_back(sock); }

int Coordinator::getListenSocket() const { return listenSocket; }

int Coordinator::getPortNumber() const { return portNumber; }

int Coordinator::getNumberOfNodes() const { return numberOfNodes; }

mdd_manager *Coordinator::getManager() const { return manager; }

ProgramStructure *Coordinator::getModel() { return &model; }

KelvaxBRanking *Coordinator::getRanking() { return ranking.get(); }

bdd_t *Coordinator::getCurrentStates() const { return currentStates; }

bdd_t *Coordinator::getInvariantPred() const { return invariantPred; }

bdd_t *Coordinator::getInvariantPredPrimed() const { return invariantPredPrimed; }

bool Coordinator::isFailed() const { return failed; }

bool Coordinator::isNoInvariantLeft() const { return noInvariantLeft; }

bool Coordinator::isNoStuckStates() const { return noStuckStates; }
