// The fixed model of the program being synthesized: three processes, each
// owning one variable over {0, 1, 2, 3}, and a next-state copy of every
// variable. Creates the run's decision-diagram manager and the tables that
// map current-state bits to next-state bits and back.
#ifndef KELVAX_PROGRAM_STRUCTURE_H
#define KELVAX_PROGRAM_STRUCTURE_H

#include <map>
#include <string>

#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

class Union;

class ProgramStructure {
 public:
  // Element i (i = 1..3) is the mvar id of x<i> (2i - 2) / of x<i>p (2i - 1);
  // element 0 is 0 and unused.
  int *unPrimedIndex;
  int *primedIndex;
  // Bvar id of each bit of an unprimed variable -> the same bit of its copy,
  // and the inverse.
  std::map<int, int> unPrimedToPrimedBvar;
  std::map<int, int> primedToUnPrimedBvar;

  static constexpr int kProcesses = 3;
  static constexpr int kDomainSize = 4;

  // Creates the label and bit maps empty; Init sets everything else.
  ProgramStructure();

  // Creates the manager with x1, x1p, x2, x2p, x3, x3p, prints the variable
  // table and fills the index tables, id arrays, label maps and bit maps.
  // Returns 1. Call once, before any other operation.
  int Init();

  mdd_manager *getMDDManager();
  array_t *getPrimedmVars();    // 1, 3, 5 (owned by the model)
  array_t *getUnPrimedmVars();  // 0, 2, 4 (owned by the model)
  array_t *getmVarValues();
  array_t *getmVarNames();
  array_t *getmVarStrides();
  // Copies of the label maps: id -> "<name> = ".
  std::map<int, std::string> getmVarsMap();
  std::map<int, std::string> getPrimedmVarsMap();
  std::map<int, std::string> getUnPrimedmVarsMap();

  // Sets invariant and primedInvariant to the constant true and prints
  // "Finished making the invariant ...".
  void makeInvariant();
  // A new empty Union over the model's manager, owned by the caller; the
  // arguments are not consulted.
  Union *intersectSafetySpec(bdd_t *predicate, int, int);
  // The handles kept by the model (not copies); null before makeInvariant.
  bdd_t *getInvariant();
  bdd_t *getPrimedInvariant();
  // No safety constraint is ever assigned: always null.
  bdd_t *getSafetySpec();
  // Never assigned by any operation: null, and empty arrays owned by the
  // model.
  mdd_gen *getMDDGen();
  array_t *getValues();
  array_t *getmVars();

  // The synthesis invariant: the states in which at most one neighbouring
  // pair of x1 - x2 - x3 holds different values, over the unprimed ids or,
  // with primed set, over their next-state copies. A new handle owned by the
  // caller.
  bdd_t *buildSynthesisInvariant(bool primed);

  // Frees every array, name and handle the model owns (not the manager,
  // which the caller ends with mdd_quit afterwards). Idempotent; the model
  // must not be used afterwards.
  void release();

 private:
  bdd_t *invariant;
  bdd_t *primedInvariant;
  bdd_t *safetySpec;
  array_t *primedmVars;
  array_t *unPrimedmVars;
  mdd_manager *mddManager;
  array_t *mVarValues;
  array_t *mVarNames;
  array_t *mVarStrides;
  array_t *bVarList;  // the manager's own list
  std::map<int, std::string> mVarsMap;
  std::map<int, std::string> primedmVarsMap;
  std::map<int, std::string> unPrimedmVarsMap;
  array_t *emptyValues;
  array_t *emptymVars;
};

#endif
