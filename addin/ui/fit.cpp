#include "addin/ui/fit.h"

#include <algorithm>
#include <numeric>

namespace skerrow::ui {

namespace {

constexpr int movedControlGap = 4; // pixels

int rightOf(const Rect& r) {
    return r.left + r.width;
}

bool within(int y, const Rect& band) {
    return y >= band.top && y < band.top + band.height;
}

// On one row: the middle of either lies within the other's height (the
// layouts let boxes of one row differ in height).
bool sameRow(const Rect& a, const Rect& b) {
    return within(a.top + a.height / 2, b) || within(b.top + b.height / 2, a);
}

// How far right a control reaches: a label as far as its text does.
int extentOf(const Placed& p) {
    return p.label ? p.rect.left + std::min(p.rect.width, std::max(p.lineWidth, 1)) : rightOf(p.rect);
}

} // namespace

void fitLabels(std::vector<Placed>& boxes, int areaWidth, int areaHeight, const HeightFor& heightFor) {
    // Left to right, so that moving a row's controls only touches labels
    // still to be fitted.
    std::vector<std::size_t> order(boxes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return boxes[a].rect.left < boxes[b].rect.left; });

    for (const std::size_t i : order) {
        if (!boxes[i].label || !boxes[i].shown || boxes[i].lineWidth <= 0)
            continue;
        const Rect box = boxes[i].rect;
        const int line = boxes[i].lineWidth;
        std::vector<std::size_t> after; // the controls to its right on its row
        int right = areaWidth;
        for (std::size_t j = 0; j < boxes.size(); ++j) {
            if (j == i || !boxes[j].shown || boxes[j].rect.left <= box.left || !sameRow(boxes[j].rect, box))
                continue;
            after.push_back(j);
            right = std::min(right, boxes[j].rect.left);
        }
        int room = std::max(1, right - box.left);

        int width = std::min(box.width, room);
        const bool fits = line <= width || heightFor(i, width) <= box.height;
        if (!fits) {
            if (line > room && !after.empty()) {
                // The moved controls keep a little space from the text.
                const int shift = line - room + movedControlGap;
                int reach = 0;
                for (const std::size_t j : after)
                    reach = std::max(reach, extentOf(boxes[j]) + shift);
                if (reach <= areaWidth) {
                    for (const std::size_t j : after)
                        boxes[j].rect.left += shift;
                    room = line;
                }
            }
            width = std::min(line, room);
        }

        int bottom = areaHeight;
        for (std::size_t j = 0; j < boxes.size(); ++j) {
            const Rect& r = boxes[j].rect;
            if (j != i && boxes[j].shown && r.top > box.top && r.left < box.left + width && rightOf(r) > box.left)
                bottom = std::min(bottom, r.top);
        }
        // As high as its lines need, short of the control below when they
        // leave room for it.
        const int limit = bottom - box.top;
        const int needed = heightFor(i, width);
        const int height = needed <= limit ? std::min(std::max(box.height, needed), limit) : std::max(box.height, limit);
        boxes[i].rect = {box.left, box.top, width, height};
    }
}

} // namespace skerrow::ui
