// Who sent a request: the peer, or, behind a trusted reverse proxy, the address the proxies
// recorded in X-Forwarded-For; and the key that counts a client's submissions.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace numoteka::server {

using IpAddress = boost::asio::ip::address;

// An address as written in a header or on the command line ("192.0.2.1", "2001:db8::1",
// "::ffff:192.0.2.1"); an IPv4 address mapped into IPv6 is taken as the IPv4 one.
bool parseAddress(std::string_view text, IpAddress& address);

class TrustedProxies {
public:
    explicit TrustedProxies(std::vector<IpAddress> addresses);
    bool trusts(const IpAddress& address) const;

private:
    std::vector<IpAddress> addresses_;
};

// The client of a request from `peer`. Only a trusted proxy's X-Forwarded-For counts: its
// lines in order (`forwardedFor`, joined by commas) are read from the right, past the entries
// trusted proxies added, to the first one they received a request from. An entry that is no
// address ends the search there: the client is then the proxy that wrote it.
IpAddress clientOf(const IpAddress& peer, std::string_view forwardedFor,
                   const TrustedProxies& trusted);

// What a client's submissions are counted under: an IPv4 address, or the /64 an IPv6 address
// is in (what one subscriber is usually given).
std::string clientKey(const IpAddress& client);

}  // namespace numoteka::server
