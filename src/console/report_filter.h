// Takes the terminal's cursor position reports (ESC [ row ; column R) out of the bytes it
// sends: once asked where its cursor stands, a terminal answers when it can, and on a slow
// link that may be long after the game stopped waiting, among the keys typed.
#pragma once

#include <string>

namespace numoteka {

struct ReportFilter {
    std::string held;        // the start of what may be a report
    std::string lastReport;  // the last whole report taken out
};

// Passes one byte from the terminal on to `typed`, unless it belongs to a cursor position
// report.
void filterReport(ReportFilter& filter, char byte, std::string& typed);

}  // namespace numoteka
