// tarvo._core: the front end's library (tools/tarvo) for Python. A model file read once is a
// ModelFile; each fit or simulation prepares it afresh with the data and overrides given and
// runs in sessions of its own with the GIL released, so threads can fit models at once. The
// results come back as the command's own texts (report, fit.json) and plain lists; the
// pure-Python package (tarvo/__init__.py) turns them into pandas objects.
//
// Failures raise TarvoError's kinds: InputError (a ValueError) with the command's messages
// (file, line and column), one per line; SimulationError when a simulation fails.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>

#ifdef TARVO_HAVE_METHODS
#include "engines/external/method_library.h"
#endif
#include "session/erreur_text.h"
#include "analysis/fit_run.h"
#include "language/model_warnings.h"
#include "results/plot_data.h"
#include "analysis/simulate_at.h"
#include "analysis/simulate_run.h"

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

std::vector<std::string> OutputNames(const Model& m) {
  std::vector<std::string> names;
  for (const auto& o : m.outputs) names.push_back(o.name);
  return names;
}

// The model prepared with the overrides and, when given, data read from a file or CSV text
// (data_name names the text in messages).
Prepared PrepareWith(const Model& model, const std::vector<std::string>& sets,
                     const std::optional<std::string>& data_path,
                     const std::optional<std::string>& data_text, const std::string& data_name) {
  std::optional<Dataset> data;
  std::string message;
  if (data_path || data_text) {
    data.emplace();
    const int status = data_path ? ReadData(*data_path, OutputNames(model), *data, message)
                                 : ReadDataText(*data_text, data_name, OutputNames(model),
                                                *data, message);
    if (status != 0) ThrowInput({message});
  }
  Prepared p;
  std::vector<std::string> errors;
  if (PrepareModel(model, sets, data ? &*data : nullptr, p, errors) != 0) ThrowInput(errors);
  return p;
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

using Run = std::shared_ptr<FitRun>;

// The run, and the model's warnings (the command prints them before the fit).
std::pair<Run, std::vector<std::string>> Fit(const Model& model, const std::vector<std::string>& sets,
        const std::optional<std::string>& data_path, const std::optional<std::string>& data_text,
        const std::string& data_name, const std::vector<std::string>& free,
        const std::vector<std::string>& fix, const std::string& starts, const std::string& seed,
        bool profiles, py::object progress) {
  auto run = std::make_shared<FitRun>();
  run->p = PrepareWith(model, sets, data_path, data_text, data_name);
  FitOptions options;
  options.control.free = free;
  options.control.fix = fix;
  options.control.starts = starts;
  options.control.seed = seed;
  options.profiles = profiles;
  std::vector<std::string> errors;
  if (SetUpFit(options.control, *run, errors) != 0) ThrowInput(errors);
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
                  py::arg("boundaries") = d.boundaries, py::arg("panels") = panels,
                  py::arg("curve_problem") = why);
}

// One simulation at the data points (the model's data, or those given): the time, interval
// and simulated outputs of every point, and the goodness-of-fit figures.
py::dict Simulate(const Model& model, const std::vector<std::string>& sets,
                  const std::optional<std::string>& data_path,
                  const std::optional<std::string>& data_text, const std::string& data_name) {
  Prepared p = PrepareWith(model, sets, data_path, data_text, data_name);
  SimulateRun run;
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
  std::vector<double> time;
  std::vector<int> interval;
  for (const DataPoint& pt : p.data.points) {
    time.push_back(pt.time);
    interval.push_back(pt.interval);
  }
  return py::dict(py::arg("time") = time, py::arg("interval") = interval,
                  py::arg("outputs") = OutputNames(p.model), py::arg("values") = run.ycalc,
                  py::arg("ErreurCalc") = run.figures.erreur_calc,
                  py::arg("data_values") = run.figures.data_values);
}

// A table of numbers as the data file's text: the names, then a line per row with each number
// in its shortest exact form and NaN as an empty cell (a missing replicate). A DataFrame's
// numbers take this way: written cell by cell in Python they cost more than the fit's own
// Python call.
std::string DataText(const std::vector<std::string>& names,
                     const py::array_t<double, py::array::c_style | py::array::forcecast>& values) {
  if (values.ndim() != 2 || static_cast<size_t>(values.shape(1)) != names.size())
    throw std::invalid_argument("data_text: a table of " + std::to_string(names.size()) +
                                " columns was expected");
  std::string out;
  for (size_t c = 0; c < names.size(); ++c) out += (c ? "," : "") + names[c];
  out += '\n';
  const auto v = values.unchecked<2>();
  char cell[32];
  for (py::ssize_t i = 0; i < v.shape(0); ++i) {
    for (py::ssize_t j = 0; j < v.shape(1); ++j) {
      if (j) out += ',';
      if (std::isnan(v(i, j))) continue;
      const auto r = std::to_chars(cell, cell + sizeof cell, v(i, j));
      out.append(cell, r.ptr);
    }
    out += '\n';
  }
  return out;
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

  py::class_<FitRun, Run>(m, "FitRun")
      .def("report", [](const FitRun& r) { return FitReportText(r); })
      .def("json", [](const FitRun& r) { return FitJsonText(r.p, r.r); })
      .def("plot_data", &PlotDict);
  m.def("fit", &Fit, py::arg("model"), py::arg("sets"), py::arg("data_path"),
        py::arg("data_text"), py::arg("data_name"), py::arg("free"), py::arg("fix"),
        py::arg("starts"), py::arg("seed"), py::arg("profiles"), py::arg("progress"));
  m.def("data_text", &DataText, py::arg("names"), py::arg("values"));
  m.def("simulate", &Simulate, py::arg("model"), py::arg("sets"), py::arg("data_path"),
        py::arg("data_text"), py::arg("data_name"));
}
