// The shared library as a host sees it: the exported names, and the string and failure
// functions reached through the dynamic loader.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

// Names of the text and code symbols `nm -D --defined-only` lists for the library.
std::set<std::string> ExportedFunctions(const std::string& library) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe)) {
    char address[64], type[8], name[512];
    if (std::sscanf(line, "%63s %7s %511s", address, type, name) == 3 && type[0] == 'T')
      names.insert(name);
  }
  ::pclose(pipe);
  return names;
}

}  // namespace

TEST(SharedLibrary, ExportsTheHostInterface) {
  if (std::system("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm is not available";
  const std::set<std::string> names = ExportedFunctions(TARVO_SHARED_LIBRARY);
  ASSERT_FALSE(names.empty()) << "nm listed nothing for " << TARVO_SHARED_LIBRARY;
  for (const char* expected : {"Tarvo_last_failure", "SysAllocStringLen", "SysAllocString",
                               "SysFreeString", "SysStringLen", "VariantInit", "VariantClear"}) {
    EXPECT_EQ(names.count(expected), 1u) << expected << " is not exported";
  }
  // Internals stay hidden: no C++ function of the library's own namespace is exported.
  for (const std::string& name : names)
    EXPECT_EQ(name.find("5tarvo"), std::string::npos) << name << " is exported";
}

// A host binds each call by name through the loader: one hidden call breaks every host,
// whatever the tests that link the core directly say.
TEST(SharedLibrary, TheLoaderFindsEveryCallAHostBinds) {
  void* library = ::dlopen(TARVO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  for (const char* name :
       {"Calcul_initial", "Simulation", "Ajustement", "Fin", "Tarvo_last_failure"}) {
    EXPECT_NE(::dlsym(library, name), nullptr) << name << " is not exported";
  }
  ::dlclose(library);
}

TEST(SharedLibrary, StringFunctionsWorkThroughTheLoader) {
  void* library = ::dlopen(TARVO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  using AllocLen = char16_t* (*)(const char16_t*, uint32_t);
  using Len = uint32_t (*)(char16_t*);
  using Free = void (*)(char16_t*);
  using LastFailure = int32_t (*)(char*, int32_t);
  auto alloc = reinterpret_cast<AllocLen>(::dlsym(library, "SysAllocStringLen"));
  auto length = reinterpret_cast<Len>(::dlsym(library, "SysStringLen"));
  auto release = reinterpret_cast<Free>(::dlsym(library, "SysFreeString"));
  auto last = reinterpret_cast<LastFailure>(::dlsym(library, "Tarvo_last_failure"));
  ASSERT_TRUE(alloc && length && release && last);

  char16_t* s = alloc(u"CHU-BERMAN", 10);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(length(s), 10u);
  EXPECT_EQ(s[10], 0);
  release(s);

  char buffer[16] = "untouched";
  EXPECT_EQ(last(buffer, sizeof buffer), 0);  // no call has failed yet
  EXPECT_EQ(std::string(buffer), "");
  ::dlclose(library);
}
