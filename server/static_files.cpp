#include "static_files.h"

#include <array>
#include <utility>

namespace numoteka::server {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::pair<const char*, const char*>, 11> CONTENT_TYPES = {{
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".wasm", "application/wasm"},
    {".woff2", "font/woff2"},
    {".png", "image/png"},
    {".json", "application/json"},
    {".webmanifest", "application/manifest+json"},
    {".txt", "text/plain; charset=utf-8"},
    {".svg", "image/svg+xml"},
}};

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

// The path with its %XX decoded; nothing when an escape is malformed or anything is a NUL.
std::optional<std::string> decoded(std::string_view path) {
    std::string out;
    for (size_t at = 0; at < path.size(); ++at) {
        char byte = path[at];
        if (byte == '%') {
            const int high = at + 2 < path.size() ? hexValue(path[at + 1]) : -1;
            const int low = high >= 0 ? hexValue(path[at + 2]) : -1;
            if (low < 0) {
                return std::nullopt;
            }
            byte = static_cast<char>(high * 16 + low);
            at += 2;
        }
        if (byte == '\0') {
            return std::nullopt;
        }
        out.push_back(byte);
    }
    return out;
}

// A build of the page keeps its files in a folder named after its version: they never change.
bool versioned(std::string_view path) {
    return path.size() > 18 && path[17] == '/' &&
           path.find_first_not_of("0123456789abcdef", 1) == 17;
}

}  // namespace

StaticFiles::StaticFiles(const fs::path& folder) : folder_(fs::canonical(folder)) {}

std::optional<StaticFile> StaticFiles::find(std::string_view urlPath) const {
    std::optional<std::string> path = decoded(urlPath);
    if (!path || !path->starts_with('/') || path->find("..") != std::string::npos ||
        path->find('\\') != std::string::npos) {
        return std::nullopt;
    }
    if (path->ends_with('/')) {
        *path += "index.html";
    }
    std::error_code error;
    const fs::path resolved = fs::canonical(folder_ / fs::path(*path).relative_path(), error);
    const std::string inside = folder_.string() + "/";
    if (error || !resolved.string().starts_with(inside) || !fs::is_regular_file(resolved, error)) {
        return std::nullopt;
    }
    const std::string extension = resolved.extension().string();
    const char* type = "application/octet-stream";
    for (const auto& [suffix, name] : CONTENT_TYPES) {
        if (extension == suffix) {
            type = name;
        }
    }
    return StaticFile{resolved, type,
                      versioned(*path) ? "public, max-age=31536000, immutable" : "no-cache"};
}

}  // namespace numoteka::server
