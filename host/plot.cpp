#include "host/plot.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

struct Frame {
    double left = 80, right = plotWidth - 24, top = 78, bottom = plotHeight - 58;
    double minutes = 1;        // x range 0..minutes
    double low = -60, high = 0;  // y range in LU/dB
    double x(double seconds) const { return left + (seconds / 60.0) / minutes * (right - left); }
    double y(double value) const { return bottom - (value - low) / (high - low) * (bottom - top); }
};

std::string extension(const std::string& path) {
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string e = path.substr(dot + 1);
    for (char& c : e) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return e;
}

// A tick spacing of 1, 2 or 5 times a power of ten giving at most maxTicks ticks.
double nice_step(double range, int maxTicks) {
    const double raw = range / maxTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

void text_at(cairo_t* cr, const std::string& text, double x, double y, double alignX, double alignY) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    cairo_move_to(cr, x - e.x_advance * alignX, y + e.height * alignY);
    cairo_show_text(cr, text.c_str());
}

// Shortens text with an ellipsis until it fits width (empty when nothing fits).
std::string fitted(cairo_t* cr, std::string text, double width) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    if (e.x_advance <= width) return text;
    while (!text.empty()) {
        text.pop_back();
        std::string shown = text + "...";
        cairo_text_extents(cr, shown.c_str(), &e);
        if (e.x_advance <= width) return shown;
    }
    return "";
}

// A polyline that breaks wherever two points lie further apart than gap.
void series(cairo_t* cr, const Frame& f, const std::vector<PlotPoint>& points, double gap) {
    bool drawing = false;
    double last = 0;
    for (const PlotPoint& p : points) {
        if (!std::isfinite(p.value)) {
            drawing = false;
            continue;
        }
        if (drawing && p.seconds - last <= gap)
            cairo_line_to(cr, f.x(p.seconds), f.y(p.value));
        else
            cairo_move_to(cr, f.x(p.seconds), f.y(p.value));
        drawing = true;
        last = p.seconds;
    }
    cairo_stroke(cr);
}

// The frame for the data: the whole time span, and a loudness range down to
// the quietest point (in steps of 6, between -72 and -30).
Frame frame_for(const PlotData& data) {
    Frame f;
    double end = 0;
    for (const PlotFile& file : data.files) end = std::max(end, file.endSeconds);
    f.minutes = std::max(end / 60.0, 1.0 / 60.0);
    double lowest = 0;
    for (const auto* list : {&data.before, &data.after})
        for (const PlotPoint& p : *list)
            if (std::isfinite(p.value)) lowest = std::min(lowest, p.value);
    f.low = std::clamp(std::floor((lowest - 3.0) / 6.0) * 6.0, -72.0, -30.0);
    return f;
}

void titles(cairo_t* cr, const Frame& f, const PlotData& data) {
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_font_size(cr, 17);
    text_at(cr, "Short-term loudness (3 s) before and after dsphost", f.left, 22, 0, 0.5);
    cairo_set_font_size(cr, 12);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    text_at(cr, data.subtitle, f.left, 42, 0, 0.5);
}

// Grid and axes: LU/dB every 6 (or 3 for narrow ranges), time in minutes.
void axes(cairo_t* cr, const Frame& f) {
    const double yStep = (f.high - f.low) <= 24 ? 3 : 6;
    cairo_set_line_width(cr, 1);
    cairo_set_font_size(cr, 12);
    for (double v = f.high; v >= f.low - 1e-9; v -= yStep) {
        cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
        cairo_move_to(cr, f.left, std::round(f.y(v)) + 0.5);
        cairo_line_to(cr, f.right, std::round(f.y(v)) + 0.5);
        cairo_stroke(cr);
        char label[16];
        snprintf(label, sizeof label, "%g", v);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        text_at(cr, label, f.left - 8, f.y(v), 1, 0.5);
    }
    const double xStep = nice_step(f.minutes, 12);
    for (double m = 0; m <= f.minutes + 1e-9; m += xStep) {
        const double x = std::round(f.x(m * 60)) + 0.5;
        cairo_set_source_rgb(cr, 0.93, 0.93, 0.93);
        cairo_move_to(cr, x, f.top);
        cairo_line_to(cr, x, f.bottom);
        cairo_stroke(cr);
        char label[24];
        snprintf(label, sizeof label, "%g", std::round(m / xStep) * xStep);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        text_at(cr, label, x, f.bottom + 16, 0.5, 0.5);
    }
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    text_at(cr, "time (minutes)", (f.left + f.right) / 2, f.bottom + 38, 0.5, 0.5);
    cairo_save(cr);
    cairo_translate(cr, 24, (f.top + f.bottom) / 2);
    cairo_rotate(cr, -std::numbers::pi / 2);
    text_at(cr, "loudness (LUFS) / peak (dBFS)", 0, 0, 0.5, 0.5);
    cairo_restore(cr);
}

// File boundaries, each file's name above its span.
void file_spans(cairo_t* cr, const Frame& f, const PlotData& data) {
    cairo_set_font_size(cr, 11);
    for (size_t i = 0; i < data.files.size(); ++i) {
        const PlotFile& file = data.files[i];
        const double x0 = f.x(file.startSeconds), x1 = f.x(file.endSeconds);
        if (i > 0) {
            const double dash[] = {5, 4};
            cairo_set_dash(cr, dash, 2, 0);
            cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
            cairo_move_to(cr, std::round(x0) + 0.5, f.top - 14);
            cairo_line_to(cr, std::round(x0) + 0.5, f.bottom);
            cairo_stroke(cr);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        const std::string label = fitted(cr, std::to_string(i + 1) + " " + file.label, x1 - x0 - 6);
        cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        if (!label.empty()) text_at(cr, label, (x0 + x1) / 2, f.top - 8, 0.5, 0);
    }
}

// The curves, clipped to the plot area, and the plot's border.
void curves(cairo_t* cr, const Frame& f, const PlotData& data) {
    cairo_save(cr);
    cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
    cairo_clip(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const double gap = 0.5;  // seconds; wider holes are silence or a file start
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgba(cr, 0.55, 0.75, 0.55, 0.9);
    series(cr, f, data.peaksAfter, 1.5);  // one point a second
    cairo_set_line_width(cr, 1.6);
    cairo_set_source_rgb(cr, 0.35, 0.45, 0.75);
    series(cr, f, data.before, gap);
    cairo_set_line_width(cr, 2.2);
    cairo_set_source_rgb(cr, 0.85, 0.33, 0.1);
    series(cr, f, data.after, gap);
    cairo_restore(cr);

    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, f.left + 0.5, f.top + 0.5, f.right - f.left - 1, f.bottom - f.top - 1);
    cairo_stroke(cr);
}

// The legend, one row at the top right, clear of the curves.
void legend(cairo_t* cr, const Frame& f) {
    struct Entry {
        const char* text;
        double r, g, b, width;
    };
    const Entry entries[] = {{"short-term loudness before", 0.35, 0.45, 0.75, 1.6},
                             {"short-term loudness after", 0.85, 0.33, 0.1, 2.2},
                             {"sample peak after (dBFS)", 0.55, 0.75, 0.55, 1}};
    cairo_set_font_size(cr, 12);
    double lx = f.right;
    for (int i = 2; i >= 0; --i) {
        cairo_text_extents_t e;
        cairo_text_extents(cr, entries[i].text, &e);
        lx -= e.x_advance;
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        text_at(cr, entries[i].text, lx, 22, 0, 0);
        lx -= 34;
        cairo_set_source_rgb(cr, entries[i].r, entries[i].g, entries[i].b);
        cairo_set_line_width(cr, entries[i].width + 0.8);
        cairo_move_to(cr, lx, 18);
        cairo_line_to(cr, lx + 26, 18);
        cairo_stroke(cr);
        lx -= 18;
    }
}

void draw(cairo_t* cr, const PlotData& data) {
    const Frame f = frame_for(data);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    titles(cr, f, data);
    axes(cr, f);
    file_spans(cr, f, data);
    curves(cr, f, data);
    legend(cr, f);
}

}  // namespace

bool plot_extension_known(const std::string& path) {
    const std::string e = extension(path);
    return e == "png" || e == "svg";
}

bool draw_loudness_plot(const std::string& path, const PlotData& data, std::string& error) {
    const bool svg = extension(path) == "svg";
    cairo_surface_t* surface = svg ? cairo_svg_surface_create(path.c_str(), plotWidth, plotHeight)
                                   : cairo_image_surface_create(CAIRO_FORMAT_RGB24, plotWidth, plotHeight);
    cairo_t* cr = cairo_create(surface);
    draw(cr, data);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS && !svg) status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = cairo_status_to_string(status);
        return false;
    }
    return true;
}
