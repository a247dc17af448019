// Fuzz target: the tarvo tool's model file as `tarvo check` takes it in. The input is the
// model file (TOML); it is read, its formulas translated into the library's notation with the
// references between them checked, and the warnings about likely mistakes drawn up against a
// small fixed data file. Every outcome is a status and messages; a sanitizer report, an
// escaping exception or a hang is a finding.
//
// The data file is always the fixed one beside the model, whatever the model's `data` key
// names, so that an input cannot send the reader to a device or a pipe.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "language/data_csv.h"
#include "language/model_file.h"
#include "language/model_text.h"
#include "language/model_warnings.h"
#include "language/prepare.h"

namespace tarvo::fuzz {
namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tarvo-fuzz-model-" + std::to_string(getpid()));
    fs::create_directories(d);
    std::ofstream(d / "data.csv") << "interval,time,Abs,Abs,B\n"
                                     "1,0,0.5,0.51,1\n1,1,0.4,,0.9\n2,2,0.3,0.29,NA\n";
    return d;
  }();
  // Registered once dir is complete, so that it runs before dir is destroyed.
  static const int cleanup = std::atexit([] {
    std::error_code ignored;
    fs::remove_all(Folder(), ignored);
  });
  (void)cleanup;
  return dir;
}

void Run(const uint8_t* data, size_t size) {
  const fs::path model = Folder() / "model.toml";
  std::ofstream(model, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  frontend::Prepared p;
  std::string message;
  if (frontend::ReadModel(model.string(), p.model, message) != 0) return;
  std::vector<std::string> outputs;
  for (const auto& o : p.model.outputs) outputs.push_back(o.name);
  if (frontend::ReadData((Folder() / "data.csv").string(), outputs, p.data, message) != 0) return;
  for (const auto& a : p.model.adjustables) {
    p.values.push_back(a.value);
    p.free.push_back(a.free);
  }
  std::vector<std::string> errors;
  const int intervals = std::max(p.model.intervals, p.data.last_interval);
  if (frontend::TranslateModel(p.model, intervals, p.text, errors) != 0) return;
  (void)frontend::ModelWarnings(p);
}

}  // namespace
}  // namespace tarvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvo::fuzz::Run(data, size);
  return 0;
}
