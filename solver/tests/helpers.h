// What several solver test programs share: reading and writing whole files,
// editing a text at a pattern, and reading the rows of a CSV file.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The bytes of `path`; "" when it can not be read (a test then fails on
// what it expected to find).
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);

// `text` with the first `from` replaced by `to`; a failure when `from` is
// not in the text, which is then returned unchanged.
std::string replaced(std::string text, const std::string &from, const std::string &to);

// The records of a CSV text after its header line, quotes undone as the
// solver's readers undo them; a line that is not valid CSV is a failure.
std::vector<std::vector<std::string>> csv_rows(const std::string &text);
std::vector<std::vector<std::string>> read_csv(const std::string &path);

// "FILE:LINE: what" of the InputError that `f` throws, as vandrelsolve
// prints it; "" when `f` throws none.
std::string input_error_of(const std::function<void()> &f);

// vandrelsolve's command line as the driver passes it to rank 0 of one, with
// the given run type, from start/ of a SolverLayout.
std::string driver_command_line(int run_type);

// A run's layout in a fresh folder under /tmp: start/ (options.json "{}")
// and work_dir/. Removed at the end unless the test failed, when it is
// left behind and the test says where.
class SolverLayout {
public:
    std::filesystem::path root;

    explicit SolverLayout(const std::string &name);
    SolverLayout(const SolverLayout &) = delete;
    SolverLayout &operator=(const SolverLayout &) = delete;
    ~SolverLayout();

    // The layout as it was made: start/ and work_dir/ emptied.
    void clear() const;
    // Exit status of `program args` run from start/, its output kept for
    // out() and err().
    int run_in_start(const std::string &program, const std::string &args) const;
    std::string out() const;
    std::string err() const;
    // A file of work_dir/, "" when there is none.
    std::string work(const std::string &name) const;
};
