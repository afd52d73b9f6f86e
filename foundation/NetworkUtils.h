// The workstation's own IPv4 addresses and the texts built from them.
//
// Used by the storage server (its listening address), peer discovery (its own address, its host name
// in the datagrams, and the sweep of the local subnets) and the network check. Only IPv4 is handled.
//
// Two orders of 32-bit address values appear here:
//   stored order: what ipStringToInt gives, the first number of the dotted quad in the lowest byte;
//   host order:   the first number in the highest byte, as ipIntToString expects and as subnet
//                 arithmetic needs (network = address & mask, broadcast = network + block - 1).
//
// Nothing here sends a packet: the adapter query reads the kernel's interface list only.
//
// Network scope. Every address the program sweeps (the echo sweep of possible DICOM nodes and the
// discovery pings) comes from getSubnetHostAddresses here. With the environment variable
// QV_NETWORK_SCOPE=loopback (set for every test, benchmark and development run on shared machines)
// the workstation pretends to have one adapter, 127.0.0.1 with mask 255.255.255.0, so the sweeps
// reach 127.0.0.2 to 127.0.0.254 only; adapters outside 127.0.0.0/8 are dropped, also injected
// ones, and senders refuse every address for which isAddressInNetworkScope is false. Without the
// variable nothing changes.
#pragma once

#include <functional>
#include <string>
#include <vector>

// One local adapter as the system reports it: the dotted-quad texts of its first IPv4 address and mask.
struct LocalAdapterAddress {
    std::string address;
    std::string mask;
};

// Where getLocalNetworkInfo takes its facts from. The default reads the system (getifaddrs, gethostname);
// tests install their own so that no test depends on, or sweeps, the machine's real networks.
struct LocalNetworkQuery {
    // Adapters in the system's order. The system query lists interfaces that are up and running and are
    // neither loopback nor point-to-point links, one entry (the first IPv4 address) per interface.
    std::function<std::vector<LocalAdapterAddress>()> adapters;
    // The host name; false when it cannot be read.
    std::function<bool(std::string&)> hostName;
};

enum class NetworkScope {
    Full,      // the workstation's real adapters
    Loopback,  // 127.0.0.0/8 only (QV_NETWORK_SCOPE=loopback)
};

// Read from the environment at each call (cheap), so a test may change it between cases.
NetworkScope getNetworkScope();
// True when traffic to the dotted-quad address is allowed: always in the full scope; in the loopback
// scope only for a well-formed address in 127.0.0.0/8.
bool isAddressInNetworkScope(const std::string& address);

// Replaces the query (an empty member falls back to the system for that fact). Call before any worker
// that reads the local network starts; pass {} to restore the system query.
void setLocalNetworkQuery(LocalNetworkQuery query);

// Host name, the comma-joined address list and the comma-joined mask list (n-th mask for n-th address,
// no trailing comma). Adapters carrying "127.0.0.1" or "0.0.0.0" are left out, except in the loopback
// scope, where the system query answers the single adapter 127.0.0.1/255.255.255.0 and only adapters
// inside 127.0.0.0/8 are kept. The host name loses the
// characters '"', ':', '{', '}', '[' and ']', and ',' becomes '_', because it travels as a value inside
// flat JSON texts; a name that cannot be read is "Win32" (the name peers already know for that case).
void getLocalNetworkInfo(std::string& hostName, std::string& addressList, std::string& maskList);

// Every IPv4 address of this machine that a peer could reach it at: the addresses of all its
// interfaces (secondary ones, and interfaces down, included; 127.0.0.1 among them) and the adapters
// of an installed query. Every address of 127.0.0.0/8 reaches this machine as well.
std::vector<std::string> getOwnIPv4Addresses();

// Dotted quad to a stored-order value. Trailing whitespace is allowed; any other trailing character gives
// 0. Numbers above 255 are not rejected: their high bits run into the next byte (peers rely on nothing
// stricter, and typed addresses are checked with isValidIPv4 first).
unsigned int ipStringToInt(const char* text);

// Host-order value to "a.b.c.d". The text lives in a per-thread buffer, overwritten by the next call on
// the same thread: copy it before calling again.
const char* ipIntToString(unsigned int hostOrderAddress);

// The other host addresses of the local subnets, the nearest first, alternately above and below each
// own address: getSubnetHostAddresses(addresses, masks, out) over getLocalNetworkInfo's lists, less
// every address outside the network scope. Both sweeps take their addresses from here.
void getSubnetHostAddresses(std::vector<std::string>& out);

// The sweep itself over given address and mask texts, paired by index up to the shorter list. Subnets
// with more than 22 host bits, single-address masks, and pairs whose address lies outside its own subnet
// (a malformed mask) are skipped; the sweep goes on with the next pair. Network and broadcast addresses
// and every address whose last byte is 0 or 255 are never listed, nor is the own address.
void getSubnetHostAddresses(const std::vector<std::string>& addresses, const std::vector<std::string>& masks,
                            std::vector<std::string>& out);

// True for four decimal numbers of at most 255 joined by exactly three dots, the text not ending in '.'.
// Leading zeros and empty parts are accepted ("1..2.3" passes), as typed addresses always were.
bool isValidIPv4(const std::string& text);
