// One model loaded into an engine instance of its own (api/instance.h), driven the way a host
// drives the exported calls: the set-up loads the model, and simulations and fitting calls run
// on it. The points reach the set-up as exchange-file records in memory and the outputs are
// taken from the instance: no file is written or read. Ending the session hands the instance
// to a later session (of any thread), whose set-up replaces the model in the instance's
// tables. Sessions share nothing else, so several may live in one process and run in
// different threads (one thread per session at a time). This is the only file of the front end that
// calls the library's four procedures.
//
// A session's fits use the library's worker threads as the library chooses (the cores,
// TARVO_THREADS), unless a FitThreadsScope on the thread that starts the session says otherwise.
//
// Every call returns the Erreur the library reported, or kRaised when the call raised a
// failure (its text, as Tarvo_last_failure would give it, is put in the session's failure).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "session/host_blocks.h"

namespace tarvo {
struct Instance;
}

namespace tarvo::frontend {

inline constexpr int kRaised = -1;

struct Session {
  HostBlocks blocks;
  int points = 0;        // points handed to the set-up
  int lead = 0;          // of which the first ones are the start point at t0 (no data)
  int outputs = 0;
  std::vector<double> offsets;  // per output, added to the data and the formula
  bool loaded = false;   // Calcul_initial ran and the session has not ended
  std::string failure;   // text of the last raised failure
  std::unique_ptr<Instance> instance;  // made by StartSession
  Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();
};

// Sets the model up on the points (preceded by a start point at the model's t0 when it comes
// first, replicates shifted by each output's offset). Returns the set-up's Erreur or kRaised
// (message in session.failure).
int StartSession(Session& s, const Model& model, const TranslatedModel& text,
                 const std::vector<DataPoint>& points, const std::vector<double>& values,
                 const std::vector<bool>& free);

// While it lives, the sessions this thread starts set up their instance for n threads per fit
// (EngineState::fit_threads; 1 keeps each fit on its own thread, 0 lets the library choose):
// for sessions that already run side by side with others. Scopes nest; the figures are the
// same whatever n.
class FitThreadsScope {
 public:
  explicit FitThreadsScope(int n);
  ~FitThreadsScope();
  FitThreadsScope(const FitThreadsScope&) = delete;
  FitThreadsScope& operator=(const FitThreadsScope&) = delete;

 private:
  int saved_;
};

int RunSimulation(Session& s);
int RunFitCall(Session& s);

// Gives the loaded model's adjustables these values (every one, in order, the library's
// scale) for the next call, as a new session started with them would: the SE differences
// simulate one model at many values without setting it up again. 0, or 2 when no model is
// loaded or there are more values than adjustables.
int SetValues(Session& s, const std::vector<double>& values);

// Simulated outputs of the last simulation at the points given to StartSession, taken from
// the instance (the start point left out, the offsets taken off again).
int ReadResults(Session& s, std::vector<std::vector<double>>& ycalc);

// Lanes of the loaded model (fitting/lanes.h): its outputs at other values, walked side by
// side without a simulation's statistics. SessionLanes prepares them and gives their number
// (0 without a loaded model); they serve until the session's next call. WalkSessionLane walks
// one at values (every adjustable, the library's scale) and gives the outputs as ReadResults
// would after a simulation at those values; it returns that simulation's Erreur, or kRaised
// with the message in failure (not in the session, which the other lanes share). Different
// lanes may be walked on different threads at once.
int SessionLanes(Session& s);
int WalkSessionLane(Session& s, int lane, const std::vector<double>& values,
                    std::vector<std::vector<double>>& ycalc, std::string& failure);

// The release (the instance kept for a later session) and the blocks freed; safe to call twice.
void EndSession(Session& s);

// Wall-clock seconds of the last simulation's walk over the points (0 before any).
double LastWalkSeconds(const Session& s);

// Values, SD and flags as the library last handed them back in BAjustables.
double AdjustableValue(const Session& s, int a);
double AdjustableSD(const Session& s, int a);
bool AdjustableFree(const Session& s, int a);

}  // namespace tarvo::frontend
