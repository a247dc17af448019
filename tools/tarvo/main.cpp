#include <cstdio>
#include <map>
#include <string>

#include "tarvo/command.h"
#ifdef TARVO_HAVE_METHODS
#include "engines/external/method_library.h"
#endif

namespace tarvo::cli {

static std::map<std::string, AddCommand>& Registry() {
  static std::map<std::string, AddCommand> registry;
  return registry;
}

Registration::Registration(const char* name, AddCommand add) { Registry()[name] = add; }

}  // namespace tarvo::cli

namespace {

// "tarvo model.toml fit": the subcommand written after the model. Returns the suggestion, or
// "" when the first argument is an option or a subcommand.
std::string OrderHint(int argc, char** argv) {
  const auto& registry = tarvo::cli::Registry();
  if (argc < 3 || argv[1][0] == '-' || registry.count(argv[1])) return "";
  for (int i = 2; i < argc; ++i)
    if (registry.count(argv[i]))
      return std::string("the command comes first: tarvo ") + argv[i] + " " + argv[1] + " ...";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
#ifdef TARVO_HAVE_METHODS
  tarvo::RegisterMethodLibrary();  // "EXACT" and "BDF" for every command
#endif
  CLI::App app{"tarvo: kinetics simulation and fitting"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("tarvo ") + TARVO_VERSION);
  for (const auto& [name, add] : tarvo::cli::Registry()) add(app);
  if (const std::string hint = OrderHint(argc, argv); !hint.empty()) {
    std::fprintf(stderr, "tarvo: error: %s\n", hint.c_str());
    return 2;
  }
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
