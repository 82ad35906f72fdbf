#include "report/report.h"

#include "io/csv.h"
#include "io/input_error.h"
#include "io/printable.h"
#include "io/text_file.h"
#include "results/columns.h"
#include "results/ctg_results.h"
#include "results/results.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <iterator>
#include <map>
#include <sstream>

static_assert(report_statuses.size() == ctg_status_count + 1, "a count for every status of the solver's");

namespace {

std::string in_dir(const std::string &dir, const std::string &name)
{
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string subfile_path(const std::string &work_dir, int rank)
{
    return in_dir(work_dir, "case_subctg" + std::to_string(rank) + ".con");
}

bool modified(const std::string &path, struct timespec &when)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    when = st.st_mtim;
    return true;
}

bool older(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The text of the file at `path`; false with "can not read PATH" where it
// can not be read.
bool read_text(const std::string &path, std::string &text, std::string &why)
{
    try {
        text = read_text_file(path);
    } catch (const InputError &) {
        why = "can not read " + path;
        return false;
    }
    return true;
}

bool same_blocks(const std::vector<CtgBlock> &a, size_t a0, const std::vector<CtgBlock> &b)
{
    if (a0 + b.size() > a.size()) {
        return false;
    }
    for (size_t i = 0; i < b.size(); ++i) {
        if (a[a0 + i].label != b[i].label || a[a0 + i].element != b[i].element) {
            return false;
        }
    }
    return true;
}

// The ranks of the run (see build_report).
int run_size(const std::vector<CtgBlock> &list, const std::vector<std::vector<CtgBlock>> &subs)
{
    for (size_t p = subs.size(); p >= 1; --p) {
        size_t at = 0;
        bool match = true;
        for (size_t r = 0; r < p && match; ++r) {
            match = same_blocks(list, at, subs[r]);
            at += subs[r].size();
        }
        if (match && at == list.size()) {
            return static_cast<int>(p);
        }
    }
    return static_cast<int>(subs.size());
}

// Sub-files named case_subctgN.con with N >= from, in rank order.
std::vector<int> subfiles_from(const std::string &work_dir, int from)
{
    std::vector<int> ranks;
    DIR *d = ::opendir(work_dir.c_str());
    if (d == nullptr) {
        return ranks;
    }
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        const std::string head = "case_subctg";
        if (name.size() <= head.size() + 4 || name.compare(0, head.size(), head) != 0 ||
            name.compare(name.size() - 4, 4, ".con") != 0) {
            continue;
        }
        const std::string digits = name.substr(head.size(), name.size() - head.size() - 4);
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos ||
            (digits.size() > 1 && digits[0] == '0')) {
            continue;
        }
        const int r = std::stoi(digits);
        if (r >= from) {
            ranks.push_back(r);
        }
    }
    ::closedir(d);
    std::sort(ranks.begin(), ranks.end());
    return ranks;
}

// Why rank r's results can not be used, or "" when they can; fills `rows`
// and `violations` (each violation with the list index of its block first).
std::string check_rank(const std::string &work_dir, int r, const RankCheck &share, const std::vector<CtgBlock> &list,
                       const std::vector<CtgBlock> &sub, std::vector<std::vector<std::string>> &rows,
                       std::vector<std::vector<std::string>> &violations)
{
    const std::string sub_path = subfile_path(work_dir, r);
    if (static_cast<int>(sub.size()) != share.count || !same_blocks(list, share.first, sub)) {
        return "its sub-file does not hold its share of the list";
    }
    const std::string res_path = results_path(work_dir, sub_path);
    struct timespec sub_time {};
    struct timespec res_time {};
    if (!modified(res_path, res_time)) {
        return "no results file " + res_path;
    }
    if (modified(sub_path, sub_time) && older(res_time, sub_time)) {
        return "its results file " + res_path + " is older than its sub-file";
    }
    std::string why;
    std::string text;
    if (!read_text(res_path, text, why) || !parse_results(text, res_path, rows, why)) {
        return why;
    }
    if (rows.size() != sub.size()) {
        return "its results file has " + std::to_string(rows.size()) + " rows for " + std::to_string(sub.size()) +
               " contingencies";
    }
    // The solver writes labels made printable; one that wrote them as they
    // are matches too.
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string label = printable(sub[i].label);
        if (rows[i][col::index] != std::to_string(i + 1) || printable(rows[i][col::label]) != label) {
            return "row " + std::to_string(i + 1) + " of its results file is for '" + printable(rows[i][col::label]) +
                   "', not '" + label + "'";
        }
    }
    const std::string vio_path = violations_path(work_dir, sub_path);
    std::vector<std::vector<std::string>> vio;
    if (!read_text(vio_path, text, why) || !parse_violations(text, vio_path, vio, why)) {
        return why;
    }
    for (auto &v : vio) {
        const std::string &index = v[vcol::index];
        const bool number =
            !index.empty() && index.size() < 10 && index.find_first_not_of("0123456789") == std::string::npos;
        const size_t i = number ? std::stoul(index) : 0;
        if (i < 1 || i > sub.size() || printable(v[vcol::label]) != printable(sub[i - 1].label)) {
            return "a row of its violations file names no contingency of its sub-file";
        }
        v[vcol::index] = std::to_string(share.first + i); // list index, from 1
        violations.push_back(v);
    }
    return "";
}

// Why rank r's interfaces file can not be used, or "" when it can or there
// is none (see build_report); fills `interfaces`, each row with the list
// index of its block first.
std::string rank_interfaces(const std::string &work_dir, int r, const RankCheck &share,
                            const std::vector<CtgBlock> &sub, std::vector<std::vector<std::string>> &interfaces)
{
    const std::string sub_path = subfile_path(work_dir, r);
    const std::string path = interfaces_path(work_dir, sub_path);
    struct timespec sub_time {};
    struct timespec when {};
    if (!modified(path, when) || (modified(sub_path, sub_time) && older(when, sub_time))) {
        return "";
    }
    std::string why;
    std::string text;
    if (!read_text(path, text, why) || !parse_records(text, path, interfaces_columns.size(), interfaces, why)) {
        return why;
    }
    for (auto &row : interfaces) {
        const std::string &index = row[0];
        const bool number =
            !index.empty() && index.size() < 10 && index.find_first_not_of("0123456789") == std::string::npos;
        const size_t i = number ? std::stoul(index) : 0;
        if (i < 1 || i > sub.size() || printable(row[1]) != printable(sub[i - 1].label)) {
            return "a row of its interfaces file names no contingency of its sub-file";
        }
        row[0] = std::to_string(share.first + i);
    }
    return "";
}

} // namespace

bool parse_records(const std::string &text, const std::string &path, size_t columns,
                   std::vector<std::vector<std::string>> &records, std::string &why)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line)) {
        why = "can not read " + path;
        return false;
    }
    records.clear();
    std::vector<std::string> f;
    int n = 1;
    while (std::getline(in, line)) {
        ++n;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!csv_fields(line, f) || f.size() != columns) {
            why = path + ":" + std::to_string(n) + ": not a record of " + std::to_string(columns) + " fields";
            return false;
        }
        records.push_back(f);
    }
    return true;
}

bool parse_results(const std::string &text, const std::string &path, std::vector<std::vector<std::string>> &records,
                   std::string &why)
{
    std::string head = text.substr(0, text.find('\n'));
    if (!head.empty() && head.back() == '\r') {
        head.pop_back();
    }
    // Earlier versions' files end before solvable_fraction, or before
    // response_mw; their missing fields are read as empty.
    std::string current = header_line(results_columns);
    current.pop_back();
    std::size_t columns = results_columns.size();
    std::string earlier = current;
    const char *without = "";
    for (const char *last : {"response_mw", "solvable_fraction"}) {
        if (head == current) {
            break;
        }
        earlier.resize(earlier.rfind(','));
        if (head == earlier) {
            columns = static_cast<std::size_t>(std::count(earlier.begin(), earlier.end(), ',')) + 1;
            without = last;
        }
    }
    if (!parse_records(text, path, columns, records, why)) {
        why += *without != 0 ? std::string(" (the header of an earlier version, without ") + without + ")" : "";
        return false;
    }
    for (auto &f : records) {
        f.resize(results_columns.size());
    }
    return true;
}

bool parse_violations(const std::string &text, const std::string &path, std::vector<std::vector<std::string>> &records,
                      std::string &why)
{
    std::string head = text.substr(0, text.find('\n'));
    if (!head.empty() && head.back() == '\r') {
        head.pop_back();
    }
    // An earlier version's file ends before base_value and tag.
    std::string earlier = header_line(violations_columns);
    earlier.resize(earlier.find(",base_value"));
    const std::size_t columns = head == earlier ? vcol::base_value : violations_columns.size();
    if (!parse_records(text, path, columns, records, why)) {
        return false;
    }
    for (auto &f : records) {
        f.resize(violations_columns.size());
    }
    return true;
}

Report build_report(const std::string &work_dir)
{
    Report rep;
    rep.blocks = read_ctg_blocks(in_dir(work_dir, "case.con"));
    const int n = static_cast<int>(rep.blocks.size());
    std::vector<std::vector<CtgBlock>> subs;
    for (int r = 0;; ++r) {
        struct timespec t {};
        if (!modified(subfile_path(work_dir, r), t)) {
            break;
        }
        try {
            subs.push_back(read_ctg_blocks(subfile_path(work_dir, r)));
        } catch (const InputError &) {
            break;
        }
    }
    rep.ranks = run_size(rep.blocks, subs);
    rep.beyond = subfiles_from(work_dir, rep.ranks);
    rep.rows.assign(n, ReportRow{});

    const int share = rep.ranks > 0 ? (n + rep.ranks - 1) / rep.ranks : n;
    for (int r = 0; r < rep.ranks; ++r) {
        RankCheck c;
        c.rank = r;
        c.first = std::min(n, r * share);
        c.count = std::min(n, c.first + share) - c.first;
        std::vector<std::vector<std::string>> rows;
        std::vector<std::vector<std::string>> vio;
        c.why = check_rank(work_dir, r, c, rep.blocks, subs[r], rows, vio);
        std::vector<std::vector<std::string>> ifc;
        if (c.why.empty()) {
            c.why = rank_interfaces(work_dir, r, c, subs[r], ifc);
        }
        c.ok = c.why.empty();
        for (int i = 0; i < c.count; ++i) {
            ReportRow &row = rep.rows[c.first + i];
            row.rank = r;
            row.index = i + 1;
            if (c.ok) {
                row.fields = rows[i];
            } else {
                row.why = "rank " + std::to_string(r) + ": " + c.why;
            }
        }
        if (c.ok) {
            rep.violations.insert(rep.violations.end(), vio.begin(), vio.end());
            rep.interfaces.insert(rep.interfaces.end(), ifc.begin(), ifc.end());
        }
        rep.checks.push_back(c);
    }
    for (ReportRow &row : rep.rows) {
        if (row.rank < 0) {
            row.why = "no rank of the run holds it";
        }
        rep.missing += row.fields.empty() ? 1 : 0;
    }
    return rep;
}

// report.csv: list_index and rank, then a results row, or for a block
// without one its index, label, status no_result and the reason as note.
std::string report_csv(const Report &r)
{
    std::string out = "list_index,rank," + header_line(results_columns);
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const ReportRow &row = r.rows[i];
        out += std::to_string(i + 1) + "," + (row.rank >= 0 ? std::to_string(row.rank) : "");
        std::vector<std::string> fields = row.fields;
        if (fields.empty()) {
            fields.assign(results_columns.size(), "");
            fields[col::index] = row.index > 0 ? std::to_string(row.index) : "";
            fields[col::label] = r.blocks[i].label;
            fields[col::status] = "no_result";
            fields[col::note] = row.why;
        }
        for (const std::string &f : fields) {
            out += "," + csv_text(f);
        }
        out += "\n";
    }
    return out;
}

// violations.csv: the ranks' violation rows, their index the list's.
std::string violations_csv(const Report &r)
{
    static_assert(vcol::index == 0, "list_index is the first column");
    std::string out = "list_" + header_line(violations_columns);
    for (const auto &v : r.violations) {
        for (size_t k = 0; k < v.size(); ++k) {
            out += (k > 0 ? "," : "") + csv_text(v[k]);
        }
        out += "\n";
    }
    return out;
}

// interfaces.csv: the ranks' interface rows, their index the list's.
std::string interfaces_csv(const Report &r)
{
    std::string out = "list_" + header_line(interfaces_columns);
    for (const auto &row : r.interfaces) {
        for (size_t k = 0; k < row.size(); ++k) {
            out += (k > 0 ? "," : "") + csv_text(row[k]);
        }
        out += "\n";
    }
    return out;
}

bool field_number(const std::string &s, double &x)
{
    char *end = nullptr;
    x = std::strtod(s.c_str(), &end);
    return !s.empty() && *end == '\0' && std::isfinite(x);
}
