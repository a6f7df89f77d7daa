// The program model (x1, x1p, x2, x2p, x3, x3p, each over 0..3) for the link
// tests, with a few predicates over it. Releases the formulas' records, then
// every handle it made, then closes the manager.
#ifndef KELVAX_TESTS_LINK_MODEL_H
#define KELVAX_TESTS_LINK_MODEL_H

#include "BFormula.h"
#include "kzuPort/bdd.h"
#include "mdd/mdd.h"
#include "support/program_model.h"

namespace link_test {

class LinkModel : public model_test::TestModel {
 public:
  // Runs before the model closes the manager.
  ~LinkModel() { BFormula::releaseAll(); }

  void *manager() const { return mgr; }
  // mvar `id` has value `value`.
  bdd_t *literal(int id, int value) { return keep(mdd_func1c(mgr, id, value, eq2)); }
  // A function with several nodes, some reached through complement edges.
  bdd_t *mixed() {
    bdd_t *a = mdd_func1c(mgr, 0, 1, eq2);
    bdd_t *b = mdd_func1c(mgr, 2, 3, neq2);
    bdd_t *c = mdd_func2(mgr, 4, 5, lt2);
    bdd_t *ab = bdd_xor(a, b);
    bdd_t *f = bdd_or(ab, c, 1, 1);
    bdd_free(a);
    bdd_free(b);
    bdd_free(c);
    bdd_free(ab);
    return keep(f);
  }
};

}  // namespace link_test

#endif
