#include "GuardCover.h"

#include <algorithm>
#include <climits>
#include <set>
#include <sstream>

namespace {

typedef GuardCover::Cube Cube;

bool fits(const std::vector<int> &domains, const Cube &c) {
  if (c.size() != domains.size()) return false;
  for (size_t i = 0; i < c.size(); i++)
    if ((int)c[i].size() != domains[i]) return false;
  return true;
}

bool isEmpty(const Cube &c) {
  for (const std::vector<bool> &values : c)
    if (std::find(values.begin(), values.end(), true) == values.end()) return true;
  return false;
}

// a holds every point of b.
bool contains(const Cube &a, const Cube &b) {
  for (size_t i = 0; i < a.size(); i++)
    for (size_t v = 0; v < a[i].size(); v++)
      if (b[i][v] && !a[i][v]) return false;
  return true;
}

// x * y, or LONG_MAX when it would exceed limit.
long timesWithin(long x, long y, long limit) {
  if (y != 0 && x > limit / y) return LONG_MAX;
  return x * y;
}

// The lowest value of every variable, then the value sets: the order the
// result is written in.
bool comesFirst(const Cube &a, const Cube &b) {
  for (size_t i = 0; i < a.size(); i++) {
    long fa = std::find(a[i].begin(), a[i].end(), true) - a[i].begin();
    long fb = std::find(b[i].begin(), b[i].end(), true) - b[i].begin();
    if (fa != fb) return fa < fb;
  }
  return a < b;
}

// ---- The space as a table -----------------------------------------------------------
// Points are mixed-radix indices, the first variable most significant.
struct Space {
  std::vector<int> domains;
  std::vector<long> stride;
  long size = 1;
  std::vector<char> on;

  explicit Space(const std::vector<int> &d) : domains(d), stride(d.size()) {
    for (size_t i = d.size(); i-- > 0;) {
      stride[i] = size;
      size *= d[i];
    }
    on.assign(size, 0);
  }

  // Calls visit(index) for every point of c while it returns true; false
  // when a visit returned false.
  template <class Visit>
  bool forEachPoint(const Cube &c, Visit visit) const {
    size_t n = domains.size();
    std::vector<std::vector<int>> values(n);
    for (size_t i = 0; i < n; i++) {
      for (int v = 0; v < domains[i]; v++)
        if (c[i][v]) values[i].push_back(v);
      if (values[i].empty()) return true;
    }
    std::vector<size_t> at(n, 0);
    for (;;) {
      long index = 0;
      for (size_t i = 0; i < n; i++) index += values[i][at[i]] * stride[i];
      if (!visit(index)) return false;
      size_t i = n;
      while (i > 0 && ++at[i - 1] == values[i - 1].size()) at[--i] = 0;
      if (i == 0) return true;
    }
  }

  bool inside(const Cube &c) const {
    return forEachPoint(c, [this](long p) { return on[p] != 0; });
  }

  // c with value v added to variable i stays inside the set.
  bool canAdd(Cube c, size_t i, int v) const {
    c[i].assign(domains[i], false);
    c[i][v] = true;
    return inside(c);
  }
};

// Every prime cube, from a table over every tuple of value masks (mixed
// radix, base 2^domain): a tuple lies inside the set when both halves of any
// variable's mask split at its lowest bit do.
std::vector<Cube> allPrimes(const Space &space) {
  size_t n = space.domains.size();
  std::vector<long> maskStride(n);
  long tuples = 1;
  for (size_t i = n; i-- > 0;) {
    maskStride[i] = tuples;
    tuples <<= space.domains[i];
  }
  std::vector<char> inside(tuples, 0);
  std::vector<long> mask(n);
  std::vector<Cube> primes;
  for (int pass = 0; pass < 2; pass++) {
    for (long t = 0; t < tuples; t++) {
      bool empty = false;
      for (size_t i = 0; i < n; i++) {
        mask[i] = (t / maskStride[i]) & ((1L << space.domains[i]) - 1);
        empty = empty || mask[i] == 0;
      }
      if (empty) continue;
      if (pass == 0) {
        long point = 0;
        size_t split = n;
        for (size_t i = 0; i < n && split == n; i++) {
          if ((mask[i] & (mask[i] - 1)) != 0) split = i;
          else point += __builtin_ctzl(mask[i]) * space.stride[i];
        }
        if (split == n) {
          inside[t] = space.on[point];
        } else {
          long low = mask[split] & -mask[split];
          inside[t] = inside[t - low * maskStride[split]] &&
                      inside[t - (mask[split] - low) * maskStride[split]];
        }
        continue;
      }
      if (!inside[t]) continue;
      bool prime = true;
      for (size_t i = 0; i < n && prime; i++)
        for (int v = 0; v < space.domains[i] && prime; v++)
          if (!(mask[i] >> v & 1) && inside[t + (1L << v) * maskStride[i]]) prime = false;
      if (!prime) continue;
      Cube c(n);
      for (size_t i = 0; i < n; i++) {
        c[i].assign(space.domains[i], false);
        for (int v = 0; v < space.domains[i]; v++) c[i][v] = mask[i] >> v & 1;
      }
      primes.push_back(c);
    }
  }
  return primes;
}

// Primes grown from the points no prime found so far holds: starting at the
// point, each variable in turn (every rotation of the variable order) takes
// every further value that keeps the cube inside the set.
std::vector<Cube> grownPrimes(const Space &space) {
  size_t n = space.domains.size();
  std::set<Cube> found;
  std::vector<char> held(space.size, 0);
  for (long p = 0; p < space.size; p++) {
    if (!space.on[p] || held[p]) continue;
    for (size_t r = 0; r < n; r++) {
      Cube c(n);
      for (size_t i = 0; i < n; i++) {
        c[i].assign(space.domains[i], false);
        c[i][(p / space.stride[i]) % space.domains[i]] = true;
      }
      for (size_t k = 0; k < n; k++) {
        size_t i = (r + k) % n;
        for (int v = 0; v < space.domains[i]; v++)
          if (!c[i][v] && space.canAdd(c, i, v)) c[i][v] = true;
      }
      if (found.insert(c).second) space.forEachPoint(c, [&held](long q) { return held[q] = 1; });
    }
  }
  return std::vector<Cube>(found.begin(), found.end());
}

// ---- Choosing among the primes --------------------------------------------------------
// What a cube costs a reader: two for each variable it restricts, one more
// when that takes a set of values (see guardText).
int readingCost(const Cube &c) {
  int cost = 0;
  for (const std::vector<bool> &values : c) {
    long in = std::count(values.begin(), values.end(), true), domain = (long)values.size();
    if (in == domain) continue;
    cost += in == 1 || (in == domain - 1 && domain > 2) ? 2 : 3;
  }
  return cost;
}

// Points are numbered 0..points-1; holds[q] lists the points prime q holds.
// Covers are compared by their number of primes, then by their reading
// cost.
class CoverSearch {
 public:
  CoverSearch(int points, const std::vector<std::vector<int>> &holds,
              const std::vector<int> &cost, long stepLimit)
      : holds(holds),
        cost(cost),
        primesOf(points),
        count(points, 0),
        uncovered(points),
        steps(stepLimit) {
    for (size_t q = 0; q < holds.size(); q++)
      for (int p : holds[q]) primesOf[p].push_back((int)q);
    cheapest = cost.empty() ? 0 : *std::min_element(cost.begin(), cost.end());
  }

  // Greedy first, then the search for anything better.
  std::vector<int> smallest() {
    best = greedy();
    bestCost = 0;
    for (int q : best) bestCost += cost[q];
    search();
    return best;
  }

 private:
  int gain(int q) const {
    int g = 0;
    for (int p : holds[q]) g += count[p] == 0;
    return g;
  }
  void take(int q, int delta) {
    for (int p : holds[q]) {
      if (count[p] == 0) uncovered--;
      count[p] += delta;
      if (count[p] == 0) uncovered++;
    }
    chosenCost += delta * cost[q];
  }

  // The prime with the most uncovered points (the cheaper, then the first,
  // on a tie) until every point is covered.
  std::vector<int> greedy() {
    std::vector<int> picked;
    while (uncovered > 0) {
      int pick = -1, most = 0;
      for (size_t q = 0; q < holds.size(); q++) {
        int g = gain((int)q);
        if (g > most || (g == most && g > 0 && cost[q] < cost[pick])) most = g, pick = (int)q;
      }
      if (pick < 0) break;  // the primes do not cover every point
      take(pick, 1);
      picked.push_back(pick);
    }
    for (int q : picked) take(q, -1);
    return picked;
  }

  void search() {
    if (steps <= 0) return;
    steps -= (long)holds.size();
    if (uncovered == 0) {
      if (chosen.size() < best.size() || (chosen.size() == best.size() && chosenCost < bestCost))
        best = chosen, bestCost = chosenCost;
      return;
    }
    // At least ceil(uncovered / largest gain) more primes are needed.
    int most = 0;
    for (size_t q = 0; q < holds.size(); q++) most = std::max(most, gain((int)q));
    if (most == 0) return;
    size_t needed = (uncovered + most - 1) / most;
    if (chosen.size() + needed > best.size()) return;
    if (chosen.size() + needed == best.size() && chosenCost + (int)needed * cheapest >= bestCost)
      return;
    // Branch on the uncovered point with the fewest primes.
    int pivot = -1;
    for (size_t p = 0; p < primesOf.size(); p++)
      if (count[p] == 0 && (pivot < 0 || primesOf[p].size() < primesOf[pivot].size()))
        pivot = (int)p;
    std::vector<std::pair<std::pair<int, int>, int>> order;
    for (int q : primesOf[pivot]) order.push_back({{-gain(q), cost[q]}, q});
    std::sort(order.begin(), order.end());
    for (const auto &o : order) {
      take(o.second, 1);
      chosen.push_back(o.second);
      search();
      chosen.pop_back();
      take(o.second, -1);
    }
  }

  const std::vector<std::vector<int>> &holds;
  const std::vector<int> &cost;
  std::vector<std::vector<int>> primesOf;
  std::vector<int> count;  // chosen primes holding each point
  int uncovered;
  long steps;
  int cheapest = 0;
  std::vector<int> chosen, best;
  int chosenCost = 0, bestCost = 0;
};

std::vector<Cube> coverByTable(const std::vector<int> &domains, const std::vector<Cube> &cubes,
                               const GuardCover::Limits &limits) {
  Space space(domains);
  for (const Cube &c : cubes) space.forEachPoint(c, [&space](long p) { return space.on[p] = 1; });
  std::vector<int> number(space.size, -1);
  int points = 0;
  for (long p = 0; p < space.size; p++)
    if (space.on[p]) number[p] = points++;
  if (points == 0) return {};

  long tuples = 1;
  for (int d : domains) tuples = d > 30 ? LONG_MAX : timesWithin(tuples, 1L << d, LONG_MAX / 2);
  std::vector<Cube> primes = tuples <= limits.exactCubes ? allPrimes(space) : grownPrimes(space);

  std::vector<std::vector<int>> holds(primes.size());
  std::vector<int> cost(primes.size());
  for (size_t q = 0; q < primes.size(); q++) {
    space.forEachPoint(primes[q], [&](long p) {
      holds[q].push_back(number[p]);
      return true;
    });
    cost[q] = readingCost(primes[q]);
  }
  CoverSearch search(points, holds, cost, limits.searchSteps);
  std::vector<Cube> result;
  for (int q : search.smallest()) result.push_back(primes[q]);
  return result;
}

// Exact merges only: a cube inside another goes, two cubes that differ in one
// variable become one.
std::vector<Cube> coverByMerging(const std::vector<Cube> &cubes) {
  std::vector<Cube> list;
  for (const Cube &c : cubes)
    if (!isEmpty(c)) list.push_back(c);
  auto step = [&list]() {
    for (size_t i = 0; i < list.size(); i++)
      for (size_t j = 0; j < list.size(); j++) {
        if (i == j) continue;
        size_t differing = 0, at = 0;
        for (size_t k = 0; k < list[i].size(); k++)
          if (list[i][k] != list[j][k]) differing++, at = k;
        if (differing == 1) {
          for (size_t v = 0; v < list[i][at].size(); v++)
            list[i][at][v] = list[i][at][v] || list[j][at][v];
        } else if (!contains(list[i], list[j])) {
          continue;
        }
        list.erase(list.begin() + j);
        return true;
      }
    return false;
  };
  while (step()) {
  }
  return list;
}

}  // namespace

std::vector<GuardCover::Cube> GuardCover::minimise(const std::vector<int> &domains,
                                                   const std::vector<Cube> &cubes) {
  return minimise(domains, cubes, Limits());
}

std::vector<GuardCover::Cube> GuardCover::minimise(const std::vector<int> &domains,
                                                   const std::vector<Cube> &cubes,
                                                   const Limits &limits) {
  long points = 1;
  for (int d : domains) {
    if (d <= 0) return {};
    points = timesWithin(points, d, LONG_MAX / 2);
  }
  std::vector<Cube> usable;
  for (const Cube &c : cubes)
    if (fits(domains, c)) usable.push_back(c);
  std::vector<Cube> result = points <= limits.tablePoints ? coverByTable(domains, usable, limits)
                                                          : coverByMerging(usable);
  std::sort(result.begin(), result.end(), comesFirst);
  return result;
}

std::string GuardCover::guardText(const std::vector<std::string> &names, const Cube &cube) {
  std::ostringstream out;
  bool first = true;
  for (size_t i = 0; i < cube.size() && i < names.size(); i++) {
    const std::vector<bool> &values = cube[i];
    int domain = (int)values.size();
    std::vector<int> in, missing;
    for (int v = 0; v < domain; v++) (values[v] ? in : missing).push_back(v);
    if (missing.empty()) continue;
    out << (first ? "" : " & ") << names[i];
    first = false;
    if (in.size() == 1) {
      out << " = " << in[0];
    } else if (missing.size() == 1 && domain > 2) {
      out << " != " << missing[0];
    } else {
      out << " in {";
      for (size_t k = 0; k < in.size(); k++) out << (k ? "," : "") << in[k];
      out << "}";
    }
  }
  return first ? "true" : out.str();
}

GuardCover::Cube GuardCover::point(const std::vector<int> &domains,
                                   const std::vector<int> &values) {
  Cube c(domains.size());
  for (size_t i = 0; i < domains.size(); i++) {
    c[i].assign(domains[i], false);
    if (i < values.size() && values[i] >= 0 && values[i] < domains[i]) c[i][values[i]] = true;
  }
  return c;
}
