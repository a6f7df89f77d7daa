#include "Intersect.h"

#include <stdexcept>
#include <utility>

#include "BFormula.h"
#include "Union.h"
#include "mdd/mdd.h"
#include "util/util.h"

namespace {

bdd_manager *mgrOf(void *manager) { return static_cast<bdd_manager *>(manager); }

void destroyIntersect(void *object) { delete static_cast<Intersect *>(object); }

}  // namespace

Intersect::Intersect(void *manager) : size(0), manager(manager) {}

Intersect::Intersect(std::vector<bdd_t *> predicates, void *manager)
    : predicates(std::move(predicates)), size(0), manager(manager) {}

int Intersect::getSize() const { return static_cast<int>(predicates.size()); }

bdd_t *Intersect::getPredicate(int i) const {
  if (i < 0 || i >= getSize()) throw std::out_of_range("Intersect::getPredicate: no predicate at this position");
  return predicates[static_cast<size_t>(i)];
}

std::vector<bdd_t *> Intersect::getVector() const { return predicates; }

void Intersect::addPredicate(bdd_t *p) { predicates.push_back(p); }

void Intersect::setSize(int newSize) { size = newSize; }

Intersect *Intersect::andPredicate(bdd_t *q) const {
  Intersect *result = new Intersect(predicates, manager);
  result->predicates.push_back(q);
  return result;
}

Intersect *Intersect::andIntersect(Intersect *Q) const {
  Intersect *result = new Intersect(Q->predicates, manager);
  result->predicates.insert(result->predicates.end(), predicates.begin(), predicates.end());
  return result;
}

Intersect *Intersect::orPredicate(bdd_t *q) const {
  Intersect *result = new Intersect(manager);
  result->predicates.reserve(predicates.size());
  for (bdd_t *p : predicates) result->predicates.push_back(BFormula::adopt(bdd_or(p, q, 1, 1)));
  return result;
}

Intersect *Intersect::orIntersect(Intersect *Q) const {
  Intersect *result = new Intersect(manager);
  result->predicates.reserve(predicates.size() * Q->predicates.size());
  for (bdd_t *p : predicates)
    for (bdd_t *q : Q->predicates) result->predicates.push_back(BFormula::adopt(bdd_or(p, q, 1, 1)));
  return result;
}

Union *Intersect::negate() const {
  Union *result = new Union(manager);
  for (bdd_t *p : predicates) result->addPredicate(BFormula::adopt(bdd_not(p)));
  return result;
}

Intersect *Intersect::smooth(array_t *vars) const {
  Intersect *result = new Intersect(manager);
  result->predicates.reserve(predicates.size());
  for (bdd_t *p : predicates)
    result->predicates.push_back(BFormula::adopt(mdd_smooth(mgrOf(manager), p, vars)));
  return result;
}

bdd_t *Intersect::toMDD() const {
  bdd_t *acc = bdd_one(mgrOf(manager));
  for (bdd_t *p : predicates) {
    bdd_t *next = bdd_and(acc, p, 1, 1);
    bdd_free(acc);
    acc = next;
  }
  return acc;
}

bool Intersect::isTrue() const {
  if (predicates.empty()) return true;
  BFormula::Constant one(manager, true);
  for (bdd_t *p : predicates)
    if (!one.is(p)) return false;
  return true;
}

bool Intersect::isFalse() const {
  if (predicates.empty()) return false;
  BFormula::Constant zero(manager, false);
  for (bdd_t *p : predicates)
    if (zero.is(p)) return true;
  return false;
}

void Intersect::clean() {
  if (predicates.empty()) return;
  BFormula::Constant one(manager, true);
  std::vector<bdd_t *> kept;
  for (bdd_t *p : predicates)
    if (!one.is(p)) kept.push_back(p);
  predicates.swap(kept);
}

void *Intersect::operator new(std::size_t bytes) {
  return BFormula::allocate(bytes, destroyIntersect);
}

void Intersect::operator delete(void *object) { BFormula::deallocate(object); }
