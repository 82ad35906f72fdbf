// ctgreport: one report for a finished ctgbatch run, checked complete.
//
//   ctgreport [WORK_DIR] [--html FILE | --no-html]   (default ../work_dir/, as the driver's)
//
// Matches every block of WORK_DIR/case.con with the result row of the rank
// that solved it, writes report.csv and violations.csv (and interfaces.csv,
// when the ranks wrote interface rows) into WORK_DIR, the
// page report.html beside them (or FILE, or none) and prints a summary.
// Exit status: 0 every contingency has a result, 1 some have none, 2 usage,
// an unreadable list or a report that can not be written. Labels, notes and
// paths are printed as printable() makes them.

#include "io/atomic_file.h"
#include "io/input_error.h"
#include "io/printable.h"
#include "io/text_file.h"
#include "report/html.h"
#include "report/report.h"
#include "report/summary.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

namespace {

std::string in_dir(const std::string &dir, const std::string &name)
{
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string rank_list(const std::vector<int> &ranks)
{
    std::string s;
    for (size_t i = 0; i < ranks.size(); ++i) {
        s += (i > 0 ? ", " : "") + std::to_string(ranks[i]);
    }
    return s;
}

struct Args {
    std::string work_dir = "../work_dir/";
    std::string html; // the page's path; "" for the default
    bool no_html = false;
};

// False on a usage error.
bool parse_args(int argc, char *argv[], Args &a)
{
    bool dir_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--html" && i + 1 < argc && !a.no_html && a.html.empty() && argv[i + 1][0] != '\0') {
            a.html = argv[++i];
        } else if (arg == "--no-html" && !a.no_html && a.html.empty()) {
            a.no_html = true;
        } else if (!arg.empty() && arg[0] != '-' && !dir_given) {
            a.work_dir = arg;
            dir_given = true;
        } else {
            return false;
        }
    }
    return true;
}

// The case's name from case.json in the work directory, "" when there is
// none: the page is still worth having without it.
std::string case_name(const std::string &work_dir)
{
    try {
        return case_name_of(read_text_file(in_dir(work_dir, "case.json")));
    } catch (const InputError &) {
        return "";
    }
}

std::string now_utc()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    char buf[64];
    return gmtime_r(&t, &tm) != nullptr && std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", &tm) > 0 ? buf : "";
}

int report(const Args &args)
{
    const std::string &work_dir = args.work_dir;
    const Report rep = build_report(work_dir);
    if (!rep.beyond.empty()) {
        std::cout << "ctgreport: ignoring the sub-files of rank" << (rep.beyond.size() > 1 ? "s " : " ")
                  << rank_list(rep.beyond) << ", beyond this run of " << rep.ranks
                  << " ranks (left by an earlier, larger run)" << std::endl;
    }
    for (const RankCheck &c : rep.checks) {
        if (!c.ok) {
            std::cout << "ctgreport: rank " << c.rank << ": " << printable(c.why) << "; its " << c.count
                      << " contingencies have no result" << std::endl;
        }
    }
    const std::string report_path = in_dir(work_dir, "report.csv");
    const std::string violations_path = in_dir(work_dir, "violations.csv");
    write_file_atomically(violations_path, violations_csv(rep));
    write_file_atomically(report_path, report_csv(rep));
    // interfaces.csv only for a run with interface rows; one left by an
    // earlier report would otherwise read as this run's.
    const std::string interfaces_path = in_dir(work_dir, "interfaces.csv");
    if (rep.interfaces.empty()) {
        std::remove(interfaces_path.c_str());
    } else {
        write_file_atomically(interfaces_path, interfaces_csv(rep));
    }
    const std::string page_path = args.html.empty() ? in_dir(work_dir, "report.html") : args.html;
    if (!args.no_html) {
        write_file_atomically(page_path, report_html(rep, PageRun{case_name(work_dir), now_utc()}));
    }
    std::cout << summary(rep) << "ctgreport: report in " << printable(report_path) << ", violations in "
              << printable(violations_path);
    if (!rep.interfaces.empty()) {
        std::cout << ", interfaces in " << printable(interfaces_path);
    }
    if (!args.no_html) {
        std::cout << ", page in " << printable(page_path);
    }
    std::cout << std::endl;
    return rep.missing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    Args args;
    if (!parse_args(argc, argv, args)) {
        std::cerr << "usage: ctgreport [WORK_DIR] [--html FILE | --no-html]   (default ../work_dir/, the page "
                     "report.html in it)"
                  << std::endl;
        return 2;
    }
    try {
        return report(args);
    } catch (const InputError &e) {
        std::cerr << "ctgreport: " << where_what(e) << std::endl;
    } catch (const std::exception &e) {
        std::cerr << "ctgreport: " << printable(e.what()) << std::endl;
    }
    return 2;
}
