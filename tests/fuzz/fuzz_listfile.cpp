// The list file may have been edited by hand or cut short: reading it must
// never crash, and writing what was read must read back as the same lists.
#include "filter/filter_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace skerrow;
    const FilterLists first = parseListFile(std::string(reinterpret_cast<const char*>(data), size));
    if (!(parseListFile(formatListFile(first)) == first))
        std::abort();
    for (const FilterList* list : {&first.friendemail, &first.frienddomain, &first.enemyemail, &first.enemydomain})
        for (const std::string& entry : *list)
            if (!isInArray(*list, entry))
                std::abort();
    return 0;
}
