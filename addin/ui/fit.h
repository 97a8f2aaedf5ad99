// Fitting labels to their text. The layouts in twips were made for one
// font; a renderer whose font is wider measures each caption and lets this
// place the labels so that no caption is cut off, keeping every control
// where its twips put it wherever the text fits.
#pragma once

#include "addin/ui/window.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace skerrow::ui {

// A control of one container as it is placed, in pixels from the
// container's corner.
struct Placed {
    Rect rect;
    bool label = false;
    bool shown = true;
    int lineWidth = 0; // labels: the caption's width on one line
};

// The height the caption of boxes[i] takes when broken into lines at width.
using HeightFor = std::function<int(std::size_t i, int width)>;

// Fits the labels among their container's controls (area: the container's
// size). A label whose text outgrows its box takes the free room beside it;
// when that is too little, the controls to its right on its row move right
// as far as the container allows; when that is not enough either, the text
// breaks into lines within the room and the label grows down into the free
// room below. A label never reaches onto the control after it.
void fitLabels(std::vector<Placed>& boxes, int areaWidth, int areaHeight, const HeightFor& heightFor);

} // namespace skerrow::ui
