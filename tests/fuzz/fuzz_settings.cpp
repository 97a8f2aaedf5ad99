// The settings file is whatever is on disk: reading it must never crash,
// and what we write from it must read back as the same settings.
#include "platform/posix/settings_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace skerrow::posix;
    const Settings first = parseSettings({reinterpret_cast<const char*>(data), size});
    const std::string text = formatSettings(first);
    if (!(parseSettings(text) == first))
        std::abort();
    if (formatSettings(parseSettings(text)) != text)
        std::abort();
    return 0;
}
