// The coordinator's half of the backward ranking computed together with the
// synthesis nodes. Rank 0 is the current state set within the invariant; in
// each iteration every node reports the states it adds (its bReach), the
// union of the non-empty reports becomes the next rank, and every node is
// sent the members of that rank and their next-state copies. The run ends
// with the first iteration in which no node reports anything.
//
// The object keeps its rank tables across runs: a run rewrites the ranks it
// produces and leaves higher ranks of an earlier, longer run in place.
// Ownership: the Union objects in the rank maps and the handles in them
// belong to this object; release() frees them and must be called before the
// manager is closed and before BFormula::releaseAll().
#ifndef KELVAX_KELVAXBRANKING_H
#define KELVAX_KELVAXBRANKING_H

#include <map>
#include <vector>

#include "array/array.h"
#include "kzuPort/bdd.h"

class BFormula;
class Intersect;
class KelvaxComManager;
class ProgramStructure;
class Union;
class Util;

class KelvaxBRanking {
 public:
  // Empty rank maps; every other field null or 0.
  KelvaxBRanking();
  // Empty rank maps and the five arguments kept as given (not owned).
  KelvaxBRanking(void *manager, int port, KelvaxComManager *comManager, ProgramStructure *model,
                 Util *util);
  // Releases what release() would.
  ~KelvaxBRanking();
  KelvaxBRanking(const KelvaxBRanking &) = delete;
  KelvaxBRanking &operator=(const KelvaxBRanking &) = delete;

  // One complete ranking run over decision diagrams with the nodes in
  // `addresses`, served in that order. The arguments are borrowed. The
  // unprimed variable array is accepted and not consulted.
  void rankingCoordinator(bdd_t *currentStates, bdd_t *currentStatesPrimed, bdd_t *invariant,
                          bdd_t *invariantPrimed, void *manager, std::vector<int> addresses,
                          array_t *unPrimedmVars);

  // The same fixpoint with the nodes exchanging formulas: rank 0 is
  // `invariant` (which must be a Dnf) conjoined with `currentStates`; each
  // iteration joins the Dnf of every node into the next destination
  // predicate and sends it to every node; the run ends when it is false.
  // The formulas it builds or receives stay in the BFormula release scheme.
  void rankingCoordinator(BFormula *invariant, Intersect *currentStates, void *manager,
                          std::vector<int> addresses);

  // Number of the last non-empty rank of the latest run (-1 when a formula
  // run found its destination predicate false).
  int getCoorRankSize();

  // Rank number -> union of that rank's predicates (unprimed / primed). The
  // pointers stay owned by this object.
  const std::map<int, Union *> &getRankMap() const;
  const std::map<int, Union *> &getPrimedRankMap() const;

  // Deletes every Union of the rank maps and frees their handles; the maps
  // are empty afterwards. Idempotent.
  void release();

 private:
  // Replaces the entry for rank k, releasing the union it held.
  static void storeRank(std::map<int, Union *> *ranks, int k, Union *u);
  static void releaseUnion(Union *u);

  std::map<int, Union *> rankMap;
  std::map<int, Union *> primedRankMap;
  int coorRankSize;
  ProgramStructure *programStructure;
  void *mddManager;
  Util *util;
  int portNumber;
  KelvaxComManager *comManager;
};

#endif
