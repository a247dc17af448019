// A simulation of a model on a time grid of one's own choosing, without measurements, in a
// session of its own: the fitted curve of the plot (a dense grid, so the fit's own
// integration is never disturbed by extra points) and the synthetic data of the examples.
// Every adjustable keeps the value given; none is free; bound ones follow their equal_to.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "language/prepare.h"
#include "session/library_session.h"

namespace tarvo::frontend {

// A grid over the data's time span: each interval starts at the time of its first data point
// and runs to the next interval's start (its last grid point a hair before it, so the curve
// shows the state just before the reset), the last one to the last data time. About total
// points, at least 10 per interval. The first interval starts at t0 instead when t0 comes
// before its first point (the simulation starts there).
std::vector<DataPoint> DenseGrid(const Dataset& data, int outputs, int total = 600,
                                 double t0 = HUGE_VAL);

// Simulations of one model on one grid at as many value sets as asked: set up at the first,
// each later one only given its values (what the SE differences need: a dozen simulations of
// one model). Each result is the one SimulateAt would give. Not shared between threads.
// loaded, when given, is a session with p's model already set up on grid (whatever its
// adjustables' values and free flags), used instead of a set-up of its own; the caller keeps
// it alive and leaves it alone meanwhile. With lane 0 or more, that lane of loaded is walked
// instead (SessionLanes: prepared by the caller, lane below their number): the outputs alone,
// the same ones, and other lanes of loaded may be walked on other threads meanwhile.
class GridSimulator {
 public:
  GridSimulator(const Prepared& p, const std::vector<DataPoint>& grid, Session* loaded = nullptr,
                int lane = -1);
  ~GridSimulator();
  GridSimulator(const GridSimulator&) = delete;
  GridSimulator& operator=(const GridSimulator&) = delete;
  // As SimulateAt.
  int At(const std::vector<double>& values, std::vector<std::vector<double>>& ycalc,
         std::string& message);

 private:
  // 0, or 2 with the message naming the first output that left the finite numbers.
  int FiniteOutputs(const std::vector<std::vector<double>>& ycalc, std::string& message) const;

  const Prepared& p_;
  const std::vector<DataPoint>& grid_;
  std::unique_ptr<Session> own_;  // made at the first call that set up
  Session* session_ = nullptr;     // the one simulated: own_, or the one lent
  int lane_ = -1;                  // the lane of the one lent that is walked, if 0 or more
};

// 0 and the simulated outputs per grid point; 2 and a message when the library reports an
// error or raises a failure.
int SimulateAt(const Prepared& p, const std::vector<double>& values,
               const std::vector<DataPoint>& grid, std::vector<std::vector<double>>& ycalc,
               std::string& message);

// The model's curve at values on a dense grid over the data's time span (fewer points when a
// fixed-step method would do too much work). 0, or 2 with curve empty and a message.
int DenseCurve(const Prepared& p, const std::vector<double>& values,
               std::vector<DataPoint>& grid, std::vector<std::vector<double>>& curve,
               std::string& message);

}  // namespace tarvo::frontend
