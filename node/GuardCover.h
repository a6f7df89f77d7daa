// Guards written the way a person writes them: a set of states over a few
// multi-valued variables as a short list of cubes, each cube a conjunction of
// literals (one value, all but one value, or a set of values per variable).
//
// minimise takes any list of cubes and returns cubes whose union is exactly
// the same set, as few as it can find:
//  - while the space has at most Limits::tablePoints points it works on a
//    table of the space: every prime cube (a cube inside the set that no
//    single added value keeps inside) is found by enumerating every cube
//    while there are at most Limits::exactCubes of them, else by expanding
//    each uncovered point value by value in several variable orders; then a
//    branch-and-bound search, started from the greedy cover (most uncovered
//    points first), picks a smallest cover among those primes (fewest cubes,
//    then the fewest and plainest literals), and keeps the best cover found
//    when it runs out of Limits::searchSteps. With every prime known and the
//    search finished the cover is a minimum one; it is never larger than the
//    greedy cover over the same primes.
//  - beyond that it merges cubes that differ in one variable and drops cubes
//    inside others, until nothing changes.
// The result comes in a fixed order (by the first point each cube holds,
// variables compared in their order, lower values first).
#ifndef MORLET_GUARDCOVER_H
#define MORLET_GUARDCOVER_H

#include <string>
#include <vector>

class GuardCover {
 public:
  // cube[i][v]: variable i may take value v; cube[i].size() is the domain
  // size of variable i. A variable with no allowed value makes the cube
  // empty.
  typedef std::vector<std::vector<bool>> Cube;

  struct Limits {
    long tablePoints = 1L << 20;
    long exactCubes = 1L << 16;
    long searchSteps = 1L << 20;
  };

  // A cover of the union of `cubes` over variables with the given domain
  // sizes (every cube must have one value set of the right size per
  // variable; others are ignored). Empty when the union is empty or a
  // domain is empty.
  static std::vector<Cube> minimise(const std::vector<int> &domains,
                                    const std::vector<Cube> &cubes);
  static std::vector<Cube> minimise(const std::vector<int> &domains,
                                    const std::vector<Cube> &cubes, const Limits &limits);

  // The cube as a guard over the named variables: for each variable that is
  // not free, "x = V", "x != V" (every value but V, domain above 2) or
  // "x in {V1,V2,...}" (values ascending), joined by " & "; "true" when
  // every variable is free.
  static std::string guardText(const std::vector<std::string> &names, const Cube &cube);

  // The cube of a single point.
  static Cube point(const std::vector<int> &domains, const std::vector<int> &values);
};

#endif
