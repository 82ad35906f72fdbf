#include "harness.h"
#include "test_paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

bool path_exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string real_lists_dir() { return std::string(paths::shared_data) + "/real"; }

std::string real_list(const std::string &name)
{
    std::string text = read_file(real_lists_dir() + "/" + name);
    EXPECT_FALSE(text.empty()) << "missing fixture " << name;
    return text;
}

std::string banner(int nproc) { return " ---num proc_num  " + std::to_string(nproc) + " "; }

std::string finish_line(int nproc, int nctg, int rank)
{
    return banner(nproc) + "Finish output " + std::to_string(nctg) + " ctgs to file: ../work_dir//case_subctg" +
           std::to_string(rank) + ".con\n";
}

std::string block_of(int i)
{
    return "CONTINGENCY C" + std::to_string(i) + "\nOPEN BRANCH " + std::to_string(i) + "\nEND\n";
}

std::string list_of(int nctg)
{
    std::string list = "title line\n";
    for (int i = 0; i < nctg; ++i) {
        list += block_of(i);
    }
    return list + "END\n";
}

std::vector<std::string> model_blocks(const std::string &list)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < list.size()) {
        std::size_t lf = list.find('\n', pos);
        if (lf == std::string::npos) {
            lf = list.size();
        }
        lines.push_back(list.substr(pos, lf - pos));
        pos = lf + 1;
    }
    std::vector<std::string> blocks;
    for (std::size_t i = 0; i < lines.size();) {
        if (lines[i].find("CONTINGENCY") == std::string::npos) {
            ++i;
            continue;
        }
        std::string block;
        for (std::size_t k = i; k < i + 3; ++k) {
            block += (k < lines.size() ? lines[k] : std::string()) + "\n";
        }
        blocks.push_back(block);
        i += 3;
    }
    return blocks;
}

std::vector<std::string> solver_args(int rank)
{
    return {"../work_dir//case_subctg" + std::to_string(rank) + ".con",
            "../work_dir//case.json",
            "../work_dir//case.raw",
            "../work_dir//..",
            "1",
            "1",
            "1",
            "2",
            "./options.json",
            "../work_dir/"};
}

namespace {

// Records every call in ROOT/calls: the call's working directory and
// arguments, and a copy of the sub-file as the call found it.
const char *recording_solver = R"sh(rec=$(mktemp ../calls/call.XXXXXX) || exit 97
{ echo "cwd=$(pwd -P)"; echo "argc=$#"; for a in "$@"; do echo "arg=$a"; done; } >"$rec"
if [ -f "$1" ]; then cp "$1" "$rec.con"; fi
exit 0
)sh";

std::string real_path(const std::string &path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

} // namespace

std::vector<std::string> list_dir(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> list_tree(const std::string &dir)
{
    std::vector<std::string> paths;
    for (const std::string &name : list_dir(dir)) {
        paths.push_back(name);
        for (const std::string &below : list_tree(dir + "/" + name)) {
            paths.push_back(name + "/" + below);
        }
    }
    return paths;
}

void RunLayout::SetUp()
{
    // Let Open MPI's launcher run as root and with more ranks than cores, as
    // the tests do, and on a machine without ssh, which it looks for even
    // when every rank is local; MPICH ignores these.
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
    setenv("OMPI_MCA_rmaps_base_oversubscribe", "1", 1);
    setenv("OMPI_MCA_plm_rsh_agent", "", 0);
    if (*paths::sanitizer_supp != '\0') {
        // Any report fails the rank, and so the run. The suppressions file says
        // why hwloc's PCI plugin is kept out.
        setenv("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:exitcode=86", 1);
        setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 1);
        setenv("LSAN_OPTIONS", (std::string("suppressions=") + paths::sanitizer_supp + ":exitcode=86").c_str(), 1);
        setenv("HWLOC_COMPONENTS", "-pci", 1);
    }

    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/ctgbatch-test.XXXXXX";
    ASSERT_NE(mkdtemp(&tmpl[0]), nullptr) << "mkdtemp " << tmpl;
    root = real_path(tmpl);
    start = root + "/start";
    work = root + "/work_dir";
    for (const std::string &dir : {start, work, root + "/calls", root + "/console"}) {
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
    }
    write_file(start + "/options.json", "{}\n");
    write_file(work + "/case.json", "{}\n");
    write_file(work + "/case.raw", "0, 100.0\n");
    write_solver(recording_solver);
}

void RunLayout::TearDown()
{
    if (HasFailure()) {
        std::cout << "run layout kept for inspection: " << root << std::endl;
    } else if (!root.empty()) {
        std::system(("rm -rf '" + root + "'").c_str());
    }
}

void RunLayout::write_solver(const std::string &body)
{
    std::string path = start + "/vandrelsolve";
    write_file(path, "#!/bin/sh\n" + body);
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

int RunLayout::run(int nproc, const std::string &args)
{
    // Consoles of an earlier run in this layout must not pass for this one's.
    for (const std::string &name : list_dir(root + "/console")) {
        unlink((root + "/console/" + name).c_str());
    }
    std::string pre = paths::mpiexec_pre;
    std::string cmd = "cd '" + start + "' && timeout 300 " + paths::mpiexec + " " + paths::mpiexec_numproc + " " +
                      std::to_string(nproc) + (pre.empty() ? "" : " " + pre) + " " + paths::rank_console + " '" + root +
                      "/console' " + paths::ctgbatch + (args.empty() ? "" : " " + args) + " >'" + root +
                      "/mpiexec.out' 2>&1";
    int status = std::system(cmd.c_str());
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0) {
        std::string errs;
        for (int r = 0; r < nproc; ++r) {
            errs += read_file(root + "/console/" + std::to_string(r) + ".err");
        }
        ADD_FAILURE() << "exit status " << code << " from: " << cmd << "\n" << read_file(root + "/mpiexec.out") << errs;
    }
    return code;
}

std::string RunLayout::console(int rank) const { return read_file(root + "/console/" + std::to_string(rank) + ".out"); }

std::string RunLayout::subfile_path(int rank) const { return work + "/case_subctg" + std::to_string(rank) + ".con"; }

void RunLayout::expect_ranks_started(int nproc) const
{
    std::vector<std::string> expected;
    for (int r = 0; r < nproc; ++r) {
        expected.push_back(std::to_string(r) + ".err");
        expected.push_back(std::to_string(r) + ".out");
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(list_dir(root + "/console"), expected) << "not one job of " << nproc << " ranks";
    for (int r = 0; r < nproc; ++r) {
        EXPECT_EQ(console(r).rfind(banner(nproc), 0), 0U) << "rank " << r << " console: " << console(r);
    }
}

void RunLayout::expect_split_as_model(const std::string &list, int nproc) const
{
    std::vector<std::string> blocks = model_blocks(list);
    std::size_t nblock = (blocks.size() + nproc - 1) / nproc;
    std::string all_blocks, all_shares;
    for (const std::string &b : blocks) {
        all_blocks += b;
    }
    for (int r = 0; r < nproc; ++r) {
        std::size_t first = std::min(blocks.size(), r * nblock);
        std::size_t last = std::min(blocks.size(), first + nblock);
        std::string share;
        for (std::size_t i = first; i < last; ++i) {
            share += blocks[i];
        }
        std::string sub = subfile(r);
        EXPECT_EQ(sub, share + "END\n") << "rank " << r << " of " << nproc;
        EXPECT_EQ(console(r), finish_line(nproc, static_cast<int>(last - first), r));
        if (sub.size() >= 4) {
            all_shares += sub.substr(0, sub.size() - 4);
        }
    }
    // Nothing lost, nothing duplicated, nothing altered, in file order.
    EXPECT_TRUE(all_shares == all_blocks) << "shares do not concatenate to the list's " << blocks.size() << " blocks";
}

std::vector<std::pair<std::string, std::string>> RunLayout::solver_calls() const
{
    std::vector<std::pair<std::string, std::string>> calls;
    for (const std::string &name : list_dir(root + "/calls")) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".con") == 0) {
            continue;
        }
        std::string rec = root + "/calls/" + name;
        std::string con = path_exists(rec + ".con") ? read_file(rec + ".con") : "<no sub-file>";
        calls.emplace_back(read_file(rec), con);
    }
    std::sort(calls.begin(), calls.end());
    return calls;
}

std::string RunLayout::expected_record(int rank) const
{
    std::string rec = "cwd=" + start + "\nargc=10\n";
    for (const std::string &arg : solver_args(rank)) {
        rec += "arg=" + arg + "\n";
    }
    return rec;
}
