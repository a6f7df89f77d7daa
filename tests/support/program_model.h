// The coordinator's program model for tests (x1, x1p, x2, x2p, x3, x3p, each
// over 0..3), the handles a test keeps over it, and small helpers over
// multi-valued variables and over the 64 states of x1, x2, x3.
#ifndef KELVAX_TESTS_PROGRAM_MODEL_H
#define KELVAX_TESTS_PROGRAM_MODEL_H

#include <array>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ProgramStructure.h"
#include "array/array.h"
#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

namespace model_test {

// ---- Multi-valued variables -------------------------------------------------------
// A new int array holding `values`, owned by the caller.
array_t *intArray(std::initializer_list<int> values);
std::vector<int> intsOf(array_t *a);
// The conjunction of the literals (mvar id = value); a new handle.
bdd_t *cube(mdd_manager *mgr, const std::vector<std::pair<int, int>> &values);
// Every minterm of f over the mvar ids in vars, in the generator's order.
std::vector<std::vector<int>> minterms(bdd_t *f, array_t *vars);

// ---- The 64 states of x1, x2, x3 ----------------------------------------------------
typedef std::array<int, 3> State;  // values of x1, x2, x3
typedef std::set<int> StateSet;    // states encoded 16 x1 + 4 x2 + x3
State decode(int s);
int encode(const State &s);
// The synthesis invariant: x1 = x2 or x2 = x3.
bool inInvariant(int s);
StateSet allStates();
// A correct program in the node's minterm form, one command per line: x1
// and x3 copy x2; outside the invariant x2 copies a neighbour.
std::vector<std::string> referenceProgram();

// ProgramStructure after Init (whose table of variables is captured, not
// printed). The destructor frees every kept handle, releases the model and
// closes the manager, so it must outlive every other user of the manager.
class TestModel {
 public:
  TestModel();
  ~TestModel();
  TestModel(const TestModel &) = delete;
  TestModel &operator=(const TestModel &) = delete;

  ProgramStructure ps;
  mdd_manager *mgr = nullptr;
  int initResult = 0;      // what Init returned
  std::string initOutput;  // what Init printed

  // Takes over h; returns it.
  bdd_t *keep(bdd_t *h);
  // Kept handles.
  bdd_t *one();
  bdd_t *zero();
  bdd_t *is(int process, int value);  // x<process> = value
  bdd_t *equal(int a, int b);         // x<a> = x<b>
  bdd_t *primed(bdd_t *f);            // Util::genPrimed
  bdd_t *read(const std::string &text);  // Util::String2MDD
  bdd_t *states(const StateSet &set);  // over x1, x2, x3
  std::string text(bdd_t *f);          // Util::MDD2String
  // The states of x1, x2, x3 that meet f.
  StateSet statesOf(bdd_t *f);
  // The text names the same function as f.
  bool same(const std::string &text, bdd_t *f);

 private:
  std::vector<bdd_t *> owned;
};

}  // namespace model_test

#endif
