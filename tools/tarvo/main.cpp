#include <map>
#include <string>

#include "tarvo/command.h"

namespace tarvo::tool {

static std::map<std::string, AddCommand>& Registry() {
  static std::map<std::string, AddCommand> registry;
  return registry;
}

Registration::Registration(const char* name, AddCommand add) { Registry()[name] = add; }

}  // namespace tarvo::tool

int main(int argc, char** argv) {
  CLI::App app{"tarvo: kinetics simulation and fitting"};
  app.require_subcommand(1);
  for (const auto& [name, add] : tarvo::tool::Registry()) add(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a subcommand's own exit status
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  return 0;
}
