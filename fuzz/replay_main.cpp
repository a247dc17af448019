// The driver that runs a fuzz target outside libFuzzer: every file named on the command line,
// and every file in a folder named there (in name order), is handed to the target once. The
// ordinary test suite replays the seed corpora and the regression inputs this way, so an input
// that once crashed a target keeps being run by every build, sanitizer build included.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

void Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::printf("replay %s (%zu bytes)\n", file.string().c_str(), bytes.size());
  std::fflush(stdout);  // the name is on record if the target crashes
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    if (!fs::is_directory(arg)) {
      if (!fs::exists(arg)) continue;  // a target without regression inputs has no folder
      Replay(arg);
      ++replayed;
      continue;
    }
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(arg))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) Replay(f);
    replayed += static_cast<int>(files.size());
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
