#include "results/report.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "language/method_choice.h"
#include "results/uncertainty_report.h"

namespace tarvo::frontend {

std::string StartText(const Prepared& p) {
  if (p.experiments.empty()) {
    const double first = p.data.points.front().time;
    if (LeadPoints(p.model, p.data.points) > 0)
      return "t0 = " + Num(p.model.t0) + ", before the first data point (t = " + Num(first) + ")";
    return "the first data point, t = " + Num(first);
  }
  // Each experiment in its own time: at t0 before its first data point, or at that point.
  std::vector<std::string> each;
  for (const ExperimentSpan& x : p.experiments) {
    const size_t first = static_cast<size_t>(x.first_point + x.lead);
    const double t = first < p.data.points.size() ? p.data.points[first].time - x.offset : 0;
    each.push_back(x.lead > 0 ? "t0 = " + Num(p.model.t0) + ", before the first data point (t = " +
                                    Num(t) + ")"
                              : "the first data point, t = " + Num(t));
  }
  bool same = true;
  for (const std::string& e : each) same = same && e == each.front();
  if (same) return "in each experiment, " + each.front();
  std::string text;
  for (size_t i = 0; i < each.size(); ++i)
    text += (i == 0 ? "" : "; ") + p.experiments[i].name + ": " + each[i];
  return text;
}

namespace {

void PrintExperiments(std::FILE* out, const Prepared& p, const std::vector<ResidualSums>& sums) {
  if (p.experiments.empty() || sums.size() != p.experiments.size()) return;
  std::fprintf(out, "\nexperiment     points  values   weighted SSR   data\n");
  for (size_t i = 0; i < p.experiments.size(); ++i) {
    const ExperimentSpan& x = p.experiments[i];
    std::fprintf(out, "%-14s %6d %7d %14s   %s\n", x.name.c_str(), x.points - x.lead, sums[i].values,
                 Num(sums[i].ssr).c_str(), x.data.c_str());
  }
}

void PrintStarts(std::FILE* out, const FitResult& r) {
  if (r.starts.empty()) return;
  int reached = 0, converged = 0;
  for (const auto& st : r.starts) {
    reached += st.reached_best;
    converged += st.outcome == "converged";
  }
  std::fprintf(out, "\nMulti-start: %zu starts, %d converged, %d reached the best weighted SSR "
                    "(within %s of it); fit.json lists them all\n",
               r.starts.size(), converged, reached, Num(r.starts_tolerance).c_str());
}

}  // namespace

std::string FitReportText(const Prepared& p, const FitResult& r,
                          const std::vector<ResidualSums>& experiment_sums) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  if (!out) return "";
  PrintFitReport(out, p, r);
  PrintExperiments(out, p, experiment_sums);
  PrintStarts(out, r);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

void PrintFigures(std::FILE* out, const Figures& f, double error_type) {
  std::fprintf(out, "ErreurCalc  %-12s weighted mean squared residual of the model\n",
               Num(f.erreur_calc).c_str());
  std::fprintf(out, "ErreurExp   %-12s weighted scatter of the replicates about their means\n",
               Num(f.erreur_exp).c_str());
  std::fprintf(out, "Coeff       %-12s error model: variance = Coeff * Y^%s\n",
               Num(f.coeff).c_str(), Num(error_type).c_str());
  std::fprintf(out, "Data        %d measured values\n", f.data_values);
}

void PrintFitReport(std::FILE* out, const Prepared& p, const FitResult& r) {
  const Model& m = p.model;
  std::fprintf(out, "Model       %s\n", m.path.c_str());
  std::fprintf(out, "Data        %s (%d points)\n", p.data.path.c_str(), DataPoints(p));
  std::fprintf(out, "Method      %s, tolerance %s, error type %s\n", m.method.c_str(),
               Num(m.tolerance).c_str(), Num(m.error_type).c_str());
  for (const std::string& note : MethodNotes(p)) std::fprintf(out, "Note        %s\n", note.c_str());
  std::fprintf(out, "Start       %s\n", StartText(p).c_str());
  std::fprintf(out, "\n");
  if (r.outcome == "converged")
    std::fprintf(out, "The fit converged after %d call%s of Ajustement%s%s.\n", r.calls,
                 r.calls == 1 ? "" : "s", r.erreur_text.empty() ? "" : ": ",
                 r.erreur_text.c_str());
  else if (r.outcome == "not converged" && !r.erreur_text.empty())
    std::fprintf(out, "The fit did NOT converge (%d calls): %s.\n", r.calls,
                 r.erreur_text.c_str());
  else if (r.outcome == "not converged")
    std::fprintf(out, "The fit did NOT converge within %d calls (max_calls).\n", r.calls);
  else if (r.outcome == "interrupted")
    std::fprintf(out, "The fit was interrupted after %d calls.\n", r.calls);
  else
    std::fprintf(out, "The fit FAILED %s: %s\n",
                 (r.calls == 0 ? "before its first call" : "at call " + std::to_string(r.calls)).c_str(),
                 r.erreur_text.c_str());
  std::fprintf(out, "\n%-14s %14s %14s %8s  %s\n", "adjustable", "value", "SD", "SD %",
               "status");
  for (const AdjustableResult& a : r.adjustables) {
    std::string sd = "", rsd = "";
    if (a.has_sd) {
      sd = Num(a.sd);
      rsd = a.value != 0 ? Num(100 * a.sd / std::fabs(a.value), 3) : "-";
    } else if (a.status == "free") {
      sd = "-";
      rsd = "-";
    }
    std::string status = a.status;
    if (a.status == "bound") status += " (= " + a.equal_to + ")";
    std::fprintf(out, "%-14s %14s %14s %8s  %s\n", a.name.c_str(), Num(a.value).c_str(),
                 sd.c_str(), rsd.c_str(), status.c_str());
  }
  std::fprintf(out, "\n");
  PrintFigures(out, r.figures, m.error_type);
  std::fprintf(out, "Free        %d adjustables\n", r.free_count);
  if (r.outcome != "converged" && r.outcome != "failed")
    std::fprintf(out, "(standard deviations are computed at convergence only, or at every "
                      "call with sd_every_call = true)\n");
  if (r.outcome == "converged") PrintUncertainty(out, r.uncertainty);
}

std::string FitJsonText(const Prepared& p, const FitResult& r) {
  using nlohmann::json;
  json j;
  j["model"] = p.model.path;
  j["data"] = p.data.path;
  j["method"] = p.model.method;
  if (!p.method_choice.empty()) j["method_choice"] = p.method_choice;  // method = "auto"
  j["tolerance"] = p.model.tolerance;
  j["error_type"] = p.model.error_type;
  j["marquardt"] = p.model.marquardt;
  j["precision"] = p.model.precision;
  j["t0"] = p.model.t0;
  j["start"] = StartText(p);
  j["outcome"] = r.outcome;
  j["converged"] = r.outcome == "converged";
  j["calls"] = r.calls;
  j["max_calls"] = r.max_calls;
  j["erreur"] = r.erreur;
  j["erreur_text"] = r.erreur_text;
  j["ErreurCalc"] = r.figures.erreur_calc;
  j["ErreurExp"] = r.figures.erreur_exp;
  j["Coeff"] = r.figures.coeff;
  j["data_values"] = r.figures.data_values;
  j["free_adjustables"] = r.free_count;
  json adj = json::array();
  for (const AdjustableResult& a : r.adjustables) {
    json e{{"name", a.name}, {"value", a.value}, {"status", a.status}};
    if (a.has_sd) {
      e["sd"] = a.sd;
      if (a.value != 0) e["relative_sd_percent"] = 100 * a.sd / std::fabs(a.value);
    } else {
      e["sd"] = nullptr;
    }
    if (a.status == "bound") e["equal_to"] = a.equal_to;
    adj.push_back(e);
  }
  j["adjustables"] = adj;
  AddUncertaintyJson(j, r.uncertainty);
  json hist = json::array();
  for (const CallRecord& c : r.history) {
    json values = json::object();
    for (size_t a = 0; a < c.values.size() && a < r.adjustables.size(); ++a)
      values[r.adjustables[a].name] = c.values[a];
    hist.push_back({{"call", c.call}, {"ErreurCalc", c.erreur_calc}, {"change", c.change},
                    {"seconds", c.seconds}, {"erreur", c.erreur}, {"done", c.done},
                    {"values", values}});
  }
  j["history"] = hist;
  if (!r.starts.empty()) {
    json starts = json::array();
    for (const StartRecord& st : r.starts) {
      json from = json::object(), to = json::object();
      for (const auto& [name, v] : st.start) from[name] = v;
      for (const auto& [name, v] : st.end) to[name] = v;
      starts.push_back({{"start", st.number}, {"outcome", st.outcome}, {"ssr", st.ssr},
                        {"calls", st.calls}, {"reached_best", st.reached_best},
                        {"start_values", from}, {"values", to}});
    }
    j["starts"] = starts;
    j["starts_tolerance"] = r.starts_tolerance;
  }
  return j.dump(2) + "\n";
}

int WriteFitJson(const std::string& path, const Prepared& p, const FitResult& r,
                 std::string& message) {
  std::ofstream out(path);
  out << FitJsonText(p, r);
  if (!out) {
    message = "cannot write '" + path + "'";
    return 2;
  }
  return 0;
}

int WritePointsCsv(const std::string& path, const Prepared& p,
                   const std::vector<std::vector<double>>& ycalc, std::string& message) {
  std::ofstream out(path);
  out << "time,interval";
  for (const auto& o : p.model.outputs) out << "," << o.name << ".mean," << o.name << ".sim";
  for (size_t o = 0; o < p.model.outputs.size(); ++o)  // residual of each replicate
    for (int k = 1; k <= p.data.replicate_columns[o]; ++k)
      out << "," << p.model.outputs[o].name << ".res." << k;
  out << "\n";
  for (size_t j = 0; j < p.data.points.size(); ++j) {
    const DataPoint& pt = p.data.points[j];
    out << Num(pt.time, 17) << "," << pt.interval;
    for (size_t o = 0; o < p.model.outputs.size(); ++o) {
      double mean = 0;
      out << ",";
      if (MeanOf(pt, static_cast<int>(o), mean)) out << Num(mean, 17);
      out << "," << (j < ycalc.size() ? Num(ycalc[j][o], 17) : "");
    }
    for (size_t o = 0; o < p.model.outputs.size(); ++o)
      for (int k = 0; k < p.data.replicate_columns[o]; ++k) {
        const auto& reps = pt.values[o];
        out << ",";
        if (j < ycalc.size() && k < static_cast<int>(reps.size())) out << Num(reps[k] - ycalc[j][o], 17);
      }
    out << "\n";
  }
  if (!out) {
    message = "cannot write '" + path + "'";
    return 2;
  }
  return 0;
}

}  // namespace tarvo::frontend
