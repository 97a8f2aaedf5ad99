#include "resources/bitmaps.h"

namespace skerrow::resources {

std::vector<std::uint8_t> bitmapResource(int id) {
    for (const EmbeddedBitmap& b : embeddedBitmaps())
        if (b.id == id)
            return {b.data, b.data + b.size};
    return {};
}

} // namespace skerrow::resources
