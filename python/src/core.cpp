// tarvo._core: the front end's library (tarvo_frontend) for Python. A model file read once is
// a ModelFile; each fit or simulation prepares it afresh with the data and values given and
// runs in sessions of its own with the GIL released, so threads can fit models at once. A fit
// comes back as the library's own result types (FitResult and the types in it, bound here
// read-only); a table of numbers goes to the data reader as columns of numbers, without a
// text in between. The pure-Python package (tarvo/*.py) turns them into pandas objects.
//
// Failures raise TarvoError's kinds: InputError (a ValueError) with the library's messages
// (file, line and column), one per line; SimulationError when a simulation fails. A setting
// or value given in Python is named as its argument: "fixed=['nope']: ...".
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#ifdef TARVO_HAVE_METHODS
#include "engines/external/method_library.h"
#endif
#include "analysis/fit_run.h"
#include "analysis/residual_sums.h"
#include "analysis/simulate_at.h"
#include "analysis/simulate_run.h"
#include "language/model_warnings.h"
#include "results/batch_summary.h"
#include "language/sbml_export.h"
#include "language/sbml_import.h"
#include "results/plot_data.h"
#include "results/report.h"
#include "session/erreur_text.h"

namespace py = pybind11;
using namespace tarvo::frontend;

namespace {

struct InputFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct SimulationFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The Python classes of the two failures, made once when the module is imported.
PyObject* g_input_error = nullptr;
PyObject* g_simulation_error = nullptr;

void TranslateFailure(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const InputFailure& f) {
    PyErr_SetString(g_input_error, f.what());
  } catch (const SimulationFailure& f) {
    PyErr_SetString(g_simulation_error, f.what());
  }
}

[[noreturn]] void ThrowInput(const std::vector<std::string>& errors) {
  std::string text;
  for (const auto& e : errors) text += (text.empty() ? "" : "\n") + e;
  throw InputFailure(text);
}

std::string Shortest(double v) {
  char b[32];
  const auto r = std::to_chars(b, b + sizeof b, v);
  return std::string(b, r.ptr);
}

std::vector<std::string> OutputNames(const Model& m) {
  std::vector<std::string> names;
  for (const auto& o : m.outputs) names.push_back(o.name);
  return names;
}

// The data of a call: a file, a table of numbers (column names and a rows x columns array),
// or CSV text (a table with cells that are not numbers, for the reader to name); none: the
// file the model names. name stands for a table or text in messages.
struct DataSource {
  std::optional<std::string> path, text;
  std::optional<std::vector<std::string>> columns;
  std::vector<double> values;
  std::string name;
};

DataSource Source(const std::optional<std::string>& path,
                  const std::optional<std::vector<std::string>>& columns,
                  const std::optional<py::array_t<double, py::array::c_style | py::array::forcecast>>& table,
                  const std::optional<std::string>& text, const std::string& name) {
  DataSource d{path, text, columns, {}, name};
  if (columns) {
    if (!table || table->ndim() != 2 || static_cast<size_t>(table->shape(1)) != columns->size())
      throw std::invalid_argument("a table of " + std::to_string(columns->size()) +
                                  " columns was expected");
    d.values.assign(table->data(), table->data() + table->size());
  }
  return d;
}

// Start values as given in Python: the values of adjustables that are not bound, as
// "name=value" for the preparation, and those of bound ones apart (BoundValuesAgree).
struct GivenValues {
  std::vector<std::string> sets;
  std::vector<std::pair<int, double>> bound;
};

// "values={'k': 1.0}: ", as Python writes the argument.
std::string ValuesArg(const std::string& name, double v) {
  std::string number = Shortest(v);
  if (std::isfinite(v) && number.find_first_of(".e") == std::string::npos) number += ".0";
  return "values={'" + name + "': " + number + "}: ";
}

GivenValues Given(const Model& model, const std::vector<std::pair<std::string, double>>& values) {
  GivenValues g;
  std::vector<std::string> errors;
  for (const auto& [name, v] : values) {
    const int a = FindAdjustable(model, name);
    if (!std::isfinite(v)) errors.push_back(ValuesArg(name, v) + "not a finite number");
    else if (a < 0 && name.find('@') != std::string::npos)  // an experiment's copy: Prepare's
      g.sets.push_back(name + "=" + Shortest(v));
    else if (a < 0)
      errors.push_back(ValuesArg(name, v) + "'" + name + "' is not an adjustable of the model");
    else if (model.adjustables[a].bound) g.bound.emplace_back(a, v);
    else g.sets.push_back(name + "=" + Shortest(v));
  }
  if (!errors.empty()) ThrowInput(errors);
  return g;
}

// A bound adjustable follows its equal_to: a value given for it (a fit's values handed back)
// is taken when it is the one the formula gives at the other values, and refused otherwise.
// library holds every adjustable as the library set it.
void BoundValuesAgree(const Prepared& p, const GivenValues& g, const std::vector<double>& library) {
  std::vector<std::string> errors;
  for (const auto& [a, v] : g.bound) {
    const double got = library[a];
    if (std::fabs(v - got) <= 1e-9 * std::max(std::fabs(got), 1e-300)) continue;
    const auto& adj = p.model.adjustables[a];
    errors.push_back(ValuesArg(adj.name, v) + "'" + adj.name + "' is bound by equal_to (" +
                     adj.equal_to.text + "), which gives " + Shortest(got) +
                     " at the other values; leave it out, or set the adjustables it uses");
  }
  if (!errors.empty()) ThrowInput(errors);
}

Prepared PrepareWith(const Model& model, const std::vector<std::string>& sets,
                     const DataSource& source) {
  std::optional<Dataset> data;
  std::string message;
  if (source.path || source.text || source.columns) {
    data.emplace();
    const auto outputs = OutputNames(model);
    const int status =
        source.path ? ReadData(*source.path, outputs, *data, message)
        : source.columns
            ? ReadDataTable(*source.columns, source.values, source.name, outputs, *data, message)
            : ReadDataText(*source.text, source.name, outputs, *data, message);
    if (status != 0) ThrowInput({message});
  }
  Prepared p;
  std::vector<std::string> errors;
  if (PrepareModel(model, sets, data ? &*data : nullptr, p, errors) != 0) ThrowInput(errors);
  return p;
}

// One simulation of p at the data points, GIL released: 0, or throws.
void SimulateOrThrow(Prepared& p, SimulateRun& run) {
  std::string message;
  std::vector<std::string> errors;
  int status = 0;
  {
    py::gil_scoped_release release;
    status = SimulateOn(p, run, message, errors);
  }
  if (status == 2) ThrowInput(errors);
  if (status == 1) throw SimulationFailure(message);
  if (run.erreur != 0)
    throw SimulationFailure("the simulation failed: " +
                            SimulationErreurText(run.erreur, p.model.method));
}

Model ReadModelFile(const std::string& path) {
  Model m;
  std::string message;
  if (ReadModel(path, m, message) != 0) ThrowInput({message});
  return m;
}

Model ReadModelString(const std::string& text, const std::string& name) {
  Model m;
  std::string message;
  if (ReadModelText(text, name, m, message) != 0) ThrowInput({message});
  return m;
}

// The model file (TOML text) of an SBML file, as `tarvo import` writes it.
std::string ImportSbml(const std::string& path) {
  SbmlImport out;
  SbmlDiagnostic why;
  if (ImportSbmlFile(path, out, why) != 0) ThrowInput({DiagnosticText(path, why)});
  return out.toml;
}

// The model as SBML Level 3 Version 2, its declared adjustables at values (by name; others
// keep the model file's values).
std::string ExportSbmlText(const Model& model, const std::map<std::string, double>& values) {
  Model m = model;
  for (auto& a : m.adjustables)
    if (const auto it = values.find(a.name); it != values.end()) a.value = it->second;
  std::string xml;
  std::vector<std::string> problems;
  if (ExportSbml(m, xml, problems) != 0) ThrowInput(problems);
  return xml;
}

py::list Adjustables(const Model& m) {
  py::list out;
  for (const auto& a : m.adjustables)
    out.append(py::dict(py::arg("name") = a.name, py::arg("value") = a.value,
                        py::arg("free") = a.free, py::arg("bound") = a.bound));
  return out;
}

// The ident of Python's main thread, the only one that sees signals (set at import).
unsigned long g_main_thread = 0;

// Calls Python back from a fit running without the GIL: progress lines and Ctrl-C. An
// exception raised by the callable, or a KeyboardInterrupt, ends the fit after the current
// call and is raised again once the fit is over. A quiet fit, or one outside the main thread
// (where no signal ever arrives), never takes the GIL: a batch worker's event loop would
// otherwise wake for it at every fitting call.
struct Callbacks {
  py::object line;  // None, or a callable taking one line of text
  bool quiet = line.is_none();
  bool raised = false;

  void Say(const std::string& text) {
    if (quiet) return;
    py::gil_scoped_acquire gil;
    if (raised) return;
    try {
      line(text);
    } catch (py::error_already_set& e) {
      e.restore();
      raised = true;
    }
  }
  bool Stop() {
    if (raised || PyThread_get_thread_ident() != g_main_thread) return raised;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) raised = true;
    return raised;
  }
  FitProgress Progress() {
    FitProgress progress;
    progress.begin = [this] { Say(ProgressHeader()); };
    progress.call = [this](const CallRecord& c, double elapsed) { Say(ProgressLine(c, elapsed)); };
    progress.note = [this](const std::string& text) { Say(text + "\n"); };
    progress.stop = [this] { return Stop(); };
    return progress;
  }
};

// How messages name the settings: as the arguments of Model.fit.
std::string ArgumentName(Setting s, const std::string& value) {
  switch (s) {
    case Setting::kFree: return "free=['" + value + "']";
    case Setting::kFix: return "fixed=['" + value + "']";
    case Setting::kMethod: return "method='" + value + "'";
    case Setting::kTolerance: return "tolerance=" + value;
    case Setting::kMaxCalls: return "max_calls=" + value;
    case Setting::kStarts: return "starts=" + value;
    case Setting::kSeed: return "seed=" + value;
  }
  return value;
}

using Run = std::shared_ptr<FitRun>;

// The run, and the model's warnings (the command prints them before the fit).
std::pair<Run, std::vector<std::string>> Fit(const Model& model,
        const std::vector<std::pair<std::string, double>>& values, const DataSource& source,
        FitControl control, bool profiles, py::object progress) {
  const GivenValues given = Given(model, values);
  auto run = std::make_shared<FitRun>();
  run->p = PrepareWith(model, given.sets, source);
  if (!given.bound.empty()) {  // the start values the formulas give
    Prepared start = run->p;
    SimulateRun sim;
    SimulateOrThrow(start, sim);
    BoundValuesAgree(run->p, given, sim.values);
  }
  control.name = ArgumentName;
  FitOptions options;
  options.profiles = profiles;
  std::vector<std::string> errors;
  if (SetUpFit(control, *run, errors) != 0) ThrowInput(errors);
  options.control = control;
  std::vector<std::string> warnings = ModelWarnings(run->p);
  Callbacks callbacks{progress};
  int status = 0;
  {
    py::gil_scoped_release release;
    status = RunFitOn(*run, options, callbacks.Progress(), errors);
  }
  if (callbacks.raised) throw py::error_already_set();
  if (status != 0) ThrowInput(errors);
  return {run, warnings};
}

py::dict PlotDict(const FitRun& run) {
  std::vector<DataPoint> grid;
  std::vector<std::vector<double>> curve;
  std::string why;
  PlotData d;
  {
    py::gil_scoped_release release;
    if (!run.ycalc.empty()) DenseCurve(run.p, run.values, grid, curve, why);
    d = BuildPlotData(run.p, run.ycalc, grid, curve);
  }
  py::list panels;
  for (const Panel& pn : d.panels)
    panels.append(py::dict(py::arg("name") = pn.name, py::arg("point_t") = pn.point_t,
                           py::arg("point_y") = pn.point_y, py::arg("residual_t") = pn.residual_t,
                           py::arg("residual_y") = pn.residual_y, py::arg("curve_t") = pn.curve_t,
                           py::arg("curve_y") = pn.curve_y));
  return py::dict(py::arg("title") = d.title, py::arg("log_y") = d.log_y,
                  py::arg("time_label") = d.time_label,
                  py::arg("relative_residuals") = d.relative_residuals,
                  py::arg("boundaries") = d.boundaries,
                  py::arg("experiment_starts") = d.experiment_starts,
                  py::arg("experiment_names") = d.experiment_names, py::arg("panels") = panels,
                  py::arg("curve_problem") = why);
}

// The weighted residual sum of squares of the fit's end (residual_sums.h); NaN without one.
double Ssr(const FitRun& run) {
  return run.ycalc.empty() ? NAN : SumResiduals(run.p, run.ycalc).ssr;
}

// One simulation at the data points (the model's data, or those given): the time, interval
// and simulated outputs of every point.
py::dict Simulate(const Model& model, const std::vector<std::pair<std::string, double>>& values,
                  const DataSource& source) {
  const GivenValues given = Given(model, values);
  Prepared p = PrepareWith(model, given.sets, source);
  SimulateRun run;
  SimulateOrThrow(p, run);
  BoundValuesAgree(p, given, run.values);
  const size_t n = p.data.points.size(), k = p.model.outputs.size();
  py::array_t<double> time(n);
  py::array_t<long long> interval(n);
  py::array_t<double> y({n, k});
  auto t = time.mutable_unchecked<1>();
  auto iv = interval.mutable_unchecked<1>();
  auto yy = y.mutable_unchecked<2>();
  for (size_t j = 0; j < n; ++j) {
    t(j) = p.data.points[j].time;
    iv(j) = p.data.points[j].interval;
    for (size_t o = 0; o < k; ++o) yy(j, o) = run.ycalc[j][o];
  }
  return py::dict(py::arg("time") = time, py::arg("interval") = interval,
                  py::arg("outputs") = OutputNames(p.model), py::arg("values") = y);
}

// A summary row as a dict, to cross from a batch worker to the client, and back.
py::dict RowDict(const SummaryRow& r) {
  py::list adj;
  for (const SummaryAdjustable& a : r.adjustables)
    adj.append(py::make_tuple(a.name, a.value, a.sd, a.se, a.lower, a.upper, a.lower_open,
                              a.upper_open));
  return py::dict(py::arg("model") = r.model, py::arg("data") = r.data,
                  py::arg("outcome") = r.outcome, py::arg("message") = r.message,
                  py::arg("converged") = r.converged, py::arg("seconds") = r.seconds,
                  py::arg("calls") = r.calls, py::arg("ErreurCalc") = r.erreur_calc,
                  py::arg("aic") = r.aic, py::arg("ssr") = r.ssr, py::arg("adjustables") = adj,
                  py::arg("warnings") = r.warnings);
}

SummaryRow RowOf(const py::dict& d) {
  SummaryRow r;
  auto get = [&d](const char* key, auto& field) {
    if (d.contains(key) && !d[key].is_none())
      field = d[key].cast<std::remove_reference_t<decltype(field)>>();
  };
  get("model", r.model);
  get("data", r.data);
  get("outcome", r.outcome);
  get("message", r.message);
  get("converged", r.converged);
  get("seconds", r.seconds);
  get("ErreurCalc", r.erreur_calc);
  get("aic", r.aic);
  get("ssr", r.ssr);
  get("warnings", r.warnings);
  if (d.contains("calls") && !d["calls"].is_none()) r.calls = d["calls"].cast<int>();
  if (d.contains("adjustables"))
    for (const auto& item : d["adjustables"]) {
      const auto t = item.cast<py::tuple>();
      SummaryAdjustable a;
      a.name = t[0].cast<std::string>();
      a.value = t[1].cast<double>();
      a.sd = t[2].cast<double>();
      a.se = t[3].cast<double>();
      a.lower = t[4].cast<double>();
      a.upper = t[5].cast<double>();
      a.lower_open = t[6].cast<std::optional<bool>>();
      a.upper_open = t[7].cast<std::optional<bool>>();
      r.adjustables.push_back(a);
    }
  return r;
}

py::tuple Summary(const std::vector<std::string>& lead_columns,
                  const std::vector<std::vector<Cell>>& lead, const std::vector<py::dict>& rows,
                  const std::vector<std::string>& trail_columns,
                  const std::vector<std::vector<Cell>>& trail) {
  std::vector<SummaryRow> summary;
  for (const auto& d : rows) summary.push_back(RowOf(d));
  SummaryTable t = BuildSummary(lead_columns, lead, summary, trail_columns, trail);
  return py::make_tuple(t.columns, t.rows);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "tarvo's front end: model files, fits and simulations (use the tarvo package)";
#ifdef TARVO_HAVE_METHODS
  tarvo::RegisterMethodLibrary();  // "EXACT" and "BDF" for every model of the process
#endif
  g_main_thread =
      py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
  // InputError is both a TarvoError and a ValueError.
  PyObject* base = PyErr_NewException("tarvo._core.TarvoError", nullptr, nullptr);
  const py::tuple bases = py::make_tuple(py::handle(base), py::handle(PyExc_ValueError));
  g_input_error = PyErr_NewException("tarvo._core.InputError", bases.ptr(), nullptr);
  g_simulation_error = PyErr_NewException("tarvo._core.SimulationError", base, nullptr);
  m.add_object("TarvoError", py::handle(base));
  m.add_object("InputError", py::handle(g_input_error));
  m.add_object("SimulationError", py::handle(g_simulation_error));
  py::register_exception_translator(&TranslateFailure);

  py::class_<Model>(m, "ModelFile")
      .def_readonly("path", &Model::path)
      .def_property_readonly("outputs", &OutputNames)
      .def_property_readonly("adjustables", &Adjustables)
      .def_property_readonly("has_experiments",
                             [](const Model& md) { return !md.experiments.empty(); });
  m.def("read_model", &ReadModelFile, py::arg("path"));
  m.def("read_model_text", &ReadModelString, py::arg("text"), py::arg("name"));
  m.def("import_sbml", &ImportSbml, py::arg("path"));
  m.def("export_sbml", &ExportSbmlText, py::arg("model"), py::arg("values"));

  // The result types, read-only, as results/fit_result.h declares them.
  py::class_<Figures>(m, "Figures")
      .def_readonly("erreur_calc", &Figures::erreur_calc)
      .def_readonly("erreur_exp", &Figures::erreur_exp)
      .def_readonly("coeff", &Figures::coeff)
      .def_readonly("data_values", &Figures::data_values);
  py::class_<CallRecord>(m, "CallRecord")
      .def_readonly("call", &CallRecord::call)
      .def_readonly("erreur_calc", &CallRecord::erreur_calc)
      .def_readonly("change", &CallRecord::change)
      .def_readonly("seconds", &CallRecord::seconds)
      .def_readonly("erreur", &CallRecord::erreur)
      .def_readonly("done", &CallRecord::done)
      .def_readonly("values", &CallRecord::values);
  py::class_<AdjustableResult>(m, "AdjustableResult")
      .def_readonly("name", &AdjustableResult::name)
      .def_readonly("value", &AdjustableResult::value)
      .def_property_readonly("sd", [](const AdjustableResult& a) { return a.has_sd ? a.sd : NAN; })
      .def_readonly("status", &AdjustableResult::status)
      .def_readonly("equal_to", &AdjustableResult::equal_to);
  py::class_<StartRecord>(m, "StartRecord")
      .def_readonly("number", &StartRecord::number)
      .def_readonly("outcome", &StartRecord::outcome)
      .def_readonly("ssr", &StartRecord::ssr)
      .def_readonly("calls", &StartRecord::calls)
      .def_readonly("reached_best", &StartRecord::reached_best)
      .def_readonly("start", &StartRecord::start)
      .def_readonly("end", &StartRecord::end);
  py::class_<Interval>(m, "Interval")
      .def_readonly("computed", &Interval::computed)
      .def_readonly("level", &Interval::level)
      .def_readonly("lower", &Interval::lower)
      .def_readonly("upper", &Interval::upper)
      .def_readonly("lower_open", &Interval::lower_open)
      .def_readonly("upper_open", &Interval::upper_open)
      .def_readonly("flat", &Interval::flat)
      .def_readonly("note", &Interval::note);
  py::class_<Uncertainty>(m, "Uncertainty")
      .def_readonly("available", &Uncertainty::available)
      .def_readonly("why_not", &Uncertainty::why_not)
      .def_readonly("names", &Uncertainty::names)
      .def_readonly("values", &Uncertainty::values)
      .def_readonly("se", &Uncertainty::se)
      .def_readonly("covariance", &Uncertainty::covariance)
      .def_readonly("correlation", &Uncertainty::correlation)
      .def_readonly("dof", &Uncertainty::dof)
      .def_readonly("s2", &Uncertainty::s2)
      .def_property_readonly("aic", [](const Uncertainty& u) { return u.criteria.aic; })
      .def_property_readonly("aicc", [](const Uncertainty& u) { return u.criteria.aicc; })
      .def_property_readonly("bic", [](const Uncertainty& u) { return u.criteria.bic; })
      .def_readonly("intervals", &Uncertainty::intervals)
      .def_readonly("notes", &Uncertainty::notes);
  py::class_<Profile>(m, "Profile")
      .def_readonly("name", &Profile::name)
      .def_readonly("estimate", &Profile::estimate)
      .def_readonly("threshold", &Profile::threshold)
      .def_property_readonly("points",
                             [](const Profile& pr) {
                               std::vector<std::pair<double, double>> out;
                               for (const auto& pt : pr.points) out.emplace_back(pt.value, pt.z);
                               return out;
                             })
      .def_readonly("interval", &Profile::interval)
      .def_readonly("refits", &Profile::refits);
  py::class_<FitResult>(m, "FitResultData")
      .def_readonly("outcome", &FitResult::outcome)
      .def_readonly("calls", &FitResult::calls)
      .def_readonly("max_calls", &FitResult::max_calls)
      .def_readonly("erreur", &FitResult::erreur)
      .def_readonly("erreur_text", &FitResult::erreur_text)
      .def_readonly("non_finite", &FitResult::non_finite)
      .def_readonly("free_count", &FitResult::free_count)
      .def_readonly("figures", &FitResult::figures)
      .def_readonly("adjustables", &FitResult::adjustables)
      .def_readonly("history", &FitResult::history)
      .def_readonly("uncertainty", &FitResult::uncertainty)
      .def_readonly("starts", &FitResult::starts)
      .def_readonly("starts_tolerance", &FitResult::starts_tolerance);

  py::class_<FitRun, Run>(m, "FitRun")
      .def_property_readonly("result", [](const FitRun& r) -> const FitResult& { return r.r; },
                             py::return_value_policy::reference_internal)
      .def_readonly("profiles", &FitRun::profiles)
      .def_property_readonly("ssr", &Ssr)
      .def("report", [](const FitRun& r) { return FitReportText(r); })
      .def("json", [](const FitRun& r) { return FitJsonText(r.p, r.r); })
      .def("plot_data", &PlotDict)
      .def(
          "summary_row",
          [](const FitRun& r, const std::vector<std::string>& warnings) {
            SummaryRow row;
            row.warnings = warnings;
            SummarizeFit(r.r, Ssr(r), row);
            return RowDict(row);
          },
          py::arg("warnings"));

  m.def(
      "fit",
      [](const Model& model, const std::vector<std::pair<std::string, double>>& values,
         const std::optional<std::string>& data_path,
         const std::optional<std::vector<std::string>>& columns,
         const std::optional<py::array_t<double, py::array::c_style | py::array::forcecast>>& table,
         const std::optional<std::string>& data_text, const std::string& data_name,
         const std::vector<std::string>& free, const std::vector<std::string>& fixed,
         const std::optional<std::string>& method, std::optional<double> tolerance,
         std::optional<long long> max_calls, std::optional<long long> starts,
         std::optional<long long> seed, bool profiles, py::object progress) {
        FitControl c;
        c.free = free;
        c.fix = fixed;
        c.method = method;
        c.tolerance = tolerance;
        c.max_calls = max_calls;
        c.starts = starts;
        c.seed = seed;
        return Fit(model, values, Source(data_path, columns, table, data_text, data_name), c,
                   profiles, progress);
      },
      py::arg("model"), py::arg("values"), py::arg("data_path"), py::arg("columns"),
      py::arg("table"), py::arg("data_text"), py::arg("data_name"), py::arg("free"),
      py::arg("fixed"), py::arg("method"), py::arg("tolerance"), py::arg("max_calls"),
      py::arg("starts"), py::arg("seed"), py::arg("profiles"), py::arg("progress"));
  m.def(
      "simulate",
      [](const Model& model, const std::vector<std::pair<std::string, double>>& values,
         const std::optional<std::string>& data_path,
         const std::optional<std::vector<std::string>>& columns,
         const std::optional<py::array_t<double, py::array::c_style | py::array::forcecast>>& table,
         const std::optional<std::string>& data_text, const std::string& data_name) {
        return Simulate(model, values, Source(data_path, columns, table, data_text, data_name));
      },
      py::arg("model"), py::arg("values"), py::arg("data_path"), py::arg("columns"),
      py::arg("table"), py::arg("data_text"), py::arg("data_name"));
  m.def("summary_table", &Summary, py::arg("lead_columns"), py::arg("lead"), py::arg("rows"),
        py::arg("trail_columns"), py::arg("trail"));
  m.def("best_fit", &BestFit, py::arg("converged"), py::arg("ssr"));
}
