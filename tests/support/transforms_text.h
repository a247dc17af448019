// The transforms of a model's adjustables, made from model file text as a fit makes them: the
// text is read as a model file (written for the moment to `file_name` in the temporary
// directory), its adjustables' values and free flags become the start of p, and the
// transforms are expanded. A file that does not read or expand fails the test (non-fatally)
// and gives what was made of it, so callers check the count they expect.
//
// Header only: it needs the front end, which the support library does not link.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "language/model_file.h"
#include "language/prepare.h"
#include "language/transforms.h"

namespace tarvo::testcli {

inline std::vector<frontend::Transform> TransformsOfText(const std::string& toml,
                                                         const std::string& file_name,
                                                         frontend::Prepared& p) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / file_name;
  std::ofstream(file) << toml;
  std::string message;
  EXPECT_EQ(frontend::ReadModel(file.string(), p.model, message), 0) << message;
  std::filesystem::remove(file);
  for (const auto& a : p.model.adjustables) {
    p.values.push_back(a.value);
    p.free.push_back(a.free);
  }
  std::vector<frontend::Transform> ts;
  std::vector<std::string> errors;
  EXPECT_EQ(frontend::ExpandTransforms(p, ts, errors), 0) << (errors.empty() ? "" : errors.front());
  return ts;
}

}  // namespace tarvo::testcli
