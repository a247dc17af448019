// Subcommands of the tarvo tool register themselves: a file defines
//   static const tarvo::cli::Registration reg{"formula", AddFormulaCommand};
// and main() adds every registered subcommand to the application, in name order.
#pragma once

#include <CLI/CLI.hpp>

namespace tarvo::cli {

using AddCommand = void (*)(CLI::App& app);

// Runs a subcommand's body; a non-zero status it returns becomes the program's exit status.
template <class Run>
void SetStatusCallback(CLI::App* cmd, Run run) {
  cmd->callback([run] {
    const int code = run();
    if (code != 0) throw CLI::RuntimeError(code);
  });
}

struct Registration {
  Registration(const char* name, AddCommand add);
};

}  // namespace tarvo::cli
