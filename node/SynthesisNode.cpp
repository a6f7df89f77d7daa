#include "SynthesisNode.h"

#include <set>

SynthesisNode::SynthesisNode(ProgramStructure *model, int process, int action)
    : model(model),
      manager(model->getMDDManager()),
      process(process),
      action(action),
      current(nullptr),
      currentPrimed(nullptr),
      ranked(nullptr),
      pendingGuard(nullptr),
      programGuard(nullptr) {
  invariant = model->buildSynthesisInvariant(false);
  invariantPrimed = model->buildSynthesisInvariant(true);
  primedVars = model->getPrimedmVars();

  // T(x, x') = x_j != a  and  x_j' = a  and  x_i' = x_i for every other i.
  enabled = mdd_func1c(manager, model->unPrimedIndex[process], action, neq2);
  bdd_t *assign = mdd_func1c(manager, model->primedIndex[process], action, eq2);
  transition = bdd_and(enabled, assign, 1, 1);
  bdd_free(assign);
  for (int i = 1; i <= ProgramStructure::kProcesses; i++) {
    if (i == process) continue;
    transition = Util::andInto(
        transition, mdd_func2(manager, model->unPrimedIndex[i], model->primedIndex[i], eq2));
  }

  hiddenVars = array_alloc(int, 0);
  std::vector<int> readable = readableVars();
  for (int i = 1; i <= ProgramStructure::kProcesses; i++) {
    int id = model->unPrimedIndex[i];
    bool seen = false;
    for (int r : readable) seen = seen || r == id;
    if (!seen) array_insert_last(int, hiddenVars, id);
  }
  programGuard = bdd_zero(manager);
}

SynthesisNode::~SynthesisNode() { release(); }

bool SynthesisNode::validProcess(int process) {
  return process >= 1 && process <= ProgramStructure::kProcesses;
}

bool SynthesisNode::validAction(int action) {
  return action >= 0 && action < ProgramStructure::kDomainSize;
}

int SynthesisNode::getProcess() const { return process; }

int SynthesisNode::getAction() const { return action; }

std::vector<int> SynthesisNode::readableVars() const {
  std::vector<int> ids;
  for (int i = process - 1; i <= process + 1; i++)
    if (validProcess(i)) ids.push_back(model->unPrimedIndex[i]);
  return ids;
}

void SynthesisNode::freeHandle(bdd_t **handle) {
  if (*handle != nullptr) bdd_free(*handle);
  *handle = nullptr;
}

bdd_t *SynthesisNode::preImage(bdd_t *targetPrimed) {
  bdd_t *step = bdd_and(transition, targetPrimed, 1, 1);
  bdd_t *pre = mdd_smooth(manager, step, primedVars);
  bdd_free(step);
  return pre;
}

bdd_t *SynthesisNode::projectReadable(bdd_t *f) {
  if (array_n(hiddenVars) == 0) return bdd_dup(f);
  return mdd_smooth(manager, f, hiddenVars);
}

void SynthesisNode::clearRanks() {
  for (bdd_t *r : ranks) bdd_free(r);
  for (bdd_t *r : ranksPrimed) bdd_free(r);
  ranks.clear();
  ranksPrimed.clear();
  freeHandle(&ranked);
}

void SynthesisNode::startRanking(bdd_t *currentStates, bdd_t *currentStatesPrimed) {
  clearRanks();
  freeHandle(&current);
  freeHandle(&currentPrimed);
  current = bdd_dup(currentStates);
  currentPrimed = bdd_dup(currentStatesPrimed);
  ranks.push_back(bdd_and(current, invariant, 1, 1));
  ranksPrimed.push_back(bdd_and(currentPrimed, invariantPrimed, 1, 1));
  ranked = bdd_dup(ranks[0]);
}

bdd_t *SynthesisNode::nextBReach() {
  if (ranks.empty()) return bdd_zero(manager);
  bdd_t *pre = preImage(ranksPrimed.back());
  bdd_t *unranked = bdd_not(ranked);
  bdd_t *candidates = bdd_and(current, unranked, 1, 1);
  bdd_t *reach = bdd_and(candidates, pre, 1, 1);
  bdd_free(pre);
  bdd_free(unranked);
  bdd_free(candidates);
  return reach;
}

bool SynthesisNode::addRank(const std::vector<bdd_t *> &rank,
                            const std::vector<bdd_t *> &rankPrimed) {
  if (rank.empty() || ranks.empty()) return false;
  bdd_t *next = bdd_zero(manager);
  for (bdd_t *m : rank) {
    bdd_t *u = bdd_or(next, m, 1, 1);
    bdd_free(next);
    next = u;
  }
  bdd_t *nextPrimed = bdd_zero(manager);
  for (bdd_t *m : rankPrimed) {
    bdd_t *u = bdd_or(nextPrimed, m, 1, 1);
    bdd_free(nextPrimed);
    nextPrimed = u;
  }
  bdd_t *all = bdd_or(ranked, next, 1, 1);
  bdd_free(ranked);
  ranked = all;
  ranks.push_back(next);
  ranksPrimed.push_back(nextPrimed);
  return true;
}

int SynthesisNode::rankCount() const { return (int)ranks.size(); }

bdd_t *SynthesisNode::getRank(int k) const { return ranks.at(k); }

bdd_t *SynthesisNode::computeGuard() {
  if (ranks.empty()) return bdd_zero(manager);
  // down: states of rank k >= 1 from which the action reaches rank k - 1.
  bdd_t *down = bdd_zero(manager);
  for (size_t k = 1; k < ranks.size(); k++) {
    bdd_t *pre = preImage(ranksPrimed[k - 1]);
    down = Util::orInto(down, bdd_and(ranks[k], pre, 1, 1));
    bdd_free(pre);
  }
  // stay: current invariant states from which the action stays there.
  bdd_t *preStay = preImage(ranksPrimed[0]);
  bdd_t *stay = bdd_and(ranks[0], preStay, 1, 1);
  bdd_t *ok = bdd_or(down, stay, 1, 1);
  // bad: current states where the action is enabled but neither goes one
  // rank down nor stays in the invariant; any of them spoils its group.
  bdd_t *enabledCurrent = bdd_and(current, enabled, 1, 1);
  bdd_t *notOk = bdd_not(ok);
  bdd_t *bad = bdd_and(enabledCurrent, notOk, 1, 1);

  bdd_t *downGroups = projectReadable(down);
  bdd_t *badGroups = projectReadable(bad);
  bdd_t *notBadGroups = bdd_not(badGroups);
  bdd_t *goodGroups = bdd_and(downGroups, notBadGroups, 1, 1);

  bdd_t *recovery = bdd_and(goodGroups, current, 1, 1);
  bdd_t *guard = bdd_or(recovery, ranks[0], 1, 1);

  freeHandle(&pendingGuard);
  pendingGuard = goodGroups;

  bdd_free(down);
  bdd_free(preStay);
  bdd_free(stay);
  bdd_free(ok);
  bdd_free(enabledCurrent);
  bdd_free(notOk);
  bdd_free(bad);
  bdd_free(downGroups);
  bdd_free(badGroups);
  bdd_free(notBadGroups);
  bdd_free(recovery);
  return guard;
}

void SynthesisNode::acceptGuard() {
  if (pendingGuard == nullptr) return;
  freeHandle(&programGuard);
  programGuard = pendingGuard;
  pendingGuard = nullptr;
}

bdd_t *SynthesisNode::getProgramGuard() const { return programGuard; }

bdd_t *SynthesisNode::primedCopy(bdd_t *f) { return Util::genPrimed(f, manager, model); }

mdd_manager *SynthesisNode::getManager() const { return manager; }

bdd_t *SynthesisNode::getCurrentStates() const { return current; }

bdd_t *SynthesisNode::getInvariant() const { return invariant; }

std::vector<std::string> SynthesisNode::mintermTexts(Util *util, bdd_t *f,
                                                     std::map<int, std::string> labels) {
  std::vector<std::string> texts;
  if (f == nullptr) return texts;
  util->calMinterms(f, manager, nullptr, nullptr, labels);
  for (const std::string &t : util->getMintermsAsSet()) texts.push_back(t);
  util->releaseMinterms();
  return texts;
}

std::vector<std::string> SynthesisNode::programLines(Util *util) {
  std::map<int, std::string> all = model->getUnPrimedmVarsMap();
  std::map<int, std::string> labels;
  for (int id : readableVars()) labels[id] = all[id];
  std::string command = "-> x" + std::to_string(process) + " := " + std::to_string(action);
  std::vector<std::string> lines;
  for (const std::string &minterm : mintermTexts(util, programGuard, labels))
    lines.push_back(minterm + command);
  return lines;
}

std::vector<GuardCover::Cube> SynthesisNode::guardCubes(const std::vector<int> &ids) {
  array_t *mvars = mdd_ret_mvar_list(manager);
  std::vector<GuardCover::Cube> cubes;
  if (programGuard == nullptr) return cubes;
  bdd_t *guard = projectReadable(programGuard);
  bdd_gen *gen;
  array_t *bits;
  foreach_bdd_cube(guard, gen, bits) {
    GuardCover::Cube c;
    for (int id : ids) {
      mvar_type mv = array_fetch(mvar_type, mvars, id);
      std::vector<bool> values(mv.values, false);
      // Value v is allowed when every bit of its code agrees with the cube.
      for (int v = 0; v < mv.values; v++) {
        bool agrees = true;
        for (int b = 0; b < mv.encode_length && agrees; b++) {
          int entry = array_fetch(int, bits, mdd_ret_bvar_id(&mv, b));
          int bit = (v >> (mv.encode_length - 1 - b)) & 1;
          agrees = entry == 2 || entry == bit;
        }
        values[v] = agrees;
      }
      c.push_back(values);
    }
    cubes.push_back(c);
  }
  bdd_free(guard);
  return cubes;
}

std::vector<std::string> SynthesisNode::compactLines() {
  array_t *mvars = mdd_ret_mvar_list(manager);
  std::vector<int> ids = readableVars();
  std::vector<int> domains;
  std::vector<std::string> names;
  for (int id : ids) {
    mvar_type mv = array_fetch(mvar_type, mvars, id);
    domains.push_back(mv.values);
    names.push_back(mv.name);
  }
  std::string command = " -> x" + std::to_string(process) + " := " + std::to_string(action);
  std::vector<std::string> lines;
  for (const GuardCover::Cube &c : GuardCover::minimise(domains, guardCubes(ids)))
    lines.push_back(GuardCover::guardText(names, c) + command);
  return lines;
}

std::vector<std::string> SynthesisNode::rankTexts(Util *util, int k) {
  return mintermTexts(util, getRank(k), model->getUnPrimedmVarsMap());
}

std::vector<std::string> SynthesisNode::currentStateTexts(Util *util) {
  return mintermTexts(util, current, model->getUnPrimedmVarsMap());
}

void SynthesisNode::release() {
  clearRanks();
  freeHandle(&current);
  freeHandle(&currentPrimed);
  freeHandle(&pendingGuard);
  freeHandle(&programGuard);
  freeHandle(&invariant);
  freeHandle(&invariantPrimed);
  freeHandle(&transition);
  freeHandle(&enabled);
  if (hiddenVars != nullptr) array_free(hiddenVars);
  hiddenVars = nullptr;
}
