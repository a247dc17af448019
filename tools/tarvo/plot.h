// The picture of a simulation or fit, drawn with PLplot into SVG and PNG files: one panel per
// output with the measured replicates as points and the model's curve as a line (one piece
// per interval), the residuals below it, and the interval boundaries as dashed lines.
//
// In: the plot's data (results/plot_data.h). Out: BASE.svg and BASE.png.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "results/plot_data.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

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

}  // namespace tarvo::cli
