#include "session/library_session.h"

#include <cstdlib>
#include <mutex>
#include <filesystem>
#include <system_error>

#include <pthread.h>
#include <unistd.h>

#include "api/instance.h"
#include "language/prepare.h"

namespace tarvo::frontend {

namespace {

namespace fs = std::filesystem;

// A refusal is reported through Erreur; its text only explains the code.
int Outcome(Session& s) {
  const FailureKind kind = s.instance->failure_kind;
  s.failure = s.instance->failure;
  if (kind != FailureKind::None && kind != FailureKind::Refused) return kRaised;
  return s.blocks.fitset.Erreur;
}

// What a session leaves to the next session, of any thread: its instance, with the model
// still loaded, whose next set-up replaces that model in the tables already mapped, and its
// folder, emptied. A fit with intervals runs dozens of sessions, and the SE differences and
// profiles run theirs on fresh threads; two fresh tables for each cost more in page faults than
// the walks themselves. The spares are kept process-wide (at most kMaxSpares of each).
// A folder belongs to the process that made it: a child forked from this one (Python's
// multiprocessing does that) inherits the spares but must make folders of its own, or the two
// would write one exchange file, and it cannot use the parent's instances either (their
// worker threads were not forked; they are let go unreleased, since releasing one joins its
// workers). Its copy of the lock is made anew (the parent's may have been held by another
// thread when it forked).
constexpr size_t kMaxSpares = 16;

struct Spares {
  std::vector<std::unique_ptr<Instance>> instances;
  std::vector<std::string> folders;
  pid_t owner = 0;  // the process that made the folders and instances
  // Forgets what a parent process left (see above).
  void Own() {
    if (owner == getpid()) return;
    for (auto& in : instances) (void)in.release();
    instances.clear();
    folders.clear();
    owner = getpid();
  }
  ~Spares() {
    std::error_code ec;
    if (owner == getpid())
      for (const std::string& f : folders) fs::remove_all(f, ec);
    else
      for (auto& in : instances) (void)in.release();
  }
};

std::mutex* g_spares_lock = new std::mutex;  // never destroyed: sessions may end at exit

Spares& ProcessSpares() {
  static Spares spares;
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { g_spares_lock = new std::mutex; });
    return true;
  }();
  (void)registered;
  return spares;
}

std::unique_ptr<Instance> TakeSpareInstance() {
  Spares& spares = ProcessSpares();
  std::lock_guard<std::mutex> lock(*g_spares_lock);
  spares.Own();
  if (spares.instances.empty()) return nullptr;
  std::unique_ptr<Instance> in = std::move(spares.instances.back());
  spares.instances.pop_back();
  return in;
}

std::string TakeSpareFolder() {
  Spares& spares = ProcessSpares();
  std::lock_guard<std::mutex> lock(*g_spares_lock);
  spares.Own();
  if (spares.folders.empty()) return "";
  std::string f = std::move(spares.folders.back());
  spares.folders.pop_back();
  return f;
}

// Takes what the session leaves; false for what the pool has no room for.
bool KeepInstance(std::unique_ptr<Instance>& in) {
  Spares& spares = ProcessSpares();
  std::lock_guard<std::mutex> lock(*g_spares_lock);
  spares.Own();
  if (spares.instances.size() >= kMaxSpares) return false;
  spares.instances.push_back(std::move(in));
  return true;
}

bool KeepFolder(std::string& folder) {
  Spares& spares = ProcessSpares();
  std::lock_guard<std::mutex> lock(*g_spares_lock);
  spares.Own();
  if (spares.folders.size() >= kMaxSpares) return false;
  spares.folders.push_back(std::move(folder));
  return true;
}

// The fit threads of the sessions this thread starts (FitThreadsScope); 0: the library's choice.
int& ThreadFitThreads() {
  thread_local int n = 0;
  return n;
}

int MakeFolder(Session& s) {
  std::string folder = TakeSpareFolder();
  if (folder.empty()) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "tarvo-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      s.failure = "cannot create a temporary folder in " + base.string();
      return 2;
    }
    folder = pattern;
  }
  s.folder = folder;
  s.exchange = (fs::path(folder) / "points.dat").string();
  return 0;
}

}  // namespace

FitThreadsScope::FitThreadsScope(int n) : saved_(ThreadFitThreads()) { ThreadFitThreads() = n; }
FitThreadsScope::~FitThreadsScope() { ThreadFitThreads() = saved_; }

Session::Session() = default;
Session::~Session() { EndSession(*this); }

int StartSession(Session& s, const Model& model, const TranslatedModel& text,
                 const std::vector<DataPoint>& points, const std::vector<double>& values,
                 const std::vector<bool>& free) {
  EndSession(s);
  if (MakeFolder(s) != 0) return kNoFile;
  const std::vector<DataPoint> all = WithStartPoint(model, points);
  s.points = static_cast<int>(all.size());
  s.lead = static_cast<int>(all.size() - points.size());
  s.outputs = static_cast<int>(model.outputs.size());
  s.offsets.clear();
  for (const OutputDecl& o : model.outputs) s.offsets.push_back(o.offset);
  if (WriteExchangeFile(s.exchange, all, s.offsets, s.failure) != 0) return kNoFile;
  BuildHostBlocks(model, text, s.points, s.exchange, values, free, s.blocks);
  HostBlocks& b = s.blocks;
  if (!s.instance) s.instance = TakeSpareInstance();
  if (!s.instance) s.instance = std::make_unique<Instance>();
  s.instance->state.fit_threads = ThreadFitThreads();  // a spare instance keeps the last one's
  // The outputs are read from the instance (ReadResults), never from a rewritten file.
  Instance_rewrite_file(*s.instance, false);
  Instance_setup(*s.instance, &b.initials, &b.fitset, b.especes.data(), &b.adjustables,
                 b.parametres.data(), &b.sorties, b.derivees.data());
  s.loaded = true;
  return Outcome(s);
}

int RunSimulation(Session& s) {
  HostBlocks& b = s.blocks;
  Instance_simulate(*s.instance, &b.initials, &b.fitset, &b.adjustables);
  return Outcome(s);
}

int RunFitCall(Session& s) {
  HostBlocks& b = s.blocks;
  Instance_fit(*s.instance, &b.initials, &b.fitset, &b.adjustables);
  return Outcome(s);
}

int SetValues(Session& s, const std::vector<double>& values) {
  if (!s.loaded || !s.instance) return 2;
  for (size_t a = 0; a < values.size(); ++a) {
    if (!Instance_set_value(*s.instance, static_cast<int>(a), values[a])) return 2;
    s.blocks.adjustables.Value[a] = values[a];
  }
  return 0;
}

int ReadResults(Session& s, std::vector<std::vector<double>>& ycalc) {
  if (!s.instance || !Instance_outputs(*s.instance, ycalc) ||
      ycalc.size() != static_cast<size_t>(s.points)) {
    s.failure = "no simulated outputs: the model is not loaded";
    ycalc.clear();
    return 2;
  }
  ycalc.erase(ycalc.begin(), ycalc.begin() + s.lead);
  for (auto& row : ycalc)
    for (size_t o = 0; o < row.size(); ++o) row[o] -= s.offsets[o];
  return 0;
}

void EndSession(Session& s) {
  if (s.instance) KeepInstance(s.instance);
  s.instance.reset();
  s.loaded = false;
  if (!s.folder.empty()) {
    // The next session writes a new exchange file, not one truncated and rewritten: ext4
    // forces the latter to disk when it is closed.
    std::error_code ec;
    fs::remove(s.exchange, ec);
    if (!(!ec && fs::is_empty(s.folder, ec) && !ec && KeepFolder(s.folder)))
      fs::remove_all(s.folder, ec);
    s.folder.clear();
  }
  FreeHostRecords(s.blocks);
}

double AdjustableValue(const Session& s, int a) { return s.blocks.adjustables.Value[a]; }
double AdjustableSD(const Session& s, int a) { return s.blocks.adjustables.SD[a]; }
bool AdjustableFree(const Session& s, int a) { return s.blocks.adjustables.Adjustable[a] != 0; }

}  // namespace tarvo::frontend
