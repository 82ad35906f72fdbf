#include "contingency/ctg_list.h"

#include "raw/input_error.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string trim(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return "";
    }
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string upper(std::string s)
{
    for (char &c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

// Words separated by blanks; a word in single or double quotes may hold
// blanks and loses its quotes.
std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> w;
    size_t p = 0;
    while (p < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[p]))) {
            ++p;
            continue;
        }
        if (line[p] == '\'' || line[p] == '"') {
            const size_t end = line.find(line[p], p + 1);
            const size_t stop = end == std::string::npos ? line.size() : end;
            w.push_back(trim(line.substr(p + 1, stop - p - 1)));
            p = stop + 1;
            continue;
        }
        size_t e = p;
        while (e < line.size() && !std::isspace(static_cast<unsigned char>(line[e]))) {
            ++e;
        }
        w.push_back(line.substr(p, e - p));
        p = e;
    }
    return w;
}

// A bus number: digits only, 1 to 999999.
bool bus_number(const std::string &s, int &n)
{
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    n = std::atoi(s.c_str());
    return n > 0;
}

// Matches "BUS <n>" at w[p]; advances p.
bool bus_at(const std::vector<std::string> &w, size_t &p, int &n)
{
    if (p + 1 >= w.size() || upper(w[p]) != "BUS" || !bus_number(w[p + 1], n)) {
        return false;
    }
    p += 2;
    return true;
}

Element parse_branch(const std::vector<std::string> &w)
{
    Element e;
    size_t p = 2;
    if (p >= w.size() || upper(w[p]) != "FROM") {
        return e;
    }
    ++p;
    if (!bus_at(w, p, e.i) || p >= w.size() || upper(w[p]) != "TO") {
        return e;
    }
    ++p;
    if (!bus_at(w, p, e.j)) {
        return e;
    }
    if (p < w.size() && upper(w[p]) == "TO") {
        ++p;
        if (!bus_at(w, p, e.k)) {
            return e;
        }
    }
    e.id = "1";
    if (p < w.size()) {
        const std::string kw = upper(w[p]);
        if ((kw != "CKT" && kw != "CIRCUIT") || p + 2 != w.size() || w[p + 1].empty()) {
            return e;
        }
        e.id = w[p + 1];
    }
    e.kind = Element::Kind::branch;
    return e;
}

Element parse_unit(const std::vector<std::string> &w)
{
    Element e;
    size_t p = 3;
    if (w.size() != 6 || w[2].empty() || upper(w[p]) != "FROM") {
        return e;
    }
    ++p;
    if (!bus_at(w, p, e.i)) {
        return e;
    }
    e.id = w[2];
    e.kind = Element::Kind::unit;
    return e;
}

} // namespace

std::vector<CtgBlock> cut_ctg_blocks(const std::string &text)
{
    std::vector<std::string> lines;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos) {
            e = text.size();
        }
        std::string l = text.substr(p, e - p);
        if (!l.empty() && l.back() == '\r') {
            l.pop_back();
        }
        lines.push_back(l);
        p = e + 1;
    }
    std::vector<CtgBlock> blocks;
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t at = lines[i].find("CONTINGENCY");
        if (at == std::string::npos) {
            continue;
        }
        CtgBlock b;
        b.label = trim(lines[i].substr(at + 11));
        b.element = i + 1 < lines.size() ? lines[i + 1] : "";
        b.line = static_cast<int>(std::min<size_t>(i + 1, INT_MAX));
        blocks.push_back(b);
        i += 2; // the two lines after the header belong to its block
    }
    return blocks;
}

std::vector<CtgBlock> read_ctg_blocks(const std::string &path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw InputError(path, 0, "can not read the file: it is a directory");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        throw InputError(path, 0, "can not open the file");
    }
    std::string text;
    std::array<char, 65536> buf{};
    while (in.read(buf.data(), buf.size()) || in.gcount() > 0) {
        text.append(buf.data(), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        throw InputError(path, 0, "can not read the file");
    }
    return cut_ctg_blocks(text);
}

Element parse_element(const std::string &line)
{
    const std::vector<std::string> w = words(line);
    if (w.size() < 2) {
        return {};
    }
    const std::string verb = upper(w[0]);
    const std::string what = upper(w[1]);
    const bool open = verb == "OPEN" || verb == "TRIP" || verb == "DISCONNECT";
    const bool remove = verb == "REMOVE" || verb == "TRIP" || verb == "DISCONNECT";
    if (open && (what == "BRANCH" || what == "LINE")) {
        return parse_branch(w);
    }
    if (remove && (what == "UNIT" || what == "MACHINE")) {
        return parse_unit(w);
    }
    return {};
}

bool same_id(const std::string &a, const std::string &b)
{
    auto norm = [](const std::string &s) {
        std::string t = trim(s);
        if (t.size() >= 2 && (t.front() == '\'' || t.front() == '"') && t.back() == t.front()) {
            t = trim(t.substr(1, t.size() - 2));
        }
        return upper(t);
    };
    return norm(a) == norm(b);
}
