#include "Union.h"

#include <iostream>
#include <stdexcept>
#include <utility>

#include "BFormula.h"
#include "Cnf.h"
#include "Dnf.h"
#include "Intersect.h"
#include "mdd/mdd.h"
#include "util/util.h"

namespace {

bdd_manager *mgrOf(void *manager) { return static_cast<bdd_manager *>(manager); }

void destroyUnion(void *object) { delete static_cast<Union *>(object); }

}  // namespace

Union::Union(void *manager) : size(0), manager(manager) {}

Union::Union(std::vector<bdd_t *> predicates, void *manager)
    : predicates(std::move(predicates)), size(0), manager(manager) {}

int Union::getSize() const { return static_cast<int>(predicates.size()); }

bdd_t *Union::getPredicate(int i) const {
  if (i < 0 || i >= getSize()) throw std::out_of_range("Union::getPredicate: no predicate at this position");
  return predicates[static_cast<size_t>(i)];
}

std::vector<bdd_t *> Union::getVector() const { return predicates; }

void Union::addPredicate(bdd_t *p) { predicates.push_back(p); }

void Union::setSize(int newSize) { size = newSize; }

Union *Union::orPredicate(bdd_t *q) const {
  Union *result = new Union(predicates, manager);
  result->predicates.push_back(q);
  return result;
}

Union *Union::orUnion(Union *Q) const {
  Union *result = new Union(Q->predicates, manager);
  result->predicates.insert(result->predicates.end(), predicates.begin(), predicates.end());
  return result;
}

Union *Union::andPredicate(bdd_t *q) const {
  Union *result = new Union(manager);
  result->predicates.reserve(predicates.size());
  for (bdd_t *p : predicates) result->predicates.push_back(BFormula::adopt(bdd_and(p, q, 1, 1)));
  return result;
}

Union *Union::andUnion(Union *Q) const {
  Union *result = new Union(manager);
  result->predicates.reserve(predicates.size() * Q->predicates.size());
  for (bdd_t *p : predicates)
    for (bdd_t *q : Q->predicates) result->predicates.push_back(BFormula::adopt(bdd_and(p, q, 1, 1)));
  return result;
}

Intersect *Union::negate() const {
  Intersect *result = new Intersect(manager);
  for (bdd_t *p : predicates) result->addPredicate(BFormula::adopt(bdd_not(p)));
  return result;
}

Dnf *Union::andIntersect(Intersect *I) const {
  Dnf *result = new Dnf(manager);
  for (bdd_t *p : predicates) result->addIntersect(I->andPredicate(p));
  return result;
}

Cnf *Union::orIntersect(Intersect *I) const {
  Cnf *result = new Cnf(manager);
  for (int j = 0; j < I->getSize(); j++) result->addUnion(orPredicate(I->getPredicate(j)));
  return result;
}

Union *Union::smooth(array_t *vars) const {
  Union *result = new Union(manager);
  result->predicates.reserve(predicates.size());
  for (bdd_t *p : predicates)
    result->predicates.push_back(BFormula::adopt(mdd_smooth(mgrOf(manager), p, vars)));
  return result;
}

bdd_t *Union::toMDD() const {
  bdd_t *acc = bdd_zero(mgrOf(manager));
  for (bdd_t *p : predicates) {
    bdd_t *next = bdd_or(acc, p, 1, 1);
    bdd_free(acc);
    acc = next;
  }
  return acc;
}

bool Union::isTrue() const {
  if (predicates.empty()) return false;
  BFormula::Constant one(manager, true);
  for (bdd_t *p : predicates)
    if (one.is(p)) return true;
  return false;
}

bool Union::isFalse() const {
  if (predicates.empty()) return true;
  BFormula::Constant zero(manager, false);
  for (bdd_t *p : predicates)
    if (!zero.is(p)) return false;
  return true;
}

void Union::clean() {
  std::vector<bdd_t *> temp;
  if (!predicates.empty()) {
    BFormula::Constant zero(manager, false);
    for (bdd_t *p : predicates)
      if (!zero.is(p)) temp.push_back(p);
  }
  std::cout << "Here is the size of temp in Union::clean " << temp.size() << std::endl;
  predicates.swap(temp);
}

void *Union::operator new(std::size_t bytes) { return BFormula::allocate(bytes, destroyUnion); }

void Union::operator delete(void *object) { BFormula::deallocate(object); }
