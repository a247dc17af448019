#!/usr/bin/python3
"""Runs cases of the SBML Test Suite's semantic suite through `tarvo import` and
`tarvo simulate --times`, and compares every reported value with the case's results.

Usage: scripts/sbml_suite.py [--tarvo BINARY] [--jobs N] [--expected FILE] [--timing] CASE_FOLDER...

A case folder holds NNNNN-sbml-lLvV.xml (the highest level and version libSBML reads is
used), NNNNN-settings.txt and NNNNN-results.csv. One line per case:
  NNNNN pass
  NNNNN fail: VARIABLE, TIME, VALUE, EXPECTED
  NNNNN refused: REASON
then `N passed, N failed, N refused`. Exit status 1 when a case failed, or, with --expected,
when a case the file lists as passing no longer passes.
"""
import argparse
import concurrent.futures
import csv
import glob
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# RUNGE-KUTTA QC at this relative step tolerance meets the suite's tolerances (1e-4 relative
# at most) with room to spare, and stays within a few milliseconds per case.
TOLERANCE = "1e-10"


def read_settings(path):
    settings = {}
    with open(path) as f:
        for line in f:
            if ":" in line:
                key, value = line.split(":", 1)
                settings[key.strip()] = value.strip()
    names = lambda key: [v.strip() for v in settings.get(key, "").split(",") if v.strip()]
    return {
        "start": float(settings["start"]),
        "duration": float(settings["duration"]),
        "steps": int(float(settings["steps"])),
        "variables": names("variables"),
        "absolute": float(settings["absolute"]),
        "relative": float(settings["relative"]),
        "amount": set(names("amount")),
        "concentration": set(names("concentration")),
    }


def sbml_files(folder, case):
    """The case's SBML files, highest level and version first."""
    found = []
    for path in glob.glob(os.path.join(folder, case + "-sbml-l*v*.xml")):
        m = re.search(r"-sbml-l(\d+)v(\d+)\.xml$", path)
        if m:
            found.append(((int(m.group(1)), int(m.group(2))), path))
    return [p for _, p in sorted(found, reverse=True)]


def read_model(toml_text):
    """What the import's comments say of each SBML element: id -> (kind, name, held, value)."""
    elements = {}
    current = None
    for line in toml_text.splitlines():
        m = re.match(r"# SBML (species|parameter|compartment|local parameter) '([^']*)'", line)
        if m:
            current = {"kind": m.group(1), "id": m.group(2), "held": None, "block": None,
                       "name": None, "value": None, "bound": False, "formula": None}
            continue
        if current is None:
            continue
        m = re.match(r"# held as (a concentration|an amount) in compartment '([^']*)'", line)
        if m:
            current["held"] = ("concentration" if m.group(1) == "a concentration" else "amount",
                               m.group(2))
        m = re.match(r"\[\[(species|adjustables|outputs)\]\]", line)
        if m:
            current["block"] = m.group(1)
        m = re.match(r'name = "([^"]*)"', line)
        if m:
            current["name"] = m.group(1)
        m = re.match(r'formula = "(.*)"$', line)
        if m:
            current["formula"] = m.group(1)
        m = re.match(r"value = (\S+)", line)
        if m:
            current["value"] = float(m.group(1))
        if line.startswith("equal_to"):
            current["bound"] = True
        if line == "" and current["name"] is not None:
            elements.setdefault(current["id"], current)
            current = None
    if current is not None and current["name"] is not None:
        elements.setdefault(current["id"], current)
    return elements


def run_case(folder, tarvo):
    case = os.path.basename(os.path.normpath(folder))
    settings = read_settings(os.path.join(folder, case + "-settings.txt"))
    with tempfile.TemporaryDirectory(prefix="tarvo-sbml-") as work:
        model = os.path.join(work, "model.toml")
        reason = "no SBML file"
        imported = False
        for xml in sbml_files(folder, case):
            r = subprocess.run([tarvo, "import", "-q", xml, "-o", model],
                               capture_output=True, text=True)
            if r.returncode == 0:
                imported = True
                break
            reason = r.stderr.strip().splitlines()[-1] if r.stderr.strip() else "import failed"
            reason = reason.replace("tarvo: error: ", "")
            reason = re.sub("^" + re.escape(xml) + r"(:\d+)?: ", "", reason)
            if "(unreadable SBML)" not in reason and "(SBML level)" not in reason:
                break
        if not imported:
            return case, "refused", reason
        with open(model) as f:
            text = f.read()
        text = re.sub(r"(?m)^tolerance = .*$", "tolerance = " + TOLERANCE, text)
        elements = read_model(text)
        # The case's variables replace the model's outputs (a file holds at most 40).
        text = "\n\n".join(b for b in text.split("\n\n") if "[[outputs]]" not in b) + "\n"
        # Each reported variable becomes an output of its own, in the unit the case asks for.
        columns = {}
        for variable in settings["variables"]:
            e = elements.get(variable)
            if e is None:
                return case, "refused", ("variable '%s' is no species, parameter or compartment"
                                         % variable)
            formula = e["name"] if e["block"] != "outputs" else "(" + e["formula"] + ")"
            if e["kind"] == "species" and e["held"]:
                held, compartment = e["held"]
                wanted = ("amount" if variable in settings["amount"] else
                          "concentration" if variable in settings["concentration"] else held)
                if wanted != held:
                    size = elements[compartment]["name"]
                    formula = "%s%s%s" % (formula, "*" if wanted == "amount" else "/", size)
            columns[variable] = "sbml " + variable
            text += '\n[[outputs]]\nname = "%s"\nformula = "%s"\n' % (columns[variable], formula)
        with open(model, "w") as f:
            f.write(text)
        stop = settings["start"] + settings["duration"]
        grid = "%r:%r:%d" % (settings["start"], stop, settings["steps"])
        r = subprocess.run([tarvo, "simulate", model, "--times", grid, "-o", work],
                           capture_output=True, text=True)
        if r.returncode != 0:
            lines = r.stderr.strip().splitlines()
            why = lines[-1].replace("tarvo: error: ", "") if lines else "simulation failed"
            why = why.replace(model, "model")
            return case, "refused", "simulate: " + why
        with open(os.path.join(work, "times.csv")) as f:
            simulated = list(csv.DictReader(f))
    with open(os.path.join(folder, case + "-results.csv")) as f:
        table = [row for row in csv.reader(f, skipinitialspace=True) if row]
    # The first column is the time, whatever its name; a variable may be called "time" too.
    header = [h.strip() for h in table[0]]
    expected = table[1:]
    if len(simulated) != len(expected):
        return case, "fail", "%d times simulated, %d expected" % (len(simulated), len(expected))
    for variable in settings["variables"]:
        if variable not in header[1:]:
            return case, "fail", "results.csv has no column '%s'" % variable
        column = header.index(variable, 1)
        for row_s, row_e in zip(simulated, expected):
            t = float(row_e[0])
            if abs(float(row_s["time"]) - t) > 1e-9 * max(1.0, abs(t)):
                return case, "fail", "time %s simulated where %s expected" % (row_s["time"], t)
            want = float(row_e[column])
            got = float(row_s[columns[variable]])
            if not abs(got - want) <= settings["absolute"] + settings["relative"] * abs(want):
                return case, "fail", "%s, %s, %.10g, %.10g" % (variable, "%.10g" % t, got, want)
    return case, "pass", ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tarvo", default=os.path.join(HERE, "..", "build", "tarvo"))
    parser.add_argument("--jobs", "-j", type=int, default=1)
    parser.add_argument("--expected", help="file listing the cases that must pass")
    parser.add_argument("--timing", action="store_true", help="print the seconds of each case")
    parser.add_argument("cases", nargs="+")
    args = parser.parse_args()
    tarvo = os.path.abspath(args.tarvo)
    counts = {"pass": 0, "fail": 0, "refused": 0}
    outcome = {}

    def timed(folder):
        t0 = time.perf_counter()
        result = run_case(folder, tarvo)
        return result + (time.perf_counter() - t0,)

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for case, status, detail, seconds in pool.map(timed, sorted(args.cases)):
            counts[status] += 1
            outcome[case] = status
            line = case + " " + status + (": " + detail if detail else "")
            if args.timing:
                line += " (%.3f s)" % seconds
            print(line, flush=True)
    print("%d passed, %d failed, %d refused" % (counts["pass"], counts["fail"], counts["refused"]))
    bad = counts["fail"] > 0
    if args.expected:
        with open(args.expected) as f:
            listed = [l.split()[0] for l in f if l.strip() and not l.startswith("#")]
        lost = [c for c in listed if c in outcome and outcome[c] != "pass"]
        if lost:
            print("no longer passing: " + " ".join(lost))
            bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
