#include "client_address.h"

#include <algorithm>
#include <cstdio>

namespace numoteka::server {

namespace {

std::string_view trimmed(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

IpAddress unmapped(const IpAddress& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

}  // namespace

bool parseAddress(std::string_view text, IpAddress& address) {
    boost::system::error_code error;
    const IpAddress parsed = boost::asio::ip::make_address(std::string(trimmed(text)), error);
    if (error) {
        return false;
    }
    address = unmapped(parsed);
    return true;
}

TrustedProxies::TrustedProxies(std::vector<IpAddress> addresses) {
    for (const IpAddress& address : addresses) {
        addresses_.push_back(unmapped(address));
    }
}

bool TrustedProxies::trusts(const IpAddress& address) const {
    return std::find(addresses_.begin(), addresses_.end(), unmapped(address)) != addresses_.end();
}

IpAddress clientOf(const IpAddress& peer, std::string_view forwardedFor,
                   const TrustedProxies& trusted) {
    IpAddress client = unmapped(peer);
    while (trusted.trusts(client) && !trimmed(forwardedFor).empty()) {
        const size_t comma = forwardedFor.rfind(',');
        const std::string_view entry =
            comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1);
        forwardedFor = forwardedFor.substr(0, comma == std::string_view::npos ? 0 : comma);
        if (trimmed(entry).empty()) {
            continue;
        }
        if (!parseAddress(entry, client)) {
            break;
        }
    }
    return client;
}

std::string clientKey(const IpAddress& client) {
    if (client.is_v4()) {
        return client.to_string();
    }
    const auto bytes = client.to_v6().to_bytes();
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02x%02x:%02x%02x:%02x%02x:%02x%02x::/64", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]);
    return prefix;
}

}  // namespace numoteka::server
