// A conjunction of disjunctions V1 ∧ ... ∧ Vn (Union members); the empty Cnf
// is true.
//
// Results are new objects that share the operands' member objects wherever a
// member is carried over unchanged, so a member may belong to several
// formulas; clean changes members in place and is seen through every formula
// that shares them. Release scheme: BFormula.h.
#ifndef KELVAX_CNF_H
#define KELVAX_CNF_H

#include <vector>

#include "BFormula.h"
#include "Intersect.h"
#include "Union.h"
#include "array/array.h"
#include "kzuPort/bdd.h"

class Dnf;

class Cnf : public BFormula {
 public:
  explicit Cnf(void *manager);
  // The member sequence is a copy of `unions`; the members are shared.
  Cnf(std::vector<Union *> unions, void *manager);

  int getSize() const override;
  void setSize(int size) override;
  // Every member isTrue (true when empty).
  bool isTrue() const override;

  // The member at position i (0-based); std::out_of_range outside.
  Union *getUnion(int i) const;
  // A copy of the member sequence.
  std::vector<Union *> getVector() const;
  void addUnion(Union *U);
  // Appends the members of c, in order (the same objects).
  void attachCnf(Cnf *c);

  // U.orUnion(Vi) for each Vi: the predicates of Vi, then those of U.
  Cnf *orUnion(Union *U) const;
  // Vi.orPredicate(qk), Vi outer, qk of I inner.
  Cnf *orIntersect(Intersect *I) const;
  // The members of E.orUnion(Vi) for each Vi in order.
  Cnf *orCnf(Cnf *E) const;
  // V1 ... Vn, then U itself.
  Cnf *andUnion(Union *U) const;
  // V1 ... Vn, then one new single-predicate member per predicate of I.
  Cnf *andIntersect(Intersect *I) const;
  // V1 ... Vn, then the members of E.
  Cnf *andCnf(Cnf *E) const;
  // Vi.negate() for each Vi.
  Dnf *negate() const;
  // Vi.smooth(vars) for each Vi.
  Cnf *smooth(array_t *vars) const;
  // The conjunction of the members' diagrams, a new handle owned by the caller.
  bdd_t *toMDD() const;
  // Some member isFalse (false when empty).
  bool isFalse() const;
  // Cleans every member (Union::clean, which prints), then drops the members
  // that are isTrue.
  void clean();

 private:
  void *manager;
  std::vector<Union *> unions;
};

#endif
