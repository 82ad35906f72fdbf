#include "results/detail.h"

#include "contingency/changes.h"
#include "io/atomic_file.h"
#include "io/input_error.h"
#include "io/printable.h"
#include "network/ybus.h"
#include "results/results.h"
#include "results/units.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>

std::string detail_folder_name(const std::string &label)
{
    constexpr std::size_t longest = 200;
    std::string name = label.substr(0, longest);
    for (char &c : name) {
        const auto u = static_cast<unsigned char>(c);
        const bool kept = u < 128 && (std::isalnum(u) != 0 || c == '.' || c == '-' || c == '_');
        c = kept ? c : '_';
    }
    if (name.empty() || name[0] == '.') {
        name = "_" + name.substr(name.empty() ? 0 : 1);
    }
    return name;
}

namespace {

// Ybus·V of the kept state: Ybus of its branches in service, each branch's
// stamp (end shunts in) times its fraction of admittance, in a workspace as
// a solve leaves it (unit_q reads current and vc).
NewtonWorkspace state_workspace(const CtgState &st, const Voltages &v)
{
    Ybus y = make_ybus(st.net, st.on);
    for (std::size_t k = 0; k < st.branch_scale.size() && k < st.net.branches.size(); ++k) {
        const NetBranch &br = st.net.branches[k];
        const double out = 1.0 - st.branch_scale[k];
        if (!st.on[k] || br.tie || out == 0.0) {
            continue;
        }
        const BranchStamp s = branch_stamp(br, true);
        y.coeffRef(br.f, br.f) -= out * s.yff;
        y.coeffRef(br.f, br.t) -= out * s.yft;
        y.coeffRef(br.t, br.f) -= out * s.ytf;
        y.coeffRef(br.t, br.t) -= out * s.ytt;
    }
    NewtonWorkspace ws;
    ws.vc.resize(v.vm.size());
    for (Eigen::Index i = 0; i < v.vm.size(); ++i) {
        ws.vc[i] = std::polar(v.vm[i], v.va[i]);
    }
    ws.current = y * ws.vc;
    ws.vc_at = v;
    return ws;
}

// The unit a block takes out of the schedule (REMOVE UNIT), which stays in
// the kept network; −1 for any other block.
int removed_unit(const Network &net, const BaseCase &bc, const CtgBlock &block)
{
    const Element e = parse_element(block.element);
    return e.kind == Element::Kind::unit ? find_outage(net, bc, e).unit : -1;
}

} // namespace

std::string write_detail(const std::string &dir, const std::vector<Unit> &raw_units, const Network &net,
                         const BaseCase &bc, const CtgBlock &block, const CtgResult &r, int rating_set)
{
    if (!r.state) {
        return "no detail for contingency '" + printable(block.label) + "': its status is " + status_name(r.status) +
               ", with no solved state";
    }
    const CtgState &st = *r.state;
    const NewtonWorkspace ws = state_workspace(st, r.sol.v);
    const SolvedNetwork s{st.net, st.on, r.sol, ws, st.branch_scale, removed_unit(net, bc, block), st.slack_unit_p};
    const std::filesystem::path folder = std::filesystem::path(dir) / detail_folder_name(block.label);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        throw InputError(folder.string(), 0, "can not create the folder");
    }
    write_file_atomically((folder / "buses.csv").string(), buses_csv(s));
    write_file_atomically((folder / "branches.csv").string(), branches_csv(s, rating_set));
    write_file_atomically((folder / "units.csv").string(), units_csv(raw_units, s));
    return "";
}

void remove_detail_folder(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) {
        throw InputError(path, 0, "can not remove the detail folder of an earlier run");
    }
}

std::vector<std::string> unknown_detail_labels(const std::vector<std::string> &detail, const std::string &subfile,
                                               const std::vector<CtgBlock> &blocks)
{
    if (detail.empty()) {
        return {};
    }
    std::vector<CtgBlock> whole;
    std::smatch m;
    const bool is_share = std::regex_match(subfile, m, std::regex("(.*)_subctg([0-9]+)\\.con"));
    if (is_share) {
        if (m[2].str().find_first_not_of('0') != std::string::npos) {
            return {};
        }
        try {
            whole = read_ctg_blocks(m[1].str() + ".con");
        } catch (const InputError &) {
            return {};
        }
    }
    const std::vector<CtgBlock> &list = is_share ? whole : blocks;
    std::vector<std::string> unknown;
    for (const std::string &label : detail) {
        const bool known = std::any_of(list.begin(), list.end(), [&](const CtgBlock &b) { return b.label == label; });
        if (!known && std::find(unknown.begin(), unknown.end(), label) == unknown.end()) {
            unknown.push_back(label);
        }
    }
    return unknown;
}
