// ctgreport's page after real runs of the bundled example: it is
// well-formed (read back with a strict XML parser), every number on it is
// the one report.csv and violations.csv hold, no input can add markup to it,
// and a headless browser, where one is installed, renders it without a
// script error.

#include "harness.h"
#include "test_paths.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <png.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Columns of report.csv.
constexpr size_t label = 3, status = 4, min_vm = 7, min_vm_bus = 8, loading = 11, branch = 12, overloads = 13,
                 voltage_violations = 14, buses_cut = 15, load_cut = 16, note = 18;

double number(const std::string &s) { return std::strtod(s.c_str(), nullptr); }

bool positive(const std::string &s) { return !s.empty() && number(s) > 0; }

// The page read strictly as XML, queried by XPath.
class Page {
public:
    explicit Page(const std::string &text)
        : doc_(xmlReadMemory(text.data(), static_cast<int>(text.size()), "report.html", "UTF-8", XML_PARSE_NONET),
               xmlFreeDoc)
    {
        if (doc_) {
            ctx_.reset(xmlXPathNewContext(doc_.get()));
        }
    }
    bool ok() const { return ctx_ != nullptr; }

    // The text of every node `path` selects, in document order.
    std::vector<std::string> texts(const std::string &path) const
    {
        std::vector<std::string> out;
        std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> found(
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(path.c_str()), ctx_.get()), xmlXPathFreeObject);
        EXPECT_NE(found, nullptr) << path;
        for (int i = 0; found && found->nodesetval && i < found->nodesetval->nodeNr; ++i) {
            xmlChar *s = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
            out.emplace_back(s != nullptr ? reinterpret_cast<const char *>(s) : "");
            xmlFree(s);
        }
        return out;
    }
    std::string text(const std::string &path) const
    {
        const auto t = texts(path);
        EXPECT_EQ(t.size(), 1U) << path;
        return t.empty() ? "" : t[0];
    }
    // The cells of a table's body rows.
    Rows table(const std::string &id) const
    {
        Rows rows;
        const size_t n = texts("//table[@id='" + id + "']/tbody/tr").size();
        for (size_t r = 1; r <= n; ++r) {
            rows.push_back(texts("//table[@id='" + id + "']/tbody/tr[" + std::to_string(r) + "]/td"));
        }
        return rows;
    }

private:
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc_;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> ctx_{nullptr, xmlXPathFreeContext};
};

// A number shown rounded to `decimals` is the exact one, rounded.
void expect_shown(const std::string &shown, const std::string &exact, int decimals)
{
    EXPECT_NEAR(number(shown), number(exact), 0.5 * std::pow(10.0, -decimals) + 1e-9) << shown << " for " << exact;
}

// Converged rows ranked by a column as the page ranks them: the 20 largest
// or smallest, ties in list order.
Rows ranked(const Rows &report, size_t column, bool largest)
{
    Rows v;
    std::copy_if(report.begin(), report.end(), std::back_inserter(v),
                 [column](const auto &f) { return f[status] == "converged" && !f[column].empty(); });
    std::stable_sort(v.begin(), v.end(), [column, largest](const auto &a, const auto &b) {
        return largest ? number(a[column]) > number(b[column]) : number(a[column]) < number(b[column]);
    });
    v.resize(std::min<size_t>(v.size(), 20));
    return v;
}

// Everything the page says that the CSV files say too.
void expect_agrees(const Page &page, const std::string &report_csv, const std::string &violations_csv)
{
    ASSERT_TRUE(page.ok()) << "the page is not well-formed";
    const Rows report = csv_rows(report_csv);
    const Rows violations = csv_rows(violations_csv);
    std::map<std::string, int> count;
    for (const auto &f : report) {
        ++count[f[status]];
        count["islanded"] += positive(f[buses_cut]) ? 1 : 0;
        count["with violations"] += positive(f[overloads]) || positive(f[voltage_violations]) ? 1 : 0;
    }
    EXPECT_EQ(page.text("//dd[@id='contingencies']"), std::to_string(report.size()));
    for (const char *s : {"converged", "unrealistic", "no_solution", "diverged", "not_found", "unsupported",
                          "no_result", "islanded", "with violations"}) {
        EXPECT_EQ(page.text("//table[@id='counts']//tr[th='" + std::string(s) + "']/td"), std::to_string(count[s]))
            << s;
    }
    const bool complete = count["no_result"] == 0;
    EXPECT_EQ(page.text("//p[@id='verdict']/@class"), complete ? "verdict ok" : "verdict bad");

    const Rows top = ranked(report, loading, true);
    const auto bars = page.texts("//section[@id='loadings']//*[@class='bar']/*[@class='label']");
    const auto pct = page.texts("//section[@id='loadings']//*[@class='pct']");
    const auto branches = page.texts("//section[@id='loadings']//*[@class='branch']");
    ASSERT_EQ(bars.size(), top.size());
    ASSERT_EQ(pct.size(), top.size());
    ASSERT_EQ(branches.size(), top.size());
    for (size_t k = 0; k < top.size(); ++k) {
        EXPECT_EQ(bars[k], top[k][label]);
        EXPECT_EQ(branches[k], top[k][branch]);
        expect_shown(pct[k], top[k][loading], 2);
    }
    const Rows low = ranked(report, min_vm, false);
    const auto vm = page.texts("//section[@id='voltages']//*[@class='vm']");
    const auto buses = page.texts("//section[@id='voltages']//*[@class='bus']");
    ASSERT_EQ(vm.size(), low.size());
    ASSERT_EQ(buses.size(), low.size());
    for (size_t k = 0; k < low.size(); ++k) {
        EXPECT_EQ(buses[k], low[k][min_vm_bus]);
        expect_shown(vm[k], low[k][min_vm], 4);
    }
    // Each histogram counts every converged contingency once.
    for (const auto &[figure, column] : {std::pair{"loading-histogram", loading}, {"voltage-histogram", min_vm}}) {
        int sum = 0;
        for (const std::string &c : page.texts("//figure[@id='" + std::string(figure) + "']//*[@class='count']")) {
            sum += std::stoi(c);
        }
        EXPECT_EQ(sum, std::count_if(
                           report.begin(), report.end(),
                           [column = column](const auto &f) { return f[status] == "converged" && !f[column].empty(); }))
            << figure;
    }

    // The page lists new and worse violations first, then same, each group
    // in list order, with the base value and the tag last.
    const Rows shown = page.table("violation-table");
    Rows listed = violations;
    std::stable_sort(listed.begin(), listed.end(), [](const auto &a, const auto &b) {
        const auto rank = [](const std::string &tag) {
            return tag == "new" || tag == "worse" ? 0 : tag == "same" ? 1 : 2;
        };
        return rank(a.at(7)) < rank(b.at(7));
    });
    ASSERT_EQ(shown.size(), listed.size());
    for (size_t k = 0; k < shown.size(); ++k) {
        ASSERT_EQ(shown[k].size(), 8U);
        EXPECT_EQ(std::vector<std::string>(shown[k].begin(), shown[k].begin() + 4),
                  std::vector<std::string>(listed[k].begin(), listed[k].begin() + 4));
        const int decimals = listed[k][2] == "overload" ? 2 : 4;
        expect_shown(shown[k][4], listed[k][4], decimals);
        expect_shown(shown[k][5], listed[k][5], decimals);
        if (listed[k][6].empty()) {
            EXPECT_EQ(shown[k][6], "");
        } else {
            expect_shown(shown[k][6], listed[k][6], decimals);
        }
        EXPECT_EQ(shown[k][7], listed[k][7]);
    }
    Rows failures;
    Rows islands;
    for (const auto &f : report) {
        if (f[status] != "converged") {
            failures.push_back({f[0], f[label], f[status], f[1], f[5], f[note]});
        }
        if (positive(f[buses_cut])) {
            islands.push_back({f[0], f[label], f[buses_cut]});
        }
    }
    EXPECT_EQ(page.table("failure-table"), failures);
    const Rows island_rows = page.table("island-table");
    ASSERT_EQ(island_rows.size(), islands.size());
    for (size_t k = 0; k < islands.size(); ++k) {
        EXPECT_EQ(std::vector<std::string>({island_rows[k][0], island_rows[k][1], island_rows[k][3]}), islands[k]);
        expect_shown(island_rows[k][4], report[std::stoul(islands[k][0]) - 1][load_cut], 2);
    }
}

// A case name and a label that would be markup if written as they are.
const std::string hostile_name = "IEEE 14 <b>bold</b> & \"quoted\" <script>alert(1)</script>";
const std::string hostile_label = "<img src=x onerror='alert(1)'>, &amp; \"x\"";

class HtmlPage : public RunLayout {
protected:
    void SetUp() override
    {
        RunLayout::SetUp();
        for (const char *name : {"case.con", "case.raw"}) {
            write_file(work + "/" + name, read_file(std::string(paths::example) + "/work_dir/" + name));
        }
        write_file(work + "/case.json",
                   "{\"name\": \"IEEE 14 <b>bold</b> & \\\"quoted\\\" <script>alert(1)</script>\"}");
        write_file(work + "/case.con", read_file(work + "/case.con") + "CONTINGENCY " + hostile_label +
                                           "\nOPEN BRANCH FROM BUS 98 TO BUS 99 CIRCUIT 1\nEND\n");
        write_file(start + "/options.json", read_file(std::string(paths::example) + "/start/options.json"));
        ASSERT_EQ(std::system(("cp " + std::string(paths::vandrelsolve) + " '" + start + "/vandrelsolve'").c_str()), 0);
        run(4);
        expect_ranks_started(4);
    }

    // Runs ctgreport with `args` in the start directory; its exit status.
    int report(const std::string &args = "")
    {
        const std::string cmd =
            "cd '" + start + "' && " + paths::ctgreport + " " + args + " >'" + root + "/report.out' 2>&1";
        const int st = std::system(cmd.c_str());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::string file(const std::string &name) const { return read_file(work + "/" + name); }
};

} // namespace

TEST_F(HtmlPage, SaysWhatTheCsvFilesSay)
{
    ASSERT_EQ(report(), 0) << read_file(root + "/report.out");
    const Page page(file("report.html"));
    expect_agrees(page, file("report.csv"), file("violations.csv"));
    EXPECT_EQ(page.text("//dd[@id='case-name']"), hostile_name);
    EXPECT_EQ(page.text("//dd[@id='ranks']"), "4");
    EXPECT_EQ(page.texts("//table[@id='failure-table']/tbody/tr[last()]/td[2]"),
              std::vector<std::string>{hostile_label});
    // Markup in the input stays text: the page's one script is its own.
    EXPECT_EQ(page.texts("//script").size(), 1U);
    EXPECT_TRUE(page.texts("//img | //b").empty());
    EXPECT_NE(page.text("//script").find("aria-sort"), std::string::npos);

    // With a rank's results gone its contingencies are failures with the
    // reason, and the page says the run is incomplete.
    ASSERT_EQ(std::remove((work + "/case_subctg1.results.csv").c_str()), 0);
    ASSERT_EQ(report(), 1) << read_file(root + "/report.out");
    const Page incomplete(file("report.html"));
    expect_agrees(incomplete, file("report.csv"), file("violations.csv"));
    EXPECT_NE(incomplete.text("//p[@id='verdict']").find("10 of 37 contingencies have no result"), std::string::npos);
}

TEST_F(HtmlPage, GoesWhereTheOptionsSay)
{
    ASSERT_EQ(report("--no-html"), 0);
    EXPECT_FALSE(path_exists(work + "/report.html"));
    EXPECT_TRUE(path_exists(work + "/report.csv"));
    ASSERT_EQ(report("../work_dir --html page.html"), 0);
    EXPECT_FALSE(path_exists(work + "/report.html"));
    EXPECT_TRUE(Page(read_file(start + "/page.html")).ok());
    EXPECT_NE(read_file(root + "/report.out").find(", page in page.html\n"), std::string::npos);
    for (const char *bad : {"--html", "--html a.html --no-html", "--no-html --no-html", "--htm", "a b"}) {
        EXPECT_EQ(report(bad), 2) << bad;
        EXPECT_EQ(read_file(root + "/report.out").rfind("usage: ctgreport [WORK_DIR] [--html FILE | --no-html]", 0), 0U)
            << bad;
    }
    // A page that can not be written is an error, and leaves nothing.
    EXPECT_EQ(report("--html no/such/dir/page.html"), 2);
    EXPECT_FALSE(path_exists(start + "/no"));
}

namespace {

// The first browser on the PATH that Debian packages, or "".
std::string find_browser()
{
    for (const char *name : {"chromium", "chromium-browser", "google-chrome"}) {
        if (std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0) {
            return name;
        }
    }
    return "";
}

} // namespace

TEST_F(HtmlPage, RendersInAHeadlessBrowser)
{
    const std::string browser = find_browser();
    if (browser.empty()) {
        const char *ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") {
            FAIL() << "no headless browser (chromium) on the PATH; scripts/test.sh installs it";
        }
        GTEST_SKIP() << "SKIPPED: no headless browser on the PATH to render report.html; install Debian's chromium "
                        "(scripts/test.sh does)";
    }
    ASSERT_EQ(report(), 0);
    const std::string url = "file://" + work + "/report.html";
    // Two browsers at once, each with a profile of its own: one dumps the
    // DOM after the script ran, which made every heading a sort control,
    // its console showing no uncaught error; the other takes a screenshot.
    const auto browse = [&](const std::string &name, const std::string &what) {
        return "timeout 60 " + browser + " --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run " +
               "--user-data-dir='" + root + "/" + name + ".profile' " + what + " '" + url + "' >'" + root + "/" + name +
               ".out' 2>'" + root + "/" + name + ".err'";
    };
    const std::string png = root + "/page.png";
    const std::string both = browse("dom", "--enable-logging=stderr --v=0 --dump-dom") + " & dom=$!; " +
                             browse("shot", "--window-size=1000,1400 --screenshot='" + png + "'") +
                             " || exit 1; wait $dom";
    ASSERT_EQ(std::system(("sh -c \"" + both + "\"").c_str()), 0)
        << read_file(root + "/dom.err") << read_file(root + "/shot.err");
    const std::string dom = read_file(root + "/dom.out");
    EXPECT_NE(dom.find("aria-sort=\"none\""), std::string::npos) << dom.substr(0, 2000);
    EXPECT_EQ(read_file(root + "/dom.err").find("Uncaught"), std::string::npos) << read_file(root + "/dom.err");

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, png.c_str()), 0) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> px(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, px.data(), 0, nullptr), 0) << image.message;
    // Not blank: text, and the charts' blue bars.
    size_t dark = 0;
    size_t blue = 0;
    for (size_t i = 0; i + 2 < px.size(); i += 3) {
        dark += px[i] + px[i + 1] + px[i + 2] < 200 ? 1 : 0;
        blue += px[i] < 20 && px[i + 1] > 100 && px[i + 1] < 130 && px[i + 2] > 165 && px[i + 2] < 190 ? 1 : 0;
    }
    EXPECT_GT(dark, 2000U) << "hardly any text in " << png;
    EXPECT_GT(blue, 5000U) << "no chart in " << png;
}

namespace {

// A run folder written by hand, of 16 contingencies C0..C15 on 4 ranks,
// with a result of every status: rank 0 and 1 as the solver writes them,
// rank 2 in an earlier version's 18 columns (without solvable_fraction),
// rank 3 with no results file.
class Outcomes : public RunLayout {
protected:
    void SetUp() override
    {
        RunLayout::SetUp();
        write_list(list_of(16));
        for (int r = 0; r < 4; ++r) {
            std::string sub;
            for (int i = 4 * r; i < 4 * r + 4; ++i) {
                sub += block_of(i);
            }
            write_file(subfile_path(r), sub + "END\n");
        }
        const std::string head = "index,label,status,iterations,max_mismatch_pu,min_vm_pu,min_vm_bus,max_vm_pu,"
                                 "max_vm_bus,max_loading_pct,max_loading_branch,overloads,voltage_violations,"
                                 "buses_cut_off,load_cut_off_mw,solve_ms,note,load_lost_mw";
        results(0, head + ",solvable_fraction\n" +
                       "1,C0,converged,7,1e-09,0.95,3,1.04,2,88.5,1-2-1,0,0,0,0,1.5,solved by continuation,0,1\n"
                       "2,C1,unrealistic,9,1e-09,,,,,,,,,0,0,2,unrealistic: bus 8004 at 0.0000 pu (outside 0.5 to 2 "
                       "pu),0,\n"
                       "3,C2,no_solution,30,,,,,,,,,,0,0,3,solvable to λ = 0.415; weak spot: bus 8004 at 0.712 pu,0,"
                       "0.415\n"
                       "4,C3,no_solution,30,,,,,,,,,,3,12.5,3,islanded: 3 buses cut off; solvable to λ = 0.05; weak "
                       "spot: bus 12 at 1.5e-05 pu,0,0.05\n");
        results(1, head + ",solvable_fraction\n" +
                       "1,C4,no_solution,30,,,,,,,,,,0,0,3,solvable to λ = 0.415,0,0.415\n"
                       "2,C5,no_solution,30,,,,,,,,,,0,0,3,solvable to λ = 0.7; weak spot: bus 80.4 at 0.712 pu,0,"
                       "0.700000000001\n"
                       "3,C6,diverged,0,,,,,,,,,,0,0,1,singular Jacobian after 0 iterations,0,\n"
                       "4,C7,unrealistic,9,1e-09,,,,,,,,,1,0,2,islanded: 1 buses cut off; unrealistic: bus 3 at 2.31 "
                       "pu (outside 0.5 to 2 pu),0,\n");
        results(2, head + "\n" +
                       "1,C8,converged,3,1e-10,0.98,4,1.02,1,40,2-3-1,0,0,0,0,1,,0\n"
                       "2,C9,not_found,,,,,,,,,,,,,0,no branch 9,\n"
                       "3,C10,unsupported,,,,,,,,,,,,,0,not understood,\n"
                       "4,C11,converged,3,1e-10,0.97,4,1.01,1,50,2-3-1,0,0,0,0,1,,0\n");
    }

    // Rank r's results and an empty violations file, written after its sub-file.
    void results(int r, const std::string &text)
    {
        const std::string stem = work + "/case_subctg" + std::to_string(r);
        write_file(stem + ".results.csv", text);
        write_file(stem + ".violations.csv", "index,label,kind,element,value,limit\n");
    }

    // Runs ctgreport in the start directory; its exit status, its console in console_.
    int report()
    {
        const std::string cmd = "cd '" + start + "' && " + paths::ctgreport + " >'" + root + "/report.out' 2>&1";
        const int st = std::system(cmd.c_str());
        console_ = read_file(root + "/report.out");
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::string console_;
};

} // namespace

TEST_F(Outcomes, EveryStatusIsCountedAndTheUnsolvedAreListed)
{
    ASSERT_EQ(report(), 1) << console_; // rank 3 left no results
    // Console: the counts in their fixed order, then the two lists.
    EXPECT_NE(console_.find("  status           contingencies\n"
                            "  converged                    3\n"
                            "  unrealistic                  2\n"
                            "  no_solution                  4\n"
                            "  diverged                     1\n"
                            "  not_found                    1\n"
                            "  unsupported                  1\n"
                            "  no_result                    4\n"
                            "  islanded                     2\n"),
              std::string::npos)
        << console_;
    EXPECT_NE(console_.find("No solution (smallest solvable fraction first)\n"
                            "  label  solvable fraction  weak bus   vm pu  note\n"
                            "  C3                 0.050        12  0.0000  islanded: 3 buses cut off; solvable to λ = "
                            "0.05; weak spot: bus 12 at 1.5e-05 pu\n"
                            "  C2                 0.415      8004  0.7120  solvable to λ = 0.415; weak spot: bus 8004 "
                            "at 0.712 pu\n"
                            "  C4                 0.415                    solvable to λ = 0.415\n"
                            "  C5                 0.700                    solvable to λ = 0.7; weak spot: bus 80.4 at "
                            "0.712 pu\n\n"
                            "Unrealistic\n"
                            "  label   bus   vm pu  note\n"
                            "  C1     8004  0.0000  unrealistic: bus 8004 at 0.0000 pu (outside 0.5 to 2 pu)\n"
                            "  C7        3  2.3100  islanded: 1 buses cut off; unrealistic: bus 3 at 2.31 pu (outside "
                            "0.5 to 2 pu)\n"),
              std::string::npos)
        << console_;

    // report.csv carries solvable_fraction; rank 2's earlier results leave it empty.
    const Rows report = csv_rows(read_file(work + "/report.csv"));
    ASSERT_EQ(report.size(), 16U);
    const std::vector<std::string> fraction = {"1", "", "0.415", "0.05", "0.415", "0.700000000001", "", "", "", "", "",
                                               "",  "", "",      "",     ""};
    for (size_t i = 0; i < report.size(); ++i) {
        ASSERT_EQ(report[i].size(), 22U) << i;
        EXPECT_EQ(report[i][20], fraction[i]) << i;
    }
    const std::string csv = read_file(work + "/report.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')).substr(csv.find(",note,")),
              ",note,load_lost_mw,solvable_fraction,response_mw");

    const Page page(read_file(work + "/report.html"));
    expect_agrees(page, read_file(work + "/report.csv"), read_file(work + "/violations.csv"));
    for (const auto &[status, n] :
         std::vector<std::pair<std::string, std::string>>{{"unrealistic", "2"}, {"no_solution", "4"}}) {
        EXPECT_EQ(page.text("//table[@id='counts']//tr[th='" + status + "']/td"), n) << status;
        EXPECT_EQ(page.text("//table[@id='counts']//tr[th='" + status + "']/@class"), "bad") << status;
    }
    EXPECT_EQ(page.table("no-solution-table"),
              (Rows{{"4", "C3", "0.050", "12", "0.0000",
                     "islanded: 3 buses cut off; solvable to λ = 0.05; weak spot: bus 12 at 1.5e-05 pu"},
                    {"3", "C2", "0.415", "8004", "0.7120", "solvable to λ = 0.415; weak spot: bus 8004 at 0.712 pu"},
                    {"5", "C4", "0.415", "", "", "solvable to λ = 0.415"},
                    {"6", "C5", "0.700", "", "", "solvable to λ = 0.7; weak spot: bus 80.4 at 0.712 pu"}}));
    // The cells sort by the exact numbers of the files.
    EXPECT_EQ(page.texts("//table[@id='no-solution-table']/tbody/tr/td[3]/@data-v"),
              (std::vector<std::string>{"0.05", "0.415", "0.415", "0.700000000001"}));
    EXPECT_EQ(page.texts("//table[@id='no-solution-table']/tbody/tr[1]/td[5]/@data-v"),
              std::vector<std::string>{"1.5e-05"});
    // The histogram from 0 to 1 counts each fraction once, in its bin.
    const auto bins = page.texts("//figure[@id='fraction-histogram']//*[@class='bin']/*[local-name()='title']");
    ASSERT_EQ(bins.size(), 20U);
    EXPECT_EQ(bins.front(), "0.00 to 0.05 solvable fraction of the outage: 0");
    EXPECT_EQ(bins[1], "0.05 to 0.10 solvable fraction of the outage: 1");
    EXPECT_EQ(bins[8], "0.40 to 0.45 solvable fraction of the outage: 2");
    EXPECT_EQ(bins[14], "0.70 to 0.75 solvable fraction of the outage: 1");
    EXPECT_EQ(bins.back(), "0.95 to 1.00 solvable fraction of the outage: 0");
    EXPECT_EQ(page.table("unrealistic-table"),
              (Rows{{"2", "C1", "8004", "0.0000", "unrealistic: bus 8004 at 0.0000 pu (outside 0.5 to 2 pu)"},
                    {"8", "C7", "3", "2.3100",
                     "islanded: 1 buses cut off; unrealistic: bus 3 at 2.31 pu (outside 0.5 to 2 pu)"}}));
    EXPECT_EQ(page.text("//section[@id='failures']/h2"),
              "Failures: unrealistic, no solution, diverged, not found, unsupported, no result");
    EXPECT_EQ(page.texts("//nav/a[@href='#no-solution' or @href='#unrealistic']").size(), 2U);
}

// Results of an earlier version are taken whole (above), or refused with
// the file and line where a record is not of the width its header gives
// (test_unsolved.cpp has the other cases).
TEST_F(Outcomes, EarlierResultsWithARecordOfAnotherWidthAreRefused)
{
    const std::string stem = work + "/case_subctg2";
    const std::string earlier = read_file(stem + ".results.csv");
    // A record of the current width under the earlier header.
    write_file(stem + ".results.csv", replaced(earlier, "4,C11,converged,3,1e-10,0.97,4,1.01,1,50,2-3-1,0,0,0,0,1,,0\n",
                                               "4,C11,converged,3,1e-10,0.97,4,1.01,1,50,2-3-1,0,0,0,0,1,,0,1\n"));
    ASSERT_EQ(report(), 1);
    EXPECT_EQ(
        console_.rfind("ctgreport: rank 2: ../work_dir/case_subctg2.results.csv:5: not a record of 18 fields (the "
                       "header of an earlier version, without solvable_fraction); its 4 contingencies have no "
                       "result\n",
                       0),
        0U)
        << console_;
}

namespace {

// The run of Outcomes with generator response: rank 0 and rank 3 write this
// version's results, with response_mw and notes of the reserve, beside rank
// 1's earlier results without response_mw and rank 2's without
// solvable_fraction either.
class Responses : public Outcomes {
protected:
    void SetUp() override
    {
        Outcomes::SetUp();
        const std::string head = "index,label,status,iterations,max_mismatch_pu,min_vm_pu,min_vm_bus,max_vm_pu,"
                                 "max_vm_bus,max_loading_pct,max_loading_branch,overloads,voltage_violations,"
                                 "buses_cut_off,load_cut_off_mw,solve_ms,note,load_lost_mw,solvable_fraction,"
                                 "response_mw\n";
        const std::string solved = "converged,4,1e-09,0.95,3,1.04,2,60,1-2-1,0,0,";
        results(0, head + "1,C0," + solved + "0,0,1,,0,1,12.5\n" + "2,C1," + solved +
                       "0,0,1,\"reserve exhausted: -31.2 MW left on the swing; at a limit: unit 1 '1' (PB), unit 2 "
                       "'1' (PB)\",0,1,-80.25\n" +
                       "3,C2," + solved + "0,0,1,at a limit: unit 101 '1' (PT),0,1,80.250\n" + "4,C3," + solved +
                       "0,0,1,no unit shares the change: the swing takes it,0,1,\n");
        results(3, head + "1,C12," + solved +
                       "2,10,1,islanded: 2 buses cut off; reserve exhausted: 45.0 MW left on the swing,0,1,150\n" +
                       "2,C13," + solved + "0,0,1,,0,1,-3\n" +
                       "3,C14,diverged,0,,,,,,,,,,0,0,1,singular Jacobian after 0 iterations,0,,\n" + "4,C15," +
                       solved + "0,0,1,,0,1,0.5\n");
    }
};

} // namespace

// Without response_mw or a note of the reserve, nothing is said of them.
TEST_F(Outcomes, ARunWithoutGeneratorResponseHasNoSuchSection)
{
    ASSERT_EQ(report(), 1) << console_;
    EXPECT_EQ(console_.find("generator response"), std::string::npos) << console_;
    EXPECT_EQ(console_.find("Reserve exhausted"), std::string::npos) << console_;
    const Page page(read_file(work + "/report.html"));
    ASSERT_TRUE(page.ok());
    EXPECT_TRUE(page.texts("//section[@id='response'] | //nav/a[@href='#response']").empty());
}

TEST_F(Responses, TheLargestAndTheExhaustedAreListed)
{
    ASSERT_EQ(report(), 0) << console_;
    EXPECT_NE(console_.find("\nLargest generator response (|response_mw|, largest first)\n"
                            "  label  response MW\n"
                            "  C12         150.00\n"
                            "  C1          -80.25\n"
                            "  C2           80.25\n"
                            "  C0           12.50\n"
                            "  C13          -3.00\n"
                            "  C15           0.50\n\n"
                            "Reserve exhausted\n"
                            "  label  MW left on the swing\n"
                            "  C1                   -31.20\n"
                            "  C12                   45.00\n\n"
                            "Largest load cut off: 10.00 MW by C12"),
              std::string::npos)
        << console_;

    // report.csv carries response_mw as written; earlier results leave it empty.
    const Rows report = csv_rows(read_file(work + "/report.csv"));
    ASSERT_EQ(report.size(), 16U);
    const std::vector<std::string> response = {"12.5", "-80.25", "80.250", "", "",    "",   "", "",
                                               "",     "",       "",       "", "150", "-3", "", "0.5"};
    for (size_t i = 0; i < report.size(); ++i) {
        ASSERT_EQ(report[i].size(), 22U) << i;
        EXPECT_EQ(report[i][21], response[i]) << i;
    }

    const Page page(read_file(work + "/report.html"));
    expect_agrees(page, read_file(work + "/report.csv"), read_file(work + "/violations.csv"));
    EXPECT_EQ(page.text("//nav/a[@href='#response']"), "Generator response");
    EXPECT_EQ(page.text("//section[@id='response']/h2"), "Generator response");
    EXPECT_EQ(page.table("response-table"),
              (Rows{{"13", "C12", "150.00", "islanded: 2 buses cut off; reserve exhausted: 45.0 MW left on the swing"},
                    {"2", "C1", "-80.25",
                     "reserve exhausted: -31.2 MW left on the swing; at a limit: unit 1 '1' (PB), unit 2 '1' (PB)"},
                    {"3", "C2", "80.25", "at a limit: unit 101 '1' (PT)"},
                    {"1", "C0", "12.50", ""},
                    {"14", "C13", "-3.00", ""},
                    {"16", "C15", "0.50", ""}}));
    // The cells sort by the exact numbers of the files.
    EXPECT_EQ(page.texts("//table[@id='response-table']/tbody/tr/td[3]/@data-v"),
              (std::vector<std::string>{"150", "-80.25", "80.250", "12.5", "-3", "0.5"}));
    EXPECT_EQ(
        page.table("reserve-table"),
        (Rows{{"2", "C1", "-31.20",
               "reserve exhausted: -31.2 MW left on the swing; at a limit: unit 1 '1' (PB), unit 2 '1' (PB)"},
              {"13", "C12", "45.00", "islanded: 2 buses cut off; reserve exhausted: 45.0 MW left on the swing"}}));
    // The histogram counts every response once.
    int sum = 0;
    for (const std::string &c : page.texts("//figure[@id='response-histogram']//*[@class='count']")) {
        sum += std::stoi(c);
    }
    EXPECT_EQ(sum, 6);
}

namespace {

// The run of Outcomes with a monitor file: ranks 0 and 2 wrote interface
// rows for their converged contingencies (C0; C8 and C11), rank 1 none.
class Interfaces : public Outcomes {
protected:
    void SetUp() override
    {
        Outcomes::SetUp();
        interfaces(0, "1,C0,NORTH,-120.5,100,120.5\n"
                      "1,C0,\"EAST, <WEST>\",30,200,15\n");
        interfaces(2, "1,C8,NORTH,90,100,90\n"
                      "1,C8,\"EAST, <WEST>\",250,200,125\n"
                      "4,C11,NORTH,101,100,101\n"
                      "4,C11,\"EAST, <WEST>\",-10,200,5\n");
    }
    void interfaces(int r, const std::string &records)
    {
        write_file(work + "/case_subctg" + std::to_string(r) + ".interfaces.csv",
                   "index,label,interface,mw,rating_mw,loading_pct\n" + records);
    }
};

} // namespace

TEST_F(Interfaces, AreMergedInListOrderAndListedByLoading)
{
    ASSERT_EQ(report(), 1) << console_; // rank 3 left no results
    EXPECT_EQ(read_file(work + "/interfaces.csv"), "list_index,label,interface,mw,rating_mw,loading_pct\n"
                                                   "1,C0,NORTH,-120.5,100,120.5\n"
                                                   "1,C0,\"EAST, <WEST>\",30,200,15\n"
                                                   "9,C8,NORTH,90,100,90\n"
                                                   "9,C8,\"EAST, <WEST>\",250,200,125\n"
                                                   "12,C11,NORTH,101,100,101\n"
                                                   "12,C11,\"EAST, <WEST>\",-10,200,5\n");
    EXPECT_NE(console_.find("Most loaded interfaces\n"
                            "  interface     loading %  label\n"
                            "  EAST, <WEST>     125.00  C8\n"
                            "  NORTH            120.50  C0\n"),
              std::string::npos)
        << console_;
    EXPECT_NE(console_.find(", interfaces in ../work_dir/interfaces.csv"), std::string::npos) << console_;

    const Page page(read_file(work + "/report.html"));
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(page.text("//nav/a[@href='#interfaces']"), "Interfaces");
    EXPECT_EQ(page.text("//section[@id='interfaces']/h2"), "Interfaces");
    // Each interface's heaviest contingency, the heaviest interface first.
    EXPECT_EQ(page.table("interfaces-table"), (Rows{{"EAST, <WEST>", "9", "C8", "250.00", "200.00", "125.00 %"},
                                                    {"NORTH", "1", "C0", "-120.50", "100.00", "120.50 %"}}));
    // Every row above 100 %, the heaviest first.
    EXPECT_EQ(page.table("interface-overloads-table"),
              (Rows{{"9", "C8", "EAST, <WEST>", "250.00", "200.00", "125.00 %"},
                    {"1", "C0", "NORTH", "-120.50", "100.00", "120.50 %"},
                    {"12", "C11", "NORTH", "101.00", "100.00", "101.00 %"}}));
    EXPECT_EQ(page.texts("//table[@id='interface-overloads-table']/tbody/tr/td[6]/@data-v"),
              (std::vector<std::string>{"125", "120.5", "101"}));
}

// Only the 20 heaviest rows above 100 % are listed.
TEST_F(Interfaces, AtMostTwentyOverloadsAreListed)
{
    std::string rows;
    for (int k = 0; k < 25; ++k) {
        rows += "1,C8,I" + std::to_string(k) + ",1,1," + std::to_string(101 + k) + "\n";
    }
    interfaces(2, rows);
    ASSERT_EQ(report(), 1) << console_;
    const Page page(read_file(work + "/report.html"));
    const Rows over = page.table("interface-overloads-table");
    ASSERT_EQ(over.size(), 20U);
    EXPECT_EQ(over.front()[2], "I24");
    EXPECT_EQ(over[5][2], "NORTH"); // rank 0's C0 at 120.5 %
    EXPECT_EQ(over.back()[2], "I6");
    EXPECT_EQ(page.table("interfaces-table").size(), 27U); // and rank 0's two
    // The console lists the five most loaded.
    EXPECT_NE(console_.find("  I20  "), std::string::npos) << console_;
    EXPECT_EQ(console_.find("I19"), std::string::npos) << console_;
}

// Without interface rows there is no interfaces.csv (one left by an earlier
// report is removed), no section and no console list.
TEST_F(Outcomes, ARunWithoutInterfacesHasNoInterfaceFileOrSection)
{
    write_file(work + "/interfaces.csv", "list_index,label,interface,mw,rating_mw,loading_pct\n1,C0,OLD,1,1,100\n");
    ASSERT_EQ(report(), 1) << console_;
    EXPECT_FALSE(std::ifstream(work + "/interfaces.csv").good());
    EXPECT_EQ(console_.find("interfaces"), std::string::npos) << console_;
    const Page page(read_file(work + "/report.html"));
    ASSERT_TRUE(page.ok());
    EXPECT_TRUE(page.texts("//section[@id='interfaces'] | //nav/a[@href='#interfaces']").empty());
}

// A damaged interfaces file refuses its rank's results with the file and
// line, as a damaged results file does.
TEST_F(Interfaces, AMalformedRecordIsRefusedWithFileAndLine)
{
    interfaces(2, "1,C8,NORTH,90,100,90\n1,C8,EAST,250,200\n");
    ASSERT_EQ(report(), 1);
    EXPECT_NE(console_.find("ctgreport: rank 2: ../work_dir/case_subctg2.interfaces.csv:3: not a record of 6 fields; "
                            "its 4 contingencies have no result\n"),
              std::string::npos)
        << console_;
    interfaces(2, "7,C8,NORTH,90,100,90\n");
    ASSERT_EQ(report(), 1);
    EXPECT_NE(console_.find("ctgreport: rank 2: a row of its interfaces file names no contingency of its sub-file"),
              std::string::npos)
        << console_;
    // Rank 0's rows alone are merged.
    EXPECT_EQ(csv_rows(read_file(work + "/interfaces.csv")).size(), 2U);
}

// An interfaces file older than its sub-file is left from an earlier run:
// ignored, the rank's results taken.
TEST_F(Interfaces, AFileOlderThanItsSubFileIsIgnored)
{
    const std::string stale = work + "/case_subctg2.interfaces.csv";
    std::filesystem::last_write_time(stale, std::filesystem::last_write_time(subfile_path(2)) - std::chrono::hours(1));
    ASSERT_EQ(report(), 1) << console_;
    EXPECT_EQ(console_.find("rank 2:"), std::string::npos) << console_;
    const Rows merged = csv_rows(read_file(work + "/interfaces.csv"));
    ASSERT_EQ(merged.size(), 2U);
    EXPECT_EQ(merged[1][0], "1");
}
