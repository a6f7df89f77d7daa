// Benchmark driver: runs every point of every selected workload on this
// project's engine and on the comparison peer, each run in a fresh child
// process (so that its peak resident memory is its own), alternating the two
// sides, and prints one table. The last line is the geometric mean of the
// time ratios.
//
//   kzbench --kz PATH --peer PATH [--synth CMD] [--quick] [--runs N] [--kz-sift]
//           [--kz-default-sizing] [WORKLOAD...]
//
// --kz-sift turns dynamic sifting on in this project's engine (the peer's
// side stays without reordering) and adds a table of the reordering time.
// This project's engine gets the peer's initial room (a million nodes before
// the first collection, about a million computed-table entries);
// --kz-default-sizing runs it with its own defaults instead (collections from
// 10000 live nodes, a computed table that grows with the node count).
// Workloads: queens, mult, milner (fused and split), text, synth; default all.
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

// A run slower than this (either side) caps its point at three runs.
constexpr double kSlowSeconds = 10.0;
// A single run that takes longer than this is killed and reported.
constexpr unsigned kRunLimitSeconds = 1200;

struct Run {
  bool ok = false;
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
Run runChild(const std::vector<std::string> &args) {
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
    alarm(kRunLimitSeconds);
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
    r.error = std::string("killed by signal ") + std::to_string(WTERMSIG(status)) +
              (WTERMSIG(status) == SIGALRM ? " (time limit)" : "");
  } else if (WEXITSTATUS(status) != 0) {
    r.error = "exit status " + std::to_string(WEXITSTATUS(status));
  } else if (r.kv.find("seconds") == r.kv.end()) {
    r.error = "no result line";
  } else {
    r.ok = true;
  }
  return r;
}

struct Point {
  std::string workload;  // as the workers name it
  std::string label;     // as the table shows it
  int size;
  bool peer;             // the peer runs it too
};

struct Outcome {
  Point pt;
  std::vector<Run> kz, peer;
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

// Checks the results of one point (every run, both sides) and describes the
// check value.
void checkPoint(Outcome &o) {
  const Point &p = o.pt;
  std::vector<const Run *> all;
  for (const Run &r : o.kz) all.push_back(&r);
  for (const Run &r : o.peer) all.push_back(&r);
  if (all.empty()) return;
  double c0 = all[0]->num("count");
  // Milner's counts are compared as logarithms (the peer's comes from one).
  bool milner = p.workload.rfind("milner", 0) == 0;
  if (!o.kz.empty() && o.kz[0].num("onset") != c0)
    o.note = o.pt.label + " " + std::to_string(p.size) + ": bdd_count_onset returned " +
             fmtCount(o.kz[0].num("onset")) + ", the node-by-node count is " + fmtCount(c0);
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

void usage(const char *prog) {
  fprintf(stderr,
          "usage: %s --kz PATH [--peer PATH] [--synth CMD] [--quick] [--runs N] [--kz-sift] [--kz-default-sizing] "
          "[queens|mult|milner|text|synth ...]\n",
          prog);
}

}  // namespace

int main(int argc, char **argv) {
  std::string kz, peer, synth;
  bool quick = false;
  bool kzSift = false;  // dynamic sifting on this project's side
  bool kzDefaultSizing = false;
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
      kzDefaultSizing = true;
    else if (a == "--runs" && i + 1 < argc)
      runsWanted = atoi(argv[++i]);
    else if (a == "queens" || a == "mult" || a == "milner" || a == "text" || a == "synth")
      chosen.push_back(a);
    else {
      usage(argv[0]);
      return 2;
    }
  }
  if (kz.empty()) {
    usage(argv[0]);
    return 2;
  }
  if (chosen.empty()) chosen = {"queens", "mult", "milner", "text", "synth"};
  auto want = [&](const char *w) { return std::find(chosen.begin(), chosen.end(), w) != chosen.end(); };
  int runs = runsWanted > 0 ? runsWanted : (quick ? 3 : 5);
  bool havePeer = !peer.empty();

  std::vector<Point> points;
  if (want("queens"))
    for (int n = 8; n <= (quick ? 10 : 12); n++) points.push_back({"queens", "queens", n, true});
  if (want("mult"))
    for (int n = 10; n <= (quick ? 13 : 16); n++) points.push_back({"mult", "multiplier", n, true});
  if (want("milner"))
    for (int n = 50; n <= (quick ? 100 : 250); n += 50) {
      points.push_back({"milner-fused", "milner fused", n, true});
      points.push_back({"milner-split", "milner split", n, true});
    }
  // Multiplier widths whose middle bit has about 1.0e4, 1.3e5 and 6.9e5 nodes.
  if (want("text"))
    for (int n : {11, 14, 16})
      if (!quick || n < 16) points.push_back({"text", "text form", n, false});

  // Resident set of a worker whose manager holds next to nothing (its own
  // sizing: no node records made in advance): subtracted from this project's
  // peaks for the bytes per peak live node.
  Run base = runChild({kz, "queens", "1", "default-sizing"});
  long baseKiB = base.ok ? base.maxrss_kib : 0;

  std::string loadStart = loadAverage();
  std::vector<Outcome> outcomes;
  bool failed = false;
  for (const Point &p : points) {
    Outcome o;
    o.pt = p;
    int n = runs;
    for (int r = 0; r < n; r++) {
      fprintf(stderr, "[bench] %s %d: run %d/%d\n", p.label.c_str(), p.size, r + 1, n);
      std::string sz = std::to_string(p.size);
      std::vector<std::string> kzArgs = {kz, p.workload, sz};
      if (kzSift) kzArgs.push_back("sift");
      if (kzDefaultSizing) kzArgs.push_back("default-sizing");
      Run a = runChild(kzArgs);
      if (!a.ok) o.error = "kelvax: " + a.error;
      o.kz.push_back(a);
      double slowest = a.wall;
      if (p.peer && havePeer && o.error.empty()) {
        Run b = runChild({peer, p.workload, sz});
        if (!b.ok) o.error = "BuDDy: " + b.error;
        o.peer.push_back(b);
        slowest = std::max(slowest, b.wall);
      }
      if (!o.error.empty()) break;
      if (r == 0 && runsWanted == 0 && slowest > kSlowSeconds) n = std::min(n, 3);
    }
    if (o.error.empty()) checkPoint(o);
    if (!o.error.empty() || !o.checkOk) failed = true;
    outcomes.push_back(o);
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

  // ---- The table --------------------------------------------------------------------
  printf("machine: %ld cores, %s; load average at start %s, at end %s\n", sysconf(_SC_NPROCESSORS_ONLN),
         cpuModel().c_str(), loadStart.c_str(), loadEnd.c_str());
  printf("kelvax: %s; dynamic sifting %s\n",
         kzDefaultSizing ? "its own sizing (collections from 10000 live nodes)"
                         : "the peer's room (no collection below 1000000 live nodes, computed table up to 524269 "
                           "two-entry bins)",
         kzSift ? "on" : "off");
  printf("times: CPU seconds of the timed part, median [min-max] of the runs shown; "
         "ratio = kelvax / BuDDy; nodes: result size (kelvax counts the terminal and shares\n"
         "a node between f and not f, BuDDy counts neither); peak live: most nodes held in the "
         "tables after any operation;\npeak MiB: peak resident set of the run's process at the end of its timed part "
         "(the checks after it do not count)\n\n");
  printf("%-13s %4s %4s  %-24s %-24s %6s  %-19s %-19s %-22s %-13s\n", "workload", "size", "runs",
         "kelvax s", "BuDDy s", "ratio", "nodes kz/BuDDy", "peak live kz/BuDDy", "check", "peak MiB kz/B");
  std::vector<double> ratios;
  for (const Outcome &o : outcomes) {
    if (o.pt.workload == "text") continue;
    if (!o.error.empty()) {
      printf("%-13s %4d  FAILED: %s\n", o.pt.label.c_str(), o.pt.size, o.error.c_str());
      continue;
    }
    Stat k = summarize(field(o.kz, "seconds"));
    Stat b = summarize(field(o.peer, "seconds"));
    char ratio[32] = "-", nodes[48], live[48], mem[48];
    if (!o.peer.empty() && b.median > 0) {
      snprintf(ratio, sizeof ratio, "%.2f", k.median / b.median);
      ratios.push_back(k.median / b.median);
    }
    long kn = (long)o.kz[0].num("nodes"), bn = o.peer.empty() ? 0 : (long)o.peer[0].num("nodes");
    snprintf(nodes, sizeof nodes, "%ld/%ld", kn, bn);
    snprintf(live, sizeof live, "%.0f/%.0f", summarize(field(o.kz, "peak_nodes")).median,
             o.peer.empty() ? 0.0 : summarize(field(o.peer, "peak_nodes")).median);
    snprintf(mem, sizeof mem, "%.0f/%.0f", summarize(rssMiB(o.kz)).median,
             o.peer.empty() ? 0.0 : summarize(rssMiB(o.peer)).median);
    printf("%-13s %4d %4zu  %-24s %-24s %6s  %-19s %-19s %-22s %-13s\n", o.pt.label.c_str(), o.pt.size,
           o.kz.size(), fmtStat(k).c_str(), o.peer.empty() ? "-" : fmtStat(b).c_str(), ratio, nodes, live,
           (o.check + (o.checkOk ? "" : " CHECK FAILED")).c_str(), mem);
  }

  for (const Outcome &o : outcomes)
    if (!o.note.empty()) printf("note: %s\n", o.note.c_str());

  // The engine's own counters for this project's side.
  printf("\nkelvax engine counters (first run): cache hit rate, cache look-ups, node look-ups, collections; "
         "bytes per peak live node = (peak resident set - %ld KiB of an empty run) / peak live nodes\n",
         baseKiB);
  printf("%-13s %4s  %8s %13s %13s %5s %10s\n", "workload", "size", "hit rate", "look-ups", "finds", "gcs",
         "B/peak node");
  for (const Outcome &o : outcomes) {
    if (!o.error.empty() || o.kz.empty()) continue;
    const Run &r = o.kz[0];
    double peakNodes = r.num("peak_nodes");
    double look = r.num("lookups");
    double bytes = (double)(r.maxrss_kib - baseKiB) * 1024.0;
    printf("%-13s %4d  %8.3f %13.0f %13.0f %5.0f %10.1f\n", o.pt.label.c_str(), o.pt.size,
           look > 0 ? r.num("hits") / look : 0.0, look, r.num("finds"), r.num("gcs"),
           peakNodes > 0 ? bytes / peakNodes : 0.0);
  }

  if (kzSift) {
    printf("\nkelvax dynamic sifting (first run): reorderings, CPU seconds spent reordering, their share of the "
           "timed part\n");
    printf("%-13s %4s  %11s %10s %6s\n", "workload", "size", "reorderings", "reorder s", "share");
    for (const Outcome &o : outcomes) {
      if (!o.error.empty() || o.kz.empty()) continue;
      const Run &r = o.kz[0];
      double secs = r.num("seconds");
      printf("%-13s %4d  %11.0f %10.3f %6.2f\n", o.pt.label.c_str(), o.pt.size, r.num("reorderings"),
             r.num("reorder_seconds"), secs > 0 ? r.num("reorder_seconds") / secs : 0.0);
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
      double nodes = o.kz[0].num("nodes");
      double w = summarize(field(o.kz, "write")).median, rd = summarize(field(o.kz, "read")).median,
             rn = summarize(field(o.kz, "rename")).median;
      grown.push_back({nodes, w, rd, rn});
      char ns[64];
      snprintf(ns, sizeof ns, "%.0f/%.0f/%.0f", w / nodes * 1e9, rd / nodes * 1e9, rn / nodes * 1e9);
      printf("%-4d %9.0f %11.0f  %-10.4f %-10.4f %-10.4f  %-12.3g %-12.3g %-12.3g  %-26s %s\n", o.pt.size, nodes,
             o.kz[0].num("text_bytes"), w, rd, rn, nodes / w, nodes / rd, nodes / rn, ns,
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

  double lg = 0;
  for (double r : ratios) lg += std::log(r);
  printf("\n");
  if (ratios.empty())
    printf("geomean ratio vs BuDDy: n/a\n");
  else
    printf("geomean ratio vs BuDDy: %.2f\n", std::exp(lg / (double)ratios.size()));
  return failed ? 1 : 0;
}
