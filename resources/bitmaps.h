// The bitmaps of the add-in file: button faces 200 and 400, the product's
// picture 101 and the maker's banner 102.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skerrow::resources {

inline constexpr int isSpamFace = 200;
inline constexpr int addFriendFace = 400;
inline constexpr int productPicture = 101;
inline constexpr int makerBanner = 102;

struct EmbeddedBitmap {
    int id;
    const unsigned char* data;
    std::size_t size;
};

const std::vector<EmbeddedBitmap>& embeddedBitmaps();

// The bytes of a BMP file; empty for an unknown id.
std::vector<std::uint8_t> bitmapResource(int id);

} // namespace skerrow::resources
