#include "Dnf.h"

#include <iostream>
#include <stdexcept>
#include <utility>

#include "Cnf.h"

Dnf::Dnf(void *manager) : BFormula(1), manager(manager) {}

Dnf::Dnf(std::vector<Intersect *> intersects, void *manager)
    : BFormula(1), manager(manager), intersects(std::move(intersects)) {}

int Dnf::getSize() const { return static_cast<int>(intersects.size()); }

void Dnf::setSize(int size) { BFormula::setSize(size); }

bool Dnf::isTrue() const {
  for (Intersect *J : intersects)
    if (J->isTrue()) return true;
  return false;
}

Intersect *Dnf::getIntersect(int i) const {
  if (i < 0 || i >= getSize()) throw std::out_of_range("Dnf::getIntersect: no member at this position");
  return intersects[static_cast<size_t>(i)];
}

std::vector<Intersect *> Dnf::getVector() const { return intersects; }

void Dnf::addIntersect(Intersect *I) { intersects.push_back(I); }

void Dnf::attachDnf(Dnf *d) {
  // Copy first: d may be this Dnf itself.
  const std::vector<Intersect *> added = d->intersects;
  intersects.insert(intersects.end(), added.begin(), added.end());
}

Dnf *Dnf::andIntersect(Intersect *I) const {
  Dnf *result = new Dnf(manager);
  result->intersects.reserve(intersects.size());
  for (size_t i = 0; i < intersects.size(); i++) {
    std::cout << "Dnf::andIntersect: Iteration " << i << "newDnf.size() is " << result->getSize()
              << std::endl;
    result->intersects.push_back(intersects[i]->andIntersect(I));
  }
  return result;
}

Dnf *Dnf::andUnion(Union *U) const {
  Dnf *result = new Dnf(manager);
  for (Intersect *J : intersects)
    for (int k = 0; k < U->getSize(); k++) result->intersects.push_back(J->andPredicate(U->getPredicate(k)));
  return result;
}

Dnf *Dnf::andDnf(Dnf *E) const {
  Dnf *result = new Dnf(manager);
  for (Intersect *J : intersects) {
    // The partial product only carries its members over; the members stay.
    Dnf *part = E->andIntersect(J);
    result->intersects.insert(result->intersects.end(), part->intersects.begin(), part->intersects.end());
    delete part;
  }
  return result;
}

Dnf *Dnf::orIntersect(Intersect *I) const {
  Dnf *result = new Dnf(intersects, manager);
  result->intersects.push_back(I);
  return result;
}

Dnf *Dnf::orUnion(Union *U) const {
  Dnf *result = new Dnf(intersects, manager);
  for (int k = 0; k < U->getSize(); k++) {
    Intersect *single = new Intersect(manager);
    single->addPredicate(U->getPredicate(k));
    result->intersects.push_back(single);
  }
  return result;
}

Dnf *Dnf::orDnf(Dnf *E) const {
  Dnf *result = new Dnf(intersects, manager);
  result->intersects.insert(result->intersects.end(), E->intersects.begin(), E->intersects.end());
  return result;
}

Cnf *Dnf::negate() const {
  Cnf *result = new Cnf(manager);
  for (Intersect *J : intersects) result->addUnion(J->negate());
  return result;
}

Dnf *Dnf::smooth(array_t *vars) const {
  Dnf *result = new Dnf(manager);
  result->intersects.reserve(intersects.size());
  for (Intersect *J : intersects) result->intersects.push_back(J->smooth(vars));
  return result;
}

bdd_t *Dnf::toMDD() const {
  bdd_t *acc = bdd_zero(static_cast<bdd_manager *>(manager));
  for (Intersect *J : intersects) {
    bdd_t *member = J->toMDD();
    bdd_t *next = bdd_or(acc, member, 1, 1);
    bdd_free(member);
    bdd_free(acc);
    acc = next;
  }
  return acc;
}

bool Dnf::isFalse() const {
  for (Intersect *J : intersects)
    if (!J->isFalse()) return false;
  return true;
}

void Dnf::clean() {
  std::cout << "----- Size of disj in Dnf::clean before cleaning " << intersects.size() << std::endl;
  for (Intersect *J : intersects) J->clean();
  std::cout << "----- Size of disj in Dnf::clean after cleaning " << intersects.size() << std::endl;
}
