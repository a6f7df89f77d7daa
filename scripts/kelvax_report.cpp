// The report of a synthesis run, from its node logs: the picture of recovery
// (--svg FILE) and the run's figures as JSON (--json FILE), with what only
// the run script knows given on the command line. Prints the nodes' total
// synthesis and communication times and what it wrote.
//   kelvax_report [--svg FILE] [--json FILE] [--outcome TEXT] [--iterations N]
//                 [--check pass|fail] [--wall-ms N] LOG...
// Exit status: 0 when everything asked for was written, 1 when a file could
// not be written, 2 for a bad command line or an unreadable log.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "run_logs.h"
#include "run_report.h"

namespace {

const char *const kUsage =
    "Usage: kelvax_report [--svg FILE] [--json FILE] [--outcome TEXT] [--iterations N]\n"
    "                     [--check pass|fail] [--wall-ms N] LOG...";

bool number(const std::string &text, long *value) {
  char *end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0) return false;
  *value = v;
  return true;
}

int usage() {
  std::cout << kUsage << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::string svgPath, jsonPath;
  runreport::RunSummary summary;
  std::vector<std::string> logs;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage << std::endl;
      return 0;
    }
    bool takesValue = arg == "--svg" || arg == "--json" || arg == "--outcome" ||
                      arg == "--iterations" || arg == "--check" || arg == "--wall-ms";
    if (!takesValue) {
      if (arg.compare(0, 2, "--") == 0) return usage();
      logs.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) return usage();
    std::string value = argv[++i];
    long n = 0;
    if (arg == "--svg") {
      svgPath = value;
    } else if (arg == "--json") {
      jsonPath = value;
    } else if (arg == "--outcome") {
      summary.outcome = value;
    } else if (arg == "--check") {
      if (value != "pass" && value != "fail") return usage();
      summary.checkPassed = value == "pass";
    } else if (!number(value, &n)) {
      return usage();
    } else if (arg == "--iterations") {
      summary.addcoorIterations = (int)n;
    } else {
      summary.wallMs = n;
    }
  }
  if (logs.empty()) return usage();

  std::vector<runlog::Command> commands;
  std::set<int> remaining;
  std::map<int, int> rank;
  bool haveStates = false, haveRanks = false;
  double synthesis = 0, communication = 0;
  for (const std::string &path : logs) {
    runlog::NodeLog log;
    std::string error;
    if (!runlog::readLog(path, &log, &error)) {
      std::cout << "kelvax_report: " << error << std::endl;
      return 2;
    }
    commands.insert(commands.end(), log.commands.begin(), log.commands.end());
    summary.guardedCommands += (int)log.commands.size();
    summary.compactCommands += (int)log.compact.size();
    // Every node lists the same states and ranks; the first list counts.
    if (log.haveStates && !haveStates) remaining = log.remaining, haveStates = true;
    if (log.haveRanks && !haveRanks) rank = log.rank, haveRanks = true;
    runreport::NodeSummary node;
    node.process = log.process;
    node.action = log.action;
    node.guardedCommands = (int)log.commands.size();
    node.haveTimes = log.haveTimes;
    node.synthesisMs = log.synthesisMs;
    node.communicationMs = log.communicationMs;
    summary.nodes.push_back(node);
    synthesis += log.synthesisMs;
    communication += log.communicationMs;
  }
  summary.remainingStates = (int)remaining.size();

  char totals[160];
  std::snprintf(totals, sizeof totals,
                "Nodes' time in total (%zu node%s): synthesis %.3f ms, communication %.3f ms",
                logs.size(), logs.size() == 1 ? "" : "s", synthesis, communication);
  std::cout << totals << std::endl;
  int status = 0;
  if (!svgPath.empty()) {
    std::ofstream out(svgPath);
    int moves = runreport::writeRecoverySvg(out, commands, remaining, rank);
    out.close();
    if (!out) {
      std::cout << "kelvax_report: cannot write " << svgPath << std::endl;
      status = 1;
    } else {
      std::cout << "Picture of recovery: " << svgPath << " (" << runlog::kStates << " states, "
                << moves << " moves)" << std::endl;
    }
  }
  if (!jsonPath.empty()) {
    std::ofstream out(jsonPath);
    runreport::writeSummaryJson(out, summary);
    out.close();
    if (!out) {
      std::cout << "kelvax_report: cannot write " << jsonPath << std::endl;
      status = 1;
    } else {
      std::cout << "Summary: " << jsonPath << std::endl;
    }
  }
  return status;
}
