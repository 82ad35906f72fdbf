// vandrelsolve (stand-in): takes the place of the power-flow solver that
// ctgbatch launches, so that a run can be tried end to end without it.
//
// It checks its command line and its input files the way a solver would need
// them, says on standard output how many contingencies it received, and
// analyses nothing. It writes no file.

#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char *argv[])
{
    // sub-file, case.json, case.raw, work dir parent, 1 1 1 2, options.json,
    // work dir: the arguments ctgbatch passes on every rank.
    bool args_ok = argc == 11 && std::string(argv[5]) == "1" && std::string(argv[6]) == "1" &&
                   std::string(argv[7]) == "1" && std::string(argv[8]) == "2";
    if (!args_ok) {
        std::cerr << "usage: vandrelsolve SUBFILE.con CASE.json CASE.raw COSTDIR 1 1 1 2 OPTIONS.json WORKDIR"
                  << std::endl;
        return 2;
    }

    for (int i : {2, 3, 9}) {
        // A directory opens, but its first read fails.
        std::ifstream in(argv[i]);
        in.peek();
        if (!in.is_open() || in.bad()) {
            std::cerr << "vandrelsolve: can not read " << argv[i] << std::endl;
            return 1;
        }
    }

    // Count the blocks as ctgbatch cuts them: a line containing "CONTINGENCY"
    // and the two lines after it.
    std::ifstream con(argv[1]);
    if (!con.is_open()) {
        std::cerr << "vandrelsolve: can not read " << argv[1] << std::endl;
        return 1;
    }
    long long nctg = 0;
    std::string line;
    while (std::getline(con, line)) {
        if (line.find("CONTINGENCY") != std::string::npos) {
            ++nctg;
            std::getline(con, line);
            std::getline(con, line);
        }
    }
    if (con.bad() || !con.eof()) {
        std::cerr << "vandrelsolve: can not read " << argv[1] << std::endl;
        return 1;
    }

    std::cout << "vandrelsolve (stand-in, no analysis done): received " << nctg << " contingencies from " << argv[1]
              << std::endl;
    return 0;
}
