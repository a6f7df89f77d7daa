// The guard cover minimiser against brute force over small domains: a cover
// says exactly the guard and is no larger than a greedy cover over all
// primes (a minimum one where the primes are few enough to try every
// subset); the bounded fallbacks stay exact; the literal texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "GuardCover.h"

namespace {

typedef GuardCover::Cube Cube;

// Points of the space as mixed-radix numbers, the first variable highest.
struct Brute {
  std::vector<int> domains;
  long size = 1;

  explicit Brute(const std::vector<int> &d) : domains(d) {
    for (int n : d) size *= n;
  }
  bool holds(const Cube &c, long p) const {
    for (size_t i = domains.size(); i-- > 0; p /= domains[i])
      if (!c[i][p % domains[i]]) return false;
    return true;
  }
  std::vector<char> table(const std::vector<Cube> &cubes) const {
    std::vector<char> t(size, 0);
    for (long p = 0; p < size; p++)
      for (const Cube &c : cubes) t[p] = t[p] || holds(c, p);
    return t;
  }
  bool inside(const Cube &c, const std::vector<char> &on) const {
    for (long p = 0; p < size; p++)
      if (holds(c, p) && !on[p]) return false;
    return true;
  }
  // Every cube inside the set that no added value keeps inside.
  std::vector<Cube> primes(const std::vector<char> &on) const {
    std::vector<Cube> all{Cube()}, primes;
    for (int d : domains) {
      std::vector<Cube> longer;
      for (const Cube &c : all)
        for (long mask = 1; mask < (1L << d); mask++) {
          longer.push_back(c);
          longer.back().emplace_back(d);
          for (int v = 0; v < d; v++) longer.back().back()[v] = mask >> v & 1;
        }
      all.swap(longer);
    }
    for (const Cube &c : all) {
      bool prime = inside(c, on);
      for (size_t i = 0; i < c.size() && prime; i++)
        for (size_t v = 0; v < c[i].size() && prime; v++) {
          Cube e = c;
          e[i][v] = true;
          prime = c[i][v] || !inside(e, on);
        }
      if (prime) primes.push_back(c);
    }
    return primes;
  }
  // Most uncovered points first.
  size_t greedySize(const std::vector<Cube> &primes, std::vector<char> uncovered) const {
    for (size_t picked = 0;; picked++) {
      long most = 0;
      size_t best = 0;
      for (size_t q = 0; q < primes.size(); q++) {
        long gain = 0;
        for (long p = 0; p < size; p++) gain += uncovered[p] && holds(primes[q], p);
        if (gain > most) most = gain, best = q;
      }
      if (most == 0) return picked;
      for (long p = 0; p < size; p++) uncovered[p] = uncovered[p] && !holds(primes[best], p);
    }
  }
  size_t minimumSize(const std::vector<Cube> &primes, const std::vector<char> &on) const {
    size_t best = primes.size();
    for (long subset = 0; subset < (1L << primes.size()); subset++) {
      std::vector<Cube> chosen;
      for (size_t q = 0; q < primes.size(); q++)
        if (subset >> q & 1) chosen.push_back(primes[q]);
      if (chosen.size() < best && table(chosen) == on) best = chosen.size();
    }
    return best;
  }
};

// Up to three variables of up to four values (or as given), the guard as
// random points or cubes, sometimes nothing or everything.
void randomGuard(std::mt19937 &rng, int vars, int values, std::vector<int> *domains,
                 std::vector<Cube> *cubes) {
  domains->assign(rng() % vars + 1, 0);
  for (int &n : *domains) n = (int)(rng() % values) + 1;
  cubes->clear();
  int kind = (int)(rng() % 8), count = kind == 0 ? 0 : (int)(rng() % 7) + 1;
  int chance = kind == 1 ? 100 : kind % 2 ? 60 : 0;  // percent for each further value
  for (int k = 0; k < count; k++) {
    cubes->emplace_back();
    for (int d : *domains) {
      int first = (int)(rng() % d);
      cubes->back().emplace_back(d);
      for (int v = 0; v < d; v++) cubes->back().back()[v] = v == first || (int)(rng() % 100) < chance;
    }
  }
}

TEST(GuardCover, CoversExactlyTheGuardWithNoMoreCubesThanAGreedyCover) {
  std::mt19937 rng(19);
  int minimumsTried = 0;
  for (int round = 0; round < 250; round++) {
    std::vector<int> domains;
    std::vector<Cube> guard;
    randomGuard(rng, 3, 4, &domains, &guard);
    Brute brute(domains);
    std::vector<char> on = brute.table(guard);
    std::vector<Cube> cover = GuardCover::minimise(domains, guard);
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(on, brute.table(cover));
    std::vector<Cube> primes = brute.primes(on);
    for (const Cube &c : cover) EXPECT_NE(std::find(primes.begin(), primes.end(), c), primes.end());
    EXPECT_LE(cover.size(), brute.greedySize(primes, on));
    if (primes.size() <= 14) {
      minimumsTried++;
      EXPECT_EQ(brute.minimumSize(primes, on), cover.size());
    }
  }
  EXPECT_GT(minimumsTried, 100);
}

TEST(GuardCover, BoundedSearchesAndLargeSpacesStayExact) {
  std::mt19937 rng(7);
  GuardCover::Limits grown, greedy, merged;
  grown.exactCubes = 0;    // primes grown from points
  greedy.searchSteps = 0;  // the greedy cover as it is
  merged.tablePoints = 0;  // no table: merging cubes only
  for (int round = 0; round < 150; round++) {
    std::vector<int> domains;
    std::vector<Cube> guard;
    randomGuard(rng, 4, 3, &domains, &guard);
    Brute brute(domains);
    size_t exact = GuardCover::minimise(domains, guard).size();
    for (const GuardCover::Limits &limits : {grown, greedy, merged}) {
      std::vector<Cube> cover = GuardCover::minimise(domains, guard, limits);
      ASSERT_EQ(brute.table(guard), brute.table(cover)) << "round " << round;
      EXPECT_LE(exact, cover.size());
    }
    EXPECT_LE(GuardCover::minimise(domains, guard, merged).size(), guard.size());
  }
  EXPECT_TRUE(GuardCover::minimise({3, 0}, {}).empty());
  EXPECT_TRUE(GuardCover::minimise({3}, {GuardCover::point({4}, {1})}).empty());  // misfit
}

TEST(GuardCover, GuardTextsUseThePlainestLiteralAndCoversComeInOrder) {
  std::vector<std::string> names = {"x1", "x2", "x3"};
  auto text = [&](std::vector<std::vector<int>> values, std::vector<int> domains) {
    Cube c;
    for (size_t i = 0; i < domains.size(); i++) {
      c.emplace_back(domains[i]);
      for (int v : values[i]) c.back()[v] = true;
    }
    return GuardCover::guardText(names, c);
  };
  std::vector<int> d4 = {4, 4, 4};
  EXPECT_EQ("true", text({{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}}, d4));
  EXPECT_EQ("x1 != 0 & x2 = 0", text({{1, 2, 3}, {0}, {0, 1, 2, 3}}, d4));
  EXPECT_EQ("x1 in {0,2} & x3 in {1,2}", text({{0, 2}, {0, 1, 2, 3}, {1, 2}}, d4));
  EXPECT_EQ("x1 = 1 & x2 != 2", text({{1}, {0, 1}, {0}}, {2, 3, 1}));  // two values: "="
  EXPECT_EQ("x2 in {}", text({{0}, {}}, {1, 2}));
  std::vector<Cube> cover = GuardCover::minimise(
      {4, 4}, {GuardCover::point({4, 4}, {1, 0}), GuardCover::point({4, 4}, {0, 3}),
               GuardCover::point({4, 4}, {2, 0}), GuardCover::point({4, 4}, {0, 1}),
               GuardCover::point({4, 4}, {3, 0}), GuardCover::point({4, 4}, {0, 2})});
  ASSERT_EQ(2u, cover.size());
  EXPECT_EQ("x1 = 0 & x2 != 0", GuardCover::guardText(names, cover[0]));
  EXPECT_EQ("x1 != 0 & x2 = 0", GuardCover::guardText(names, cover[1]));
}

}  // namespace
