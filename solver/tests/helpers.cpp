#include "helpers.h"

#include "io/csv.h"
#include "io/input_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <stdlib.h>
#include <sys/wait.h>

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    ASSERT_FALSE(out.fail()) << "can not write " << path;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::vector<std::vector<std::string>> csv_rows(const std::string &text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> fields;
    while (std::getline(in, line)) {
        EXPECT_TRUE(csv_fields(line, fields)) << "not a CSV record: " << line;
        rows.push_back(fields);
    }
    return rows;
}

std::vector<std::vector<std::string>> read_csv(const std::string &path) { return csv_rows(read_file(path)); }

std::string input_error_of(const std::function<void()> &f)
{
    try {
        f();
    } catch (const InputError &e) {
        return where_what(e);
    }
    return "";
}

std::string driver_command_line(int run_type)
{
    return "../work_dir//case_subctg0.con ../work_dir//case.json ../work_dir//case.raw ../work_dir//.. 1 1 1 " +
           std::to_string(run_type) + " ./options.json ../work_dir/";
}

SolverLayout::SolverLayout(const std::string &name)
{
    std::string tmpl = "/tmp/" + name + ".XXXXXX";
    const char *made = ::mkdtemp(tmpl.data());
    EXPECT_NE(made, nullptr) << "can not make a folder " << tmpl;
    root = made != nullptr ? made : "";
    clear();
}

void SolverLayout::clear() const
{
    for (const char *folder : {"start", "work_dir"}) {
        std::filesystem::remove_all(root / folder);
        std::filesystem::create_directories(root / folder);
    }
    write_file(root / "start/options.json", "{}\n");
}

SolverLayout::~SolverLayout()
{
    if (::testing::Test::HasFailure()) {
        std::cerr << "test folder left in " << root << "\n";
    } else if (!root.empty()) {
        std::filesystem::remove_all(root);
    }
}

int SolverLayout::run_in_start(const std::string &program, const std::string &args) const
{
    const std::string cmd = "cd '" + (root / "start").string() + "' && " + program + " " + args + " >'" +
                            (root / "out").string() + "' 2>'" + (root / "err").string() + "'";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SolverLayout::out() const { return read_file(root / "out"); }
std::string SolverLayout::err() const { return read_file(root / "err"); }
std::string SolverLayout::work(const std::string &name) const { return read_file(root / "work_dir" / name); }
