// Local addresses, address texts and the subnet sweep. The sweep is exercised only as a function over
// given address lists: nothing here sends a packet anywhere.
#include "NetworkUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

// Sets QV_NETWORK_SCOPE for one test (nullptr: unset) and restores what the test run had. The cases
// with made-up adapters compute address lists only and need the full scope to see them.
class ScopedNetworkScope {
public:
    explicit ScopedNetworkScope(const char* value) {
        if (const char* old = std::getenv("QV_NETWORK_SCOPE")) {
            had_ = true;
            old_ = old;
        }
        if (value)
            setenv("QV_NETWORK_SCOPE", value, 1);
        else
            unsetenv("QV_NETWORK_SCOPE");
    }
    ~ScopedNetworkScope() {
        if (had_)
            setenv("QV_NETWORK_SCOPE", old_.c_str(), 1);
        else
            unsetenv("QV_NETWORK_SCOPE");
    }

private:
    bool had_ = false;
    std::string old_;
};

// Installs a fixed set of adapters and a host name for one test, in the full network scope, and
// restores the system query after.
class FakeNetwork {
public:
    FakeNetwork(std::vector<LocalAdapterAddress> adapters, std::string hostName, bool named = true)
        : scope_(nullptr) {
        LocalNetworkQuery query;
        query.adapters = [adapters] { return adapters; };
        query.hostName = [hostName, named](std::string& out) {
            out = hostName;
            return named;
        };
        setLocalNetworkQuery(query);
    }
    ~FakeNetwork() { setLocalNetworkQuery({}); }

private:
    ScopedNetworkScope scope_;
};

std::vector<std::string> sweep(const std::vector<std::string>& addresses, const std::vector<std::string>& masks) {
    std::vector<std::string> out{"left over from an earlier sweep"};
    getSubnetHostAddresses(addresses, masks, out);
    return out;
}

}  // namespace

// Loopback and unconfigured adapters are skipped; the host name is made safe for JSON and falls
// back when the system has none; with no usable adapter there is nothing to sweep.
TEST(NetworkUtils, LocalInfoJoinsAdaptersAndMakesTheHostNameSafe) {
    const struct {
        std::vector<LocalAdapterAddress> adapters;
        const char* name;
        bool named;
        const char *host, *addresses, *masks;
    } rows[] = {
        {{{"127.0.0.1", "255.0.0.0"}, {"192.168.1.10", "255.255.255.0"}, {"0.0.0.0", "0.0.0.0"},
          {"10.0.0.5", "255.255.255.252"}},
         "viewer-ws", true, "viewer-ws", "192.168.1.10,10.0.0.5", "255.255.255.0,255.255.255.252"},
        {{{"127.0.0.1", "255.0.0.0"}, {"0.0.0.0", "0.0.0.0"}}, "ws", true, "ws", "", ""},
        {{}, "a\"b:c{d}e[f]g,h,i", true, "abcdefg_h_i", "", ""},
        {{}, "ignored", false, "Win32", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeNetwork net(row.adapters, row.name, row.named);
        std::string host = "x", addresses = "x", masks = "x";
        getLocalNetworkInfo(host, addresses, masks);
        EXPECT_EQ(host, row.host);
        EXPECT_EQ(addresses, row.addresses);
        EXPECT_EQ(masks, row.masks);
        std::vector<std::string> hosts{"stale"};
        getSubnetHostAddresses(hosts);
        EXPECT_EQ(hosts.empty(), addresses.empty());
    }
}

TEST(NetworkUtils, SystemQueryNeverListsLoopback) {
    ScopedNetworkScope full(nullptr);
    setLocalNetworkQuery({});
    std::string host, addresses, masks;
    getLocalNetworkInfo(host, addresses, masks);
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(addresses.find("127.0.0.1"), std::string::npos);
    EXPECT_EQ(std::count(addresses.begin(), addresses.end(), ','), std::count(masks.begin(), masks.end(), ','));
}

TEST(NetworkUtils, AddressTextConversions) {
    EXPECT_EQ(ipStringToInt("1.2.3.4"), 0x04030201u);
    EXPECT_EQ(ipStringToInt("1.2.3.4 "), 0x04030201u);
    EXPECT_EQ(ipStringToInt("1.2.3.4\n"), 0x04030201u);
    EXPECT_EQ(ipStringToInt("1.2.3.4x"), 0u);
    EXPECT_EQ(ipStringToInt(""), 0u);
    EXPECT_EQ(ipStringToInt(nullptr), 0u);
    // An oversized number spills into the next byte instead of being refused.
    EXPECT_EQ(ipStringToInt("256.0.0.0"), 0x00000100u);
    // A digit run far beyond 32 bits wraps rather than overflowing (clean under the sanitizers).
    ipStringToInt("99999999999999999999999999.1.1.1");

    EXPECT_STREQ(ipIntToString(0x0A000005u), "10.0.0.5");
    EXPECT_STREQ(ipIntToString(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_STREQ(ipIntToString(0u), "0.0.0.0");
}

TEST(NetworkUtils, SweepOfAClassCSubnetRunsOutwardFromTheOwnAddress) {
    const auto hosts = sweep({"192.168.1.10"}, {"255.255.255.0"});
    ASSERT_GE(hosts.size(), 4u);
    EXPECT_EQ(hosts[0], "192.168.1.11");
    EXPECT_EQ(hosts[1], "192.168.1.9");
    EXPECT_EQ(hosts[2], "192.168.1.12");
    EXPECT_EQ(hosts[3], "192.168.1.8");
    EXPECT_EQ(hosts.back(), "192.168.1.254");
    EXPECT_EQ(hosts.size(), 253u);
    const std::set<std::string> unique(hosts.begin(), hosts.end());
    EXPECT_EQ(unique.size(), 253u);
    EXPECT_EQ(unique.count("192.168.1.10"), 0u);
    EXPECT_EQ(unique.count("192.168.1.0"), 0u);
    EXPECT_EQ(unique.count("192.168.1.255"), 0u);
    EXPECT_EQ(unique.count("192.168.1.1"), 1u);
}

TEST(NetworkUtils, SweepOfTinyAndWideSubnets) {
    // A /30: network 10.0.0.4 and broadcast 10.0.0.7 are kept because their last bytes are ordinary.
    EXPECT_EQ(sweep({"10.0.0.5"}, {"255.255.255.252"}),
              (std::vector<std::string>{"10.0.0.6", "10.0.0.4", "10.0.0.7"}));

    // A /22 skips every address ending in .0 or .255 inside the block.
    const auto wide = sweep({"172.16.5.1"}, {"255.255.252.0"});
    EXPECT_EQ(wide.size(), 4u * 254u - 1u);
    // 172.16.5.0 and 172.16.4.255 lie next to the own address but are never listed.
    ASSERT_GE(wide.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(wide.begin(), wide.begin() + 4),
              (std::vector<std::string>{"172.16.5.2", "172.16.5.3", "172.16.5.4", "172.16.4.254"}));
    for (const auto& h : wide) {
        const std::string last = h.substr(h.rfind('.') + 1);
        ASSERT_NE(last, "0") << h;
        ASSERT_NE(last, "255") << h;
    }
}

TEST(NetworkUtils, UnsweepableSubnetsAreSkippedAndTheSweepGoesOn) {
    // A /32 VPN link first, then an all-zero mask, then a /9 (23 host bits): none is swept, and the
    // ordinary adapter behind them still is.
    const auto hosts = sweep({"10.8.0.2", "10.9.0.2", "10.128.0.2", "192.168.1.10"},
                             {"255.255.255.255", "0.0.0.0", "255.128.0.0", "255.255.255.0"});
    EXPECT_EQ(hosts.size(), 253u);
    EXPECT_EQ(hosts.front(), "192.168.1.11");

    // A mask with holes that leaves the address outside its own block is skipped, not walked for ever.
    EXPECT_TRUE(sweep({"200.1.1.5"}, {"0.255.255.0"}).empty());

    // Pairs are taken up to the shorter list.
    EXPECT_EQ(sweep({"10.0.0.5", "192.168.1.10"}, {"255.255.255.252"}).size(), 3u);
}

TEST(NetworkUtils, SweepOverTheInstalledAdapters) {
    FakeNetwork net({{"10.0.0.5", "255.255.255.252"}, {"10.0.1.9", "255.255.255.252"}}, "ws");
    std::vector<std::string> hosts;
    getSubnetHostAddresses(hosts);
    EXPECT_EQ(hosts, (std::vector<std::string>{"10.0.0.6", "10.0.0.4", "10.0.0.7", "10.0.1.10", "10.0.1.8", "10.0.1.11"}));
}

TEST(NetworkUtils, TypedAddressValidation) {
    EXPECT_TRUE(isValidIPv4("192.168.1.1"));
    EXPECT_TRUE(isValidIPv4("0.0.0.0"));
    EXPECT_TRUE(isValidIPv4("255.255.255.255"));
    EXPECT_TRUE(isValidIPv4("1..2.3"));
    EXPECT_TRUE(isValidIPv4("001.002.003.004"));
    EXPECT_FALSE(isValidIPv4(""));
    EXPECT_FALSE(isValidIPv4("256.1.1.1"));
    EXPECT_FALSE(isValidIPv4("1.2.3"));
    EXPECT_FALSE(isValidIPv4("1.2.3.4."));
    EXPECT_FALSE(isValidIPv4("1.2.3.4.5"));
    EXPECT_FALSE(isValidIPv4("a.b.c.d"));
    EXPECT_FALSE(isValidIPv4("1.2.3.4 "));
    // Long digit runs must not wrap round to a value that passes.
    EXPECT_FALSE(isValidIPv4("4294967296.1.1.1"));
    EXPECT_FALSE(isValidIPv4("99999999999.1.1.1"));
    EXPECT_FALSE(isValidIPv4("1.1.1.4294967552"));
}

// The test environment runs with QV_NETWORK_SCOPE=loopback: the sweep list is the loopback /24 and
// nothing outside 127.0.0.0/8 is ever listed or allowed, whatever the adapters say.
TEST(NetworkUtils, LoopbackScopeKeepsEverySweepOnThisMachine) {
    ScopedNetworkScope loopback("loopback");
    setLocalNetworkQuery({});
    std::string host, addresses, masks;
    getLocalNetworkInfo(host, addresses, masks);
    EXPECT_EQ(addresses, "127.0.0.1");
    EXPECT_EQ(masks, "255.255.255.0");
    std::vector<std::string> hosts;
    getSubnetHostAddresses(hosts);
    ASSERT_EQ(hosts.size(), 253u);
    EXPECT_EQ(hosts.front(), "127.0.0.2");
    EXPECT_EQ(hosts.back(), "127.0.0.254");
    for (const std::string& h : hosts)
        EXPECT_EQ(h.compare(0, 4, "127."), 0) << h;

    // Injected adapters outside loopback are dropped too; loopback ones stay.
    LocalNetworkQuery query;
    query.adapters = [] {
        return std::vector<LocalAdapterAddress>{{"192.168.1.10", "255.255.255.0"}, {"127.0.0.5", "255.255.255.252"}};
    };
    setLocalNetworkQuery(query);
    getLocalNetworkInfo(host, addresses, masks);
    EXPECT_EQ(addresses, "127.0.0.5");
    getSubnetHostAddresses(hosts);
    EXPECT_EQ(hosts, (std::vector<std::string>{"127.0.0.6", "127.0.0.4", "127.0.0.7"}));
    setLocalNetworkQuery({});

    EXPECT_TRUE(isAddressInNetworkScope("127.0.0.1"));
    EXPECT_TRUE(isAddressInNetworkScope("127.255.0.9"));
    EXPECT_FALSE(isAddressInNetworkScope("192.168.1.1"));
    EXPECT_FALSE(isAddressInNetworkScope("128.0.0.1"));
    EXPECT_FALSE(isAddressInNetworkScope("127.0.0.1.5"));
    EXPECT_FALSE(isAddressInNetworkScope(""));
    EXPECT_FALSE(isAddressInNetworkScope("localhost"));

    ScopedNetworkScope full(nullptr);
    EXPECT_EQ(getNetworkScope(), NetworkScope::Full);
    EXPECT_TRUE(isAddressInNetworkScope("192.168.1.1"));
}
