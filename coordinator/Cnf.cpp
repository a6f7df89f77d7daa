#include "Cnf.h"

#include <stdexcept>
#include <utility>

#include "Dnf.h"

Cnf::Cnf(void *manager) : BFormula(0), manager(manager) {}

Cnf::Cnf(std::vector<Union *> unions, void *manager)
    : BFormula(0), manager(manager), unions(std::move(unions)) {}

int Cnf::getSize() const { return static_cast<int>(unions.size()); }

void Cnf::setSize(int size) { BFormula::setSize(size); }

bool Cnf::isTrue() const {
  for (Union *V : unions)
    if (!V->isTrue()) return false;
  return true;
}

Union *Cnf::getUnion(int i) const {
  if (i < 0 || i >= getSize()) throw std::out_of_range("Cnf::getUnion: no member at this position");
  return unions[static_cast<size_t>(i)];
}

std::vector<Union *> Cnf::getVector() const { return unions; }

void Cnf::addUnion(Union *U) { unions.push_back(U); }

void Cnf::attachCnf(Cnf *c) {
  // Copy first: c may be this Cnf itself.
  const std::vector<Union *> added = c->unions;
  unions.insert(unions.end(), added.begin(), added.end());
}

Cnf *Cnf::orUnion(Union *U) const {
  Cnf *result = new Cnf(manager);
  result->unions.reserve(unions.size());
  for (Union *V : unions) result->unions.push_back(U->orUnion(V));
  return result;
}

Cnf *Cnf::orIntersect(Intersect *I) const {
  Cnf *result = new Cnf(manager);
  for (Union *V : unions)
    for (int k = 0; k < I->getSize(); k++) result->unions.push_back(V->orPredicate(I->getPredicate(k)));
  return result;
}

Cnf *Cnf::orCnf(Cnf *E) const {
  Cnf *result = new Cnf(manager);
  for (Union *V : unions) {
    // The partial product only carries its members over; the members stay.
    Cnf *part = E->orUnion(V);
    result->unions.insert(result->unions.end(), part->unions.begin(), part->unions.end());
    delete part;
  }
  return result;
}

Cnf *Cnf::andUnion(Union *U) const {
  Cnf *result = new Cnf(unions, manager);
  result->unions.push_back(U);
  return result;
}

Cnf *Cnf::andIntersect(Intersect *I) const {
  Cnf *result = new Cnf(unions, manager);
  for (int k = 0; k < I->getSize(); k++) {
    Union *single = new Union(manager);
    single->addPredicate(I->getPredicate(k));
    result->unions.push_back(single);
  }
  return result;
}

Cnf *Cnf::andCnf(Cnf *E) const {
  Cnf *result = new Cnf(unions, manager);
  result->unions.insert(result->unions.end(), E->unions.begin(), E->unions.end());
  return result;
}

Dnf *Cnf::negate() const {
  Dnf *result = new Dnf(manager);
  for (Union *V : unions) result->addIntersect(V->negate());
  return result;
}

Cnf *Cnf::smooth(array_t *vars) const {
  Cnf *result = new Cnf(manager);
  result->unions.reserve(unions.size());
  for (Union *V : unions) result->unions.push_back(V->smooth(vars));
  return result;
}

bdd_t *Cnf::toMDD() const {
  bdd_t *acc = bdd_one(static_cast<bdd_manager *>(manager));
  for (Union *V : unions) {
    bdd_t *member = V->toMDD();
    bdd_t *next = bdd_and(acc, member, 1, 1);
    bdd_free(member);
    bdd_free(acc);
    acc = next;
  }
  return acc;
}

bool Cnf::isFalse() const {
  for (Union *V : unions)
    if (V->isFalse()) return true;
  return false;
}

void Cnf::clean() {
  for (Union *V : unions) V->clean();
  std::vector<Union *> kept;
  for (Union *V : unions)
    if (!V->isTrue()) kept.push_back(V);
  unions.swap(kept);
}
