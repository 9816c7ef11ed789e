#include "request_log.h"

#include <cstdio>
#include <mutex>

#include "clock.h"

namespace numoteka::server {

namespace {

void appendEscape(std::string& out, unsigned char byte) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    out += escape;
}

// The length of the UTF-8 character at the start of `text`, or 0 when it is none (bad, cut or
// overlong).
size_t utf8Length(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                                                         : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const auto second = static_cast<unsigned char>(text[1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F) || (lead == 0xED && second > 0x9F)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string escapedForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out.push_back(static_cast<char>(byte));
            ++at;
            continue;
        }
        const size_t length = byte >= 0x80 ? utf8Length(text.substr(at)) : 0;
        // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
        if (length == 0 || (byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0)) {
            for (size_t i = 0; i < std::max<size_t>(length, 1); ++i) {
                appendEscape(out, static_cast<unsigned char>(text[at + i]));
            }
            at += std::max<size_t>(length, 1);
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string logLine(const LoggedRequest& request) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1fms", request.durationMs);
    std::string line = isoTime(request.startMs);
    for (const std::string& field :
         {escapedForTerminal(request.client), escapedForTerminal(request.method),
          escapedForTerminal(request.target), std::to_string(request.status),
          std::to_string(request.bytes), std::string(duration)}) {
        line.append(" ").append(field);
    }
    if (!request.reason.empty()) {
        line.append(" ").append(escapedForTerminal(request.reason));
    }
    return line;
}

void logRequest(const LoggedRequest& request) {
    static std::mutex writing;
    const std::string line = logLine(request) + "\n";
    const std::lock_guard lock(writing);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace numoteka::server
