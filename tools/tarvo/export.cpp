// tarvo export MODEL.toml [-o MODEL.xml]: the model at its values as SBML Level 3 Version 2
// (sbml_export.h), checked by libSBML before it is written. Intervals begin at the model's
// interval_times, or else at the first point of each interval in the model's data.
// Exit status: 0 written, 2 bad input or a model SBML cannot hold (nothing written).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tarvo/command.h"
#include "language/data_csv.h"
#include "language/model_file.h"
#include "language/sbml_export.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct ExportArgs {
  std::string model;
  std::string out;
};

int RunExport(const ExportArgs& args) {
  Model model;
  std::string message;
  if (ReadModel(args.model, model, message) != 0) {
    std::fprintf(stderr, "tarvo: error: %s\n", message.c_str());
    return 2;
  }
  // Intervals placed by the data begin at the first point of each.
  if (model.interval_times.empty() && !model.data.empty()) {
    std::vector<std::string> outputs;
    for (const auto& o : model.outputs) outputs.push_back(o.name);
    Dataset data;
    if (ReadData(model.data, outputs, data, message) != 0) {
      std::fprintf(stderr, "tarvo: error: %s\n", message.c_str());
      return 2;
    }
    for (const auto& p : data.points)
      if (p.interval == static_cast<int>(model.interval_times.size()) + 2)
        model.interval_times.push_back(p.time);
    model.intervals = std::max(model.intervals, data.last_interval);
  }
  std::string xml;
  std::vector<std::string> problems;
  if (ExportSbml(model, xml, problems) != 0) {
    for (const auto& p : problems)
      std::fprintf(stderr, "tarvo: error: %s: %s\n", args.model.c_str(), p.c_str());
    return 2;
  }
  const std::string out = args.out.empty()
      ? std::filesystem::path(args.model).replace_extension(".xml").string()
      : args.out;
  std::ofstream f(out, std::ios::binary);
  if (!(f << xml) || !f.flush()) {
    std::fprintf(stderr, "tarvo: error: %s: cannot write the SBML file\n", out.c_str());
    return 2;
  }
  std::printf("wrote %s (SBML Level 3 Version 2)\n", out.c_str());
  return 0;
}

void AddExportCommand(CLI::App& app) {
  auto args = std::make_shared<ExportArgs>();
  CLI::App* cmd = app.add_subcommand("export", "Write a model file as SBML Level 3 Version 2, "
                                               "at its values");
  cmd->add_option("MODEL", args->model, "Model file (TOML)")->required();
  cmd->add_option("-o,--output", args->out, "SBML file to write (default: MODEL.xml beside it)");
  SetStatusCallback(cmd, [args] { return RunExport(*args); });
}

const Registration kRegistration{"export", AddExportCommand};

}  // namespace

}  // namespace tarvo::cli
