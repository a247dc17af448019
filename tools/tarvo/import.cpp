// tarvo import MODEL.xml [-o MODEL.toml]: an SBML model (Level 2 or 3) as a model file
// (sbml_import.h). Exit status: 0 written, 2 unreadable, invalid or refused (nothing written).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tarvo/command.h"
#include "language/sbml_import.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct ImportArgs {
  std::string sbml;
  std::string out;
  bool quiet = false;
};

int RunImport(const ImportArgs& args) {
  if (!std::filesystem::is_regular_file(args.sbml)) {
    std::fprintf(stderr, "tarvo: error: %s: no such file\n", args.sbml.c_str());
    return 2;
  }
  SbmlImport result;
  SbmlDiagnostic why;
  if (ImportSbmlFile(args.sbml, result, why) != 0) {
    std::fprintf(stderr, "tarvo: error: %s (%s)\n", DiagnosticText(args.sbml, why).c_str(),
                 why.construct.c_str());
    return 2;
  }
  const std::string out = args.out.empty()
      ? std::filesystem::path(args.sbml).replace_extension(".toml").string()
      : args.out;
  std::ofstream f(out, std::ios::binary);
  if (!(f << result.toml) || !f.flush()) {
    std::fprintf(stderr, "tarvo: error: %s: cannot write the model file\n", out.c_str());
    return 2;
  }
  if (!args.quiet)
    for (const auto& n : result.notes) std::printf("note: %s\n", n.c_str());
  std::printf("wrote %s: %d species, %d adjustables, %d outputs, %d reactions, %d interval%s\n",
              out.c_str(), result.species, result.adjustables, result.outputs, result.reactions,
              result.intervals, result.intervals == 1 ? "" : "s");
  return 0;
}

void AddImportCommand(CLI::App& app) {
  auto args = std::make_shared<ImportArgs>();
  CLI::App* cmd = app.add_subcommand("import", "Translate an SBML model (Level 2 or 3) into a "
                                               "model file");
  cmd->add_option("MODEL", args->sbml, "SBML file")->required();
  cmd->add_option("-o,--output", args->out, "Model file to write (default: MODEL.toml beside it)");
  cmd->add_flag("-q,--quiet", args->quiet, "Print no notes about renamed names");
  SetStatusCallback(cmd, [args] { return RunImport(*args); });
}

const Registration kRegistration{"import", AddImportCommand};

}  // namespace

}  // namespace tarvo::cli
