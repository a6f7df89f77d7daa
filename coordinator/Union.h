// A disjunction of predicates p1 ∨ ... ∨ pn; the empty disjunction is false.
//
// Operations other than addPredicate, setSize and clean leave both operands
// unchanged and return a new object that carries the operands' handles over
// unchanged and holds new handles only where a predicate is computed. The
// release scheme (which objects and handles releaseAll frees) is described in
// BFormula.h.
#ifndef KELVAX_UNION_H
#define KELVAX_UNION_H

#include <cstddef>
#include <vector>

#include "array/array.h"
#include "kzuPort/bdd.h"

class Intersect;
class Dnf;
class Cnf;

class Union {
 public:
  explicit Union(void *manager);
  // The sequence is a copy of `predicates`; the handles are shared.
  Union(std::vector<bdd_t *> predicates, void *manager);

  int getSize() const;
  // The handle at position i (0-based); std::out_of_range outside the sequence.
  bdd_t *getPredicate(int i) const;
  // A copy of the predicate sequence.
  std::vector<bdd_t *> getVector() const;
  void addPredicate(bdd_t *p);
  void setSize(int size);

  // p1 ... pn, then q.
  Union *orPredicate(bdd_t *q) const;
  // The predicates of Q, then p1 ... pn.
  Union *orUnion(Union *Q) const;
  // pi ∧ q for each i.
  Union *andPredicate(bdd_t *q) const;
  // pi ∧ qj, i outer and j inner.
  Union *andUnion(Union *Q) const;
  // ¬pi for each i.
  Intersect *negate() const;
  // The members I.andPredicate(pi) for each pi in order.
  Dnf *andIntersect(Intersect *I) const;
  // The members orPredicate(qj) for each predicate qj of I in order.
  Cnf *orIntersect(Intersect *I) const;
  // Each pi quantified over the mvar ids in `vars`: exactly the
  // quantification of the disjunction.
  Union *smooth(array_t *vars) const;
  // The disjunction as one diagram, a new handle owned by the caller.
  bdd_t *toMDD() const;
  // Some pi is the constant one (false when empty).
  bool isTrue() const;
  // Every pi is the constant zero (true when empty).
  bool isFalse() const;
  // Drops the predicates equal to the constant zero, in place, and prints
  // how many are kept.
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
