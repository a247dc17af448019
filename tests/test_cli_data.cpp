// The data CSV reader: header roles, replicate columns, missing cells, the order rules of the
// simulation walk, the library's limits, and a message naming file, line and column for
// every malformed file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "language/data_csv.h"
#include "support/cli_run.h"

namespace tarvo::frontend {
namespace {

class CliData : public tarvo::testcli::TempFolderTest {
 protected:
  CliData() : TempFolderTest("cli-data") {}
  std::string Write(const std::string& text) {
    const std::string path = dir_ + "/data.csv";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  const std::vector<std::string> outputs_{"Abs", "Fluo"};
};

TEST_F(CliData, ReadsRolesReplicatesAndMissingCells) {
  Dataset d;
  std::string message;
  // A byte-order mark, a comment before the header, CRLF line ends, spaces around cells,
  // lines of every length one after another, and a last line without its line end.
  ASSERT_EQ(ReadData(Write("\xEF\xBB\xBF# comment\n"
                           "time, Abs, Abs, Fluo.1 ,Fluo.2\r\n"
                           "0,0.5,0.52,1,\r\n"
                           "\n"
                           "1.5,, 0.61 ,NA,2e-1\r\n"
                           "2,0.7\r\n"
                           "3,\"0.8\", 0.81\r\n"   // quoted after plain lines, then plain again
                           "4,0.9,,7"),
                     outputs_, d, message),
            0)
      << message;
  ASSERT_EQ(d.points.size(), 5u);
  EXPECT_EQ(d.points[3].values[0], (std::vector<double>{0.8, 0.81}));
  EXPECT_EQ(d.points[4].values[0], (std::vector<double>{0.9}));
  EXPECT_EQ(d.points[4].values[1], (std::vector<double>{7}));
  EXPECT_EQ(d.replicate_columns, (std::vector<int>{2, 2}));
  EXPECT_EQ(d.points[0].interval, 1);
  EXPECT_EQ(d.points[0].values[0], (std::vector<double>{0.5, 0.52}));
  EXPECT_EQ(d.points[0].values[1], (std::vector<double>{1}));
  EXPECT_EQ(d.points[1].time, 1.5);
  EXPECT_EQ(d.points[1].line, 5);
  EXPECT_EQ(d.points[1].values[0], (std::vector<double>{0.61}));
  EXPECT_EQ(d.points[1].values[1], (std::vector<double>{0.2}));
  EXPECT_TRUE(d.points[2].values[1].empty());  // cells missing at the end of a line
  double mean = 0;
  EXPECT_TRUE(MeanOf(d.points[0], 0, mean));
  EXPECT_DOUBLE_EQ(mean, 0.51);
  EXPECT_FALSE(MeanOf(d.points[2], 1, mean));
}

TEST_F(CliData, ReadsIntervals) {
  Dataset d;
  std::string message;
  ASSERT_EQ(ReadData(Write("Interval,TIME,Abs\n1,0,1\n1,1,2\n2,2,3\n2,3,4\n3,4,5\n"), outputs_, d,
                     message),
            0)
      << message;
  EXPECT_EQ(d.last_interval, 3);
  EXPECT_EQ(d.points[2].interval, 2);
  EXPECT_EQ(d.replicate_columns, (std::vector<int>{1, 0}));
}

TEST_F(CliData, NamesThePlaceOfEveryProblem) {
  std::string many_points = "time,Abs\n";
  for (int i = 0; i <= 1000; ++i) many_points += std::to_string(i) + ",1\n";
  std::string many_reps = "time";
  for (int i = 0; i < 11; ++i) many_reps += ",Abs";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"", "data.csv: the file is empty"},
      {"# only a comment\n", "data.csv: the file is empty"},
      {"time,Abs\n0,1\n", "data.csv: at least two points are needed"},
      {"Abs\n1\n2\n", "data.csv:1: the header has no 'time' column"},
      {"time,Abz\n0,1\n1,2\n", "data.csv:1:2: column 'Abz' is not an output of the model"},
      {"time;Abs\n0;1\n", "fields are separated by commas"},
      {"time,,Abs\n", "data.csv:1:2: a column without a name"},
      {"time,time,Abs\n", "data.csv:1:2: a second 'time' column"},
      {"interval,time,interval\n", "data.csv:1:3: a second 'interval' column"},
      {many_reps + "\n", "data.csv:1:12: output 'Abs' has more than 10 replicate columns"},
      {"time,Abs\n0,1\n1,x\n", "data.csv:3:2: 'x' in column 2 (Abs) is not a number"},
      {"time,Abs\n0,1\n1,0,5\n", "data.csv:3:3: 3 cells but the header has 2 columns"},
      {"time,Abs\n0,1\n,2\n", "data.csv:3:1: the time is missing"},
      {"time,Abs\n0,1\nnan,2\n", "data.csv:3:1: time 'nan' is not a number"},
      {"time,Abs\n0,1\n1,inf\n", "data.csv:3:2: 'inf' in column 2 (Abs) is not a number"},
      {"time,Abs\n0,1\n1,0x10\n", "'0x10' in column 2 (Abs) is not a number"},
      {"time,Abs\n0,1\n0,2\n", "data.csv:3: time 0 is not after the time of the previous point"},
      {"time,Abs\n1,1\n0.5,2\n", "data.csv:3: time 0.5 is not after"},
      {"interval,time,Abs\n2,0,1\n2,1,1\n", "data.csv:2: the first point must be in interval 1"},
      {"interval,time,Abs\n1,0,1\n3,1,1\n", "data.csv:3: interval 3 follows interval 1"},
      {"interval,time,Abs\n1,0,1\n2,1,1\n1,2,1\n", "data.csv:4: interval 1 comes after interval 2"},
      {"interval,time,Abs\n1,0,1\n1.5,1,1\n", "data.csv:3:1: interval '1.5' is not a whole number"},
      {"interval,time,Abs\n1,0,1\n31,1,1\n", "data.csv:3:1: interval '31' is not a whole number from 1 to 30"},
      {"interval,time,Abs\n0,0,1\n", "data.csv:2:1: interval '0'"},
      {many_points, "data.csv:1002: more than 1000 points"},
  };
  for (const auto& c : cases) {
    Dataset d;
    std::string message;
    EXPECT_EQ(ReadData(Write(c.text), outputs_, d, message), 2) << c.text;
    EXPECT_NE(message.find(c.message), std::string::npos)
        << "got \"" << message << "\", expected \"" << c.message << "\"";
  }
  Dataset d;
  std::string message;
  EXPECT_EQ(ReadData(dir_ + "/none.csv", outputs_, d, message), 2);
  EXPECT_NE(message.find("cannot open data file"), std::string::npos) << message;
}

}  // namespace
}  // namespace tarvo::frontend
