// SHA-256 (FIPS 180-4), from the system's libcrypto, for the key that tells one game from
// another: a key no one can make two different games share.
#pragma once

#include <string>
#include <string_view>

namespace numoteka::server {

// The digest of `bytes` in 64 lowercase hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace numoteka::server
