// tarvo batch MANIFEST.csv [-j N] [-o DIR]: one fit per manifest row (batch_manifest.h), run
// as "tarvo fit MODEL -o DIR/OUT --quiet ..." in up to N worker processes at once (default:
// one per core). Each fit leaves its usual files in its folder plus report.txt (what it printed)
// and messages.txt (its warnings and errors); DIR/summary.csv has one row per manifest row, in
// manifest order: outcome, message, seconds, and each adjustable's value, SD, SE and interval
// (with whether each side is open) as its fit.json gives them. A progress bar on stderr (one line per fit when stderr is not a
// terminal). Ctrl-C lets the running fits end after their current call and starts no more.
// Exit status: 0 every fit converged, 1 some fit did not, 2 a bad manifest.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "language/batch_manifest.h"
#include "tarvo/command.h"
#include "tarvo/fit_flags.h"
#include "language/prepare.h"
#include "results/batch_summary.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct BatchArgs {
  std::string manifest, out;
  int jobs = 0;
};

struct Outcome {
  std::string outcome = "not run", message;
  std::vector<std::string> warnings;  // the worker's warning lines
  bool converged = false;
  double seconds = 0;
  nlohmann::json fit;  // the fit's fit.json, or null
};

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts "tarvo fit" for a row; its stdout and stderr go to files in its folder.
// The process id, or -1 with a message.
pid_t Launch(const BatchRow& row, std::string& message) {
  std::error_code ec;
  fs::create_directories(row.out, ec);
  if (!fs::is_directory(row.out)) {
    message = "cannot create the output folder '" + row.out + "'" + (ec ? ": " + ec.message() : "");
    return -1;
  }
  // A fit that fails early writes no fit.json: one left from an earlier run must not be read.
  for (const char* stale : {"fit.json", "report.txt", "messages.txt"}) fs::remove(fs::path(row.out) / stale, ec);
  const std::string model = ModelForRow(row, row.out, message);
  if (model.empty()) return -1;
  std::vector<std::string> args = {"tarvo", "fit", model, "-o", row.out, "--quiet"};
  for (auto& a : FitArguments(row.sets, row.control)) args.push_back(std::move(a));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string report = (fs::path(row.out) / "report.txt").string();
  const std::string messages = (fs::path(row.out) / "messages.txt").string();
  const pid_t pid = fork();
  if (pid < 0) {
    message = std::string("cannot start a worker process: ") + std::strerror(errno);
    return -1;
  }
  if (pid == 0) {
    const int out = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    signal(SIGINT, SIG_DFL);
    // The fits already run side by side, one per process: each fit's own worker threads would
    // only crowd the cores (a TARVO_THREADS of the user's own is kept).
    setenv("TARVO_THREADS", "1", 0);
    execv("/proc/self/exe", argv.data());
    std::fprintf(stderr, "tarvo: error: cannot run /proc/self/exe: %s\n", std::strerror(errno));
    _exit(2);
  }
  return pid;
}

// The "tarvo: error: " lines of a fit's stderr, joined; else its last line.
std::string ErrorLines(const std::string& messages) {
  std::stringstream s(messages);
  std::string line, joined, last;
  const std::string tag = "tarvo: error: ";
  while (std::getline(s, line)) {
    if (line.empty()) continue;
    last = line;
    if (line.rfind(tag, 0) == 0) joined += (joined.empty() ? "" : "; ") + line.substr(tag.size());
  }
  return joined.empty() ? last : joined;
}

// What a finished worker left: its exit status read with its fit.json and stderr.
void Collect(const BatchRow& row, int status, Outcome& o) {
  const std::string messages = ReadText((fs::path(row.out) / "messages.txt").string());
  {
    std::stringstream s(messages);
    const std::string tag = "tarvo: warning: ";
    for (std::string line; std::getline(s, line);)
      if (line.rfind(tag, 0) == 0) o.warnings.push_back(line.substr(tag.size()));
  }
  if (WIFSIGNALED(status)) {
    o.outcome = "failed";
    o.message = std::string("the fit was ended by signal ") + std::to_string(WTERMSIG(status)) +
                " (" + strsignal(WTERMSIG(status)) + ")";
    return;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 2;
  const fs::path json = fs::path(row.out) / "fit.json";
  if (code == 2 || !fs::exists(json)) {
    o.outcome = code == 2 ? "bad input" : "failed";
    o.message = ErrorLines(messages);
    if (o.message.empty()) o.message = "the fit ended with status " + std::to_string(code);
    return;
  }
  try {
    o.fit = nlohmann::json::parse(ReadText(json.string()));
    o.outcome = o.fit.value("outcome", "failed");
    o.converged = o.fit.value("converged", false);
    o.message = FitMessage(o.outcome, o.fit.value("erreur_text", ""), o.fit.value("calls", 0));
  } catch (const nlohmann::json::exception& e) {
    o.outcome = "failed";
    o.message = json.string() + ": " + e.what();
  }
}

class Progress {
 public:
  Progress(int total, bool terminal) : total_(total), terminal_(terminal), start_(Clock::now()) {}
  void Finished(const BatchRow& row, const Outcome& o, int running) {
    ++done_;
    failed_ += !o.converged;
    char line[160];
    std::snprintf(line, sizeof line, "[%*d/%d] row %d %s: %s, %.2f s", Width(), done_, total_,
                  row.number, fs::path(row.out).filename().c_str(), o.outcome.c_str(), o.seconds);
    if (!terminal_) {
      std::fprintf(stderr, "%s%s%s\n", line, o.converged ? "" : ": ", o.message.c_str());
    } else {
      if (!o.converged) std::fprintf(stderr, "\r\033[K%s: %s\n", line, o.message.c_str());
      Draw(running);
    }
    std::fflush(stderr);
  }
  void Draw(int running) {
    if (!terminal_) return;
    const int width = 30, filled = total_ ? done_ * width / total_ : width;
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    std::fprintf(stderr, "\r\033[K[%s%s] %d/%d fits, %d failed, %d running, %d:%02d",
                 std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(), done_,
                 total_, failed_, running, static_cast<int>(t) / 60, static_cast<int>(t) % 60);
    std::fflush(stderr);
  }
  void End() {
    if (terminal_) std::fprintf(stderr, "\n");
  }

 private:
  int Width() const { return static_cast<int>(std::to_string(total_).size()); }
  int total_, done_ = 0, failed_ = 0;
  bool terminal_;
  Clock::time_point start_;
};

double Number(const nlohmann::json& v) { return v.is_number() ? v.get<double>() : NAN; }

const nlohmann::json& Field(const nlohmann::json& j, const char* key) {
  static const nlohmann::json null;
  return j.is_object() && j.contains(key) ? j[key] : null;
}

// A row of the summary (batch_summary.h) from what a worker left: its outcome and fit.json.
SummaryRow RowOf(const BatchRow& row, const Outcome& o) {
  SummaryRow s;
  s.model = row.model;
  s.data = row.data;
  s.outcome = o.outcome;
  s.converged = o.converged;
  s.message = o.message;
  s.seconds = o.seconds;
  if (Field(o.fit, "calls").is_number()) s.calls = o.fit["calls"].get<int>();
  s.erreur_calc = Number(Field(o.fit, "ErreurCalc"));
  s.aic = Number(Field(o.fit, "aic"));
  for (const auto& a : Field(o.fit, "adjustables")) {
    SummaryAdjustable x;
    x.name = a.value("name", "");
    x.value = Number(Field(a, "value"));
    x.sd = Number(Field(a, "sd"));
    x.se = Number(Field(a, "se"));
    const nlohmann::json& ci = Field(a, "ci");
    x.lower = Number(Field(ci, "lower"));
    x.upper = Number(Field(ci, "upper"));
    if (Field(ci, "lower_open").is_boolean()) x.lower_open = ci["lower_open"].get<bool>();
    if (Field(ci, "upper_open").is_boolean()) x.upper_open = ci["upper_open"].get<bool>();
    s.adjustables.push_back(x);
  }
  s.warnings = o.warnings;
  for (const auto& w : Field(o.fit, "uncertainty_warnings"))
    if (w.is_string()) s.warnings.push_back(w.get<std::string>());
  return s;
}

void WriteSummary(const std::string& path, const std::vector<BatchRow>& rows,
                  const std::vector<Outcome>& outcomes) {
  std::vector<SummaryRow> summary;
  std::vector<std::vector<Cell>> lead;
  for (size_t r = 0; r < rows.size(); ++r) {
    summary.push_back(RowOf(rows[r], outcomes[r]));
    lead.push_back({static_cast<long long>(rows[r].number),
                    fs::path(rows[r].out).filename().string()});
  }
  std::ofstream(path, std::ios::binary) << SummaryCsv(BuildSummary({"row", "out"}, lead, summary));
}

int RunBatch(const BatchArgs& args) {
  const std::string dir =
      !args.out.empty() ? args.out
                        : (fs::path(args.manifest).parent_path() /
                           (fs::path(args.manifest).stem().string() + "-results"))
                              .string();
  std::vector<BatchRow> rows;
  std::vector<std::string> errors;
  if (ReadManifest(args.manifest, dir, rows, errors) != 0) return ReportBadInput(errors);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir))
    return ReportBadInput({"cannot create the output folder '" + dir + "'" +
                           (ec ? ": " + ec.message() : "")});
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const int jobs = args.jobs > 0 ? args.jobs : static_cast<int>(cores > 0 ? cores : 1);

  std::vector<Outcome> outcomes(rows.size());
  std::map<pid_t, std::pair<size_t, Clock::time_point>> running;
  Progress progress(static_cast<int>(rows.size()), isatty(2));
  struct sigaction on_int {}, old_int {};
  on_int.sa_handler = OnInterrupt;  // no SA_RESTART: waitpid returns when Ctrl-C comes
  sigaction(SIGINT, &on_int, &old_int);
  size_t next = 0;
  progress.Draw(0);
  while (running.size() > 0 || (next < rows.size() && !g_interrupted)) {
    while (!g_interrupted && next < rows.size() && static_cast<int>(running.size()) < jobs) {
      const size_t r = next++;
      const auto t0 = Clock::now();
      std::string message;
      const pid_t pid = Launch(rows[r], message);
      if (pid < 0) {
        outcomes[r].outcome = "failed";
        outcomes[r].message = message;
        progress.Finished(rows[r], outcomes[r], static_cast<int>(running.size()));
      } else {
        running[pid] = {r, t0};
      }
    }
    progress.Draw(static_cast<int>(running.size()));
    if (running.empty()) continue;
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      break;  // no child left: cannot happen while running is not empty
    }
    const auto it = running.find(pid);
    if (it == running.end()) continue;
    const auto [r, t0] = it->second;
    running.erase(it);
    outcomes[r].seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    Collect(rows[r], status, outcomes[r]);
    progress.Finished(rows[r], outcomes[r], static_cast<int>(running.size()));
  }
  sigaction(SIGINT, &old_int, nullptr);
  progress.End();
  for (auto& o : outcomes)
    if (o.outcome == "not run") o.message = "interrupted before it started";

  const std::string summary = (fs::path(dir) / "summary.csv").string();
  WriteSummary(summary, rows, outcomes);
  int converged = 0;
  for (const auto& o : outcomes) converged += o.converged;
  std::printf("%zu fits: %d converged, %zu not\n", rows.size(), converged,
              rows.size() - static_cast<size_t>(converged));
  for (size_t r = 0; r < rows.size(); ++r)
    if (!outcomes[r].converged)
      std::printf("  row %d (line %d) %s: %s\n", rows[r].number, rows[r].line,
                  outcomes[r].outcome.c_str(), outcomes[r].message.c_str());
  std::printf("wrote %s\n", summary.c_str());
  return converged == static_cast<int>(rows.size()) ? 0 : 1;
}

void AddBatchCommand(CLI::App& app) {
  auto args = std::make_shared<BatchArgs>();
  CLI::App* cmd = app.add_subcommand(
      "batch", "Run one fit per row of a manifest CSV in worker processes: folders and summary.csv");
  cmd->add_option("MANIFEST", args->manifest,
                  "CSV with a header: model, and optionally data, set, free, fixed, starts, "
                  "seed, method, tolerance, max_calls, out")
      ->required();
  cmd->add_option("-j,--jobs", args->jobs, "Fits at once (default: one per core)")
      ->check(CLI::Range(1, 4096));
  cmd->add_option("-o,--output", args->out,
                  "Batch folder: one folder per fit and summary.csv (default: MANIFEST-results "
                  "beside it)");
  SetStatusCallback(cmd, [args] { return RunBatch(*args); });
}

const Registration kRegistration{"batch", AddBatchCommand};

}  // namespace

}  // namespace tarvo::cli
