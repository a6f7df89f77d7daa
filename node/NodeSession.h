// The node's side of the conversation with the coordinator, message by
// message: greeting, the initial state set, ranking runs, and AddCoor
// iterations (guard out; remaining and stuck states with their primed copies
// in; another ranking run) until the coordinator closes the connection.
//
// Before every receive the session waits for the next byte, so that a
// closed connection is told apart from a genuine empty message. The
// coordinator ends the AddCoor loop after the ranking run that follows an
// iteration with no stuck state or no invariant state left; a close right
// after the next guard is then the normal end, and a close anywhere else
// means the coordinator went away mid-run.
//
// At the normal end the node prints its synthesized action (one command per
// guard minterm, then the compact form), the remaining states and the ranks
// of the last ranking run.
#ifndef MORLET_NODESESSION_H
#define MORLET_NODESESSION_H

#include "KelvaxComManager.h"
#include "SynthesisNode.h"
#include "Util.h"

class NodeSession {
 public:
  // How long connectToCoordinator keeps retrying a refused connection.
  static const int kConnectRetryMs = 10000;

  // All three are borrowed.
  NodeSession(SynthesisNode *node, Util *util, KelvaxComManager *link);

  // A connected TCP socket to address:port (an IPv4 address or a host
  // name), retrying every 100 ms while the connection is refused, for up to
  // retryMs. -1 after a line giving the reason.
  static int connectToCoordinator(const char *address, int port, int retryMs);

  // Follows the conversation on `sock` (which stays open). 0 when the
  // coordinator ended the run normally (the synthesized action and the
  // remaining states are then printed), 1 when the connection broke off.
  int run(int sock);

  // AddCoor iterations whose guard the coordinator acted on.
  int getAddCoorIterations() const;

  // The closing line with the time the last run spent on synthesis work
  // and on the link: "morlet: synthesis time S ms, communication time C ms".
  void printTimes();

  // The whole node process: command line, model, connection, conversation,
  // release. Returns the exit status (2 for a bad command line).
  static int nodeMain(int argc, char **argv);

 private:
  // True when a message is waiting; false when the coordinator closed the
  // connection (or it failed).
  bool waitForMessage();
  // Sends one diagram; false when it could not be written.
  bool sendDiagram(bdd_t *f);
  // One ranking run; false when the connection closed during it.
  bool rankingRun();
  void printProgram();
  void reportBrokenOff(const char *where);

  SynthesisNode *node;
  Util *util;
  KelvaxComManager *link;
  int sock;
  int rankingRuns;
  int addCoorIterations;
};

#endif
