#include "support/program_model.h"

#include <gtest/gtest.h>

#include "Util.h"

namespace model_test {

array_t *intArray(std::initializer_list<int> values) {
  array_t *a = array_alloc(int, (int)values.size());
  for (int v : values) array_insert_last(int, a, v);
  return a;
}

std::vector<int> intsOf(array_t *a) {
  std::vector<int> v;
  for (int i = 0; i < array_n(a); i++) v.push_back(array_fetch(int, a, i));
  return v;
}

bdd_t *cube(mdd_manager *mgr, const std::vector<std::pair<int, int>> &values) {
  bdd_t *c = bdd_one(mgr);
  for (const auto &[id, v] : values) c = Util::andInto(c, mdd_func1c(mgr, id, v, eq2));
  return c;
}

std::vector<std::vector<int>> minterms(bdd_t *f, array_t *vars) {
  std::vector<std::vector<int>> out;
  array_t *m = nullptr;
  mdd_gen *gen;
  foreach_mdd_minterm(f, gen, m, vars) {
    out.push_back(intsOf(m));
    array_free(m);
  }
  return out;
}

State decode(int s) { return State{s / 16, (s / 4) % 4, s % 4}; }

int encode(const State &s) { return 16 * s[0] + 4 * s[1] + s[2]; }

bool inInvariant(int s) {
  State v = decode(s);
  return v[0] == v[1] || v[1] == v[2];
}

StateSet allStates() {
  StateSet all;
  for (int s = 0; s < 64; s++) all.insert(s);
  return all;
}

std::vector<std::string> referenceProgram() {
  std::vector<std::string> lines;
  for (int a = 0; a < 4; a++)
    for (int v = 0; v < 4; v++)
      if (v != a) {
        lines.push_back("x1 = " + std::to_string(v) + " x2 = " + std::to_string(a) +
                        " -> x1 := " + std::to_string(a));
        lines.push_back("x2 = " + std::to_string(a) + " x3 = " + std::to_string(v) +
                        " -> x3 := " + std::to_string(a));
      }
  for (int a = 0; a < 4; a++)
    for (int s = 0; s < 64; s++) {
      State v = decode(s);
      if (v[0] != v[1] && v[1] != v[2] && (v[0] == a || v[2] == a))
        lines.push_back("x1 = " + std::to_string(v[0]) + " x2 = " + std::to_string(v[1]) +
                        " x3 = " + std::to_string(v[2]) + " -> x2 := " + std::to_string(a));
    }
  return lines;
}

TestModel::TestModel() {
  ::testing::internal::CaptureStdout();
  initResult = ps.Init();
  initOutput = ::testing::internal::GetCapturedStdout();
  mgr = ps.getMDDManager();
}

TestModel::~TestModel() {
  for (bdd_t *h : owned) bdd_free(h);
  ps.release();
  mdd_quit(mgr);
}

bdd_t *TestModel::keep(bdd_t *h) {
  owned.push_back(h);
  return h;
}

bdd_t *TestModel::one() { return keep(bdd_one(mgr)); }

bdd_t *TestModel::zero() { return keep(bdd_zero(mgr)); }

bdd_t *TestModel::is(int process, int value) {
  return keep(mdd_func1c(mgr, ps.unPrimedIndex[process], value, eq2));
}

bdd_t *TestModel::equal(int a, int b) {
  return keep(mdd_func2(mgr, ps.unPrimedIndex[a], ps.unPrimedIndex[b], eq2));
}

bdd_t *TestModel::primed(bdd_t *f) { return keep(Util::genPrimed(f, mgr, &ps)); }

bdd_t *TestModel::read(const std::string &text) { return keep(Util::String2MDD(mgr, text)); }

bdd_t *TestModel::states(const StateSet &set) {
  bdd_t *f = bdd_zero(mgr);
  for (int s : set) {
    State v = decode(s);
    f = Util::orInto(f, cube(mgr, {{ps.unPrimedIndex[1], v[0]},
                                   {ps.unPrimedIndex[2], v[1]},
                                   {ps.unPrimedIndex[3], v[2]}}));
  }
  return keep(f);
}

std::string TestModel::text(bdd_t *f) {
  std::string s;
  Util::MDD2String(mgr, f, &s);
  return s;
}

StateSet TestModel::statesOf(bdd_t *f) {
  StateSet out;
  for (int s = 0; s < 64; s++) {
    State v = decode(s);
    bdd_t *single = cube(mgr, {{ps.unPrimedIndex[1], v[0]},
                               {ps.unPrimedIndex[2], v[1]},
                               {ps.unPrimedIndex[3], v[2]}});
    bdd_t *both = bdd_and(f, single, 1, 1);
    if (!bdd_is_tautology(both, 0)) out.insert(s);
    bdd_free(both);
    bdd_free(single);
  }
  return out;
}

bool TestModel::same(const std::string &text, bdd_t *f) { return bdd_equal(read(text), f); }

}  // namespace model_test
