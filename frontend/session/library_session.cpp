#include "session/library_session.h"

#include <mutex>
#include <new>

#include <pthread.h>
#include <unistd.h>

#include "api/instance.h"
#include "language/prepare.h"

namespace tarvo::frontend {

namespace {

// A refusal is reported through Erreur; its text only explains the code.
int Outcome(Session& s) {
  const FailureKind kind = s.instance->failure_kind;
  s.failure = s.instance->failure;
  if (kind != FailureKind::None && kind != FailureKind::Refused) return kRaised;
  return s.blocks.fitset.Erreur;
}

// What a session leaves to a later one, of any thread: its instance, with the model still
// loaded, whose next set-up replaces that model in the tables already mapped. A fit with
// intervals runs dozens of sessions, and the SE differences and profiles run theirs on fresh
// threads; two fresh tables for each cost more in page faults than the walks themselves. At
// most kMaxSpares are kept, process-wide.
// A child forked from this process (Python's multiprocessing does that) cannot use its
// parent's instances (their worker threads were not forked): they are let go unreleased,
// since releasing one joins its workers. Its copy of the lock is made anew (the parent's may
// have been held by another thread when it forked).
constexpr size_t kMaxSpares = 16;

struct Spares {
  std::vector<std::unique_ptr<Instance>> instances;
  pid_t owner = 0;  // the process that made them
  void Own() {
    if (owner == getpid()) return;
    for (auto& in : instances) (void)in.release();
    instances.clear();
    owner = getpid();
  }
  ~Spares() {
    if (owner != getpid())
      for (auto& in : instances) (void)in.release();
  }
};

// The lock lives in static storage and is never destroyed (sessions may end at exit). A
// forked child constructs it afresh in place: allocating there could wait forever on an
// allocator lock that another thread of the parent held when it forked (the tool forks the
// probe of a runaway simulation while starts run side by side).
alignas(std::mutex) unsigned char g_spares_lock_storage[sizeof(std::mutex)];
std::mutex* const g_spares_lock = new (g_spares_lock_storage) std::mutex;

Spares& ProcessSpares() {
  static Spares spares;
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { new (g_spares_lock_storage) std::mutex; });
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

// Keeps the instance for a later session when there is room (else it goes with the session).
void KeepInstance(std::unique_ptr<Instance>& in) {
  Spares& spares = ProcessSpares();
  std::lock_guard<std::mutex> lock(*g_spares_lock);
  spares.Own();
  if (spares.instances.size() < kMaxSpares) spares.instances.push_back(std::move(in));
}

// The fit threads of the sessions this thread starts (FitThreadsScope); 0: the library's choice.
int& ThreadFitThreads() {
  thread_local int n = 0;
  return n;
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
  s.lead = LeadPoints(model, points);
  s.points = static_cast<int>(points.size()) + s.lead;
  s.outputs = static_cast<int>(model.outputs.size());
  s.offsets.clear();
  for (const OutputDecl& o : model.outputs) s.offsets.push_back(o.offset);
  const std::vector<FileRecord> records =
      ExchangeRecords(points, s.offsets, s.lead > 0 ? std::optional(model.t0) : std::nullopt);
  BuildHostBlocks(model, text, s.points, "", values, free, s.blocks);
  HostBlocks& b = s.blocks;
  if (!s.instance) s.instance = TakeSpareInstance();
  if (!s.instance) s.instance = std::make_unique<Instance>();
  s.instance->state.fit_threads = ThreadFitThreads();  // a spare instance keeps the last one's
  // A fit whose walks are too short to share makes no workers (nor, then, lanes for its SEs).
  s.instance->state.defer_workers = true;
  // The points cross in memory, and the outputs are read from the instance (ReadResults):
  // no exchange file is written, read or rewritten.
  Instance_rewrite_file(*s.instance, false);
  Instance_give_records(*s.instance, records.data(), static_cast<int32_t>(records.size()));
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

namespace {

// The library's rows as the session's points see them: the start point left out, the offsets
// taken off again.
void ToSessionRows(const Session& s, std::vector<std::vector<double>>& ycalc) {
  ycalc.erase(ycalc.begin(), ycalc.begin() + s.lead);
  for (auto& row : ycalc)
    for (size_t o = 0; o < row.size(); ++o) row[o] -= s.offsets[o];
}

}  // namespace

int ReadResults(Session& s, std::vector<std::vector<double>>& ycalc) {
  if (!s.instance || !Instance_outputs(*s.instance, ycalc) ||
      ycalc.size() != static_cast<size_t>(s.points)) {
    s.failure = "no simulated outputs: the model is not loaded";
    ycalc.clear();
    return 2;
  }
  ToSessionRows(s, ycalc);
  return 0;
}

int SessionLanes(Session& s) {
  return s.loaded && s.instance ? Instance_lanes(*s.instance) : 0;
}

int WalkSessionLane(Session& s, int lane, const std::vector<double>& values,
                    std::vector<std::vector<double>>& ycalc, std::string& failure) {
  int16_t erreur = 0;
  if (!s.loaded || !s.instance) {
    failure = "the model is not loaded";
    return kRaised;
  }
  if (!Instance_walk(*s.instance, lane, values.data(), static_cast<int32_t>(values.size()), ycalc,
                     erreur, failure))
    return kRaised;
  if (ycalc.size() != static_cast<size_t>(s.points)) {
    failure = "no simulated outputs: the model is not loaded";
    return kRaised;
  }
  ToSessionRows(s, ycalc);
  return erreur;
}

void EndSession(Session& s) {
  if (s.instance) KeepInstance(s.instance);
  s.instance.reset();
  s.loaded = false;
  FreeHostRecords(s.blocks);
}

double LastWalkSeconds(const Session& s) {
  return s.instance ? s.instance->state.walk_seconds : 0.0;
}

double AdjustableValue(const Session& s, int a) { return s.blocks.adjustables.Value[a]; }
double AdjustableSD(const Session& s, int a) { return s.blocks.adjustables.SD[a]; }
bool AdjustableFree(const Session& s, int a) { return s.blocks.adjustables.Adjustable[a] != 0; }

}  // namespace tarvo::frontend
