#include "run_logs.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace runlog {

State decode(int index) { return State{{index / 16, (index / 4) % 4, index % 4}}; }

int encode(const State &s) { return s[0] * 16 + s[1] * 4 + s[2]; }

std::string stateText(int index) {
  State s = decode(index);
  std::ostringstream out;
  out << "(x1 = " << s[0] << ", x2 = " << s[1] << ", x3 = " << s[2] << ")";
  return out.str();
}

bool inInvariant(int index) {
  State s = decode(index);
  return s[0] == s[1] || s[1] == s[2];
}

bool Command::enabled(const State &s) const {
  for (int i = 0; i < kVars; i++)
    if (!(allowed[i] >> s[i] & 1)) return false;
  return true;
}

int Command::apply(int index) const {
  State s = decode(index);
  s[process - 1] = value;
  return encode(s);
}

namespace {

// "x<d>" with d in 1..3; the variable index 0..2 or -1.
int parseVar(const std::string &token) {
  if (token.size() != 2 || token[0] != 'x' || token[1] < '1' || token[1] > '0' + kVars) return -1;
  return token[1] - '1';
}

int parseValue(const std::string &token) {
  if (token.size() != 1 || token[0] < '0' || token[0] >= '0' + kValues) return -1;
  return token[0] - '0';
}

// "{V1,V2,...}", values ascending; 0 when malformed.
unsigned parseValueSet(const std::string &token) {
  if (token.size() < 3 || token.front() != '{' || token.back() != '}') return 0;
  unsigned set = 0;
  int last = -1;
  std::istringstream in(token.substr(1, token.size() - 2));
  std::string item;
  while (std::getline(in, item, ',')) {
    int v = parseValue(item);
    if (v <= last) return 0;
    set |= 1u << v;
    last = v;
  }
  return token[token.size() - 2] == ',' ? 0 : set;
}

// One literal "x = V", "x != V" or "x in {...}" at tokens[*at]; advances
// past it.
bool parseLiteral(const std::vector<std::string> &tokens, size_t *at, int *var, unsigned *set) {
  if (*at + 3 > tokens.size()) return false;
  *var = parseVar(tokens[*at]);
  const std::string &op = tokens[*at + 1], &operand = tokens[*at + 2];
  *at += 3;
  if (*var < 0) return false;
  if (op == "in") {
    *set = parseValueSet(operand);
    return *set != 0;
  }
  int v = parseValue(operand);
  if (v < 0 || (op != "=" && op != "!=")) return false;
  *set = op == "=" ? 1u << v : kAllValues & ~(1u << v);
  return true;
}

}  // namespace

bool parseCommand(const std::string &line, Command *cmd, std::string *error) {
  std::vector<std::string> tokens;
  std::istringstream in(line);
  for (std::string t; in >> t;) tokens.push_back(t);
  *cmd = Command();
  size_t at = 0;
  std::set<int> named;
  bool joined = false, juxtaposed = false;
  if (!tokens.empty() && tokens[0] == "true") {
    at = 1;
  } else {
    for (;;) {
      int var = -1;
      unsigned set = 0;
      if (!parseLiteral(tokens, &at, &var, &set)) {
        *error = "cannot read the guard";
        return false;
      }
      if (!named.insert(var).second) {
        *error = "names x" + std::to_string(var + 1) + " twice";
        return false;
      }
      cmd->allowed[var] = set;
      if (at < tokens.size() && tokens[at] == "->") break;
      if (at < tokens.size() && tokens[at] == "&") {
        joined = true;
        at++;
      } else {
        juxtaposed = true;
      }
    }
  }
  if (joined && juxtaposed) {
    *error = "mixes \"&\" with literals side by side";
    return false;
  }
  if (at >= tokens.size() || tokens[at] != "->") {
    *error = "cannot read the guard";
    return false;
  }
  if (tokens.size() != at + 4 || parseVar(tokens[at + 1]) < 0 || tokens[at + 2] != ":=" ||
      parseValue(tokens[at + 3]) < 0) {
    *error = "cannot read the assignment";
    return false;
  }
  cmd->process = parseVar(tokens[at + 1]) + 1;
  cmd->value = parseValue(tokens[at + 3]);
  for (int var : named) {
    int distance = var + 1 - cmd->process;
    if (distance < -1 || distance > 1) {
      *error = "reads x" + std::to_string(var + 1) + ", which process " +
               std::to_string(cmd->process) + " cannot read";
      return false;
    }
  }
  cmd->text = line;
  return true;
}

bool parseState(const std::string &text, int *index) {
  std::istringstream in(text);
  State s{{-1, -1, -1}};
  std::string var, eq, value;
  int count = 0;
  while (in >> var) {
    int i = parseVar(var);
    if (i < 0 || !(in >> eq >> value) || eq != "=" || parseValue(value) < 0 || s[i] >= 0)
      return false;
    s[i] = parseValue(value);
    count++;
  }
  if (count != kVars) return false;
  *index = encode(s);
  return true;
}

namespace {

bool startsWith(const std::string &line, const std::string &prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool readLog(const std::string &path, NodeLog *log, std::string *error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  *log = NodeLog();
  log->path = path;
  std::string line;
  int number = 0;
  auto fail = [&](const std::string &reason) {
    *error = path + ":" + std::to_string(number) + ": " + reason;
    return false;
  };
  while (std::getline(file, line)) {
    number++;
    int process = 0, variable = 0, action = 0, rank = 0, consumed = 0, index = 0;
    double synthesis = 0, communication = 0;
    if (startsWith(line, "remaining: ")) {
      if (!parseState(line.substr(11), &index))
        return fail("cannot read the state \"" + line + "\"");
      log->remaining.insert(index);
      log->haveStates = true;
    } else if (startsWith(line, "Ranks of the last ranking run: ")) {
      log->haveRanks = true;
    } else if (std::sscanf(line.c_str(), "rank %d: %n", &rank, &consumed) == 1 && consumed > 0) {
      if (rank < 0 || !parseState(line.substr(consumed), &index))
        return fail("cannot read the ranked state \"" + line + "\"");
      if (log->rank.count(index) && log->rank[index] != rank)
        return fail("gives " + stateText(index) + " two ranks");
      log->rank[index] = rank;
      log->haveRanks = true;
    } else if (std::sscanf(line.c_str(), "morlet: process %d, action x%d := %d", &process,
                           &variable, &action) == 3) {
      log->process = process;
      log->action = action;
    } else if (std::sscanf(line.c_str(), "morlet: synthesis time %lf ms, communication time %lf ms",
                           &synthesis, &communication) == 2) {
      log->haveTimes = true;
      log->synthesisMs = synthesis;
      log->communicationMs = communication;
    } else if (line.find(" -> ") != std::string::npos) {
      bool compact = startsWith(line, "compact: ");
      Command cmd;
      std::string reason;
      if (!parseCommand(compact ? line.substr(9) : line, &cmd, &reason))
        return fail("\"" + line + "\" " + reason);
      (compact ? log->compact : log->commands).push_back(cmd);
    }
  }
  return true;
}

}  // namespace runlog
