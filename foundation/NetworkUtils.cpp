#include "NetworkUtils.h"

#include "NSStringUtil.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

const char* const kLoopbackAddress = "127.0.0.1";
const char* const kAnyAddress = "0.0.0.0";
const char* const kUnknownHostName = "Win32";
const char* const kListSeparator = ",";
const char* const kScopeVariable = "QV_NETWORK_SCOPE";
const char* const kLoopbackScope = "loopback";
const char* const kLoopbackMask = "255.255.255.0";

// Subnets with this many host bits or more (a /9 or wider) are too large to sweep address by address.
const unsigned kMaxSweptHostBits = 23;

std::mutex gQueryLock;
LocalNetworkQuery gQuery;

std::vector<LocalAdapterAddress> querySystemAdapters() {
    std::vector<LocalAdapterAddress> adapters;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return adapters;
    std::set<std::string> seen;  // interface names that already gave their first address
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_netmask || !it->ifa_name)
            continue;
        const unsigned flags = it->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || (flags & IFF_LOOPBACK) || (flags & IFF_POINTOPOINT))
            continue;
        if (!seen.insert(it->ifa_name).second)
            continue;
        char address[INET_ADDRSTRLEN] = {};
        char mask[INET_ADDRSTRLEN] = {};
        const auto* a = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        const auto* m = reinterpret_cast<const sockaddr_in*>(it->ifa_netmask);
        if (!inet_ntop(AF_INET, &a->sin_addr, address, sizeof address) ||
            !inet_ntop(AF_INET, &m->sin_addr, mask, sizeof mask))
            continue;
        adapters.push_back({address, mask});
    }
    freeifaddrs(list);
    return adapters;
}

bool querySystemHostName(std::string& name) {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return false;
    name = buffer;
    return true;
}

// The host name travels as a quoted value inside flat JSON texts, which these characters would break.
std::string cleanHostName(std::string name) {
    const std::string dropped = "\":{}[]";
    name.erase(std::remove_if(name.begin(), name.end(),
                              [&](char c) { return dropped.find(c) != std::string::npos; }),
               name.end());
    return replaceAll(name, ",", "_");
}

uint32_t toHostOrder(uint32_t storedOrder) {
    return __builtin_bswap32(storedOrder);
}

bool isLoopbackAddress(const std::string& address) {
    return isValidIPv4(address) && address.compare(0, 4, "127.") == 0;
}

}  // namespace

NetworkScope getNetworkScope() {
    const char* value = std::getenv(kScopeVariable);
    return value && std::strcmp(value, kLoopbackScope) == 0 ? NetworkScope::Loopback : NetworkScope::Full;
}

bool isAddressInNetworkScope(const std::string& address) {
    return getNetworkScope() == NetworkScope::Full || isLoopbackAddress(address);
}

void setLocalNetworkQuery(LocalNetworkQuery query) {
    std::lock_guard<std::mutex> lock(gQueryLock);
    gQuery = std::move(query);
}

void getLocalNetworkInfo(std::string& hostName, std::string& addressList, std::string& maskList) {
    hostName.clear();
    addressList.clear();
    maskList.clear();

    LocalNetworkQuery query;
    {
        std::lock_guard<std::mutex> lock(gQueryLock);
        query = gQuery;
    }
    const bool loopbackOnly = getNetworkScope() == NetworkScope::Loopback;
    std::vector<LocalAdapterAddress> adapters;
    if (query.adapters)
        adapters = query.adapters();
    else if (loopbackOnly)
        adapters.push_back({kLoopbackAddress, kLoopbackMask});
    else
        adapters = querySystemAdapters();
    for (const LocalAdapterAddress& adapter : adapters) {
        if (loopbackOnly ? !isLoopbackAddress(adapter.address)
                         : adapter.address == kLoopbackAddress || adapter.address == kAnyAddress)
            continue;
        if (!addressList.empty()) {
            addressList += kListSeparator;
            maskList += kListSeparator;
        }
        addressList += adapter.address;
        maskList += adapter.mask;
    }

    std::string name;
    const bool named = query.hostName ? query.hostName(name) : querySystemHostName(name);
    hostName = cleanHostName(named ? name : kUnknownHostName);
}

std::vector<std::string> getOwnIPv4Addresses() {
    std::vector<std::string> own;
    LocalNetworkQuery query;
    {
        std::lock_guard<std::mutex> lock(gQueryLock);
        query = gQuery;
    }
    if (query.adapters)
        for (const LocalAdapterAddress& adapter : query.adapters())
            own.push_back(adapter.address);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* it = list; it; it = it->ifa_next) {
            if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET)
                continue;
            char address[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr, address,
                          sizeof address))
                own.push_back(address);
        }
        freeifaddrs(list);
    }
    return own;
}

unsigned int ipStringToInt(const char* text) {
    if (!text)
        return 0;
    uint32_t result = 0;
    unsigned shift = 0;
    const char* p = text;
    for (;;) {
        uint32_t number = 0;  // wraps on absurdly long digit runs instead of overflowing
        while (*p >= '0' && *p <= '9')
            number = number * 10u + static_cast<uint32_t>(*p++ - '0');
        result += number << shift;
        shift = (shift + 8) % 32;
        if (*p != '.')
            break;
        ++p;
    }
    if (*p == '\0' || std::isspace(static_cast<unsigned char>(*p)))
        return result;
    return 0;
}

const char* ipIntToString(unsigned int hostOrderAddress) {
    thread_local char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (hostOrderAddress >> 24) & 0xFFu,
                  (hostOrderAddress >> 16) & 0xFFu, (hostOrderAddress >> 8) & 0xFFu, hostOrderAddress & 0xFFu);
    return text;
}

void getSubnetHostAddresses(std::vector<std::string>& out) {
    out.clear();
    std::string hostName, addressList, maskList;
    getLocalNetworkInfo(hostName, addressList, maskList);
    if (addressList.empty() || maskList.empty())
        return;
    std::vector<std::string> addresses, masks;
    splitString(addressList, kListSeparator, addresses);
    splitString(maskList, kListSeparator, masks);
    getSubnetHostAddresses(addresses, masks, out);
    out.erase(std::remove_if(out.begin(), out.end(), [](const std::string& a) { return !isAddressInNetworkScope(a); }),
              out.end());
}

void getSubnetHostAddresses(const std::vector<std::string>& addresses, const std::vector<std::string>& masks,
                            std::vector<std::string>& out) {
    out.clear();
    const size_t pairs = std::min(addresses.size(), masks.size());
    for (size_t i = 0; i < pairs; ++i) {
        const uint32_t address = toHostOrder(ipStringToInt(addresses[i].c_str()));
        const uint32_t mask = toHostOrder(ipStringToInt(masks[i].c_str()));
        const unsigned hostBits = mask == 0 ? 32u : static_cast<unsigned>(__builtin_ctz(mask));
        if (hostBits == 0 || hostBits >= kMaxSweptHostBits)
            continue;

        // 64-bit arithmetic: candidates below 0.0.0.0 or above 255.255.255.255 simply fall outside.
        const int64_t network = address & mask;
        const int64_t broadcast = network + (int64_t(1) << hostBits) - 1;
        const int64_t own = address;
        if (own > broadcast)  // the mask has holes; the address is not inside its own subnet
            continue;
        const int64_t first = network + ((network & 0xFF) == 0 ? 1 : 0);
        const int64_t last = broadcast - ((broadcast & 0xFF) == 0xFF ? 1 : 0);
        const int64_t span = std::max(own - first + 1, last - own + 1);
        for (int64_t d = 1; d < span; ++d) {
            for (const int64_t candidate : {own + d, own - d}) {
                if (candidate < first || candidate > last)
                    continue;
                const int64_t lowByte = candidate & 0xFF;
                if (lowByte == 0 || lowByte == 0xFF)
                    continue;
                out.emplace_back(ipIntToString(static_cast<uint32_t>(candidate)));
            }
        }
    }
}

bool isValidIPv4(const std::string& text) {
    if (text.empty() || text.back() == '.')
        return false;
    unsigned number = 0;
    int dots = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            number = number * 10 + static_cast<unsigned>(c - '0');
            if (number > 255)  // checked at every digit, so the running number never grows past 2559
                return false;
        } else if (c == '.') {
            number = 0;
            ++dots;
        } else {
            return false;
        }
    }
    return dots == 3;
}
