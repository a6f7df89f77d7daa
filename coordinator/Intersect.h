// A conjunction of predicates p1 ∧ ... ∧ pn; the empty conjunction is true.
//
// Operations other than addPredicate, setSize and clean leave both operands
// unchanged and return a new object that carries the operands' handles over
// unchanged and holds new handles only where a predicate is computed. The
// release scheme (which objects and handles releaseAll frees) is described in
// BFormula.h.
#ifndef KELVAX_INTERSECT_H
#define KELVAX_INTERSECT_H

#include <cstddef>
#include <vector>

#include "array/array.h"
#include "kzuPort/bdd.h"

class Union;
class Dnf;
class Cnf;

class Intersect {
 public:
  explicit Intersect(void *manager);
  // The sequence is a copy of `predicates`; the handles are shared.
  Intersect(std::vector<bdd_t *> predicates, void *manager);

  int getSize() const;
  // The handle at position i (0-based); std::out_of_range outside the sequence.
  bdd_t *getPredicate(int i) const;
  // A copy of the predicate sequence.
  std::vector<bdd_t *> getVector() const;
  void addPredicate(bdd_t *p);
  void setSize(int size);

  // p1 ... pn, then q.
  Intersect *andPredicate(bdd_t *q) const;
  // The predicates of Q, then p1 ... pn.
  Intersect *andIntersect(Intersect *Q) const;
  // pi ∨ q for each i.
  Intersect *orPredicate(bdd_t *q) const;
  // pi ∨ qj, i outer and j inner.
  Intersect *orIntersect(Intersect *Q) const;
  // ¬pi for each i.
  Union *negate() const;
  // Each pi quantified on its own over the mvar ids in `vars`; the result
  // contains the quantification of the conjunction.
  Intersect *smooth(array_t *vars) const;
  // The conjunction as one diagram, a new handle owned by the caller.
  bdd_t *toMDD() const;
  // Every pi is the constant one (true when empty).
  bool isTrue() const;
  // Some pi is the constant zero (false when empty).
  bool isFalse() const;
  // Drops the predicates equal to the constant one, in place.
  void clean();

  // Heap objects take part in the release scheme of BFormula.h.
  static void *operator new(std::size_t bytes);
  static void operator delete(void *object);
  static void *operator new[](std::size_t) = delete;
  static void operator delete[](void *) = delete;

 private:
  std::vector<bdd_t *> predicates;
  int size;
  void *manager;
};

#endif
