// ctgreport: one report for a finished ctgbatch run, checked complete.
//
//   ctgreport [WORK_DIR]        (default ../work_dir/, as the driver's)
//
// Matches every block of WORK_DIR/case.con with the result row of the rank
// that solved it, writes report.csv and violations.csv into WORK_DIR and
// prints a summary. Exit status: 0 every contingency has a result, 1 some
// have none, 2 usage, an unreadable list or a report that can not be
// written. Labels, notes and paths are printed as printable() makes them.

#include "raw/input_error.h"
#include "raw/printable.h"
#include "report/report.h"
#include "results/results.h"

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

int report(const std::string &work_dir)
{
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
    std::cout << summary(rep) << "ctgreport: report in " << printable(report_path) << ", violations in "
              << printable(violations_path) << std::endl;
    return rep.missing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::cerr << "usage: ctgreport [WORK_DIR]   (default ../work_dir/)" << std::endl;
        return 2;
    }
    try {
        return report(argc == 2 ? argv[1] : "../work_dir/");
    } catch (const InputError &e) {
        std::cerr << "ctgreport: " << where_what(e) << std::endl;
    } catch (const std::exception &e) {
        std::cerr << "ctgreport: " << printable(e.what()) << std::endl;
    }
    return 2;
}
