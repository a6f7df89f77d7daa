#include "BFormula.h"

#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "util/util.h"

namespace {

// Every heap formula object with the function that deletes it as its own
// class, and every handle the formulas own.
struct Registry {
  std::unordered_map<void *, void (*)(void *)> objects;
  std::unordered_set<bdd_t *> handles;
  bool releasing = false;  // releaseAll is deleting objects it took out
};

Registry &registry() {
  static Registry r;
  return r;
}

void destroyFormula(void *object) { delete static_cast<BFormula *>(object); }

}  // namespace

BFormula::BFormula(int type) : type(type), size(0) {}

BFormula::Constant::Constant(void *manager, bool one)
    : handle(one ? bdd_one(static_cast<bdd_manager *>(manager))
                 : bdd_zero(static_cast<bdd_manager *>(manager))) {}

BFormula::Constant::~Constant() { bdd_free(handle); }

bool BFormula::Constant::is(bdd_t *p) const { return bdd_equal(p, handle) != 0; }

void BFormula::setSize(int newSize) { size = newSize; }

int BFormula::getType() const { return type; }

bdd_t *BFormula::adopt(bdd_t *handle) {
  if (handle == nullptr) return handle;
  kz_debug_assert(!handle->free, "BFormula::adopt: the handle was already released");
  registry().handles.insert(handle);
  return handle;
}

void BFormula::releaseAll() {
  Registry &r = registry();
  // Take the records out first: each delete below erases its own record.
  std::unordered_map<void *, void (*)(void *)> objects;
  objects.swap(r.objects);
  r.releasing = true;
  for (auto &entry : objects) entry.second(entry.first);
  r.releasing = false;
  std::unordered_set<bdd_t *> handles;
  handles.swap(r.handles);
  for (bdd_t *h : handles) bdd_free(h);
}

std::size_t BFormula::trackedObjects() { return registry().objects.size(); }

std::size_t BFormula::trackedHandles() { return registry().handles.size(); }

void *BFormula::allocate(std::size_t bytes, void (*destroy)(void *)) {
  void *object = ::operator new(bytes);
  try {
    registry().objects.emplace(object, destroy);
  } catch (...) {
    ::operator delete(object);
    throw;
  }
  return object;
}

void BFormula::deallocate(void *object) {
  if (object == nullptr) return;
  Registry &r = registry();
  size_t erased = r.objects.erase(object);
  kz_debug_assert(erased == 1 || r.releasing, "formula deleted twice or not allocated with new");
  (void)erased;
  ::operator delete(object);
}

void *BFormula::operator new(std::size_t bytes) { return allocate(bytes, destroyFormula); }

void BFormula::operator delete(void *object) { deallocate(object); }
