// The formula algebra: member order of every operation, the truth tests, the
// cleaning rules and their lines, sharing between formulas, the release
// scheme, and the laws checked against truth tables over six Boolean
// variables (three 4-value mvars).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BFormula.h"
#include "Cnf.h"
#include "Dnf.h"
#include "Intersect.h"
#include "Union.h"
#include "mdd/mdd.h"

namespace {

constexpr int kBits = 6;  // mvar k is encoded on bvars 2k (msb) and 2k+1
using Truth = uint64_t;   // bit a = value at the assignment whose bit v is bvar v

class FormulaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    array_t *values = array_alloc(int, 3);
    for (int i = 0; i < 3; i++) array_insert_last(int, values, 4);
    mgr = mdd_init(values, nullptr, nullptr);
    array_free(values);
    for (int v = 0; v < 4; v++) var[v] = mine(bdd_get_variable(mgr, v));
    a = var[0], b = var[1], c = var[2], d = var[3];
    one = mine(bdd_one(mgr));
    zero = mine(bdd_zero(mgr));
  }
  void TearDown() override {
    BFormula::releaseAll();
    EXPECT_EQ(0u, BFormula::trackedObjects());
    EXPECT_EQ(0u, BFormula::trackedHandles());
    mdd_quit(mgr);
  }

  // Test-made handles join the release scheme too.
  bdd_t *mine(bdd_t *h) { return BFormula::adopt(h); }

  bool eval(bdd_t *f, unsigned assignment) {
    bdd_t *g = bdd_dup(f);
    while (!bdd_is_tautology(g, 1) && !bdd_is_tautology(g, 0)) {
      bdd_t *next = ((assignment >> bdd_top_var_id(g)) & 1) ? bdd_then(g) : bdd_else(g);
      bdd_free(g);
      g = next;
    }
    bool value = bdd_is_tautology(g, 1);
    bdd_free(g);
    return value;
  }
  Truth truth(bdd_t *f) {
    Truth t = 0;
    for (unsigned x = 0; x < (1u << kBits); x++)
      if (eval(f, x)) t |= Truth(1) << x;
    return t;
  }
  // Truth table of a toMDD result, which the caller owns.
  Truth truthOf(bdd_t *fresh) {
    Truth t = truth(fresh);
    bdd_free(fresh);
    return t;
  }
  // Shannon expansion over bvars v ... kBits-1 of the rows selected by `base`.
  bdd_t *build(Truth t, int v, unsigned base) {
    if (v == kBits) return ((t >> base) & 1) ? bdd_one(mgr) : bdd_zero(mgr);
    bdd_t *hi = build(t, v + 1, base | (1u << v));
    bdd_t *lo = build(t, v + 1, base);
    bdd_t *x = bdd_get_variable(mgr, v);
    bdd_t *f = bdd_ite(x, hi, lo, 1, 1, 1);
    bdd_free(x);
    bdd_free(hi);
    bdd_free(lo);
    return f;
  }
  bdd_t *fromTruth(Truth t) { return mine(build(t, 0, 0)); }

  bool same(bdd_t *f, bdd_t *g) { return bdd_equal(f, g) != 0; }
  bdd_t *orOf(bdd_t *f, bdd_t *g) { return mine(bdd_or(f, g, 1, 1)); }
  bdd_t *andOf(bdd_t *f, bdd_t *g) { return mine(bdd_and(f, g, 1, 1)); }
  bdd_t *notOf(bdd_t *f) { return mine(bdd_not(f)); }

  mdd_manager *mgr = nullptr;
  bdd_t *var[4] = {};
  bdd_t *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
  bdd_t *one = nullptr, *zero = nullptr;
};

using Preds = std::vector<bdd_t *>;

Intersect *conj(void *m, Preds ps) { return new Intersect(ps, m); }
Union *disj(void *m, Preds ps) { return new Union(ps, m); }

// ---- Member order ------------------------------------------------------------

TEST_F(FormulaTest, IntersectAndUnionKeepTheirOrder) {
  Intersect *ab = conj(mgr, {a, b});
  EXPECT_EQ((Preds{c, a, b}), ab->andIntersect(conj(mgr, {c}))->getVector());
  Intersect *abc = ab->andPredicate(c);
  EXPECT_EQ((Preds{a, b, c}), abc->getVector());
  EXPECT_EQ((Preds{a, b}), ab->getVector());  // the receiver is unchanged

  Union *uab = disj(mgr, {a, b});
  EXPECT_EQ((Preds{c, a, b}), uab->orUnion(disj(mgr, {c}))->getVector());
  EXPECT_EQ((Preds{a, b, c}), uab->orPredicate(c)->getVector());
  EXPECT_EQ((Preds{a, b}), uab->getVector());
}

TEST_F(FormulaTest, PairwiseProductsAreReceiverOuter) {
  Intersect *ors = conj(mgr, {a, b})->orIntersect(conj(mgr, {c, d}));
  ASSERT_EQ(4, ors->getSize());
  EXPECT_TRUE(same(orOf(a, c), ors->getPredicate(0)));
  EXPECT_TRUE(same(orOf(a, d), ors->getPredicate(1)));
  EXPECT_TRUE(same(orOf(b, c), ors->getPredicate(2)));
  EXPECT_TRUE(same(orOf(b, d), ors->getPredicate(3)));

  Union *ands = disj(mgr, {a, b})->andUnion(disj(mgr, {c, d}));
  ASSERT_EQ(4, ands->getSize());
  EXPECT_TRUE(same(andOf(a, c), ands->getPredicate(0)));
  EXPECT_TRUE(same(andOf(a, d), ands->getPredicate(1)));
  EXPECT_TRUE(same(andOf(b, c), ands->getPredicate(2)));
  EXPECT_TRUE(same(andOf(b, d), ands->getPredicate(3)));
}

TEST_F(FormulaTest, UnionWithIntersectGivesNormalForms) {
  Dnf *dnf = disj(mgr, {a, b})->andIntersect(conj(mgr, {c, d}));
  ASSERT_EQ(2, dnf->getSize());
  EXPECT_EQ((Preds{c, d, a}), dnf->getIntersect(0)->getVector());
  EXPECT_EQ((Preds{c, d, b}), dnf->getIntersect(1)->getVector());
  Cnf *cnf = disj(mgr, {a, b})->orIntersect(conj(mgr, {c, d}));
  ASSERT_EQ(2, cnf->getSize());
  EXPECT_EQ((Preds{a, b, c}), cnf->getUnion(0)->getVector());
  EXPECT_EQ((Preds{a, b, d}), cnf->getUnion(1)->getVector());

  EXPECT_EQ(0, disj(mgr, {})->andIntersect(conj(mgr, {a}))->getSize());
  EXPECT_EQ(0, disj(mgr, {a})->orIntersect(conj(mgr, {}))->getSize());
}

std::vector<Preds> members(Dnf *f) {
  std::vector<Preds> out;
  for (Intersect *J : f->getVector()) out.push_back(J->getVector());
  return out;
}
std::vector<Preds> members(Cnf *f) {
  std::vector<Preds> out;
  for (Union *V : f->getVector()) out.push_back(V->getVector());
  return out;
}

TEST_F(FormulaTest, DnfOperationsOrderMembers) {
  Dnf *D = new Dnf({conj(mgr, {a}), conj(mgr, {b})}, mgr);
  Dnf *E = new Dnf({conj(mgr, {c}), conj(mgr, {d})}, mgr);

  testing::internal::CaptureStdout();
  Dnf *withI = D->andIntersect(conj(mgr, {c}));
  EXPECT_EQ("Dnf::andIntersect: Iteration 0newDnf.size() is 0\n"
            "Dnf::andIntersect: Iteration 1newDnf.size() is 1\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ((std::vector<Preds>{{c, a}, {c, b}}), members(withI));

  testing::internal::CaptureStdout();
  Dnf *product = D->andDnf(E);
  std::string twoLines = "Dnf::andIntersect: Iteration 0newDnf.size() is 0\n"
                         "Dnf::andIntersect: Iteration 1newDnf.size() is 1\n";
  EXPECT_EQ(twoLines + twoLines, testing::internal::GetCapturedStdout());
  EXPECT_EQ((std::vector<Preds>{{a, c}, {a, d}, {b, c}, {b, d}}), members(product));

  EXPECT_EQ((std::vector<Preds>{{a, c}, {a, d}, {b, c}, {b, d}}),
            members(D->andUnion(disj(mgr, {c, d}))));

  Dnf *sum = D->orDnf(E);
  EXPECT_EQ((std::vector<Intersect *>{D->getIntersect(0), D->getIntersect(1), E->getIntersect(0),
                                      E->getIntersect(1)}),
            sum->getVector());
  Dnf *withU = D->orUnion(disj(mgr, {c, d}));
  EXPECT_EQ((std::vector<Preds>{{a}, {b}, {c}, {d}}), members(withU));
  EXPECT_EQ(D->getIntersect(1), withU->getIntersect(1));
  EXPECT_EQ(2, D->getSize());  // operands unchanged
}

TEST_F(FormulaTest, CnfOperationsOrderMembers) {
  Cnf *N = new Cnf({disj(mgr, {a}), disj(mgr, {b})}, mgr);
  Cnf *E = new Cnf({disj(mgr, {c}), disj(mgr, {d})}, mgr);
  EXPECT_EQ((std::vector<Preds>{{a, c}, {b, c}}), members(N->orUnion(disj(mgr, {c}))));
  EXPECT_EQ((std::vector<Preds>{{a, c}, {a, d}, {b, c}, {b, d}}),
            members(N->orIntersect(conj(mgr, {c, d}))));
  EXPECT_EQ((std::vector<Preds>{{c, a}, {d, a}, {c, b}, {d, b}}), members(N->orCnf(E)));
  EXPECT_EQ((std::vector<Preds>{{a}, {b}, {c}, {d}}), members(N->andCnf(E)));
  EXPECT_EQ((std::vector<Preds>{{a}, {b}, {c}, {d}}), members(N->andIntersect(conj(mgr, {c, d}))));
  Union *U = disj(mgr, {c});
  Cnf *withU = N->andUnion(U);
  EXPECT_EQ(U, withU->getUnion(2));
  EXPECT_EQ(N->getUnion(0), withU->getUnion(0));
}

TEST_F(FormulaTest, NegationAppliesDeMorgan) {
  Dnf *D = new Dnf({conj(mgr, {a, b}), conj(mgr, {c})}, mgr);
  Cnf *N = D->negate();
  ASSERT_EQ(2, N->getSize());
  ASSERT_EQ(2, N->getUnion(0)->getSize());
  ASSERT_EQ(1, N->getUnion(1)->getSize());
  EXPECT_TRUE(same(notOf(a), N->getUnion(0)->getPredicate(0)));
  EXPECT_TRUE(same(notOf(b), N->getUnion(0)->getPredicate(1)));
  EXPECT_TRUE(same(notOf(c), N->getUnion(1)->getPredicate(0)));

  Dnf *back = N->negate();
  ASSERT_EQ(2, back->getSize());
  bdd_t *again = back->getIntersect(0)->getPredicate(0);
  EXPECT_NE(a, again);  // a new handle for the same function
  EXPECT_TRUE(same(a, again));
  EXPECT_TRUE(same(c, back->getIntersect(1)->getPredicate(0)));
}

// ---- Truth tests and cleaning ----------------------------------------------------------

TEST_F(FormulaTest, EmptyAndConstantFormulas) {
  Intersect emptyI(mgr);
  Union emptyU(mgr);
  EXPECT_TRUE(emptyI.isTrue());
  EXPECT_FALSE(emptyI.isFalse());
  EXPECT_TRUE(bdd_is_tautology(mine(emptyI.toMDD()), 1));
  EXPECT_FALSE(emptyU.isTrue());
  EXPECT_TRUE(emptyU.isFalse());
  EXPECT_TRUE(bdd_is_tautology(mine(emptyU.toMDD()), 0));

  Dnf emptyD(mgr);
  Cnf emptyC(mgr);
  BFormula *asBase[] = {&emptyD, &emptyC};
  EXPECT_FALSE(asBase[0]->isTrue());
  EXPECT_TRUE(emptyD.isFalse());
  EXPECT_TRUE(bdd_is_tautology(mine(emptyD.toMDD()), 0));
  EXPECT_TRUE(asBase[1]->isTrue());
  EXPECT_FALSE(emptyC.isFalse());
  EXPECT_TRUE(bdd_is_tautology(mine(emptyC.toMDD()), 1));
  EXPECT_EQ(1, emptyD.getType());
  EXPECT_EQ(0, emptyC.getType());

  EXPECT_TRUE(Dnf({conj(mgr, {a}), conj(mgr, {})}, mgr).isTrue());
  EXPECT_TRUE(Cnf({disj(mgr, {a}), disj(mgr, {})}, mgr).isFalse());

  // Only constant predicates are recognised.
  EXPECT_FALSE(conj(mgr, {a, notOf(a)})->isFalse());
  EXPECT_FALSE(disj(mgr, {a, notOf(a)})->isTrue());
  EXPECT_TRUE(disj(mgr, {a, one})->isTrue());
  EXPECT_TRUE(disj(mgr, {zero, zero})->isFalse());
  EXPECT_TRUE(conj(mgr, {one, one})->isTrue());
}

TEST_F(FormulaTest, MemberCleaningDropsNeutralConstantsOnly) {
  Intersect *withZero = conj(mgr, {a, zero, one, b});
  EXPECT_TRUE(withZero->isFalse());
  withZero->clean();
  EXPECT_EQ((Preds{a, zero, b}), withZero->getVector());
  EXPECT_TRUE(withZero->isFalse());

  Intersect *ones = conj(mgr, {one, one});
  ones->clean();
  EXPECT_EQ(0, ones->getSize());
  EXPECT_TRUE(ones->isTrue());

  Union *u = disj(mgr, {zero, a, zero, one, a});
  testing::internal::CaptureStdout();
  u->clean();
  EXPECT_EQ("Here is the size of temp in Union::clean 3\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ((Preds{a, one, a}), u->getVector());

  Union *onlyZero = disj(mgr, {zero});
  testing::internal::CaptureStdout();
  onlyZero->clean();
  EXPECT_EQ("Here is the size of temp in Union::clean 0\n", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(onlyZero->isFalse());
}

TEST_F(FormulaTest, NormalFormCleaning) {
  Union *V1 = disj(mgr, {zero, a});
  Cnf cnf({V1, disj(mgr, {one, b})}, mgr);
  testing::internal::CaptureStdout();
  cnf.clean();
  EXPECT_EQ("Here is the size of temp in Union::clean 1\n"
            "Here is the size of temp in Union::clean 2\n",
            testing::internal::GetCapturedStdout());
  ASSERT_EQ(1, cnf.getSize());
  EXPECT_EQ(V1, cnf.getUnion(0));
  EXPECT_EQ((Preds{a}), V1->getVector());

  Intersect *J1 = conj(mgr, {one, one});
  Dnf dnf({J1}, mgr);
  testing::internal::CaptureStdout();
  dnf.clean();
  EXPECT_EQ("----- Size of disj in Dnf::clean before cleaning 1\n"
            "----- Size of disj in Dnf::clean after cleaning 1\n",
            testing::internal::GetCapturedStdout());
  ASSERT_EQ(1, dnf.getSize());
  EXPECT_EQ(0, J1->getSize());
  EXPECT_TRUE(dnf.isTrue());
}

TEST_F(FormulaTest, EmptyOperandsPrintNothing) {
  Dnf empty(mgr);
  Dnf D({conj(mgr, {a}), conj(mgr, {b})}, mgr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, empty.andIntersect(conj(mgr, {a}))->getSize());
  EXPECT_EQ(0, empty.andDnf(&D)->getSize());
  EXPECT_EQ(0, D.andDnf(&empty)->getSize());
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST_F(FormulaTest, IndexedAccessorsThrowOutOfRange) {
  Intersect I({a}, mgr);
  Union U({a, b}, mgr);
  Dnf D({&I}, mgr);
  Cnf C({&U}, mgr);
  EXPECT_THROW(I.getPredicate(1), std::out_of_range);
  EXPECT_THROW(I.getPredicate(-1), std::out_of_range);
  EXPECT_THROW(U.getPredicate(2), std::out_of_range);
  EXPECT_THROW(U.getPredicate(-1), std::out_of_range);
  EXPECT_THROW(D.getIntersect(1), std::out_of_range);
  EXPECT_THROW(D.getIntersect(-1), std::out_of_range);
  EXPECT_THROW(C.getUnion(1), std::out_of_range);
  EXPECT_THROW(Cnf(mgr).getUnion(0), std::out_of_range);
  EXPECT_EQ(b, U.getPredicate(1));
}

// ---- Sharing -------------------------------------------------------------------

TEST_F(FormulaTest, SharedMembersStaySharedThroughChanges) {
  Dnf *D = new Dnf({conj(mgr, {one, a})}, mgr);
  Intersect *I = conj(mgr, {b});
  Dnf *E = D->orIntersect(I);
  EXPECT_EQ(I, E->getIntersect(1));
  I->addPredicate(c);
  EXPECT_EQ((Preds{b, c}), E->getIntersect(1)->getVector());
  EXPECT_TRUE(same(orOf(a, andOf(b, c)), mine(E->toMDD())));

  testing::internal::CaptureStdout();
  D->clean();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ((Preds{a}), E->getIntersect(0)->getVector());

  Union *V = disj(mgr, {zero, a});
  Cnf *N = new Cnf({V}, mgr);
  Cnf *M = N->andUnion(disj(mgr, {b}));
  testing::internal::CaptureStdout();
  M->clean();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ((Preds{a}), N->getUnion(0)->getVector());

  // Attaching a formula to itself doubles its members.
  D->attachDnf(D);
  EXPECT_EQ(2, D->getSize());
  EXPECT_EQ(D->getIntersect(0), D->getIntersect(1));
  N->attachCnf(N);
  EXPECT_EQ(2, N->getSize());
}

TEST_F(FormulaTest, ReleaseSchemeRecordsHeapObjectsAndComputedHandles) {
  BFormula::releaseAll();  // the fixture's own handles
  EXPECT_EQ(0u, BFormula::trackedHandles());
  a = mine(bdd_get_variable(mgr, 0));
  b = mine(bdd_get_variable(mgr, 1));
  size_t handles = BFormula::trackedHandles();

  Intersect onStack({a, b}, mgr);
  EXPECT_EQ(0u, BFormula::trackedObjects());
  Intersect *ored = onStack.orPredicate(b);
  EXPECT_EQ(1u, BFormula::trackedObjects());
  EXPECT_EQ(handles + 2, BFormula::trackedHandles());
  delete ored;
  EXPECT_EQ(0u, BFormula::trackedObjects());

  EXPECT_EQ(a, BFormula::adopt(a));  // adopting twice frees once
  EXPECT_EQ(handles + 2, BFormula::trackedHandles());

  // A product records its result and members, not its partial products.
  Dnf D({&onStack, &onStack}, mgr);
  testing::internal::CaptureStdout();
  D.andDnf(&D);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(1u + 4u, BFormula::trackedObjects());
  BFormula *negated = D.negate();
  EXPECT_EQ(1u + 4u + 3u, BFormula::trackedObjects());
  delete negated;  // through the base: its members stay
  EXPECT_EQ(1u + 4u + 2u, BFormula::trackedObjects());
}

// ---- Laws against truth tables ----------------------------------------------------

class FormulaLaws : public FormulaTest {
 protected:
  Truth all = ~Truth(0);

  // Existential quantification of bvar v.
  static Truth exists(Truth t, int v) {
    Truth low = 0;
    for (unsigned x = 0; x < 64; x++)
      if (!((x >> v) & 1)) low |= Truth(1) << x;
    Truth r = (t & low) | ((t >> (1u << v)) & low);
    return r | (r << (1u << v));
  }
  static Truth existsMvars(Truth t, const std::vector<int> &mvars) {
    for (int m : mvars) t = exists(exists(t, 2 * m), 2 * m + 1);
    return t;
  }

  bdd_t *randomPredicate() {
    switch (rng() % 8) {
      case 0: return one;
      case 1: return zero;
      case 2: return var[rng() % 4];
      default: return fromTruth((Truth(rng()) << 32) ^ rng());
    }
  }
  Preds randomPreds() {
    Preds ps;
    for (unsigned n = rng() % 4; n > 0; n--) ps.push_back(randomPredicate());
    return ps;
  }
  Intersect *randomI() { return conj(mgr, randomPreds()); }
  Union *randomU() { return disj(mgr, randomPreds()); }
  Dnf *randomD() {
    Dnf *f = new Dnf(mgr);
    for (unsigned n = rng() % 4; n > 0; n--) f->addIntersect(randomI());
    return f;
  }
  Cnf *randomC() {
    Cnf *f = new Cnf(mgr);
    for (unsigned n = rng() % 4; n > 0; n--) f->addUnion(randomU());
    return f;
  }

  // Meanings computed from the predicates' truth tables alone.
  Truth meaning(Intersect *I) {
    Truth t = all;
    for (bdd_t *p : I->getVector()) t &= truth(p);
    return t;
  }
  Truth meaning(Union *U) {
    Truth t = 0;
    for (bdd_t *p : U->getVector()) t |= truth(p);
    return t;
  }
  Truth meaning(Dnf *D) {
    Truth t = 0;
    for (Intersect *J : D->getVector()) t |= meaning(J);
    return t;
  }
  Truth meaning(Cnf *C) {
    Truth t = all;
    for (Union *V : C->getVector()) t &= meaning(V);
    return t;
  }
  template <class F>
  void checkToMDD(F *f) {
    EXPECT_EQ(meaning(f), truthOf(f->toMDD()));
    if (f->isTrue()) {
      EXPECT_EQ(all, meaning(f));
    }
    if (f->isFalse()) {
      EXPECT_EQ(0u, meaning(f));
    }
  }

  std::mt19937 rng{20240605};
};

TEST_F(FormulaLaws, EveryOperationMeansWhatItsLawSays) {
  testing::internal::CaptureStdout();  // progress and cleaning lines
  for (int round = 0; round < 60; round++) {
    Intersect *P = randomI(), *Q = randomI();
    Union *U = randomU(), *W = randomU();
    Dnf *D = randomD(), *E = randomD();
    Cnf *C = randomC(), *F = randomC();
    bdd_t *q = randomPredicate();
    Truth tq = truth(q), tP = meaning(P), tQ = meaning(Q), tU = meaning(U), tW = meaning(W);
    Truth tD = meaning(D), tE = meaning(E), tC = meaning(C), tF = meaning(F);

    checkToMDD(P);
    checkToMDD(U);
    checkToMDD(D);
    checkToMDD(C);
    EXPECT_EQ(tP & tq, meaning(P->andPredicate(q)));
    EXPECT_EQ(tP & tQ, meaning(P->andIntersect(Q)));
    EXPECT_EQ(tP | tq, truthOf(P->orPredicate(q)->toMDD()));
    EXPECT_EQ(tP | tQ, truthOf(P->orIntersect(Q)->toMDD()));
    EXPECT_EQ(~tP, truthOf(P->negate()->toMDD()));
    EXPECT_EQ(tU | tq, meaning(U->orPredicate(q)));
    EXPECT_EQ(tU | tW, meaning(U->orUnion(W)));
    EXPECT_EQ(tU & tq, truthOf(U->andPredicate(q)->toMDD()));
    EXPECT_EQ(tU & tW, truthOf(U->andUnion(W)->toMDD()));
    EXPECT_EQ(~tU, truthOf(U->negate()->toMDD()));
    EXPECT_EQ(tU & tP, truthOf(U->andIntersect(P)->toMDD()));
    EXPECT_EQ(tU | tP, truthOf(U->orIntersect(P)->toMDD()));

    EXPECT_EQ(tD & tP, truthOf(D->andIntersect(P)->toMDD()));
    EXPECT_EQ(tD & tU, truthOf(D->andUnion(U)->toMDD()));
    EXPECT_EQ(tD & tE, truthOf(D->andDnf(E)->toMDD()));
    EXPECT_EQ(tD | tP, truthOf(D->orIntersect(P)->toMDD()));
    EXPECT_EQ(tD | tU, truthOf(D->orUnion(U)->toMDD()));
    EXPECT_EQ(tD | tE, truthOf(D->orDnf(E)->toMDD()));
    EXPECT_EQ(~tD, truthOf(D->negate()->toMDD()));
    EXPECT_EQ(tD, truthOf(D->negate()->negate()->toMDD()));
    EXPECT_EQ(tC | tU, truthOf(C->orUnion(U)->toMDD()));
    EXPECT_EQ(tC | tP, truthOf(C->orIntersect(P)->toMDD()));
    EXPECT_EQ(tC | tF, truthOf(C->orCnf(F)->toMDD()));
    EXPECT_EQ(tC & tU, truthOf(C->andUnion(U)->toMDD()));
    EXPECT_EQ(tC & tP, truthOf(C->andIntersect(P)->toMDD()));
    EXPECT_EQ(tC & tF, truthOf(C->andCnf(F)->toMDD()));
    EXPECT_EQ(~tC, truthOf(C->negate()->toMDD()));
    EXPECT_EQ(tC, truthOf(C->negate()->negate()->toMDD()));

    // Smoothing: exact for a disjunction, an over-approximation otherwise.
    std::vector<int> mvars;
    array_t *vars = array_alloc(int, 0);
    for (int m = 0; m < 3; m++)
      if (rng() % 2 || (m == 2 && mvars.empty())) {
        mvars.push_back(m);
        array_insert_last(int, vars, m);
      }
    EXPECT_EQ(existsMvars(tU, mvars), truthOf(U->smooth(vars)->toMDD()));
    Truth sP = truthOf(P->smooth(vars)->toMDD()), sD = truthOf(D->smooth(vars)->toMDD());
    Truth sC = truthOf(C->smooth(vars)->toMDD());
    EXPECT_EQ(0u, existsMvars(tP, mvars) & ~sP);
    EXPECT_EQ(0u, existsMvars(tD, mvars) & ~sD);
    EXPECT_EQ(0u, existsMvars(tC, mvars) & ~sC);
    Truth perConjunct = all;
    for (bdd_t *p : P->getVector()) perConjunct &= existsMvars(truth(p), mvars);
    EXPECT_EQ(perConjunct, sP);
    array_free(vars);

    // Cleaning keeps the meaning.
    P->clean();
    U->clean();
    D->clean();
    C->clean();
    EXPECT_EQ(tP, meaning(P));
    EXPECT_EQ(tU, meaning(U));
    EXPECT_EQ(tD, meaning(D));
    EXPECT_EQ(tC, meaning(C));
    if (::testing::Test::HasFailure()) break;
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
