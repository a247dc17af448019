#include "tarvo/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include <plplot.h>

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

// Colour map 0 entries used below.
enum Colour { kBackground = 0, kInk = 1, kPoint = 2, kCurve = 3, kBoundary = 4, kZero = 5 };

void SetColours() {
  plscmap0n(8);
  plscol0(kBackground, 255, 255, 255);
  plscol0(kInk, 0, 0, 0);
  plscol0(kPoint, 31, 119, 180);
  plscol0(kCurve, 214, 39, 40);
  plscol0(kBoundary, 120, 120, 120);
  plscol0(kZero, 170, 170, 170);
}

struct Range {
  double lo = INFINITY, hi = -INFINITY;
  void Add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // Widened by a margin; a single value or no value still gives a usable range.
  void Finish(double margin) {
    if (!(lo <= hi)) lo = 0, hi = 1;
    if (hi - lo < 1e-300 + 1e-12 * std::fabs(hi)) {
      const double d = lo == 0 ? 1 : std::fabs(lo) * 0.1;
      lo -= d;
      hi += d;
    }
    const double d = (hi - lo) * margin;
    lo -= d;
    hi += d;
  }
};

// The largest of 1, 2, 5 times a power of ten not above x.
double NiceStep(double x) {
  const double p = std::pow(10.0, std::floor(std::log10(x)));
  return x >= 5 * p ? 5 * p : x >= 2 * p ? 2 * p : p;
}

double Y(const PlotData& d, double v) { return d.log_y ? (v > 0 ? std::log10(v) : NAN) : v; }

void Line(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() >= 2) plline(static_cast<PLINT>(x.size()), x.data(), y.data());
}

// The page in pixels, for markers of a fixed size in pixels whatever the panel's window.
struct Page {
  double width = 0, height = 0;
};

// An open circle at each point, drawn as lines in the current window: an octagon 4.5 pixels
// in radius, or where a panel holds so many points that larger ones would merge into a band, a
// diamond 2.5 pixels in radius, and only one of the markers that fall within half a pixel of
// each other (the others would draw over it). PLplot's own symbols take its text path: a
// glyph each in the SVG and a text layout each in the PNG, which for the 12,000 values of a
// large data set took most of the command's time and 12 MB of SVG.
void Markers(const Page& page, size_t n, const double* x, const double* y) {
  PLFLT vx0, vx1, vy0, vy1, wx0, wx1, wy0, wy1;
  plgvpd(&vx0, &vx1, &vy0, &vy1);
  plgvpw(&wx0, &wx1, &wy0, &wy1);
  const bool dense = n > 400;
  const double radius_px = dense ? 2.5 : 4.5;
  const int sides = dense ? 4 : 8;
  const double px_x = (vx1 - vx0) * page.width / (wx1 - wx0);  // pixels per unit of x
  const double px_y = (vy1 - vy0) * page.height / (wy1 - wy0);
  double ux[9], uy[9];  // the unit polygon, closed
  for (int k = 0; k <= sides; ++k) {
    const double angle = dense ? k * M_PI / 2 : (2 * k + 1) * M_PI / 8;
    ux[k] = std::cos(angle);
    uy[k] = std::sin(angle);
  }
  std::unordered_set<uint64_t> drawn;  // half-pixel cells already holding a marker
  double px[9], py[9];
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
    if (dense) {
      const auto cx = static_cast<int64_t>(std::floor(2 * (x[i] - wx0) * px_x));
      const auto cy = static_cast<int64_t>(std::floor(2 * (y[i] - wy0) * px_y));
      if (!drawn.insert(static_cast<uint64_t>(cx) << 32 ^ static_cast<uint64_t>(cy & 0xffffffff))
               .second)
        continue;
    }
    for (int k = 0; k <= sides; ++k)
      px[k] = x[i] + radius_px / px_x * ux[k], py[k] = y[i] + radius_px / px_y * uy[k];
    plline(sides + 1, px, py);
  }
}

void Boundaries(const PlotData& d, double ylo, double yhi, bool label) {
  plcol0(kBoundary);
  pllsty(2);
  for (double t : d.boundaries) {
    const double x[2] = {t, t}, y[2] = {ylo, yhi};
    plline(2, x, y);
  }
  pllsty(1);
  // Experiment starts: solid, in ink, each named at the top of the panel it crosses.
  plcol0(kInk);
  for (size_t k = 0; k < d.experiment_starts.size(); ++k) {
    const double t = d.experiment_starts[k];
    const double x[2] = {t, t}, y[2] = {ylo, yhi};
    if (k > 0) plline(2, x, y);
    if (label) plptex(t, yhi - 0.06 * (yhi - ylo), 1, 0, -0.1, Escape(d.experiment_names[k]).c_str());
  }
}

void DrawPanel(const PlotData& d, const Panel& p, const Page& page, double xlo, double xhi,
               double top, double height, bool last) {
  // Measured points and curve.
  Range yr;
  std::vector<double> py;
  for (double v : p.point_y) {
    py.push_back(Y(d, v));
    yr.Add(py.back());
  }
  std::vector<std::vector<double>> cy(p.curve_y.size());
  for (size_t k = 0; k < p.curve_y.size(); ++k)
    for (double v : p.curve_y[k]) {
      cy[k].push_back(Y(d, v));
      yr.Add(cy[k].back());
    }
  yr.Finish(0.06);
  plvpor(0.11, 0.96, top - 0.60 * height, top - 0.02 * height);
  plwind(xlo, xhi, yr.lo, yr.hi);
  Boundaries(d, yr.lo, yr.hi, true);
  plcol0(kCurve);
  plwidth(2.0);
  for (size_t k = 0; k < cy.size(); ++k) {
    std::vector<double> xs, ys;  // a log scale drops values not above 0
    for (size_t i = 0; i < cy[k].size(); ++i)
      if (std::isfinite(cy[k][i])) xs.push_back(p.curve_t[k][i]), ys.push_back(cy[k][i]);
    Line(xs, ys);
  }
  plwidth(1.0);
  plcol0(kPoint);
  std::vector<double> px, pyf;
  for (size_t i = 0; i < py.size(); ++i)
    if (std::isfinite(py[i])) px.push_back(p.point_t[i]), pyf.push_back(py[i]);
  Markers(page, px.size(), px.data(), pyf.data());
  plcol0(kInk);
  plbox("bcst", 0, 0, d.log_y ? "bcnstlv" : "bcnstv", 0, 0);
  plmtex("l", 5.5, 0.5, 0.5, Escape(p.name).c_str());

  // Residuals.
  Range rr;
  for (double r : p.residual_y) rr.Add(std::fabs(r));
  const double rmax = std::isfinite(rr.hi) && rr.hi > 0 ? rr.hi * 1.15 : 1.0;
  plvpor(0.11, 0.96, top - 0.92 * height, top - 0.70 * height);
  plwind(xlo, xhi, -rmax, rmax);
  Boundaries(d, -rmax, rmax, false);
  plcol0(kZero);
  const double zx[2] = {xlo, xhi}, zy[2] = {0, 0};
  plline(2, zx, zy);
  plcol0(kPoint);
  Markers(page, p.residual_t.size(), p.residual_t.data(), p.residual_y.data());
  plcol0(kInk);
  plsyax(8, 0);  // plain numbers: a scale factor label would collide with the panel above
  plbox(last ? "bcnst" : "bcst", 0, 0, "bcnstv", NiceStep(rmax * 0.8), 2);
  plsyax(0, 0);
  plmtex("l", 5.5, 0.5, 0.5, d.relative_residuals ? "resid. %" : "residual");
  if (last) plmtex("b", 3.2, 0.5, 0.5, Escape(d.time_label).c_str());
}

void DrawOne(const PlotData& d, const char* device, const std::string& file) {
  const int n = static_cast<int>(d.panels.size());
  const int height = std::max(620, 400 * n + 110);
  const Page page{1000, static_cast<double>(height)};
  const std::string geometry = "1000x" + std::to_string(height);
  plsdev(device);
  plsfnam(file.c_str());
  plsetopt("geometry", geometry.c_str());
  SetColours();
  plinit();
  pladv(0);
  // PLplot sizes characters in proportion to the page (its width plus its height), so a page
  // of many panels would get letters large enough to run over the panels: characters of the
  // size a page of two panels gets (PLplot's 19 pixels there, scaled by 0.85) on every page.
  PLFLT default_mm, current_mm, xmin_mm, xmax_mm, ymin_mm, ymax_mm;
  plgchr(&default_mm, &current_mm);
  plgspa(&xmin_mm, &xmax_mm, &ymin_mm, &ymax_mm);
  const double default_px = default_mm * page.width / (xmax_mm - xmin_mm);
  constexpr double kCharacterPx = 0.85 * 19.1;
  plschr(0, default_px > 0 ? kCharacterPx / default_px : 0.85);

  Range xr;
  for (const Panel& p : d.panels) {
    for (double t : p.point_t) xr.Add(t);
    for (const auto& piece : p.curve_t)
      for (double t : piece) xr.Add(t);
  }
  xr.Finish(0.02);

  plvpor(0.11, 0.96, 0.0, 1.0);
  plwind(0, 1, 0, 1);
  plcol0(kInk);
  plmtex("t", -1.6, 0.5, 0.5, Escape(d.title).c_str());
  plcol0(kBoundary);
  plmtex("t", -3.2, 0.5, 0.5,
         d.experiment_starts.empty()
             ? "points: measured replicates   line: model   dashes: interval boundaries"
             : "points: measured replicates   line: model   solid: experiments   dashes: "
               "interval boundaries");

  const double top = 1.0 - 90.0 / height, bottom = 55.0 / height;
  const double block = (top - bottom) / n;
  for (int i = 0; i < n; ++i)
    DrawPanel(d, d.panels[i], page, xr.lo, xr.hi, top - i * block, block, i == n - 1);
  plend();
}

}  // namespace

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '#') out += '#';
  }
  return out;
}

int DrawSvgAndPng(const std::string& base, const DrawToFile& draw,
                  std::vector<std::string>& written, std::string& message) {
  const struct {
    const char* device;
    const char* ext;
  } outputs[] = {{"svg", ".svg"}, {"pngcairo", ".png"}};
  for (const auto& o : outputs) {
    if (!HasPlotDevice(o.device)) {
      message = std::string("PLplot has no '") + o.device + "' device (install " +
                (std::strcmp(o.device, "svg") == 0 ? "libplplot17" : "plplot-driver-cairo") + ")";
      return 2;
    }
    const std::string file = base + o.ext;
    draw(o.device, file);
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) {
      message = "PLplot did not write '" + file + "'";
      return 2;
    }
    std::fclose(f);
    written.push_back(file);
  }
  return 0;
}

bool HasPlotDevice(const char* device) {
  // plgDevs fills arrays the caller provides; count gives their size on the way in.
  std::vector<const char*> menu_entries(128), name_entries(128);
  const char** menu = menu_entries.data();
  const char** names = name_entries.data();
  int count = 128;
  plgDevs(&menu, &names, &count);
  bool found = false;
  for (int i = 0; i < count; ++i) found = found || std::strcmp(names[i], device) == 0;
  return found;
}

int DrawPlot(const PlotData& data, const std::string& base, std::vector<std::string>& written,
             std::string& message) {
  if (data.panels.empty()) {
    message = "nothing to plot";
    return 2;
  }
  return DrawSvgAndPng(
      base, [&data](const char* device, const std::string& file) { DrawOne(data, device, file); },
      written, message);
}

}  // namespace tarvo::cli
