// tarvo export MODEL.toml [-o MODEL.xml]: the model at its values as SBML Level 3 Version 2
// (sbml_export.h), checked by libSBML before it is written.
// Exit status: 0 written, 2 bad input or a model SBML cannot hold (nothing written).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tarvo/command.h"
#include "tarvo/model_file.h"
#include "tarvo/sbml_export.h"

namespace tarvo::tool {

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

}  // namespace tarvo::tool
