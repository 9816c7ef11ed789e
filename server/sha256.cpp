#include "sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace numoteka::server {

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex.push_back("0123456789abcdef"[digest[i] >> 4]);
        hex.push_back("0123456789abcdef"[digest[i] & 0xF]);
    }
    return hex;
}

}  // namespace numoteka::server
