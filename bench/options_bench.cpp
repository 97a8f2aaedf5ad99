// Timed driver for the options window on long lists: opening it (the
// working copy and both list views filled) and one Add, which refills both
// views, at two sizes, so that the growth shows (linear expected: twice the
// entries, about twice the time; a quadratic refill takes four times).
// ENTRIES in the environment sets the larger size (100,000).
#include "addin/forms.h"
#include "bench/silent.h"
#include "filter/varient.h"
#include "hosts/memory/memory_host.h"
#include "options/options.h"
#include "platform/memory/memory_platform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace skerrow;
using Clock = std::chrono::steady_clock;

namespace {

using bench::Silent;

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Times {
    double open = 1e9;
    double add = 1e9;
};

// Each of the four lists holds entries / 4 values, as an address-book import
// and years of blacklisting make them.
Times timeOptions(int entries) {
    Times best;
    for (int round = 0; round < 3; ++round) {
        memory::MemoryHost host;
        memory::MemoryPlatform platform;
        Silent silent;
        Varient v{Services{platform, host.objects(), host.clipboard(), silent, silent}};
        std::vector<std::string> lists[4];
        for (int i = 0; i < entries / 4; ++i) {
            lists[0].push_back("friend" + std::to_string(i) + "@pals.example");
            lists[1].push_back("*@partner" + std::to_string(i) + ".example");
            lists[2].push_back("spammer" + std::to_string(i) + "@bulk.example");
            lists[3].push_back("*@junk" + std::to_string(i) + ".example");
        }
        v.setLists({FilterList(lists[0]), FilterList(lists[1]), FilterList(lists[2]), FilterList(lists[3])});

        Options& options = v.forms().optionsWindow();
        best.open = std::min(best.open, seconds([&] { options.load(); }));
        options.userType("Text1", "new@pals.example");
        best.add = std::min(best.add, seconds([&] { options.userClick("Command7"); }));
        const std::size_t shown = options.control("ListView1").rows.size() + options.control("ListView2").rows.size();
        if (shown != static_cast<std::size_t>(entries / 4 * 4 + 1))
            std::printf("unexpected: %zu rows shown\n", shown);
        options.userClick("Command2");
    }
    return best;
}

} // namespace

int main() {
    const char* given = std::getenv("ENTRIES");
    const int large = given && std::atoi(given) > 0 ? std::atoi(given) : 100000;
    const int small = large / 2;
    const Times a = timeOptions(small);
    const Times b = timeOptions(large);
    std::printf("options window, %d entries: open %.1f ms, Add %.1f ms\n", small, a.open * 1e3, a.add * 1e3);
    std::printf("options window, %d entries: open %.1f ms, Add %.1f ms (goal: well under 1000 ms)\n", large,
                b.open * 1e3, b.add * 1e3);
    std::printf("ratio %d / %d entries: open %.1f, Add %.1f (linear: about 2)\n", large, small, b.open / a.open,
                b.add / a.add);
    return 0;
}
