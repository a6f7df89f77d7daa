// Replays inputs through a fuzz target without a fuzzing engine: every
// argument is a file or a folder of files, each fed to
// LLVMFuzzerTestOneInput once, in name order. Exits 0 when every input was
// taken; a finding aborts as it does under the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

void collect(const std::string &path, std::vector<std::string> *files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(path);
    return;
  }
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (struct dirent *e = readdir(dir)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) collect(path + "/" + name, files);
}

}  // namespace

int main(int argc, char **argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) collect(argv[i], &files);
  if (files.empty()) {
    fprintf(stderr, "replay: no inputs\n");
    return 1;
  }
  for (const std::string &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), data.size());
    LLVMFuzzerTestOneInput((const uint8_t *)data.data(), data.size());
  }
  fprintf(stderr, "replay: %zu inputs taken\n", files.size());
  return 0;
}
