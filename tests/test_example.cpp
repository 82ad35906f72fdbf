// example/README.md against a run of scripts/run-example.sh with the
// programs of this build, so that what the README shows can not go stale.
// The README marks what is checked with an HTML comment before it:
//   <!-- printed by scripts/run-example.sh -->        a ``` block printed as
//        it stands, its lines one after another; with ", in any order" each
//        line printed somewhere (the ranks' lines interleave)
//   <!-- rows of FILE... [; not checked: COLUMN, ...] -->   a table whose
//        every row is a row of one of the run's FILEs (paths in the run's
//        folder), compared on every column but those named
// Every table of the README carries such a mark.
#include "harness.h"
#include "io/csv.h"
#include "test_paths.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string trimmed(const std::string &s)
{
    const size_t a = s.find_first_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// `s` cut at every `sep`, each piece trimmed of blanks.
std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) {
        parts.push_back(trimmed(part));
    }
    if (!s.empty() && s.back() == sep) {
        parts.emplace_back();
    }
    return parts;
}

// The cells of a Markdown table row "| a | b |".
std::vector<std::string> cells(const std::string &row)
{
    const std::string inner = trimmed(row);
    return split(inner.substr(1, inner.size() - 2), '|');
}

bool starts_with(const std::string &s, const std::string &head) { return s.compare(0, head.size(), head) == 0; }

// The run's CSV files behind one table: the header they share and all their
// records, read as the solver's readers read them.
struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

void add_csv(const std::string &path, Csv &csv)
{
    const std::string text = read_file(path);
    std::vector<std::string> header;
    ASSERT_TRUE(csv_fields(text.substr(0, text.find('\n')), header)) << path << ": no header";
    ASSERT_TRUE(csv.header.empty() || csv.header == header) << path << ": another header";
    csv.header = header;
    for (std::vector<std::string> &row : csv_rows(text)) {
        csv.rows.push_back(std::move(row));
    }
}

// Whether `line` was printed whole: a rank's driver writes its first line in
// pieces (the process count, then the rest), and the launcher may put another
// rank's solver line after the first piece, so a solver line stands at the
// start of a printed line or after such a piece.
bool shown_whole(const std::vector<std::string> &printed, const std::string &line)
{
    return std::any_of(printed.begin(), printed.end(), [&line](const std::string &p) {
        return p.size() >= line.size() && p.compare(p.size() - line.size(), line.size(), line) == 0;
    });
}

class ExampleReadme : public RunLayout {
protected:
    // Runs scripts/run-example.sh with this build's programs in a folder of
    // the layout; its console, or "" with a failure.
    std::string run_example()
    {
        std::string build = paths::ctgbatch;
        build.resize(build.find_last_of('/'));
        run_dir = root + "/example-run";
        const std::string out = root + "/example.out";
        const std::string cmd = "EXAMPLE_BUILD='" + build + "' EXAMPLE_MPIEXEC='" + paths::mpiexec + "' EXAMPLE_RUN='" +
                                run_dir + "' '" + paths::example + "/../scripts/run-example.sh' >'" + out + "' 2>&1";
        const int st = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << read_file(out);
        return read_file(out);
    }

    // A ``` block starting at lines[at], checked against the console.
    size_t check_block(const std::vector<std::string> &lines, size_t at, const std::string &mark,
                       const std::string &console)
    {
        EXPECT_EQ(lines[at], "```") << "after <!-- " << mark << " -->";
        std::vector<std::string> block;
        size_t i = at + 1;
        for (; i < lines.size() && lines[i] != "```"; ++i) {
            block.push_back(lines[i]);
        }
        const std::vector<std::string> printed = lines_of(console);
        if (mark.find(", in any order") != std::string::npos) {
            for (const std::string &line : block) {
                EXPECT_TRUE(shown_whole(printed, line)) << "README line not printed:\n"
                                                        << line << "\nprinted:\n"
                                                        << console;
            }
        } else {
            std::string text;
            for (const std::string &line : block) {
                text += line + "\n";
            }
            EXPECT_TRUE(("\n" + console).find("\n" + text) != std::string::npos) << "README block not printed:\n"
                                                                                 << text << "printed:\n"
                                                                                 << console;
        }
        return i + 1;
    }

    // A table starting at lines[at], checked against the files the mark names.
    size_t check_table(const std::vector<std::string> &lines, size_t at, const std::string &mark)
    {
        const std::vector<std::string> parts = split(mark.substr(std::string("rows of ").size()), ';');
        Csv csv;
        for (const std::string &file : split(parts[0], ' ')) {
            add_csv(run_dir + "/" + file, csv);
        }
        std::vector<std::string> skip;
        if (parts.size() > 1 && starts_with(parts[1], "not checked:")) {
            skip = split(parts[1].substr(std::string("not checked:").size()), ',');
        }
        const std::vector<std::string> head = cells(lines[at]);
        std::vector<size_t> column(head.size(), std::string::npos); // in the CSV; npos: not checked
        for (size_t c = 0; c < head.size(); ++c) {
            if (std::find(skip.begin(), skip.end(), head[c]) != skip.end()) {
                continue;
            }
            const auto it = std::find(csv.header.begin(), csv.header.end(), head[c]);
            EXPECT_TRUE(it != csv.header.end()) << "README column '" << head[c] << "' is no column of " << parts[0];
            column[c] = static_cast<size_t>(it - csv.header.begin());
        }
        size_t i = at + 2; // past the header and its | --- | line
        for (; i < lines.size() && starts_with(lines[i], "|"); ++i) {
            const std::vector<std::string> row = cells(lines[i]);
            const bool found = std::any_of(csv.rows.begin(), csv.rows.end(), [&](const auto &f) {
                for (size_t c = 0; c < row.size(); ++c) {
                    if (column[c] != std::string::npos && (column[c] >= f.size() || f[column[c]] != row[c])) {
                        return false;
                    }
                }
                return row.size() == head.size();
            });
            EXPECT_TRUE(found) << "README row is no row of " << parts[0] << ":\n" << lines[i];
        }
        return i;
    }

    std::string run_dir;
};

} // namespace

TEST_F(ExampleReadme, ShowsWhatTheExamplePrints)
{
    const std::string console = run_example();
    ASSERT_FALSE(HasFailure());
    const std::vector<std::string> lines = lines_of(read_file(std::string(paths::example) + "/README.md"));
    int blocks = 0;
    int tables = 0;
    std::string mark;
    for (size_t i = 0; i < lines.size();) {
        const std::string &line = lines[i];
        if (starts_with(line, "<!-- ") && line.size() > 9 && line.compare(line.size() - 4, 4, " -->") == 0) {
            mark = line.substr(5, line.size() - 9);
            ++i;
            continue;
        }
        if (line.empty()) {
            ++i;
            continue;
        }
        if (starts_with(mark, "printed by scripts/run-example.sh")) {
            i = check_block(lines, i, mark, console);
            ++blocks;
        } else if (starts_with(line, "|") && starts_with(mark, "rows of ")) {
            i = check_table(lines, i, mark);
            ++tables;
        } else if (starts_with(line, "|")) {
            ADD_FAILURE() << "README table without a mark of what it shows:\n" << line;
            while (i < lines.size() && starts_with(lines[i], "|")) {
                ++i;
            }
        } else {
            ++i;
        }
        mark.clear(); // a mark is for what follows it at once
    }
    EXPECT_GE(blocks, 2);
    EXPECT_GE(tables, 4);
}
