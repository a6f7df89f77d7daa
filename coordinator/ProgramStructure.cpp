#include "ProgramStructure.h"

#include <iostream>
#include <string>

#include "Union.h"
#include "Util.h"

ProgramStructure::ProgramStructure()
    : unPrimedIndex(nullptr),
      primedIndex(nullptr),
      invariant(nullptr),
      primedInvariant(nullptr),
      safetySpec(nullptr),
      primedmVars(nullptr),
      unPrimedmVars(nullptr),
      mddManager(nullptr),
      mVarValues(nullptr),
      mVarNames(nullptr),
      mVarStrides(nullptr),
      bVarList(nullptr),
      emptyValues(nullptr),
      emptymVars(nullptr) {}

int ProgramStructure::Init() {
  mVarValues = array_alloc(int, 0);
  mVarNames = array_alloc(char *, 0);
  mVarStrides = array_alloc(int, 0);
  unPrimedIndex = ALLOC(int, kProcesses + 1);
  primedIndex = ALLOC(int, kProcesses + 1);
  unPrimedIndex[0] = 0;
  primedIndex[0] = 0;
  for (int i = 1; i <= kProcesses; i++) {
    unPrimedIndex[i] = 2 * i - 2;
    primedIndex[i] = 2 * i - 1;
  }
  for (int i = 1; i <= kProcesses; i++) {
    std::string name = "x" + std::to_string(i);
    array_insert_last(int, mVarValues, kDomainSize);
    array_insert_last(char *, mVarNames, util_copy_string(name.c_str()));
    array_insert_last(int, mVarStrides, 1);
    array_insert_last(int, mVarValues, kDomainSize);
    array_insert_last(char *, mVarNames, util_copy_string((name + "p").c_str()));
    array_insert_last(int, mVarStrides, 1);
  }

  mddManager = mdd_init(mVarValues, mVarNames, mVarStrides);
  bVarList = mdd_ret_bvar_list(mddManager);

  primedmVars = array_alloc(int, 0);
  unPrimedmVars = array_alloc(int, 0);
  array_t *mvarList = mdd_ret_mvar_list(mddManager);
  for (int k = 0; k < array_n(mvarList); k++) {
    mvar_type mv = array_fetch(mvar_type, mvarList, k);
    std::string label = std::string(mv.name) + " = ";
    if (k % 2 == 1) {
      array_insert_last(int, primedmVars, mv.mvar_id);
      primedmVarsMap[k] = label;
    } else {
      array_insert_last(int, unPrimedmVars, mv.mvar_id);
      unPrimedmVarsMap[k] = label;
    }
    mVarsMap[k] = label;
    std::cout << k << " " << label << "mvar_ID " << mv.mvar_id << std::endl;
  }

  for (int i = 1; i <= kProcesses; i++) {
    mvar_type unprimed = array_fetch(mvar_type, mvarList, unPrimedIndex[i]);
    mvar_type primed = array_fetch(mvar_type, mvarList, primedIndex[i]);
    kz_debug_assert(unprimed.encode_length == primed.encode_length,
                    "a variable and its copy must be encoded on the same number of bits");
    std::cout << " mv.encode_length is " << unprimed.encode_length << std::endl;
    for (int j = 0; j < unprimed.encode_length; j++) {
      int u = mdd_ret_bvar_id(&unprimed, j);
      int p = mdd_ret_bvar_id(&primed, j);
      std::cout << " unprimed bvar " << u << " primed bvar " << p << std::endl;
      unPrimedToPrimedBvar[u] = p;
      primedToUnPrimedBvar[p] = u;
    }
  }
  emptyValues = array_alloc(int, 0);
  emptymVars = array_alloc(int, 0);
  std::cout << "Primed <--> Unprimed table filled!" << std::endl;
  return 1;
}

mdd_manager *ProgramStructure::getMDDManager() { return mddManager; }
array_t *ProgramStructure::getPrimedmVars() { return primedmVars; }
array_t *ProgramStructure::getUnPrimedmVars() { return unPrimedmVars; }
array_t *ProgramStructure::getmVarValues() { return mVarValues; }
array_t *ProgramStructure::getmVarNames() { return mVarNames; }
array_t *ProgramStructure::getmVarStrides() { return mVarStrides; }
std::map<int, std::string> ProgramStructure::getmVarsMap() { return mVarsMap; }
std::map<int, std::string> ProgramStructure::getPrimedmVarsMap() { return primedmVarsMap; }
std::map<int, std::string> ProgramStructure::getUnPrimedmVarsMap() { return unPrimedmVarsMap; }

void ProgramStructure::makeInvariant() {
  if (invariant != nullptr) bdd_free(invariant);
  if (primedInvariant != nullptr) bdd_free(primedInvariant);
  invariant = bdd_one(mddManager);
  primedInvariant = bdd_one(mddManager);
  std::cout << "Finished making the invariant ..." << std::endl;
}

Union *ProgramStructure::intersectSafetySpec(bdd_t *predicate, int, int) {
  (void)predicate;
  return new Union(mddManager);
}

bdd_t *ProgramStructure::getInvariant() { return invariant; }
bdd_t *ProgramStructure::getPrimedInvariant() { return primedInvariant; }
bdd_t *ProgramStructure::getSafetySpec() { return safetySpec; }
mdd_gen *ProgramStructure::getMDDGen() { return nullptr; }
array_t *ProgramStructure::getValues() { return emptyValues; }
array_t *ProgramStructure::getmVars() { return emptymVars; }

bdd_t *ProgramStructure::buildSynthesisInvariant(bool primed) {
  const int *idx = primed ? primedIndex : unPrimedIndex;
  const int n = kProcesses;
  auto eq = [&](int a, int b) { return mdd_func2(mddManager, idx[a], idx[b], eq2); };
  auto neq = [&](int a, int b) { return mdd_func2(mddManager, idx[a], idx[b], neq2); };

  // Terms with exactly one unequal neighbouring pair (x_i, x_{i+1}).
  bdd_t *acc = bdd_zero(mddManager);
  for (int i = 1; i <= n - 1; i++) {
    bdd_t *left = bdd_one(mddManager);
    for (int j = 2; j <= i; j++) left = Util::andInto(left, eq(j - 1, j));
    bdd_t *right = bdd_one(mddManager);
    for (int k = i + 1; k <= n - 1; k++) right = Util::andInto(right, eq(k, k + 1));
    bdd_t *term = Util::andInto(Util::andInto(left, right), neq(i, i + 1));
    acc = Util::orInto(acc, term);
  }
  bdd_t *allEqual = bdd_one(mddManager);
  for (int j = 1; j <= n - 1; j++) allEqual = Util::andInto(allEqual, eq(j, j + 1));
  acc = Util::orInto(acc, allEqual);
  return Util::andInto(bdd_one(mddManager), acc);
}

void ProgramStructure::release() {
  bdd_t **handles[] = {&invariant, &primedInvariant, &safetySpec};
  for (bdd_t **h : handles) {
    if (*h != nullptr) bdd_free(*h);
    *h = nullptr;
  }
  if (mVarNames != nullptr) {
    for (int i = 0; i < array_n(mVarNames); i++) MMfree(array_fetch(char *, mVarNames, i));
  }
  array_t **arrays[] = {&mVarValues, &mVarNames,   &mVarStrides, &primedmVars,
                        &unPrimedmVars, &emptyValues, &emptymVars};
  for (array_t **a : arrays) {
    array_free(*a);
    *a = nullptr;
  }
  FREE(unPrimedIndex);
  FREE(primedIndex);
  bVarList = nullptr;  // belongs to the manager
}
