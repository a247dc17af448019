// Running the tarvo program from a test: a fresh temporary folder per test (removed after it),
// files written into and read back from it, and the program run there with its standard output
// and error caught in out.txt and err.txt of that folder.
//
// Header only: the program's path comes from TARVO_BINARY_DIR, which only the test programs
// are compiled with (the support library is not).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace tarvo::testcli {

// The whole file, byte for byte; empty when it cannot be opened.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// `text` with its first `from` replaced by `to`; a `from` that is not there fails the test
// (a model edit that silently did nothing would test the unedited model).
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

struct RunResult {
  int code = -1;  // the exit status; -1 when the program did not exit normally
  std::string out, err;
};

// A fresh folder under the system's temporary directory, named prefix-XXXXXX; empty on failure.
inline std::string MakeTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// A test with its own temporary folder dir_, made before and removed after each test.
class TempFolderTest : public ::testing::Test {
 protected:
  explicit TempFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    dir_ = MakeTempFolder(prefix_);
    ASSERT_FALSE(dir_.empty()) << "cannot make a temporary folder";
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // `name` inside the folder.
  std::filesystem::path Path(const std::string& name) const {
    return std::filesystem::path(dir_) / name;
  }
  std::string dir_;

 private:
  std::string prefix_;
};

// A test that runs tarvo in its temporary folder.
class CliTest : public TempFolderTest {
 protected:
  using TempFolderTest::TempFolderTest;

  // Writes `text` to `name` in the folder.
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  // The file `name` of the folder.
  std::string Read(const std::string& name) { return ReadFile(dir_ + "/" + name); }

  // Runs `tarvo args` in the folder; with tmpdir_ set, under TMPDIR=tmpdir_.
  RunResult Run(const std::string& args) {
    const std::string env = tmpdir_.empty() ? std::string() : "TMPDIR='" + tmpdir_ + "' ";
    const std::string cmd = "cd '" + dir_ + "' && " + env + "'" + TARVO_BINARY_DIR + "/tarvo' " +
                            args + " >out.txt 2>err.txt";
    const int status = std::system(cmd.c_str());
    RunResult r;
    EXPECT_TRUE(WIFEXITED(status)) << args << ": did not exit normally";
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Read("out.txt");
    r.err = Read("err.txt");
    return r;
  }

  std::string tmpdir_;  // the temporary directory the program is given; empty: inherited
};

}  // namespace tarvo::testcli
