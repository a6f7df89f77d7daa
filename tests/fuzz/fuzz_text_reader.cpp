// The text reader: arbitrary text to Util::String2MDD. Whatever it accepts
// must write back with Util::MDD2String, read back to the same function and
// write the same text again; the renaming must swap every variable with its
// counterpart (checked against bdd_substitute) and, done twice, give the
// function back, in both directions.
#include <vector>

#include "Util.h"
#include "fuzz_support.h"

namespace {

bdd_t *readOrFind(void *mgr, const std::string &text, const char *what) {
  bdd_t *f = nullptr;
  if (fuzz::exitsFatally([&] { f = Util::String2MDD(mgr, text); })) fuzz::finding(what, text);
  return f;
}

// f with every bit swapped for its counterpart, by substitution.
bdd_t *substituted(fuzz::Model &model, bdd_t *f) {
  array_t *from = array_alloc(bdd_t *, 0);
  array_t *to = array_alloc(bdd_t *, 0);
  for (const auto *m : {&model.ps.unPrimedToPrimedBvar, &model.ps.primedToUnPrimedBvar}) {
    for (const auto &kv : *m) {
      array_insert_last(bdd_t *, from, bdd_get_variable(model.mgr, (bdd_variableId)kv.first));
      array_insert_last(bdd_t *, to, bdd_get_variable(model.mgr, (bdd_variableId)kv.second));
    }
  }
  bdd_t *r = bdd_substitute(f, from, to);
  for (array_t *a : {from, to}) {
    for (int i = 0; i < array_n(a); i++) bdd_free(array_fetch(bdd_t *, a, i));
    array_free(a);
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::setUp();
  fuzz::Model model;
  std::string text((const char *)data, size);
  bdd_t *f = nullptr;
  if (fuzz::exitsFatally([&] { f = Util::String2MDD(model.mgr, text); })) return 0;

  std::string written;
  Util::MDD2String(model.mgr, f, &written);
  bdd_t *g = readOrFind(model.mgr, written, "the written text is not read back");
  if (!bdd_equal(f, g)) fuzz::finding("the written text reads back to another function", written);
  std::string again;
  Util::MDD2String(model.mgr, g, &again);
  if (again != written) fuzz::finding("the same function writes another text", written + "\n--\n" + again);

  std::vector<bdd_t *> made = {f, g};
  bdd_t *expected = substituted(model, f);
  made.push_back(expected);
  bdd_t *primed = nullptr, *unprimed = nullptr;
  if (fuzz::exitsFatally([&] { primed = Util::genPrimed(f, model.mgr, &model.ps); }) ||
      fuzz::exitsFatally([&] { unprimed = Util::genUnPrimed(f, model.mgr, &model.ps); }))
    fuzz::finding("renaming an accepted text ends the process", written);
  made.push_back(primed);
  made.push_back(unprimed);
  if (!bdd_equal(primed, expected) || !bdd_equal(unprimed, expected))
    fuzz::finding("renaming does not swap every variable with its counterpart", written);
  bdd_t *back = nullptr, *back2 = nullptr;
  if (fuzz::exitsFatally([&] { back = Util::genUnPrimed(primed, model.mgr, &model.ps); }) ||
      fuzz::exitsFatally([&] { back2 = Util::genPrimed(unprimed, model.mgr, &model.ps); }))
    fuzz::finding("renaming back ends the process", written);
  made.push_back(back);
  made.push_back(back2);
  if (!bdd_equal(back, f) || !bdd_equal(back2, f)) fuzz::finding("renaming twice changes the function", written);
  for (bdd_t *h : made) bdd_free(h);
  return 0;
}
