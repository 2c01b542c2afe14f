// Draws the UI's current page with cairo, in logical pixels scaled by the
// caller's factor. Graph curves are computed at device resolution so that
// they stay crisp at any scale.
#pragma once

#include <cairo/cairo.h>

#include <cstdint>
#include <vector>

#include "lv2ui/ui_model.h"

namespace lv2ui {

// The band graph's response curve is costly (a long sweep through the
// crossovers); it is kept until the parameters or the size change.
struct CurveCache {
    MultibandParams key;
    int width, height;
    bool valid;
    std::vector<int32_t> cells;
};

// Draws the whole UI; `scale` is the device pixels per logical pixel.
void drawUi(cairo_t* cr, const UiState& s, double scale, CurveCache& cache);
// Draws one widget anew over its own area (for read-outs that move).
void drawWidget(cairo_t* cr, const UiState& s, double scale, CurveCache& cache, int index);

}  // namespace lv2ui
