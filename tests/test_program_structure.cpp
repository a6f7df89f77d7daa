// The program model: variable table, index tables, bit maps, label maps, the
// invariant pair and the synthesis invariant.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ProgramStructure.h"
#include "Union.h"
#include "Util.h"
#include "support/program_model.h"

namespace {

const char kInitTable[] =
    "0 x1 = mvar_ID 0\n"
    "1 x1p = mvar_ID 1\n"
    "2 x2 = mvar_ID 2\n"
    "3 x2p = mvar_ID 3\n"
    "4 x3 = mvar_ID 4\n"
    "5 x3p = mvar_ID 5\n"
    " mv.encode_length is 2\n"
    " unprimed bvar 0 primed bvar 2\n"
    " unprimed bvar 1 primed bvar 3\n"
    " mv.encode_length is 2\n"
    " unprimed bvar 4 primed bvar 6\n"
    " unprimed bvar 5 primed bvar 7\n"
    " mv.encode_length is 2\n"
    " unprimed bvar 8 primed bvar 10\n"
    " unprimed bvar 9 primed bvar 11\n"
    "Primed <--> Unprimed table filled!\n";

using model_test::intsOf;

class ModelTest : public ::testing::Test {
 protected:
  model_test::TestModel model;
  ProgramStructure &ps = model.ps;
  mdd_manager *mgr = model.mgr;

  void SetUp() override { EXPECT_EQ(1, model.initResult); }

  // Whether the state with the given mvar values lies in f.
  bool holds(bdd_t *f, const std::vector<std::pair<int, int>> &values) {
    bdd_t *cube = model_test::cube(mgr, values);
    bdd_t *meet = bdd_and(f, cube, 1, 1);
    bool in = !bdd_is_tautology(meet, 0);
    bdd_free(meet);
    bdd_free(cube);
    return in;
  }

  int countMinterms(bdd_t *f, array_t *vars) { return (int)model_test::minterms(f, vars).size(); }
};

TEST_F(ModelTest, InitPrintsTheVariableTable) { EXPECT_EQ(kInitTable, model.initOutput); }

TEST_F(ModelTest, IndexTablesAndCreationArrays) {
  EXPECT_EQ((std::vector<int>{0, 0, 2, 4}), std::vector<int>(ps.unPrimedIndex, ps.unPrimedIndex + 4));
  EXPECT_EQ((std::vector<int>{0, 1, 3, 5}), std::vector<int>(ps.primedIndex, ps.primedIndex + 4));
  EXPECT_EQ((std::vector<int>{0, 2, 4}), intsOf(ps.getUnPrimedmVars()));
  EXPECT_EQ((std::vector<int>{1, 3, 5}), intsOf(ps.getPrimedmVars()));
  EXPECT_EQ((std::vector<int>(6, 4)), intsOf(ps.getmVarValues()));
  EXPECT_EQ((std::vector<int>(6, 1)), intsOf(ps.getmVarStrides()));
  std::vector<std::string> names;
  for (int i = 0; i < array_n(ps.getmVarNames()); i++) {
    names.emplace_back(array_fetch(char *, ps.getmVarNames(), i));
  }
  EXPECT_EQ((std::vector<std::string>{"x1", "x1p", "x2", "x2p", "x3", "x3p"}), names);
  EXPECT_EQ(6, array_n(mdd_ret_mvar_list(mgr)));
}

TEST_F(ModelTest, BitMapsHoldSixEntriesAndInvertEachOther) {
  const auto &up = ps.unPrimedToPrimedBvar;
  const auto &pu = ps.primedToUnPrimedBvar;
  EXPECT_EQ((std::map<int, int>{{0, 2}, {1, 3}, {4, 6}, {5, 7}, {8, 10}, {9, 11}}), up);
  ASSERT_EQ(6u, pu.size());
  for (const auto &[u, p] : up) {
    ASSERT_TRUE(pu.count(p)) << p;
    EXPECT_EQ(u, pu.at(p));
    EXPECT_FALSE(pu.count(u)) << "key sets must be disjoint";
  }
  // Every bvar of the manager belongs to exactly one map.
  for (int b = 0; b < 12; b++) EXPECT_EQ(1u, up.count(b) + pu.count(b)) << b;
}

TEST_F(ModelTest, LabelMaps) {
  std::map<int, std::string> all{{0, "x1 = "}, {1, "x1p = "}, {2, "x2 = "},
                                 {3, "x2p = "}, {4, "x3 = "},  {5, "x3p = "}};
  EXPECT_EQ(all, ps.getmVarsMap());
  EXPECT_EQ((std::map<int, std::string>{{1, "x1p = "}, {3, "x2p = "}, {5, "x3p = "}}),
            ps.getPrimedmVarsMap());
  EXPECT_EQ((std::map<int, std::string>{{0, "x1 = "}, {2, "x2 = "}, {4, "x3 = "}}),
            ps.getUnPrimedmVarsMap());
}

TEST_F(ModelTest, MakeInvariantSetsBothToTrue) {
  EXPECT_EQ(nullptr, ps.getInvariant());
  ::testing::internal::CaptureStdout();
  ps.makeInvariant();
  EXPECT_EQ("Finished making the invariant ...\n", ::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(bdd_is_tautology(ps.getInvariant(), 1));
  EXPECT_TRUE(bdd_is_tautology(ps.getPrimedInvariant(), 1));
  ::testing::internal::CaptureStdout();
  ps.makeInvariant();  // a second call replaces the pair without leaking it
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(bdd_is_tautology(ps.getInvariant(), 1));
}

TEST_F(ModelTest, UnassignedPartsHaveDefinedEmptyValues) {
  EXPECT_EQ(nullptr, ps.getSafetySpec());
  EXPECT_EQ(nullptr, ps.getMDDGen());
  ASSERT_NE(nullptr, ps.getValues());
  ASSERT_NE(nullptr, ps.getmVars());
  EXPECT_EQ(0, array_n(ps.getValues()));
  EXPECT_EQ(0, array_n(ps.getmVars()));
  bdd_t *p = bdd_one(mgr);
  Union *u = ps.intersectSafetySpec(p, 3, 7);
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(0, u->getSize());
  EXPECT_TRUE(u->isFalse());
  delete u;
  bdd_free(p);
}

TEST_F(ModelTest, SynthesisInvariantHolds28StatesAndMatchesItsDefinition) {
  bdd_t *inv = ps.buildSynthesisInvariant(false);
  EXPECT_EQ(28, countMinterms(inv, ps.getUnPrimedmVars()));
  EXPECT_TRUE(holds(inv, {{0, 0}, {2, 1}, {4, 1}}));
  EXPECT_TRUE(holds(inv, {{0, 3}, {2, 3}, {4, 3}}));
  EXPECT_FALSE(holds(inv, {{0, 0}, {2, 1}, {4, 2}}));
  for (int a = 0; a < 4; a++)
    for (int b = 0; b < 4; b++)
      for (int c = 0; c < 4; c++)
        EXPECT_EQ(a == b || b == c, holds(inv, {{0, a}, {2, b}, {4, c}})) << a << b << c;

  // It says nothing about the primed variables.
  bdd_t *free = mdd_smooth(mgr, inv, ps.getPrimedmVars());
  EXPECT_TRUE(bdd_equal(free, inv));
  bdd_free(free);
  bdd_free(inv);
}

TEST_F(ModelTest, PrimedSynthesisInvariantIsTheRenamedCopy) {
  bdd_t *inv = ps.buildSynthesisInvariant(false);
  bdd_t *invP = ps.buildSynthesisInvariant(true);
  EXPECT_EQ(28, countMinterms(invP, ps.getPrimedmVars()));
  for (int a = 0; a < 4; a++)
    for (int b = 0; b < 4; b++)
      for (int c = 0; c < 4; c++)
        EXPECT_EQ(a == b || b == c, holds(invP, {{1, a}, {3, b}, {5, c}})) << a << b << c;
  bdd_t *free = mdd_smooth(mgr, invP, ps.getUnPrimedmVars());
  EXPECT_TRUE(bdd_equal(free, invP));
  bdd_free(free);

  ::testing::internal::CaptureStdout();
  bdd_t *renamed = Util::genPrimed(inv, mgr, &ps);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(bdd_equal(renamed, invP));
  bdd_free(renamed);
  bdd_free(invP);
  bdd_free(inv);
}

TEST(ModelLifecycle, ReleaseIsIdempotentAndLeavesNothingBehind) {
  ProgramStructure ps;
  ::testing::internal::CaptureStdout();
  ps.Init();
  ps.makeInvariant();
  ::testing::internal::GetCapturedStdout();
  mdd_manager *mgr = ps.getMDDManager();
  ps.release();
  ps.release();
  EXPECT_EQ(nullptr, ps.getInvariant());
  EXPECT_EQ(nullptr, ps.getUnPrimedmVars());
  mdd_quit(mgr);
}

}  // namespace
