// A disjunction of conjunctions J1 ∨ ... ∨ Jn (Intersect members); the empty
// Dnf is false.
//
// Results are new objects that share the operands' member objects wherever a
// member is carried over unchanged, so a member may belong to several
// formulas; clean changes members in place and is seen through every formula
// that shares them. Release scheme: BFormula.h.
#ifndef KELVAX_DNF_H
#define KELVAX_DNF_H

#include <vector>

#include "BFormula.h"
#include "Intersect.h"
#include "Union.h"
#include "array/array.h"
#include "kzuPort/bdd.h"

class Cnf;

class Dnf : public BFormula {
 public:
  explicit Dnf(void *manager);
  // The member sequence is a copy of `intersects`; the members are shared.
  Dnf(std::vector<Intersect *> intersects, void *manager);

  int getSize() const override;
  void setSize(int size) override;
  // Some member isTrue (false when empty).
  bool isTrue() const override;

  // The member at position i (0-based); std::out_of_range outside.
  Intersect *getIntersect(int i) const;
  // A copy of the member sequence.
  std::vector<Intersect *> getVector() const;
  void addIntersect(Intersect *I);
  // Appends the members of d, in order (the same objects).
  void attachDnf(Dnf *d);

  // Ji.andIntersect(I) for each Ji, printing a progress line before each.
  Dnf *andIntersect(Intersect *I) const;
  // Ji.andPredicate(pk), Ji outer, pk of U inner.
  Dnf *andUnion(Union *U) const;
  // The members of E.andIntersect(Ji) for each Ji in order.
  Dnf *andDnf(Dnf *E) const;
  // J1 ... Jn, then I itself.
  Dnf *orIntersect(Intersect *I) const;
  // J1 ... Jn, then one new single-predicate member per predicate of U.
  Dnf *orUnion(Union *U) const;
  // J1 ... Jn, then the members of E.
  Dnf *orDnf(Dnf *E) const;
  // Ji.negate() for each Ji.
  Cnf *negate() const;
  // Ji.smooth(vars) for each Ji.
  Dnf *smooth(array_t *vars) const;
  // The disjunction of the members' diagrams, a new handle owned by the caller.
  bdd_t *toMDD() const;
  // Every member isFalse (true when empty).
  bool isFalse() const;
  // Cleans every member (Intersect::clean) between two lines giving the
  // number of members; removes no member.
  void clean();

 private:
  void *manager;
  std::vector<Intersect *> intersects;
};

#endif
