#include "console/report_filter.h"

#include <string_view>
#include <utility>

namespace numoteka {

namespace {

// Whether `text`, which starts with ESC, is a cursor position report or the start of one;
// `whole` tells which. Rows and columns have at most five digits.
bool isReportSoFar(std::string_view text, bool& whole) {
    whole = false;
    if (text.size() > 1 && text[1] != '[') {
        return false;
    }
    int field = 0;
    size_t digits = 0;
    for (size_t at = 2; at < text.size(); ++at) {
        const char byte = text[at];
        if (byte >= '0' && byte <= '9' && digits < 5) {
            ++digits;
        } else if (byte == ';' && field == 0 && digits > 0) {
            field = 1;
            digits = 0;
        } else if (byte == 'R' && field == 1 && digits > 0 && at + 1 == text.size()) {
            whole = true;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

void filterReport(ReportFilter& filter, char byte, std::string& typed) {
    if (filter.held.empty() && byte != '\x1B') {
        typed.push_back(byte);
        return;
    }
    filter.held.push_back(byte);
    bool whole = false;
    if (isReportSoFar(filter.held, whole)) {
        if (whole) {
            filter.lastReport = std::exchange(filter.held, {});
        }
        return;
    }
    // Not a report after all: what was held was typed, and the last byte may start a report.
    filter.held.pop_back();
    typed += std::exchange(filter.held, {});
    filterReport(filter, byte, typed);
}

}  // namespace numoteka
