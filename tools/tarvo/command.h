// Subcommands of the tarvo tool register themselves: a file defines
//   static const tarvo::tool::Registration reg{"formula", AddFormulaCommand};
// and main() adds every registered subcommand to the application, in name order.
#pragma once

#include <CLI/CLI.hpp>

namespace tarvo::tool {

using AddCommand = void (*)(CLI::App& app);

struct Registration {
  Registration(const char* name, AddCommand add);
};

}  // namespace tarvo::tool
