// Fuzz target: the tarvo tool's data reader. The input is the data CSV of a model whose
// outputs are Abs and B; it is read, and when it is accepted every replicate mean is taken.
// Every outcome is a status and a message; a sanitizer report, an escaping exception or a
// hang is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "language/data_csv.h"

namespace tarvo::fuzz {
namespace {

namespace fs = std::filesystem;

void Run(const uint8_t* data, size_t size) {
  static const fs::path path =
      fs::temp_directory_path() / ("tarvo-fuzz-data-" + std::to_string(getpid()) + ".csv");
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  frontend::Dataset d;
  std::string message;
  double mean = 0;
  if (frontend::ReadData(path.string(), {"Abs", "B"}, d, message) == 0)
    for (const frontend::DataPoint& p : d.points)
      for (int o = 0; o < 2; ++o) (void)frontend::MeanOf(p, o, mean);
  std::error_code ignored;
  fs::remove(path, ignored);
}

}  // namespace
}  // namespace tarvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvo::fuzz::Run(data, size);
  return 0;
}
