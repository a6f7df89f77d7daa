// The coordinator's run, step by step: start-up, the listening socket,
// accepting the synthesis nodes, the opening broadcast, the first ranking,
// the AddCoor recovery loop and the outcome. run() performs every step in
// order; the steps are public so that each can be driven on its own.
//
// Ownership: the driver owns the program model, its manager, the Util, the
// link, the ranking object, the state-set handles and every socket it
// opened or accepted. shutdown() releases all of it (closing the manager
// last) and is also run by the destructor.
#ifndef KELVAX_COORDINATOR_H
#define KELVAX_COORDINATOR_H

#include <memory>
#include <string>
#include <vector>

#include "KelvaxBRanking.h"
#include "KelvaxComManager.h"
#include "ProgramStructure.h"
#include "Util.h"
#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

class Coordinator {
 public:
  // Listen backlog of the node socket.
  static const int kBacklog = 10024;
  // Largest value of -t.
  static const int kMaxReceiveSeconds = 86400;

  Coordinator();
  ~Coordinator();
  Coordinator(const Coordinator &) = delete;
  Coordinator &operator=(const Coordinator &) = delete;

  // The whole run; returns the process exit status: 0 at the end of a run,
  // 2 when -p or -n is missing or out of range (after the usage text), 1
  // when the listening socket cannot be created or bound.
  int run(int argc, char **argv);

  // Model Init and makeInvariant with their lines; current states = true.
  void initialise();
  // Parses -p and -n, and the operator options -b and -t; false (after the
  // usage text) when -p or -n is missing or out of range or an operator
  // option is malformed. Creates the link and prints "End of
  // Initiailization!" when all are fine.
  bool parseCommandLine(int argc, char **argv);
  // The operator options, off when absent: -b ADDRESS (a dotted IPv4
  // address to bind instead of every interface) and -t SECONDS (1 to
  // kMaxReceiveSeconds: a deadline on every wait for a node). Arguments are
  // recognised by their first two characters and each option takes the
  // next argument, as in Util::parseCoorCmdLine; the later of two equal
  // options wins. False when an option has no value or a malformed one; the
  // outputs are then unspecified. Unset options leave their output as it
  // was.
  static bool parseOperatorOptions(int argc, char **argv, std::string *bindAddress,
                                   int *receiveSeconds);
  // Socket with SO_REUSEADDR, bind to the -b address or every local address
  // at the port, listen. False after the failure line when the socket
  // cannot be created or bound. With -t, a wait in accept longer than the
  // deadline fails as a failed accept does.
  bool openListener();
  // invariantPred and invariantPredPrimed from the model.
  void buildInvariants();
  // Exactly numberOfNodes accept attempts; every accepted node's greeting is
  // received and dropped. Failed attempts are reported and left out. With
  // -t, every read from an accepted node that waits longer than the
  // deadline fails as a broken read does (reported, the empty set).
  void acceptNodes();
  // The constant true to every node.
  void openingBroadcast();
  // Creates the ranking object and runs the first ranking.
  void firstRanking();
  // One AddCoor iteration (guards, split, broadcast of both halves, ranking,
  // flags).
  void addCoorIteration();
  // AddCoor iterations until no stuck state or no invariant state is left.
  void addCoorLoop();
  // The outcome line.
  void reportOutcome();
  // Frees every handle, the ranking's tables, the formulas and the model's
  // data, closes the manager, then the sockets. Idempotent.
  void shutdown();

  // For the steps' callers: the accepted sockets in accept order, and nodes
  // attached without accept (sockets already connected; the driver closes
  // them in shutdown).
  const std::vector<int> &getAddresses() const;
  void addAddress(int sock);
  int getListenSocket() const;
  int getPortNumber() const;
  int getNumberOfNodes() const;
  mdd_manager *getManager() const;
  ProgramStructure *getModel();
  KelvaxBRanking *getRanking();
  // Borrowed state sets (null before they exist).
  bdd_t *getCurrentStates() const;
  bdd_t *getInvariantPred() const;
  bdd_t *getInvariantPredPrimed() const;
  bool isFailed() const;
  bool isNoInvariantLeft() const;
  bool isNoStuckStates() const;

 private:
  static void freeHandle(bdd_t **handle);
  // Creates the ranking object on first use; it is reused by every run.
  void ensureRanking();

  ProgramStructure model;
  mdd_manager *manager;
  Util util;
  std::unique_ptr<KelvaxComManager> comManager;
  std::unique_ptr<KelvaxBRanking> ranking;
  std::vector<int> addresses;
  int listenSocket;
  int portNumber;
  int numberOfNodes;
  std::string bindAddress;  // empty: every interface
  int receiveSeconds;       // 0: no deadline

  bdd_t *currentStates;
  bdd_t *currentStatesPrimed;
  bdd_t *invariantPred;
  bdd_t *invariantPredPrimed;

  bool failed;
  bool noInvariantLeft;
  bool noStuckStates;
  bool initialised;
  bool closed;
};

#endif
