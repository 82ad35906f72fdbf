// ctgbatch: spread a contingency analysis over the ranks of an MPI job.
//
// Every rank reads the contingency list ../work_dir//case.con, writes its own
// contiguous share of the contingency blocks to ../work_dir//case_subctgR.con
// and runs the power-flow solver ./vandrelsolve on that sub-file. The ranks
// never talk to each other; problems are reported as one console line and the
// run carries on, so the exit status is always 0.

#include <mpi.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

// Reads the contingency list into blocks of three lines (a line containing
// "CONTINGENCY" and the two after it), takes this rank's contiguous share and
// writes it, closed by "END", to this rank's sub-file. Always returns 1.
int split_ctgs(std::string work_dir, int proc_num, int proc_id)
{
    std::string ctgfilename = work_dir + "/case.con";
    std::string ctgfilei = work_dir + "/case_subctg" + std::to_string(proc_id) + ".con";

    // Whenever this rank fails to produce a complete sub-file, whatever stands
    // at its path (an earlier run's share, a partial write) must go, so that
    // the solver started next never analyses the wrong contingencies. A
    // directory is never ours to remove.
    auto remove_subfile = [&ctgfilei]() {
        struct stat st {};
        if (lstat(ctgfilei.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            unlink(ctgfilei.c_str());
        }
    };

    std::ifstream fin(ctgfilename);
    if (!fin.is_open()) {
        std::cout << "Can not open file: " << ctgfilename << std::endl;
        remove_subfile();
        return 1;
    }

    std::vector<std::vector<std::string>> vtctgs;
    std::vector<std::string> ctgi;
    std::string linstr;
    while (std::getline(fin, linstr)) {
        if (linstr.find("CONTINGENCY") == std::string::npos) {
            continue;
        }
        ctgi.clear();
        ctgi.push_back(linstr);
        // The two lines after a header belong to its block unread; lines
        // past the end of the list are empty.
        for (int k = 0; k < 2; ++k) {
            if (!std::getline(fin, linstr)) {
                linstr.clear();
            }
            ctgi.push_back(linstr);
        }
        vtctgs.push_back(ctgi);
    }
    // A clean end of the list leaves the stream at end-of-file and not bad;
    // anything else (a directory, an I/O error part-way) means the blocks
    // read so far are not the whole list.
    bool read_ok = fin.eof() && !fin.bad();
    fin.close();
    if (!read_ok) {
        std::cout << "Can not read file: " << ctgfilename << std::endl;
        remove_subfile();
        return 1;
    }
    int nctg = static_cast<int>(vtctgs.size());

    // Equal contiguous shares of ceil(nctg / proc_num) blocks; ranks past the
    // end of the list get none. Computed in 64 bits so that neither the
    // rounding up nor the start of a rank far past the end can overflow.
    long long nblock = (static_cast<long long>(nctg) + proc_num - 1) / proc_num;
    long long start = proc_id * nblock;
    long long end = std::min(start + nblock, static_cast<long long>(nctg));

    // Nothing reads vtctgs again, so the share is moved, not copied: each
    // block is held in memory once.
    std::vector<std::vector<std::string>> sub_ctglist;
    for (long long i = start; i < end; ++i) {
        sub_ctglist.push_back(std::move(vtctgs[static_cast<std::size_t>(i)]));
    }

    std::ofstream fout(ctgfilei);
    if (!fout.is_open()) {
        std::cout << "Can not open file: " << ctgfilei << std::endl;
        remove_subfile();
        return 1;
    }
    // Every line is flushed as it is written. After a failed write the
    // stream is bad and ignores the rest, so one check after the close
    // catches a failed write, flush or close alike.
    for (const auto &block : sub_ctglist) {
        for (const auto &line : block) {
            fout << line << '\n' << std::flush;
        }
    }
    fout << "END" << '\n' << std::flush;
    fout.close();
    if (fout.fail()) {
        std::cout << "Can not write file: " << ctgfilei << std::endl;
        remove_subfile();
        return 1;
    }

    std::cout << "Finish output " << sub_ctglist.size() << " ctgs to file: " << ctgfilei << std::endl;
    return 1;
}

// Runs the solver once on this rank's sub-file, through the shell, and waits
// for it. A solver that does not end with status 0 is reported on the console
// but changes nothing else: its exit codes are its own business.
void run_ctgs_ctrl(std::string work_dir, int proc_id)
{
    std::string confile = work_dir + "/case_subctg" + std::to_string(proc_id) + ".con";
    std::string jsonfile = work_dir + "/case.json";
    std::string rawfile = work_dir + "/case.raw";
    std::string costfile = work_dir + "/..";
    std::string runtype = " 2";
    std::string ctrlfile = " ./options.json";
    std::string strwork_dir = " ../work_dir/";

    std::string cmd = "./vandrelsolve " + confile + " " + jsonfile + " " + rawfile + " " + costfile + " 1 1 1" +
                      runtype + ctrlfile + strwork_dir;

    int status = std::system(cmd.c_str());
    if (status == -1) {
        std::cout << "Can not run solver: " << cmd << std::endl;
    } else if (WIFSIGNALED(status)) {
        std::cout << "Solver killed by signal " << WTERMSIG(status) << ": " << cmd << std::endl;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        std::cout << "Solver exit status " << WEXITSTATUS(status) << ": " << cmd << std::endl;
    }
}

int main(int argc, char *argv[])
{
    int proc_num = 0;
    int proc_id = 0;
    MPI_Init(&argc, &argv);
    MPI_Comm_size(MPI_COMM_WORLD, &proc_num);
    MPI_Comm_rank(MPI_COMM_WORLD, &proc_id);

    // No line end and no flush: the first message of the splitting phase
    // continues this line and flushes both.
    std::printf(" ---num proc_num  %d ", proc_num);

    std::string work_dir = "../work_dir/";
    split_ctgs(work_dir, proc_num, proc_id);
    run_ctgs_ctrl(work_dir, proc_id);

    MPI_Finalize();
    return 0;
}
