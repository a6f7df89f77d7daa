// The synthesis logic of one node: process j (1..3) and its candidate action
// "x_j := a", which changes only x_j, to a, from a state where x_j != a.
// Process j reads x_{j-1}, x_j and x_{j+1} where they exist; a guarded
// command of process j can therefore only tell apart states that differ in
// what it reads (a group).
//
// Ranking: rank 0 = current states within the invariant; every iteration the
// node reports the current states not yet ranked from which its action
// reaches the latest rank, and is told the new rank (every node's reports).
// Guard: the current states outside the invariant from which the action goes
// one rank down, kept only for whole groups in which every current member
// either goes one rank down or lies in the invariant and stays there; the
// guard sent also holds the current invariant states, so that the
// coordinator does not count them as stuck.
//
// Every bdd_t* returned is new and owned by the caller; arguments are
// borrowed. release() (also run by the destructor) frees what the node
// holds and must run before the manager is closed.
#ifndef MORLET_SYNTHESISNODE_H
#define MORLET_SYNTHESISNODE_H

#include <map>
#include <string>
#include <vector>

#include "GuardCover.h"
#include "ProgramStructure.h"
#include "Util.h"
#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

class SynthesisNode {
 public:
  // `model` must be initialised; process 1..3 and action 0..3.
  SynthesisNode(ProgramStructure *model, int process, int action);
  ~SynthesisNode();
  SynthesisNode(const SynthesisNode &) = delete;
  SynthesisNode &operator=(const SynthesisNode &) = delete;

  static bool validProcess(int process);
  static bool validAction(int action);

  int getProcess() const;
  int getAction() const;
  // The mvar ids (unprimed) process j reads, ascending.
  std::vector<int> readableVars() const;

  // The states (unprimed) from which the action leads into `targetPrimed`
  // (a set over the primed variables).
  bdd_t *preImage(bdd_t *targetPrimed);

  // Sets the current states (and their primed copy) and starts a new
  // ranking run at rank 0.
  void startRanking(bdd_t *current, bdd_t *currentPrimed);
  // The node's bReach for this iteration (the constant false when it has
  // nothing to add).
  bdd_t *nextBReach();
  // Records the rank the coordinator sent (the members of both vectors);
  // false when the vectors are empty, that is when the ranking run ended.
  bool addRank(const std::vector<bdd_t *> &rank, const std::vector<bdd_t *> &rankPrimed);
  // Number of ranks of the current run, rank 0 included.
  int rankCount() const;
  // Rank k (borrowed), 0 <= k < rankCount().
  bdd_t *getRank(int k) const;

  // The guard for this AddCoor iteration, as sent to the coordinator; it
  // also becomes the pending program (see acceptGuard).
  bdd_t *computeGuard();
  // The coordinator acted on the last guard: it becomes the synthesized
  // action.
  void acceptGuard();
  // The synthesized action's guard over what the process reads (borrowed;
  // the constant false before any acceptGuard).
  bdd_t *getProgramGuard() const;
  // One guarded command per guard minterm: "x1 = 0 x2 = 1 -> x1 := 1".
  std::vector<std::string> programLines(Util *util);
  // The same action as few guarded commands with multi-valued literals
  // (GuardCover): "x1 != 0 & x2 = 0 -> x1 := 0"; none for an empty guard.
  std::vector<std::string> compactLines();
  // Rank k of the current ranking run as minterm texts over x1, x2, x3.
  std::vector<std::string> rankTexts(Util *util, int k);
  // The current states as minterm texts over x1, x2, x3.
  std::vector<std::string> currentStateTexts(Util *util);
  // f over the next-state variables.
  bdd_t *primedCopy(bdd_t *f);
  mdd_manager *getManager() const;
  bdd_t *getCurrentStates() const;
  bdd_t *getInvariant() const;

  void release();

 private:
  static void freeHandle(bdd_t **handle);
  void clearRanks();
  // f with the variables process j cannot read quantified away.
  bdd_t *projectReadable(bdd_t *f);
  std::vector<std::string> mintermTexts(Util *util, bdd_t *f, std::map<int, std::string> labels);
  // The program guard's cubes as multi-valued cubes over the readable
  // variables (codes beyond a domain left out).
  std::vector<GuardCover::Cube> guardCubes(const std::vector<int> &ids);

  ProgramStructure *model;
  mdd_manager *manager;
  int process;
  int action;

  bdd_t *invariant;
  bdd_t *invariantPrimed;
  bdd_t *transition;  // over current and next-state variables
  bdd_t *enabled;     // x_j != a
  array_t *primedVars;
  array_t *hiddenVars;

  bdd_t *current;
  bdd_t *currentPrimed;
  std::vector<bdd_t *> ranks;
  std::vector<bdd_t *> ranksPrimed;
  bdd_t *ranked;  // union of the ranks so far

  bdd_t *pendingGuard;  // over the readable variables
  bdd_t *programGuard;
};

#endif
