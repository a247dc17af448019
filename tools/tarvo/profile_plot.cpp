#include "tarvo/profile_plot.h"

#include <filesystem>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <plplot.h>

#include "tarvo/plot.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

enum Colour { kBackground = 0, kInk = 1, kPoint = 2, kThreshold = 3, kMark = 4 };

void Vertical(double x, double ylo, double yhi) {
  const double xs[2] = {x, x}, ys[2] = {ylo, yhi};
  plline(2, xs, ys);
}

void DrawPanel(const Profile& pr) {
  std::vector<double> x, y;
  for (const ProfilePoint& p : pr.points)
    if (std::isfinite(p.z)) x.push_back(p.value), y.push_back(p.z);
  double xlo = pr.estimate, xhi = pr.estimate, yhi = 1.3 * pr.threshold;
  for (size_t i = 0; i < x.size(); ++i) {
    xlo = std::min(xlo, x[i]);
    xhi = std::max(xhi, x[i]);
    yhi = std::max(yhi, std::min(y[i], 4 * pr.threshold));
  }
  if (!(xhi > xlo)) xlo -= 1, xhi += 1;
  const double pad = 0.04 * (xhi - xlo);
  plenv0(xlo - pad, xhi + pad, std::min(0.0, *std::min_element(y.begin(), y.end())), yhi, 0, 0);
  plcol0(kThreshold);
  pllsty(2);
  const double tx[2] = {xlo - pad, xhi + pad}, ty[2] = {pr.threshold, pr.threshold};
  plline(2, tx, ty);
  pllsty(1);
  plcol0(kMark);
  Vertical(pr.estimate, 0, yhi);
  pllsty(3);
  if (!pr.interval.lower_open) Vertical(pr.interval.lower, 0, yhi);
  if (!pr.interval.upper_open) Vertical(pr.interval.upper, 0, yhi);
  pllsty(1);
  plcol0(kPoint);
  std::vector<double> cx, cy;  // points above the panel are drawn at its top
  for (size_t i = 0; i < x.size(); ++i) cx.push_back(x[i]), cy.push_back(std::min(y[i], yhi));
  if (cx.size() >= 2) plline(static_cast<PLINT>(cx.size()), cx.data(), cy.data());
  plpoin(static_cast<PLINT>(cx.size()), cx.data(), cy.data(), 17);
  plcol0(kInk);
  pllab(Escape(pr.name).c_str(), "#gDSSR / s#u2#d", pr.interval.flat ? "flat: not identifiable" : "");
}

void DrawOne(const std::vector<Profile>& profiles, const char* device, const std::string& file) {
  const int n = static_cast<int>(profiles.size());
  const int cols = n > 1 ? 2 : 1, rows = (n + cols - 1) / cols;
  const std::string geometry = std::to_string(520 * cols) + "x" + std::to_string(400 * rows);
  plsdev(device);
  plsfnam(file.c_str());
  plsetopt("geometry", geometry.c_str());
  plscmap0n(6);
  plscol0(kBackground, 255, 255, 255);
  plscol0(kInk, 0, 0, 0);
  plscol0(kPoint, 31, 119, 180);
  plscol0(kThreshold, 214, 39, 40);
  plscol0(kMark, 120, 120, 120);
  plssub(cols, rows);
  plinit();
  plschr(0, 0.9);
  plssym(0, 0.8);
  for (int i = 0; i < n; ++i) {
    if (n > 1) pladv(0);  // with one panel plenv0 advances the page itself
    plcol0(kInk);
    DrawPanel(profiles[i]);
  }
  plend();
}

}  // namespace

int DrawProfiles(const std::vector<Profile>& profiles, const std::string& base,
                 std::vector<std::string>& written, std::string& message) {
  if (profiles.empty()) {
    message = "no profile to draw";
    return 2;
  }
  return DrawSvgAndPng(
      base,
      [&profiles](const char* device, const std::string& file) { DrawOne(profiles, device, file); },
      written, message);
}

void WriteProfilePlots(const std::vector<Profile>& profiles, const std::string& folder,
                       std::vector<std::string>& written, std::vector<std::string>& warnings) {
  if (profiles.empty()) return;
  std::string why;
  const std::string base = (std::filesystem::path(folder) / "profiles").string();
  if (DrawProfiles(profiles, base, written, why) != 0) warnings.push_back("no profile plot: " + why);
}

}  // namespace tarvo::cli
