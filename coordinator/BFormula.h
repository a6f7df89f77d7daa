// Base class of the two normal forms (Dnf, Cnf) and the release scheme shared
// by every formula class.
//
// Ownership. Formulas share member objects and predicate handles freely, so
// nothing is released while a run goes on. Instead:
//  - every formula object made with `new` (by an operation or by anyone else)
//    is recorded when it is allocated and forgotten when it is deleted;
//  - every handle an operation computes (bdd_and, bdd_or, bdd_not,
//    mdd_smooth results stored in a formula) is recorded as well;
//  - handles given to addPredicate or a constructor stay the caller's, unless
//    the caller hands them over with adopt();
//  - releaseAll() deletes every recorded object and frees every recorded
//    handle. Call it once, after the last use of any formula and before the
//    manager is closed (mdd_quit).
// Handles read back out of a formula (getPredicate, getVector) are borrowed;
// toMDD results are new and belong to the caller. Formula objects on the
// stack are never recorded.
#ifndef KELVAX_BFORMULA_H
#define KELVAX_BFORMULA_H

#include <cstddef>
#include <cstdint>

#include "kzuPort/bdd.h"

class BFormula {
 public:
  // Number of members of the formula.
  virtual int getSize() const = 0;
  // Stores `size`, which nothing reads.
  virtual void setSize(int size);
  // Whether the formula is recognised as the constant true.
  virtual bool isTrue() const = 0;
  virtual ~BFormula() = default;

  // 1 for a Dnf, 0 for a Cnf; nothing in the system depends on it.
  int getType() const;

  // Hands `handle` over to the release scheme: releaseAll frees it, so the
  // caller must not. Adopting the same handle twice is harmless. Returns it.
  static bdd_t *adopt(bdd_t *handle);
  // Deletes every recorded formula object and frees every recorded handle.
  // Every pointer to a heap formula is dangling afterwards.
  static void releaseAll();
  // What releaseAll would release now.
  static std::size_t trackedObjects();
  static std::size_t trackedHandles();

  // Heap allocation records the object; delete forgets it. Dnf and Cnf
  // inherit these.
  static void *operator new(std::size_t bytes);
  static void operator delete(void *object);
  static void *operator new[](std::size_t) = delete;
  static void operator delete[](void *) = delete;

 protected:
  explicit BFormula(int type);
  BFormula(const BFormula &) = default;
  BFormula &operator=(const BFormula &) = default;

 private:
  friend class Intersect;
  friend class Union;

  // The constant one or zero of a manager, held for one truth test or
  // cleaning of an Intersect or a Union.
  class Constant {
   public:
    Constant(void *manager, bool one);
    ~Constant();
    Constant(const Constant &) = delete;
    Constant &operator=(const Constant &) = delete;
    // p is this constant (bdd_equal).
    bool is(bdd_t *p) const;

   private:
    bdd_t *handle;
  };

  // operator new/delete of all four classes: `destroy` deletes the object as
  // its own class when releaseAll runs.
  static void *allocate(std::size_t bytes, void (*destroy)(void *));
  static void deallocate(void *object);

  int32_t type;
  int32_t size;
};

#endif
