// Both command-line parsers, and the coordinator's operator options, with
// arbitrary argument vectors (the input split at NUL bytes; the first byte
// chooses the parser). Each result, and whether and how the parser ended
// the process, is compared with a model of the rules written out here.
#include <arpa/inet.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Coordinator.h"
#include "Util.h"
#include "fuzz_support.h"

namespace {

bool isOption(const std::string &arg, char lower) {
  return arg.size() >= 2 && arg[0] == '-' && (arg[1] == lower || arg[1] == lower - 32);
}

// What a parser of the -h/usage scheme must do: the values it writes, or
// the status it ends the process with (-1: returns).
struct Outcome {
  int exitStatus = -1;
  std::vector<std::string> values;  // one per option letter, "unset" when not given
  bool operator==(const Outcome &o) const {
    return exitStatus == o.exitStatus && (exitStatus != -1 || values == o.values);
  }
};

Outcome expected(const std::vector<std::string> &args, const std::string &letters, bool numeric) {
  Outcome o;
  o.values.assign(letters.size(), "unset");
  for (size_t i = 1; i < args.size(); i++) {
    size_t k = 0;
    while (k < letters.size() && !isOption(args[i], letters[k])) k++;
    if (k < letters.size()) {
      if (i + 1 >= args.size()) {
        o.exitStatus = 2;
        return o;
      }
      o.values[k] = numeric || letters[k] != 'i' ? std::to_string(atoi(args[i + 1].c_str())) : args[i + 1];
    } else if (isOption(args[i], 'h')) {
      o.exitStatus = 0;
      return o;
    }
  }
  return o;
}

std::string shown(const std::vector<std::string> &args) {
  std::string s;
  for (const std::string &a : args) s += "[" + a + "] ";
  return s;
}

const int kUnset = -123456789;

std::string valueOf(int v) { return v == kUnset ? "unset" : std::to_string(v); }

void coordinatorParser(std::vector<std::string> &args, std::vector<char *> &argv) {
  Util util;
  int port = kUnset, nodes = kUnset;
  Outcome got;
  fuzz::exitsFatally([&] { util.parseCoorCmdLine((int)argv.size(), argv.data(), &port, &nodes); },
                     &got.exitStatus);
  if (got.exitStatus == -1) got.values = {valueOf(port), valueOf(nodes)};
  Outcome want = expected(args, "pn", true);
  if (!(got == want)) fuzz::finding("parseCoorCmdLine differs from its rules", shown(args));
}

void nodeParser(std::vector<std::string> &args, std::vector<char *> &argv) {
  Util util;
  char *address = nullptr;
  int port = kUnset, process = kUnset, action = kUnset;
  Outcome got;
  fuzz::exitsFatally(
      [&] { util.parseNodeCmdLine((int)argv.size(), argv.data(), &address, &port, &process, &action); },
      &got.exitStatus);
  if (got.exitStatus == -1)
    got.values = {address ? std::string(address) : "unset", valueOf(port), valueOf(process), valueOf(action)};
  Outcome want = expected(args, "ipna", false);
  if (!(got == want)) fuzz::finding("parseNodeCmdLine differs from its rules", shown(args));
}

// -b takes a dotted IPv4 address, -t a whole number of seconds from 1 to
// kMaxReceiveSeconds; either without a valid value is a usage error.
void operatorOptions(std::vector<std::string> &args, std::vector<char *> &argv) {
  std::string bind = "unset";
  int seconds = 0;
  bool ok = true;
  for (size_t i = 1; i < args.size() && ok; i++) {
    bool b = isOption(args[i], 'b'), t = isOption(args[i], 't');
    if (!b && !t) continue;
    if (i + 1 >= args.size()) {
      ok = false;
      break;
    }
    const std::string &v = args[i + 1];
    if (b) {
      struct in_addr a;
      ok = inet_pton(AF_INET, v.c_str(), &a) == 1;
      bind = v;
    } else {
      ok = !v.empty() && v.size() <= 9 && v.find_first_not_of("0123456789") == std::string::npos;
      if (ok) seconds = atoi(v.c_str());
      ok = ok && seconds >= 1 && seconds <= Coordinator::kMaxReceiveSeconds;
    }
  }
  std::string gotBind = "unset";
  int gotSeconds = 0;
  bool gotOk = false;
  int status = -1;
  if (fuzz::exitsFatally(
          [&] { gotOk = Coordinator::parseOperatorOptions((int)argv.size(), argv.data(), &gotBind, &gotSeconds); },
          &status))
    fuzz::finding("parseOperatorOptions ended the process", shown(args));
  if (gotOk != ok || (ok && (gotBind != bind || gotSeconds != seconds)))
    fuzz::finding("parseOperatorOptions differs from its rules", shown(args));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::setUp();
  fuzz::Input in(data, size);
  int which = in.byte() % 3;
  std::vector<std::string> args = {which == 1 ? "morlet" : "kelvax"};
  std::string rest = in.rest();
  size_t start = 0;
  while (start <= rest.size() && args.size() < 64) {
    size_t end = rest.find('\0', start);
    if (end == std::string::npos) end = rest.size();
    args.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  if (rest.empty()) args.pop_back();
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  switch (which) {
    case 0: coordinatorParser(args, argv); break;
    case 1: nodeParser(args, argv); break;
    default: operatorOptions(args, argv); break;
  }
  return 0;
}
