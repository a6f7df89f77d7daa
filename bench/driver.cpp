// Benchmark driver: runs every point of every selected workload on the
// comparison peer and on this project's library, each run in a fresh child
// process (so that its peak resident memory is its own), alternating the
// sides run by run, and prints one table per side of this project:
//   - the engine level (the workloads written against kzuBdd.h) with the
//     peer's room, ending in "geomean ratio vs BuDDy: X.XX": how the engine
//     compares with the peer;
//   - the handle layer (the same workloads written against bdd.h, and one on
//     the multi-valued layer) with the peer's room: what a caller of the
//     handle layer gets, and per point what it costs over the engine level;
//   - the handle layer with the engine's own sizing: what the sizing call
//     buys;
// then the engine counters, the text form and the whole synthesis run. The
// peer's runs are shared by the tables, so every ratio comes from one
// invocation.
//
//   kzbench --kz PATH --peer PATH [--synth CMD] [--quick] [--runs N] [--kz-sift]
//           [--kz-default-sizing | --kz-room] [WORKLOAD...]
//
// --kz-sift turns dynamic sifting on in this project's engine (the peer's
// side stays without reordering) and adds a table of the reordering time.
// The peer's room is a million nodes before the first collection and about a
// million computed-table entries; the engine's own sizing collects from 10000
// live nodes and grows its computed table with the node count.
// --kz-default-sizing runs this project's side with its own sizing only (the
// engine level and the handle layer; no run with the peer's room);
// --kz-room runs it with the peer's room only (no default-sizing table).
// Workloads: queens, mult, milner (fused and split), line (the multi-valued
// workload, fused and split), text, synth; default all.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kz_workloads.h"

namespace {

// A run slower than this (any side with the peer's room) caps its point at
// three runs.
constexpr double kSlowSeconds = 10.0;
// Points whose timed parts all take less than this (with the peer's room)
// get kShortRuns runs: their medians would otherwise swing with the
// machine's moods over a few milliseconds.
constexpr double kShortSeconds = 0.1;
constexpr int kShortRuns = 15;
// Points under a second get kMidRuns runs, for the same reason.
constexpr double kMidSeconds = 1.0;
constexpr int kMidRuns = 9;
// A default-sizing run slower than this is not repeated: collections make
// image computations twenty to forty times slower there.
constexpr double kSlowDefaultSeconds = 3.0;
// A single run that takes longer than this is killed and reported.
constexpr unsigned kRunLimitSeconds = 1200;
// A default-sizing run is stopped (and the point's larger sizes are not run
// with default sizing) once it takes this many times as long as the point's
// runs with the peer's room, and at least kDefaultLimitFloor seconds: where
// collections make the engine recompute without end, the table says so
// instead of waiting for it.
constexpr double kDefaultLimitFactor = 50.0;
constexpr double kDefaultLimitFloor = 120.0;

struct Run {
  bool ok = false;
  bool stopped = false;  // killed at its time limit
  std::string error;
  double wall = 0;
  long maxrss_kib = 0;
  std::map<std::string, std::string> kv;
  double num(const char *k) const {
    auto it = kv.find(k);
    return it == kv.end() ? 0.0 : atof(it->second.c_str());
  }
};

struct Stat {
  double median = 0, lo = 0, hi = 0;
};

Stat summarize(std::vector<double> v) {
  Stat s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  s.median = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
  s.lo = v.front();
  s.hi = v.back();
  return s;
}

double nowWall() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("model name", 0) == 0) {
      size_t p = line.find(':');
      return p == std::string::npos ? line : line.substr(p + 2);
    }
  return "unknown";
}

// Runs argv in a child with standard output discarded and descriptor 3 as
// the result pipe; collects the result line, the wall time and the child's
// peak resident set.
Run runChild(const std::vector<std::string> &args, unsigned limitSeconds = kRunLimitSeconds) {
  Run r;
  int fds[2];
  if (pipe(fds) != 0) {
    r.error = "pipe failed";
    return r;
  }
  double t0 = nowWall();
  pid_t pid = fork();
  if (pid < 0) {
    r.error = "fork failed";
    close(fds[0]);
    close(fds[1]);
    return r;
  }
  if (pid == 0) {
    close(fds[0]);
    if (fds[1] != 3) {
      dup2(fds[1], 3);
      close(fds[1]);
    }
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    alarm(limitSeconds);
    std::vector<char *> cargv;
    for (const std::string &a : args) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t k;
  while ((k = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)k);
  close(fds[0]);
  int status = 0;
  struct rusage ru;
  memset(&ru, 0, sizeof ru);
  while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
  }
  r.wall = nowWall() - t0;
  r.maxrss_kib = ru.ru_maxrss;
  std::istringstream in(out);
  std::string field;
  while (in >> field) {
    size_t eq = field.find('=');
    if (eq != std::string::npos) r.kv[field.substr(0, eq)] = field.substr(eq + 1);
  }
  // A worker that reports its peak at the end of the timed part is measured
  // by that, so that the checks after it do not count.
  if (r.num("timed_kib") > 0) r.maxrss_kib = (long)r.num("timed_kib");
  if (WIFSIGNALED(status)) {
    r.stopped = WTERMSIG(status) == SIGALRM;
    r.error = std::string("killed by signal ") + std::to_string(WTERMSIG(status)) +
              (r.stopped ? " (time limit of " + std::to_string(limitSeconds) + " s)" : "");
  } else if (WEXITSTATUS(status) != 0) {
    r.error = "exit status " + std::to_string(WEXITSTATUS(status));
  } else if (r.kv.find("seconds") == r.kv.end()) {
    r.error = "no result line";
  } else {
    r.ok = true;
  }
  return r;
}

// The sides of a point: the peer, and this project's engine level, handle
// layer with the peer's room and handle layer with its own sizing.
enum Side { kPeer, kEngine, kHandle, kHandleDefault, kSides };

struct Point {
  std::string workload;            // as the workers name it
  std::string label;               // as the tables show it
  int size;
  std::array<bool, kSides> sides;  // the sides that run it
};

struct Outcome {
  Point pt;
  std::array<std::vector<Run>, kSides> runs;  // the runs that finished
  // Default-sizing sides: the time limit at which a run was stopped, and
  // sides not run because a smaller size of the workload was stopped.
  std::array<unsigned, kSides> stoppedAfter{};
  std::array<bool, kSides> skipped{};
  std::string error;     // a failed run
  std::string check;     // the check value as shown
  bool checkOk = true;
  std::string note;      // the handle layer's own count disagrees
};

std::string fmtCount(double c) {
  char b[64];
  if (c < 1e15)
    snprintf(b, sizeof b, "%.0f", c);
  else
    snprintf(b, sizeof b, "%.6g", c);
  return b;
}

const long kQueens[] = {0, 1, 0, 0, 2, 10, 4, 40, 92, 352, 724, 2680, 14200, 73712, 365596};

// Checks the results of one point (every run, every side) and describes the
// check value.
void checkPoint(Outcome &o) {
  const Point &p = o.pt;
  // This project's runs first: the peer's Milner count is not exact.
  std::vector<const Run *> all;
  for (Side s : {kEngine, kHandle, kHandleDefault, kPeer})
    for (const Run &r : o.runs[s]) all.push_back(&r);
  if (all.empty()) return;
  double c0 = all[0]->num("count");
  // Milner's counts are compared as logarithms (the peer's comes from one).
  bool milner = p.workload.rfind("milner", 0) == 0;
  for (Side s : {kHandle, kHandleDefault})
    if (!o.runs[s].empty() && o.runs[s][0].num("onset") != c0 && o.note.empty())
      o.note = o.pt.label + " " + std::to_string(p.size) + ": the layer's own count returned " +
               fmtCount(o.runs[s][0].num("onset")) + ", the node-by-node count is " + fmtCount(c0);
  for (const Run *r : all)
    if (!milner && r->num("count") != c0) {
      o.checkOk = false;
      o.check = "counts differ between runs or sides";
      return;
    }
  if (p.workload == "queens") {
    o.check = fmtCount(c0);
    if (p.size < (int)(sizeof kQueens / sizeof kQueens[0]) && c0 != (double)kQueens[p.size]) {
      o.checkOk = false;
      o.check += " (expected " + std::to_string(kQueens[p.size]) + ")";
    }
  } else if (p.workload == "mult" || p.workload == "text") {
    o.check = fmtCount(c0);
    if (p.size <= 11) {
      double bf = kzb_multiplier_bruteforce(p.size);
      if (bf != c0) {
        o.checkOk = false;
        o.check += " (brute force " + fmtCount(bf) + ")";
      } else {
        o.check += " =bf";
      }
    }
    if (p.workload == "text")
      for (const Run *r : all)
        if (r->num("ok") != 1) {
          o.checkOk = false;
          o.check += " round trip FAILED";
          break;
        }
  } else if (milner) {
    long it0 = (long)all[0]->num("iterations");
    double lg = std::log2(c0);
    double expect = std::log2((double)p.size) + p.size + 1;
    char b[96];
    snprintf(b, sizeof b, "it=%ld lg=%.3f", it0, lg);
    o.check = b;
    for (const Run *r : all)
      if ((long)r->num("iterations") != 6L * p.size - 3) {
        o.checkOk = false;
        o.check += " (expected it=" + std::to_string(6L * p.size - 3) + ")";
        break;
      }
    for (const Run *r : all)
      if (std::fabs(std::log2(r->num("count")) - expect) > 1e-9 * expect) {
        o.checkOk = false;
        snprintf(b, sizeof b, " (expected lg=%.3f)", expect);
        o.check += b;
        break;
      }
  } else if (p.workload.rfind("line", 0) == 0) {
    // Every one of the 8^n states reaches the all-7 state, the farthest in
    // 7n steps.
    long it0 = (long)all[0]->num("iterations");
    long itExpect = 7L * p.size + 1;
    char b[96];
    snprintf(b, sizeof b, "it=%ld lg=%.0f", it0, std::log2(c0));
    o.check = b;
    if (c0 != std::ldexp(1.0, 3 * p.size)) {
      o.checkOk = false;
      snprintf(b, sizeof b, " (expected lg=%d)", 3 * p.size);
      o.check += b;
    }
    for (const Run *r : all)
      if ((long)r->num("iterations") != itExpect) {
        o.checkOk = false;
        o.check += " (expected it=" + std::to_string(itExpect) + ")";
        break;
      }
  }
}

std::string fmtStat(const Stat &s) {
  char b[96];
  snprintf(b, sizeof b, "%.3f [%.3f-%.3f]", s.median, s.lo, s.hi);
  return b;
}

std::vector<double> field(const std::vector<Run> &runs, const char *k) {
  std::vector<double> v;
  for (const Run &r : runs) v.push_back(r.num(k));
  return v;
}

std::vector<double> rssMiB(const std::vector<Run> &runs) {
  std::vector<double> v;
  for (const Run &r : runs) v.push_back((double)r.maxrss_kib / 1024.0);
  return v;
}

double medianSeconds(const std::vector<Run> &runs) { return summarize(field(runs, "seconds")).median; }

// Geometric mean and largest value of a set of ratios, with the point of
// the largest.
struct RatioSummary {
  std::vector<double> ratios;
  double worst = 0;
  std::string worstAt;
  void add(double r, const Point &p) {
    ratios.push_back(r);
    if (r > worst) {
      worst = r;
      worstAt = p.label + " " + std::to_string(p.size);
    }
  }
  double geomean() const {
    double lg = 0;
    for (double r : ratios) lg += std::log(r);
    return std::exp(lg / (double)ratios.size());
  }
  // "geomean ratio vs BuDDy X.XX, worst X.XX (milner split 100)"
  std::string line(const char *what) const {
    if (ratios.empty()) return std::string(what) + " n/a";
    char b[160];
    snprintf(b, sizeof b, "%s %.2f, worst %.2f (%s)", what, geomean(), worst, worstAt.c_str());
    return b;
  }
};

// The median over rounds of this side's time / the peer's time in the same
// round: the two runs of a round follow each other, so a slow phase of the
// machine that lasts longer than a round weighs on both; 0 without pairs.
double pairedRatio(const std::vector<Run> &kz, const std::vector<Run> &peer) {
  std::vector<double> v;
  for (size_t r = 0; r < kz.size() && r < peer.size(); r++)
    if (peer[r].num("seconds") > 0) v.push_back(kz[r].num("seconds") / peer[r].num("seconds"));
  return summarize(v).median;
}

// One table of this project's side `side` against the peer. With `base` <
// kSides a column `baseHeader` shows side / base per point, summarised in
// *baseRatios; the paired ratios are summarised in *paired. Returns the
// ratios of the medians against the peer.
RatioSummary printTable(const std::vector<Outcome> &outcomes, Side side, Side base, const char *baseHeader,
                        RatioSummary *baseRatios, RatioSummary *paired) {
  bool extra = base < kSides;
  printf("%-13s %4s %4s  %-24s %-24s %6s %6s  ", "workload", "size", "runs", "kelvax s", "BuDDy s", "ratio",
         "paired");
  if (extra) printf("%-9s ", baseHeader);
  printf("%-19s %-19s %-22s %-13s\n", "nodes kz/BuDDy", "peak live kz/BuDDy", "check", "peak MiB kz/B");
  RatioSummary vsPeer;
  for (const Outcome &o : outcomes) {
    if ((!o.pt.sides[side] && !o.skipped[side]) || o.pt.workload == "text") continue;
    const std::vector<Run> &kz = o.runs[side], &peer = o.runs[kPeer];
    if (!o.error.empty()) {
      printf("%-13s %4d  FAILED: %s\n", o.pt.label.c_str(), o.pt.size, o.error.c_str());
      continue;
    }
    if (o.skipped[side]) {
      printf("%-13s %4d  not run: stopped at a smaller size\n", o.pt.label.c_str(), o.pt.size);
      continue;
    }
    if (kz.empty()) {
      printf("%-13s %4d  stopped after %u s (the time limit of a default-sizing run)\n", o.pt.label.c_str(),
             o.pt.size, o.stoppedAfter[side]);
      continue;
    }
    Stat k = summarize(field(kz, "seconds"));
    Stat b = summarize(field(peer, "seconds"));
    char ratio[32] = "-", pair[32] = "-", vsBase[32] = "-", nodes[48], live[48], mem[48];
    if (!peer.empty() && b.median > 0) {
      snprintf(ratio, sizeof ratio, "%.2f", k.median / b.median);
      vsPeer.add(k.median / b.median, o.pt);
    }
    double pr = pairedRatio(kz, peer);
    if (pr > 0) {
      snprintf(pair, sizeof pair, "%.2f", pr);
      if (paired != nullptr) paired->add(pr, o.pt);
    }
    if (extra && !o.runs[base].empty() && medianSeconds(o.runs[base]) > 0) {
      double r = k.median / medianSeconds(o.runs[base]);
      snprintf(vsBase, sizeof vsBase, "%.2f", r);
      if (baseRatios != nullptr) baseRatios->add(r, o.pt);
    }
    long kn = (long)kz[0].num("nodes"), bn = peer.empty() ? 0 : (long)peer[0].num("nodes");
    snprintf(nodes, sizeof nodes, "%ld/%ld", kn, bn);
    snprintf(live, sizeof live, "%.0f/%.0f", summarize(field(kz, "peak_nodes")).median,
             peer.empty() ? 0.0 : summarize(field(peer, "peak_nodes")).median);
    snprintf(mem, sizeof mem, "%.0f/%.0f", summarize(rssMiB(kz)).median,
             peer.empty() ? 0.0 : summarize(rssMiB(peer)).median);
    printf("%-13s %4d %4zu  %-24s %-24s %6s %6s  ", o.pt.label.c_str(), o.pt.size, kz.size(), fmtStat(k).c_str(),
           peer.empty() ? "-" : fmtStat(b).c_str(), ratio, pair);
    if (extra) printf("%-9s ", vsBase);
    printf("%-19s %-19s %-22s %-13s\n", nodes, live, (o.check + (o.checkOk ? "" : " CHECK FAILED")).c_str(), mem);
  }
  return vsPeer;
}

const char *kSideLabel[kSides] = {"BuDDy", "engine", "handle", "handle dflt"};

void usage(const char *prog) {
  fprintf(stderr,
          "usage: %s --kz PATH [--peer PATH] [--synth CMD] [--quick] [--runs N] [--kz-sift] "
          "[--kz-default-sizing | --kz-room] [queens|mult|milner|line|text|synth ...]\n",
          prog);
}

}  // namespace

int main(int argc, char **argv) {
  std::string kz, peer, synth;
  bool quick = false;
  bool kzSift = false;  // dynamic sifting on this project's side
  bool defaultOnly = false, roomOnly = false;
  int runsWanted = 0;
  std::vector<std::string> chosen;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--kz" && i + 1 < argc)
      kz = argv[++i];
    else if (a == "--peer" && i + 1 < argc)
      peer = argv[++i];
    else if (a == "--synth" && i + 1 < argc)
      synth = argv[++i];
    else if (a == "--quick")
      quick = true;
    else if (a == "--kz-sift")
      kzSift = true;
    else if (a == "--kz-default-sizing")
      defaultOnly = true;
    else if (a == "--kz-room")
      roomOnly = true;
    else if (a == "--runs" && i + 1 < argc)
      runsWanted = atoi(argv[++i]);
    else if (a == "queens" || a == "mult" || a == "milner" || a == "line" || a == "text" || a == "synth")
      chosen.push_back(a);
    else {
      usage(argv[0]);
      return 2;
    }
  }
  if (kz.empty() || (defaultOnly && roomOnly)) {
    usage(argv[0]);
    return 2;
  }
  if (chosen.empty()) chosen = {"queens", "mult", "milner", "line", "text", "synth"};
  auto want = [&](const char *w) { return std::find(chosen.begin(), chosen.end(), w) != chosen.end(); };
  int runs = runsWanted > 0 ? runsWanted : (quick ? 3 : 5);
  bool havePeer = !peer.empty();

  // The sides of a workload that the peer runs too; withEngine: it has an
  // engine-level version; withDefault: the handle layer runs it with default
  // sizing too.
  auto sides = [&](bool withEngine, bool withDefault = true) {
    std::array<bool, kSides> s{};
    s[kPeer] = havePeer;
    s[kEngine] = withEngine;
    s[kHandle] = !defaultOnly;
    s[kHandleDefault] = !roomOnly && withDefault;
    return s;
  };
  std::vector<Point> points;
  if (want("queens"))
    for (int n = 8; n <= (quick ? 10 : 12); n++) points.push_back({"queens", "queens", n, sides(true)});
  if (want("mult"))
    for (int n = 10; n <= (quick ? 13 : 16); n++) points.push_back({"mult", "multiplier", n, sides(true)});
  // With default sizing a run of Milner's scheduler takes twenty to forty
  // times as long: it runs at the two smallest sizes and the largest only.
  if (want("milner"))
    for (int n = 50; n <= (quick ? 100 : 250); n += 50) {
      bool withDefault = n <= 100 || n == 250;
      points.push_back({"milner-fused", "milner fused", n, sides(true, withDefault)});
      points.push_back({"milner-split", "milner split", n, sides(true, withDefault)});
    }
  if (want("line"))
    for (int n : {16, 32, 48}) {
      if (quick && n > 32) continue;
      points.push_back({"line-fused", "line fused", n, sides(false)});
      points.push_back({"line-split", "line split", n, sides(false)});
    }
  // Multiplier widths whose middle bit has about 1.0e4, 1.3e5 and 6.9e5 nodes.
  if (want("text"))
    for (int n : {11, 14, 16})
      if (!quick || n < 16) {
        std::array<bool, kSides> s{};
        s[defaultOnly ? kHandleDefault : kHandle] = true;
        points.push_back({"text", "text form", n, s});
      }

  // Resident set of a worker whose manager holds next to nothing (its own
  // sizing: no node records made in advance): subtracted from this project's
  // peaks for the bytes per peak live node.
  Run base = runChild({kz, "queens", "1", "default-sizing"});
  long baseKiB = base.ok ? base.maxrss_kib : 0;

  // A run with this project's engine at its own sizing.
  auto isDefault = [&](int side) { return side == kHandleDefault || (side == kEngine && defaultOnly); };
  auto argsFor = [&](Side side, const Point &p) {
    if (side == kPeer) return std::vector<std::string>{peer, p.workload, std::to_string(p.size)};
    std::vector<std::string> a = {kz, p.workload, std::to_string(p.size)};
    if (side == kEngine) a.push_back("engine");
    if (kzSift) a.push_back("sift");
    if (isDefault(side)) a.push_back("default-sizing");
    return a;
  };
  // The time limit of such a run: a multiple of the point's runs with the
  // peer's room on this project's side (else the peer's) so far.
  auto defaultLimit = [&](const Outcome &o) {
    std::vector<double> walls;
    for (int side : {kHandle, kEngine, kPeer}) {
      if (isDefault(side) || o.runs[(size_t)side].empty()) continue;
      for (const Run &r : o.runs[(size_t)side]) walls.push_back(r.wall);
      break;
    }
    double limit = std::max(kDefaultLimitFloor, kDefaultLimitFactor * summarize(walls).median);
    return (unsigned)std::min((double)kRunLimitSeconds, std::ceil(limit));
  };

  std::string loadStart = loadAverage();
  // Round 0 of every point first, in order (a stopped default-sizing run
  // spares the workload's larger sizes theirs), then round 1 of every point
  // that has more runs, and so on: each point's runs spread over the whole
  // invocation, so a spell of a minute in which the machine runs everything
  // slower moves single runs of many points, not the median of one.
  std::vector<Outcome> outcomes(points.size());
  // Runs per side and point: with the peer's room (and the peer), with
  // default sizing; each round runs every side of a point once, in the order
  // of Side.
  std::vector<int> roomRuns(points.size(), runs), defaultRuns(points.size(), runs);
  std::vector<std::string> stoppedWorkloads;  // a default-sizing run was stopped
  bool failed = false;
  for (int r = 0;; r++) {
    bool ran = false;
    for (size_t i = 0; i < points.size(); i++) {
      const Point &p = points[i];
      Outcome &o = outcomes[i];
      int &n = roomRuns[i], &nDefault = defaultRuns[i];
      if (r == 0) {
        o.pt = p;
        bool smallerStopped =
            std::find(stoppedWorkloads.begin(), stoppedWorkloads.end(), p.workload) != stoppedWorkloads.end();
        for (int side = 0; side < kSides; side++)
          if (smallerStopped && isDefault(side) && o.pt.sides[(size_t)side]) {
            o.pt.sides[(size_t)side] = false;
            o.skipped[(size_t)side] = true;
          }
      }
      if (!o.error.empty() || r >= std::max(n, nDefault)) continue;
      ran = true;
      double slowest = 0, slowestTimed = 0;
      for (int side = 0; side < kSides && o.error.empty(); side++) {
        bool dflt = isDefault(side);
        int sideRuns = dflt ? nDefault : n;
        if (!o.pt.sides[(size_t)side] || o.stoppedAfter[(size_t)side] > 0 || r >= sideRuns) continue;
        fprintf(stderr, "[bench] %s %d: %s run %d/%d\n", p.label.c_str(), p.size, kSideLabel[side], r + 1, sideRuns);
        unsigned limit = dflt ? defaultLimit(o) : kRunLimitSeconds;
        Run a = runChild(argsFor((Side)side, p), limit);
        if (dflt && a.stopped) {
          fprintf(stderr, "[bench] %s %d: %s run stopped after %u s\n", p.label.c_str(), p.size, kSideLabel[side],
                  limit);
          o.stoppedAfter[(size_t)side] = limit;
          stoppedWorkloads.push_back(p.workload);
          continue;
        }
        if (!a.ok)
          o.error = (side == kPeer ? std::string("BuDDy") : "kelvax " + std::string(kSideLabel[side])) + ": " + a.error;
        o.runs[(size_t)side].push_back(a);
        if (r == 0 && runsWanted == 0) {
          if (dflt && a.wall > kSlowDefaultSeconds) nDefault = 1;
          if (!dflt) {
            slowest = std::max(slowest, a.wall);
            slowestTimed = std::max(slowestTimed, a.num("seconds"));
          }
        }
      }
      if (r == 0 && runsWanted == 0 && slowest > kSlowSeconds) {
        n = std::min(n, 3);
        nDefault = std::min(nDefault, n);
      }
      if (r == 0 && runsWanted == 0 && !quick && slowestTimed < kMidSeconds)
        n = std::max(n, slowestTimed < kShortSeconds ? kShortRuns : kMidRuns);
    }
    if (!ran) break;
  }
  for (Outcome &o : outcomes) {
    if (o.error.empty()) checkPoint(o);
    if (!o.error.empty() || !o.checkOk) failed = true;
  }

  // The whole synthesis run (coordinator and nodes), wall time.
  std::vector<double> synthTimes;
  std::string synthError;
  if (want("synth") && !synth.empty()) {
    // Run 0 is a warm-up (it may build); runs 1.. are timed.
    for (int r = 0; r <= runs && synthError.empty(); r++) {
      fprintf(stderr, "[bench] synthesis: %s\n",
              r == 0 ? "warm-up run" : ("run " + std::to_string(r) + "/" + std::to_string(runs)).c_str());
      Run s = runChild({"/bin/sh", "-c", synth + " >/dev/null 2>&1; echo seconds=0 rc=$? >&3"});
      if (!s.ok || s.num("rc") != 0)
        synthError = s.ok ? "the synthesis command failed with status " + s.kv["rc"] : s.error;
      else if (r > 0)
        synthTimes.push_back(s.wall);
    }
    if (!synthError.empty()) failed = true;
  }
  std::string loadEnd = loadAverage();

  // ---- The tables ----------------------------------------------------------------------
  const char *room = "the peer's room (no collection below 1000000 live nodes, computed table up to 524269 "
                     "two-entry bins)";
  const char *own = "its own sizing (collections from 10000 live nodes)";
  printf("machine: %ld cores, %s; load average at start %s, at end %s\n", sysconf(_SC_NPROCESSORS_ONLN),
         cpuModel().c_str(), loadStart.c_str(), loadEnd.c_str());
  if (defaultOnly)
    printf("kelvax: %s; dynamic sifting %s\n", own, kzSift ? "on" : "off");
  else if (roomOnly)
    printf("kelvax: %s; dynamic sifting %s\n", room, kzSift ? "on" : "off");
  else
    printf("kelvax: %s, and the handle layer also with %s; dynamic sifting %s\n", room, own, kzSift ? "on" : "off");
  printf("times: CPU seconds of the timed part, median [min-max] of the runs shown; "
         "ratio = kelvax / BuDDy (of the medians); paired = median of kelvax / BuDDy over the rounds, each round\n"
         "running the sides one after the other; nodes: result size (kelvax counts the terminal and shares\n"
         "a node between f and not f, BuDDy counts neither); peak live: most nodes held in the "
         "tables after any operation;\npeak MiB: peak resident set of the run's process at the end of its timed part "
         "(the checks after it do not count); the BuDDy runs are shared by the tables\n");

  bool anyEngine = false, anyHandle = false, anyDefault = false;
  for (const Outcome &o : outcomes) {
    if (o.pt.workload == "text") continue;
    anyEngine = anyEngine || o.pt.sides[kEngine];
    anyHandle = anyHandle || o.pt.sides[kHandle];
    anyDefault = anyDefault || o.pt.sides[kHandleDefault];
  }
  if (anyEngine) {
    printf("\nengine level (kzuBdd.h), %s: how the engine compares with the peer\n",
           defaultOnly ? "its own sizing" : "the peer's room");
    RatioSummary vsPeer = printTable(outcomes, kEngine, kSides, "", nullptr, nullptr);
    if (vsPeer.ratios.empty())
      printf("geomean ratio vs BuDDy: n/a\n");
    else
      printf("geomean ratio vs BuDDy: %.2f\n", vsPeer.geomean());
  }
  // A handle-layer table, summarised against the peer and against `base`.
  auto handleTable = [&](Side side, Side base, const char *title, const char *baseHeader, const char *vsPeerWhat,
                         const char *vsBaseWhat) {
    printf("\nhandle layer (bdd.h, mdd.h), %s\n", title);
    RatioSummary overBase, paired;
    RatioSummary vsPeer = printTable(outcomes, side, base, baseHeader, &overBase, &paired);
    printf("%s\n%s\n%s\n", vsPeer.line(vsPeerWhat).c_str(), paired.line("the same, paired runs:").c_str(),
           overBase.line(vsBaseWhat).c_str());
  };
  if (anyHandle)
    handleTable(kHandle, kEngine,
                "the peer's room: what a caller of the handle layer gets; h/e = handle layer / engine level", "h/e",
                "handle layer, peer's room: geomean ratio vs BuDDy",
                "handle layer over engine level, peer's room: geomean");
  if (anyDefault)
    handleTable(kHandleDefault, kHandle,
                "the engine's own sizing: what the sizing call buys; d/r = default sizing / the peer's room", "d/r",
                "handle layer, default sizing: geomean ratio vs BuDDy", "default sizing over the peer's room: geomean");

  for (const Outcome &o : outcomes)
    if (!o.note.empty()) printf("note: %s\n", o.note.c_str());

  // The engine's own counters for this project's sides.
  printf("\nkelvax engine counters (first run of each side): cache hit rate, cache look-ups, node look-ups, "
         "collections; bytes per peak live node = (peak resident set - %ld KiB of an empty run) / peak live nodes\n",
         baseKiB);
  printf("%-13s %4s %-11s  %8s %13s %13s %5s %10s\n", "workload", "size", "side", "hit rate", "look-ups", "finds",
         "gcs", "B/peak node");
  for (const Outcome &o : outcomes) {
    if (!o.error.empty()) continue;
    for (Side side : {kEngine, kHandle, kHandleDefault}) {
      if (o.runs[side].empty()) continue;
      const Run &r = o.runs[side][0];
      double peakNodes = r.num("peak_nodes");
      double look = r.num("lookups");
      double bytes = (double)(r.maxrss_kib - baseKiB) * 1024.0;
      printf("%-13s %4d %-11s  %8.3f %13.0f %13.0f %5.0f %10.1f\n", o.pt.label.c_str(), o.pt.size, kSideLabel[side],
             look > 0 ? r.num("hits") / look : 0.0, look, r.num("finds"), r.num("gcs"),
             peakNodes > 0 ? bytes / peakNodes : 0.0);
    }
  }

  if (kzSift) {
    printf("\nkelvax dynamic sifting (first run of each side): reorderings, CPU seconds spent reordering, their "
           "share of the timed part\n");
    printf("%-13s %4s %-11s  %11s %10s %6s\n", "workload", "size", "side", "reorderings", "reorder s", "share");
    for (const Outcome &o : outcomes) {
      if (!o.error.empty()) continue;
      for (Side side : {kEngine, kHandle, kHandleDefault}) {
        if (o.runs[side].empty()) continue;
        const Run &r = o.runs[side][0];
        double secs = r.num("seconds");
        printf("%-13s %4d %-11s  %11.0f %10.3f %6.2f\n", o.pt.label.c_str(), o.pt.size, kSideLabel[side],
               r.num("reorderings"), r.num("reorder_seconds"), secs > 0 ? r.num("reorder_seconds") / secs : 0.0);
      }
    }
  }

  // Text form: nodes per second of each phase; a flat ns/node column shows
  // that the cost grows linearly with the diagram.
  bool anyText = false;
  for (const Outcome &o : outcomes) anyText = anyText || o.pt.workload == "text";
  if (anyText) {
    printf("\ntext form (Util::MDD2String, Util::String2MDD, Util::genPrimed) on the multiplier's middle bit, "
           "median CPU seconds\n");
    printf("%-4s %9s %11s  %-10s %-10s %-10s  %-12s %-12s %-12s  %-26s %s\n", "bits", "nodes", "text bytes",
           "write s", "read s", "rename s", "write n/s", "read n/s", "rename n/s", "ns/node write/read/rename",
           "check");
    // (nodes, write, read, rename) of every size that ran
    std::vector<std::array<double, 4>> grown;
    for (const Outcome &o : outcomes) {
      if (o.pt.workload != "text") continue;
      if (!o.error.empty()) {
        printf("%-4d FAILED: %s\n", o.pt.size, o.error.c_str());
        continue;
      }
      const std::vector<Run> &tr = o.runs[o.pt.sides[kHandle] ? kHandle : kHandleDefault];
      if (tr.empty()) {
        printf("%-4d stopped after %u s\n", o.pt.size, o.stoppedAfter[kHandleDefault]);
        continue;
      }
      double nodes = tr[0].num("nodes");
      double w = summarize(field(tr, "write")).median, rd = summarize(field(tr, "read")).median,
             rn = summarize(field(tr, "rename")).median;
      grown.push_back({nodes, w, rd, rn});
      char ns[64];
      snprintf(ns, sizeof ns, "%.0f/%.0f/%.0f", w / nodes * 1e9, rd / nodes * 1e9, rn / nodes * 1e9);
      printf("%-4d %9.0f %11.0f  %-10.4f %-10.4f %-10.4f  %-12.3g %-12.3g %-12.3g  %-26s %s\n", o.pt.size, nodes,
             tr[0].num("text_bytes"), w, rd, rn, nodes / w, nodes / rd, nodes / rn, ns,
             (o.check + (o.checkOk ? " ok" : " CHECK FAILED")).c_str());
    }
    // Linear growth shows as a slope of 1 of log(time) against log(nodes);
    // quadratic work would show as 2.
    if (grown.size() >= 2) {
      printf("growth of the time with the node count, log-log slope write/read/rename (1.00 = linear):");
      auto slope = [](const std::array<double, 4> &a, const std::array<double, 4> &b, int k) {
        return std::log(b[(size_t)k] / a[(size_t)k]) / std::log(b[0] / a[0]);
      };
      for (size_t i = 1; i < grown.size(); i++)
        printf(" %.0f->%.0f nodes %.2f/%.2f/%.2f;", grown[i - 1][0], grown[i][0], slope(grown[i - 1], grown[i], 1),
               slope(grown[i - 1], grown[i], 2), slope(grown[i - 1], grown[i], 3));
      printf(" overall %.2f/%.2f/%.2f\n", slope(grown.front(), grown.back(), 1), slope(grown.front(), grown.back(), 2),
             slope(grown.front(), grown.back(), 3));
    }
  }

  if (want("synth")) {
    printf("\nwhole synthesis run, wall seconds: ");
    if (synth.empty())
      printf("not run (scripts/run does not run a synthesis yet)\n");
    else if (!synthError.empty())
      printf("FAILED: %s\n", synthError.c_str());
    else {
      Stat s = summarize(synthTimes);
      printf("%s over %zu runs of %s (end to end: its up-to-date build check, the coordinator and its nodes, "
             "the independent check)\n",
             fmtStat(s).c_str(), synthTimes.size(), synth.c_str());
    }
  }
  return failed ? 1 : 0;
}
