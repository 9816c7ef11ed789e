// The web page's files, served from one folder: only regular files inside it, whatever the
// address says and wherever a link inside it points.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace numoteka::server {

struct StaticFile {
    std::filesystem::path path;  // resolved, inside the folder
    const char* contentType;
    const char* cacheControl;
};

class StaticFiles {
public:
    // Throws std::filesystem::filesystem_error when `folder` cannot be resolved.
    explicit StaticFiles(const std::filesystem::path& folder);

    // The file an address's path (before any "?") stands for: "/" is index.html. Nothing for a
    // path that is malformed, holds a NUL (even encoded) or "..", leaves the folder (through a
    // link too), or names no regular file.
    std::optional<StaticFile> find(std::string_view urlPath) const;

    const std::filesystem::path& folder() const {
        return folder_;
    }

private:
    std::filesystem::path folder_;
};

}  // namespace numoteka::server
