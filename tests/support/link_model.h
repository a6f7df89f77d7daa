// A manager with the program's six variables (x1, x1p, x2, x2p, x3, x3p, each
// over 0..3) for the link tests, with a few predicates over it. Releases the
// formulas' records and every handle it made, then closes the manager.
#ifndef KELVAX_TESTS_LINK_MODEL_H
#define KELVAX_TESTS_LINK_MODEL_H

#include <vector>

#include "BFormula.h"
#include "Util.h"
#include "array/array.h"
#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

namespace link_test {

class LinkModel {
 public:
  LinkModel() {
    array_t *values = array_alloc(int, 0);
    for (int i = 0; i < 6; i++) array_insert_last(int, values, 4);
    mgr_ = mdd_init(values, nullptr, nullptr);
    array_free(values);
  }
  ~LinkModel() {
    BFormula::releaseAll();
    for (bdd_t *h : owned_) bdd_free(h);
    mdd_quit(mgr_);
  }
  LinkModel(const LinkModel &) = delete;
  LinkModel &operator=(const LinkModel &) = delete;

  void *manager() const { return mgr_; }
  // New handles, released by the destructor.
  bdd_t *one() { return keep(bdd_one(mgr_)); }
  bdd_t *zero() { return keep(bdd_zero(mgr_)); }
  // mvar `id` has value `value`.
  bdd_t *literal(int id, int value) { return keep(mdd_func1c(mgr_, id, value, eq2)); }
  // A function with several nodes, some reached through complement edges.
  bdd_t *mixed() {
    bdd_t *a = mdd_func1c(mgr_, 0, 1, eq2);
    bdd_t *b = mdd_func1c(mgr_, 2, 3, neq2);
    bdd_t *c = mdd_func2(mgr_, 4, 5, lt2);
    bdd_t *ab = bdd_xor(a, b);
    bdd_t *f = bdd_or(ab, c, 1, 1);
    bdd_free(a);
    bdd_free(b);
    bdd_free(c);
    bdd_free(ab);
    return keep(f);
  }
  // Takes over a handle returned by the code under test.
  bdd_t *keep(bdd_t *h) {
    owned_.push_back(h);
    return h;
  }

 private:
  mdd_manager *mgr_;
  std::vector<bdd_t *> owned_;
};

}  // namespace link_test

#endif
