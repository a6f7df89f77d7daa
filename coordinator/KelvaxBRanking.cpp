#include "KelvaxBRanking.h"

#include <iostream>
#include <string>

#include "BFormula.h"
#include "Dnf.h"
#include "Intersect.h"
#include "KelvaxComManager.h"
#include "ProgramStructure.h"
#include "Union.h"
#include "Util.h"

namespace {

const std::string kDashLine(63, '-');

}  // namespace

KelvaxBRanking::KelvaxBRanking()
    : coorRankSize(0),
      programStructure(nullptr),
      mddManager(nullptr),
      util(nullptr),
      portNumber(0),
      comManager(nullptr) {}

KelvaxBRanking::KelvaxBRanking(void *manager, int port, KelvaxComManager *comManager,
                               ProgramStructure *model, Util *util)
    : coorRankSize(0),
      programStructure(model),
      mddManager(manager),
      util(util),
      portNumber(port),
      comManager(comManager) {}

KelvaxBRanking::~KelvaxBRanking() { release(); }

void KelvaxBRanking::releaseUnion(Union *u) {
  if (u == nullptr) return;
  for (bdd_t *p : u->getVector()) bdd_free(p);
  delete u;
}

void KelvaxBRanking::storeRank(std::map<int, Union *> *ranks, int k, Union *u) {
  auto it = ranks->find(k);
  if (it != ranks->end()) {
    releaseUnion(it->second);
    it->second = u;
  } else {
    (*ranks)[k] = u;
  }
}

void KelvaxBRanking::release() {
  for (auto &entry : rankMap) releaseUnion(entry.second);
  for (auto &entry : primedRankMap) releaseUnion(entry.second);
  rankMap.clear();
  primedRankMap.clear();
}

void KelvaxBRanking::rankingCoordinator(bdd_t *currentStates, bdd_t *currentStatesPrimed,
                                        bdd_t *invariant, bdd_t *invariantPrimed, void *manager,
                                        std::vector<int> addresses, array_t * /*unPrimedmVars*/) {
  bdd_manager *mgr = static_cast<bdd_manager *>(manager);
  // Rank 0: the current states within the invariant; the nodes compute it
  // themselves, so it is not sent.
  bdd_t *destPred = bdd_and(currentStates, invariant, 1, 1);
  bdd_t *destPredPrimed = bdd_and(currentStatesPrimed, invariantPrimed, 1, 1);
  int k = 0;
  Union *rank0 = new Union(manager);
  Union *rank0Primed = new Union(manager);
  rank0->addPredicate(destPred);
  rank0Primed->addPredicate(destPredPrimed);
  storeRank(&rankMap, 0, rank0);
  storeRank(&primedRankMap, 0, rank0Primed);

  bdd_t *zero = bdd_zero(mgr);
  bool finished = false;
  while (!finished) {
    Union *reach = new Union(manager);
    Union *reachPrimed = new Union(manager);
    finished = true;
    for (int sock : addresses) {
      bdd_t *m = comManager->recvMDD(manager, util, sock);
      if (bdd_equal(m, zero)) {
        bdd_free(m);
        continue;
      }
      std::cout << "Got a bReach with size " << bdd_size(m) << std::endl;
      bdd_t *mPrimed = Util::genPrimed(m, manager, programStructure);
      std::cout << "Got its primed version with size " << bdd_size(mPrimed) << std::endl;
      reach->addPredicate(m);
      reachPrimed->addPredicate(mPrimed);
      finished = false;
    }
    std::cout << "RankingCoordinator: current DestPred is non-empty!" << std::endl;
    std::cout << "RankingCoordinator: Size of Addresses " << (unsigned long)addresses.size()
              << std::endl;
    for (int sock : addresses) {
      if (!comManager->sendMDDVector(manager, reach->getVector(), util, sock))
        std::cout << "RankingCoordinator: Failed to send an MDD vector!" << std::endl;
      if (!comManager->sendMDDVector(manager, reachPrimed->getVector(), util, sock))
        std::cout << "RankingCoordinator: Failed to send an MDD vector!" << std::endl;
    }
    if (reach->isFalse()) finished = true;
    std::cout << "--------------- End of iteration " << k << "-----------------" << std::endl;
    std::cout << "isUnionEmpty " << (finished ? 1 : 0) << std::endl;
    k = k + 1;
    storeRank(&rankMap, k, reach);
    storeRank(&primedRankMap, k, reachPrimed);
  }
  bdd_free(zero);
  coorRankSize = k - 1;
}

void KelvaxBRanking::rankingCoordinator(BFormula *invariant, Intersect *currentStates,
                                        void *manager, std::vector<int> addresses) {
  std::cout << "Entered KelvaxBRanking::rankingNode!" << std::endl;
  Dnf *invariantDnf = dynamic_cast<Dnf *>(invariant);
  if (invariantDnf == nullptr || currentStates == nullptr) {
    std::cout << "KelvaxBRanking::rankingCoordinator: the invariant must be a Dnf and the "
                 "current states an Intersect!"
              << std::endl;
    coorRankSize = -1;
    return;
  }
  Dnf *destPred = invariantDnf->andIntersect(currentStates);
  destPred->clean();
  // Rank table of this call only; the formulas stay in the release scheme.
  std::map<int, BFormula *> ranks;
  ranks[0] = destPred;
  Dnf *current = destPred;
  std::cout << "Calculated destPred!" << std::endl;

  std::cout << (invariant->isTrue() ? "Invariant evaluates to true!"
                                    : "Invariant does not evaluate to true!")
            << std::endl;
  std::cout << (current->isTrue() ? "destPred_p evaluates to true!"
                                  : "destPred_p does not evaluate to true!")
            << std::endl;
  std::cout << (invariantDnf->isFalse() ? "Invariant evaluates to false!"
                                        : "Invariant does not evaluate to false!")
            << std::endl;
  std::cout << (current->isFalse() ? "destPred_p evaluates to false!"
                                   : "destPred_p does not evaluate to false!")
            << std::endl;
  std::cout << "Invariant size is " << invariant->getSize() << std::endl;
  std::cout << "newDestPred size is " << current->getSize() << std::endl;

  int k = 0;
  while (!current->isFalse()) {
    current = new Dnf(manager);
    std::cout << "Inside the fixpoint loop!" << std::endl;
    for (int sock : addresses) {
      Dnf *received = comManager->recvDnf(manager, util, sock);
      current->attachDnf(received);
    }
    std::cout << kDashLine << std::endl;
    std::cout << "KelvaxBRanking::rankingCoordinator: Received Dnf from all nodes!" << std::endl;
    std::cout << kDashLine << std::endl;
    std::cout << "newDestPred size is " << current->getSize() << std::endl;
    for (int sock : addresses) {
      if (!comManager->sendDnf(manager, current, util, sock))
        std::cout << "RankingCoordinator: Failed to send a Dnf!" << std::endl;
      std::cout << "RankingCoordinator: Send a new destPred to the node " << sock << std::endl;
    }
    std::cout << kDashLine << std::endl;
    std::cout << "KelvaxBRanking::rankingCoordinator: Sent a new destPred to all nodes!"
              << std::endl;
    std::cout << kDashLine << std::endl;
    k = k + 1;
    ranks[k] = current;
  }
  coorRankSize = k - 1;
}

int KelvaxBRanking::getCoorRankSize() { return coorRankSize; }

const std::map<int, Union *> &KelvaxBRanking::getRankMap() const { return rankMap; }

const std::map<int, Union *> &KelvaxBRanking::getPrimedRankMap() const { return primedRankMap; }
