// The picture of a simulation or fit, drawn with PLplot into SVG and PNG files: one panel per
// output with the measured replicates as points and the model's curve as a line (one piece
// per interval), the residuals below it, and the interval boundaries as dashed lines.
//
// In: plain vectors the caller fills (BuildPlotData does it from a prepared model, the
// simulated values at the data points and a dense curve). Out: BASE.svg and BASE.png.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tarvo/prepare.h"

namespace tarvo::tool {

struct Panel {
  std::string name;
  std::vector<double> point_t, point_y;        // measured replicates
  std::vector<double> residual_t, residual_y;  // replicate minus simulated, per replicate
  std::vector<std::vector<double>> curve_t, curve_y;  // one piece per interval
};

struct PlotData {
  std::string title;
  bool log_y = false;
  std::string time_label = "time";
  bool relative_residuals = false;  // residuals in % of the simulated value
  std::vector<double> boundaries;   // times at which intervals 2, 3, ... begin
  std::vector<Panel> panels;
};

// ycalc: simulated outputs at the data points (may be empty); grid and curve: the dense
// simulation (may be empty when it failed).
PlotData BuildPlotData(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                       const std::vector<DataPoint>& grid,
                       const std::vector<std::vector<double>>& curve);

// True when PLplot has the device (for instance "svg", "pngcairo").
bool HasPlotDevice(const char* device);

// Text for PLplot, which reads '#' as the start of an escape sequence.
std::string Escape(const std::string& s);

// Draws one picture twice, into base + ".svg" and base + ".png": draw(device, file) selects
// the device and file, draws and ends the plot. Checks that each device exists and that each
// file was written; the names written are added to written. 0, or 2 and a message.
using DrawToFile = std::function<void(const char* device, const std::string& file)>;
int DrawSvgAndPng(const std::string& base, const DrawToFile& draw,
                  std::vector<std::string>& written, std::string& message);

// Writes base + ".svg" and base + ".png"; the names written are added to written. 0, or 2
// and a message.
int DrawPlot(const PlotData& data, const std::string& base, std::vector<std::string>& written,
             std::string& message);

}  // namespace tarvo::tool
