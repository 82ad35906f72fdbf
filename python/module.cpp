// The ctgbatch Python module's compiled part, _ctgbatch: the solver library
// behind plain handles, every table handed over as the CSV text the
// programs write (the package's Python part makes DataFrames of them).
//
// A RawHandle and a BaseHandle are never written after they are made, so
// Python threads may share them; each call of run_blocks solves on
// workspaces of its own, with the GIL released.

#include "cli/options.h"
#include "contingency/contingency.h"
#include "contingency/ctg_list.h"
#include "io/input_error.h"
#include "monitor/grammar.h"
#include "monitor/select.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "powerflow/flows.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "report/report.h"
#include "results/columns.h"
#include "results/ctg_run.h"
#include "results/facts_csv.h"
#include "results/results.h"
#include "results/units.h"
#include "results/violation_tags.h"

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// A RAW file as read.
struct RawHandle {
    std::shared_ptr<const RawCase> raw;
};

// A solved base case and all a contingency run reads of it: the network it
// was solved on (controls adjusted where they act), its options and the
// base case's assessment.
struct BaseHandle {
    std::shared_ptr<const RawCase> raw;
    PfOptions opt;
    std::unique_ptr<Network> net;
    std::unique_ptr<BaseCase> bc;
    ControlsOutcome controls;
    Assessment assessment;
    BaseValues base_vals;
    std::string options_name; // names the options in messages
};

RawHandle read_raw_file(const std::string &path, int raw_version)
{
    RawHandle h;
    const py::gil_scoped_release unlocked;
    h.raw = std::make_shared<const RawCase>(read_raw(path, raw_version));
    return h;
}

// The CSV text of some of the RAW's records: one row per record, the
// columns `header` names.
template <class T, class Row> std::string records_csv(const std::vector<T> &records, const char *header, Row row)
{
    std::string s = std::string(header) + "\n";
    for (const T &r : records) {
        s += row(r) + "\n";
    }
    return s;
}

// A string as one CSV field: quoted, quotes doubled.
std::string quoted(const std::string &s)
{
    std::string q = "\"";
    for (const char c : s) {
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return q + "\"";
}

// The network's records as read, each table's CSV text by name: buses,
// loads, units, branches (lines), transformers (two- and three-winding).
py::dict raw_tables(const RawHandle &h)
{
    const RawCase &r = *h.raw;
    const auto n = [](double x) { return num(x); };
    const auto i = [](int x) { return std::to_string(x); };
    py::dict d;
    d["buses"] = records_csv(
        r.buses, "number,name,base_kv,ide,area,zone,owner,vm,va_deg,nvhi,nvlo,evhi,evlo,line", [&](const Bus &b) {
            return i(b.number) + "," + quoted(b.name) + "," + n(b.base_kv) + "," + i(b.ide) + "," + i(b.area) + "," +
                   i(b.zone) + "," + i(b.owner) + "," + n(b.vm) + "," + n(b.va_deg) + "," + n(b.nvhi) + "," +
                   n(b.nvlo) + "," + n(b.evhi) + "," + n(b.evlo) + "," + i(b.line);
        });
    d["loads"] = records_csv(r.loads, "bus,id,status,pl,ql,ip,iq,yp,yq,line", [&](const Load &l) {
        return i(l.bus) + "," + quoted(l.id) + "," + i(l.status) + "," + n(l.pl) + "," + n(l.ql) + "," + n(l.ip) + "," +
               n(l.iq) + "," + n(l.yp) + "," + n(l.yq) + "," + i(l.line);
    });
    d["units"] = records_csv(r.units, "bus,id,pg,qg,qt,qb,vs,ireg,mbase,status,pt,pb,line", [&](const Unit &u) {
        return i(u.bus) + "," + quoted(u.id) + "," + n(u.pg) + "," + n(u.qg) + "," + n(u.qt) + "," + n(u.qb) + "," +
               n(u.vs) + "," + i(u.ireg) + "," + n(u.mbase) + "," + i(u.status) + "," + n(u.pt) + "," + n(u.pb) + "," +
               i(u.line);
    });
    d["branches"] = records_csv(
        r.branches, "from,to,ckt,r,x,b,rate1,rate2,rate3,status,switching_device,line", [&](const Branch &b) {
            return i(b.from) + "," + i(b.to) + "," + quoted(b.ckt) + "," + n(b.r) + "," + n(b.x) + "," + n(b.b) + "," +
                   n(b.rate[0]) + "," + n(b.rate[1]) + "," + n(b.rate[2]) + "," + i(b.status) + "," +
                   i(b.switching_device ? 1 : 0) + "," + i(b.line);
        });
    d["transformers"] = records_csv(
        r.transformers, "i,j,k,ckt,name,r12,x12,windv1,windv2,ang1_deg,status,line", [&](const Transformer &t) {
            return i(t.i) + "," + i(t.j) + "," + i(t.k) + "," + quoted(t.ckt) + "," + quoted(t.name) + "," + n(t.r12) +
                   "," + n(t.x12) + "," + n(t.windings[0].windv) + "," + n(t.windings[1].windv) + "," +
                   n(t.windings[0].ang_deg) + "," + i(t.status) + "," + i(t.line);
        });
    return d;
}

// Counts, SBASE and revision of the file as read.
py::dict raw_summary(const RawHandle &h)
{
    const RawCase &r = *h.raw;
    py::dict d;
    d["file"] = r.file;
    d["revision"] = r.rev;
    d["sbase"] = r.sbase;
    d["buses"] = r.buses.size();
    d["loads"] = r.loads.size();
    d["fixed_shunts"] = r.fixed_shunts.size();
    d["units"] = r.units.size();
    d["branches"] = r.branches.size();
    d["transformers"] = r.transformers.size();
    d["switched_shunts"] = r.switched_shunts.size();
    d["two_terminal_dc"] = r.two_terminal_dc.size();
    d["vsc_dc"] = r.vsc_dc.size();
    return d;
}

// The base case as vandrelsolve solves it: options checked against the
// RAW, the monitor file (none where `monitor_path` is empty) read, the
// network built and the monitor file selected in it (its warnings among the
// network's notes), the base case solved with its controls; its assessment
// and the base values contingencies are tagged against where it converged.
std::shared_ptr<BaseHandle> solve_base(const RawHandle &h, const std::string &options_json,
                                       const std::string &options_name, const std::string &monitor_path)
{
    auto b = std::make_shared<BaseHandle>();
    b->raw = h.raw;
    b->options_name = options_name;
    b->opt = parse_options(options_json, options_name);
    check_rating_sets(*h.raw, options_name, b->opt);
    std::optional<MonitorFile> mon;
    if (!monitor_path.empty()) {
        mon = read_monitor(monitor_path);
    }
    const py::gil_scoped_release unlocked;
    b->net = std::make_unique<Network>(
        build_network(*h.raw, b->opt.zero_impedance_threshold_pu, b->opt.remote_regulation, b->opt.auto_swing));
    std::optional<MonitorSelection> sel;
    if (mon) {
        sel = select_monitored(*mon, *b->net);
        b->net->notes.insert(b->net->notes.end(), sel->warnings.begin(), sel->warnings.end());
    }
    b->bc = std::make_unique<BaseCase>(solve_base_case_with_controls(*b->net, b->opt, b->controls));
    if (b->bc->sol.converged) {
        if (sel) {
            b->bc->monitor = std::make_shared<const MonitorCriteria>(monitor_criteria(*sel, *b->net, b->bc->sol));
        }
        b->assessment = assess(*b->net, b->bc->on, b->bc->sol, b->opt.base_rating, false, -1, nullptr, nullptr,
                               b->bc->monitor.get());
        b->base_vals = base_values(*b->net, *b->bc, b->assessment);
    }
    return b;
}

// The base files' CSV text by name, as vandrelsolve writes them: buses,
// units, branches, violations; dclines where the case has DC lines;
// controls where any regulation or acting control has a row.
py::dict base_tables(const BaseHandle &b)
{
    py::dict d;
    const Network &net = *b.net;
    const BaseCase &bc = *b.bc;
    d["buses"] = base_buses_csv(net, bc);
    d["units"] = units_csv(b.raw->units, solved_base(net, bc));
    d["branches"] = base_branches_csv(net, bc, b.opt.base_rating);
    d["violations"] = base_violations_csv(b.assessment);
    if (has_dc_lines(net)) {
        d["dclines"] = base_dclines_csv(net, bc);
    }
    if (!net.facts.empty()) {
        d["facts"] = facts_csv(solved_base(net, bc));
    }
    if (bc.monitor != nullptr) {
        d["interfaces"] = base_interfaces_csv(*bc.monitor, b.assessment);
    }
    const std::vector<ControlRow> rows = base_controls_file_rows(net, bc, b.opt, b.controls);
    if (!rows.empty()) {
        d["controls"] = controls_csv(rows);
    }
    return d;
}

// What the base case's solve did.
py::dict base_info(const BaseHandle &b)
{
    const PfSolution &s = b.bc->sol;
    py::dict d;
    d["converged"] = s.converged;
    d["iterations"] = s.iterations;
    d["max_mismatch_pu"] = s.last.max_mismatch;
    d["failure"] = s.converged ? std::string() : base_case_failure(*b.net, *b.bc);
    d["buses_cut_off"] = b.bc->cut_off;
    d["response_note"] = b.bc->response_note;
    return d;
}

// The contingencies of a list (a path, or the list's text when
// `is_text`) solved against the base case on `threads` threads: the
// results, violations and interfaces files' CSV text, and the blocks
// solved. progress(done, total) is called with the GIL held between blocks
// and may stop the run by raising; Ctrl-C stops it too.
py::dict run_blocks(const std::shared_ptr<BaseHandle> &b, const std::string &contingencies, bool is_text, int threads,
                    const py::object &progress)
{
    if (!b->bc->sol.converged) {
        throw InputError(b->raw->file, 0, base_case_failure(*b->net, *b->bc));
    }
    const std::vector<CtgBlock> blocks = is_text ? cut_ctg_blocks(contingencies) : read_ctg_blocks(contingencies);
    CtgRunInput in{b->net.get(), b->bc.get(), &b->opt, &b->base_vals, &blocks, std::string(), nullptr};
    std::optional<py::error_already_set> failed;
    const CtgProgress report = [&progress, &failed](std::size_t done, std::size_t total) {
        const py::gil_scoped_acquire locked;
        try {
            if (PyErr_CheckSignals() != 0) {
                throw py::error_already_set();
            }
            if (!progress.is_none()) {
                progress(done, total);
            }
            return true;
        } catch (py::error_already_set &e) {
            failed.emplace(std::move(e));
            return false;
        }
    };
    std::vector<CtgRows> rows;
    {
        const py::gil_scoped_release unlocked;
        rows = solve_blocks(in, 0, blocks.size(), threads, nullptr, report);
    }
    if (failed) {
        throw std::move(*failed);
    }
    std::string results = header_line(results_columns);
    std::string violations = header_line(violations_columns);
    std::string interfaces = header_line(interfaces_columns);
    for (const CtgRows &r : rows) {
        results += r.results;
        violations += r.violations;
        interfaces += r.interfaces;
    }
    py::dict d;
    d["results"] = results;
    d["violations"] = violations;
    if (b->bc->monitor != nullptr) {
        d["interfaces"] = interfaces;
    }
    d["blocks"] = blocks.size();
    return d;
}

// ctgreport's merge of a finished run in work_dir: the report, violations
// and (with a monitor file) interfaces files' CSV text, the completeness
// verdict and each rank's check.
py::dict read_report(const std::string &work_dir)
{
    std::optional<Report> r;
    {
        const py::gil_scoped_release unlocked;
        r.emplace(build_report(work_dir));
    }
    py::dict d;
    d["report"] = report_csv(*r);
    d["violations"] = violations_csv(*r);
    if (!r->interfaces.empty()) {
        d["interfaces"] = interfaces_csv(*r);
    }
    d["ranks"] = r->ranks;
    d["blocks"] = r->blocks.size();
    d["missing"] = r->missing;
    py::list checks;
    for (const RankCheck &c : r->checks) {
        checks.append(py::make_tuple(c.rank, c.first, c.count, c.ok, c.why));
    }
    d["checks"] = checks;
    d["beyond"] = r->beyond;
    return d;
}

} // namespace

PYBIND11_MODULE(_ctgbatch, m)
{
    m.doc() = "The compiled part of ctgbatch: the solver library's steps, tables as CSV text";
    // InputError is the Python package's class (a ValueError with the file
    // and line), looked up when one is raised.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) {
                std::rethrow_exception(p);
            }
        } catch (const InputError &e) {
            const py::object cls = py::module_::import("ctgbatch").attr("InputError");
            const py::object err = cls(where_what(e), e.file, e.line, std::string(e.what()));
            PyErr_SetObject(cls.ptr(), err.ptr());
        }
    });
    py::class_<RawHandle>(m, "RawHandle")
        .def("tables", &raw_tables)
        .def("summary", &raw_summary)
        .def_property_readonly("notes", [](const RawHandle &h) { return h.raw->notes; });
    py::class_<BaseHandle, std::shared_ptr<BaseHandle>>(m, "BaseHandle")
        .def("tables", &base_tables)
        .def("info", &base_info)
        .def_property_readonly("notes", [](const BaseHandle &b) { return b.net->notes; });
    m.def("read_raw", &read_raw_file, py::arg("path"), py::arg("raw_version") = 0);
    m.def("solve_base", &solve_base, py::arg("raw"), py::arg("options_json"), py::arg("options_name"),
          py::arg("monitor_path") = "");
    m.def("run_blocks", &run_blocks, py::arg("base"), py::arg("contingencies"), py::arg("is_text"), py::arg("threads"),
          py::arg("progress"));
    m.def("read_report", &read_report, py::arg("work_dir"));
}
