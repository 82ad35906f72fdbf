// The generator response the report lists on its own: the MW that the
// units sharing an outage's change moved beyond the swing units
// (response_mw, signed: positive when generation rose), and the
// contingencies whose note says that every sharing unit reached a limit,
// where the solver writes, as one part of the note after "; ",
//   "reserve exhausted: 123.4 MW left on the swing"
// (the MW signed: negative when generation had to fall).
#pragma once

#include "report/report.h"

#include <cstddef>
#include <string>
#include <vector>

// Rows in the list of the largest responses.
constexpr std::size_t response_rows_shown = 10;

// A row with a number in response_mw: its list position and the MW.
struct Response {
    std::size_t at = 0;
    double mw = 0;
};

// The rows with a finite number in response_mw, whatever their status,
// largest |response_mw| first (ties in list order); at most `count`, every
// one when count is 0.
std::vector<Response> largest_responses(const Report &r, std::size_t count);

// What a note says of the reserve.
struct NotedReserve {
    bool exhausted = false; // the note has a "reserve exhausted: " part
    std::string mw;         // the MW left on the swing as written; "" when the part is damaged
    double left_mw = 0;
};

// The first part of `note` that starts "reserve exhausted: " (at the start
// of the note or after "; "). Its MW are read only where the part is whole,
// "reserve exhausted: X MW left on the swing" with X a finite number as
// strtod reads it, ending the note or followed by "; "; a damaged part
// still counts as exhausted, without MW.
NotedReserve noted_reserve(const std::string &note);

// A contingency whose note says the reserve ran out.
struct Exhausted {
    std::size_t at = 0;
    NotedReserve reserve;
};

// The rows whose note says the reserve ran out, whatever their status, in
// list order.
std::vector<Exhausted> reserve_exhausted_rows(const Report &r);
