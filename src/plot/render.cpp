#include "plot/render.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "plot/layout.h"

namespace {

struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const noexcept { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
struct ContextDestroy {
  void operator()(cairo_t* cr) const noexcept { cairo_destroy(cr); }
};
using ContextPtr = std::unique_ptr<cairo_t, ContextDestroy>;

constexpr Rgb ZERO_LINE{0.3, 0.3, 0.34};
constexpr Rgb AXIS_TEXT{0.8, 0.8, 0.82};
constexpr Rgb GAP_SHADE{0.3, 0.8, 1.0};
constexpr double GAP_SHADE_ALPHA = 0.2;
constexpr double SKIPPED_SHADE_ALPHA = 0.65;
constexpr double FONT_SIZE = 12;
constexpr double TICK_LENGTH = 5;
constexpr double TEXT_GAP = 3;

void set_colour(cairo_t* cr, const Rgb& colour, double alpha = 1) {
  cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, alpha);
}

// The pixel column's centre line, where a one-pixel line fills exactly that column.
double crisp(double x) { return std::floor(x) + 0.5; }

void shade(cairo_t* cr, const PlotLayout& layout, const PlotSpan& span, const Rgb& colour, double alpha) {
  set_colour(cr, colour, alpha);
  for (const PlotRect& band : layout.bands) {
    cairo_rectangle(cr, span.from, band.top, span.to - span.from, band.height);
  }
  cairo_fill(cr);
}

// The rows a column's samples reach: at least one pixel where the column holds any sound.
void column_rows(const PlotRect& band, const GraphPoint& point, std::int64_t full_scale, double& top, double& bottom) {
  const double middle = band.top + band.height / 2;
  const double half = band.height / 2;
  top = std::floor(middle - half * std::min(1.0, static_cast<double>(point.max) / full_scale));
  bottom = std::ceil(middle - half * std::max(-1.0, static_cast<double>(point.min) / full_scale));
  if (bottom <= top) bottom = top + 1;
}

void draw_waveform(cairo_t* cr, const PlotPicture& picture, const PlotRect& band,
                   const std::vector<GraphPoint>& columns) {
  set_colour(cr, ZERO_LINE);
  cairo_rectangle(cr, 0, std::floor(band.top + band.height / 2), picture.width, 1);
  cairo_fill(cr);
  set_colour(cr, PLOT_WAVEFORM);
  for (std::size_t x = 0; x < columns.size(); ++x) {
    if (columns[x].min == 0 && columns[x].max == 0) continue;
    double top = 0;
    double bottom = 0;
    column_rows(band, columns[x], picture.full_scale, top, bottom);
    cairo_rectangle(cr, static_cast<double>(x), top, 1, bottom - top);
    // A mood bar gives every column its own colour, and so its own fill.
    if (!picture.colours.empty()) {
      set_colour(cr, picture.colours[x]);
      cairo_fill(cr);
    }
  }
  cairo_fill(cr);
}

void vertical_line(cairo_t* cr, double x, double top, double bottom) {
  cairo_move_to(cr, crisp(x), top);
  cairo_line_to(cr, crisp(x), bottom);
  cairo_stroke(cr);
}

// Labels go into the first row where they clear the label before them.
class LabelRows {
 public:
  explicit LabelRows(const PlotLayout& layout) : layout_(layout), ends_(layout.label_rows, -1e9) {}
  void place(cairo_t* cr, const PlotBreak& brk) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, brk.label.c_str(), &extents);
    const double x = crisp(brk.x) + TEXT_GAP;
    std::size_t row = 0;
    while (row + 1 < ends_.size() && ends_[row] > x) ++row;
    ends_[row] = x + extents.x_advance + TEXT_GAP;
    cairo_move_to(cr, x, layout_.labels.top + (static_cast<double>(row) + 1) * PLOT_LABEL_ROW_HEIGHT - 3);
    cairo_show_text(cr, brk.label.c_str());
  }

 private:
  const PlotLayout& layout_;
  std::vector<double> ends_;
};

void draw_detected(cairo_t* cr, const PlotPicture& picture, const PlotLayout& layout) {
  const double dash[] = {4, 3};
  set_colour(cr, PLOT_DETECTED_BREAK);
  cairo_set_dash(cr, dash, 2, 0);
  for (const PlotBreak& brk : picture.detected_breaks) vertical_line(cr, brk.x, layout.labels.top, layout.axis.top);
  cairo_set_dash(cr, nullptr, 0, 0);
}

void draw_breaks(cairo_t* cr, const PlotPicture& picture, const PlotLayout& layout) {
  set_colour(cr, PLOT_BREAK);
  for (const PlotBreak& brk : picture.breaks) vertical_line(cr, brk.x, layout.labels.top, layout.axis.top);
}

void draw_labels(cairo_t* cr, const PlotPicture& picture, const PlotLayout& layout) {
  cairo_save(cr);
  cairo_rectangle(cr, 0, layout.labels.top, picture.width, layout.labels.height);
  cairo_clip(cr);
  LabelRows rows(layout);
  set_colour(cr, PLOT_BREAK);
  for (const PlotBreak& brk : picture.breaks) rows.place(cr, brk);
  set_colour(cr, PLOT_DETECTED_BREAK);
  for (const PlotBreak& brk : picture.detected_breaks) rows.place(cr, brk);
  cairo_restore(cr);
}

void draw_axis(cairo_t* cr, const PlotPicture& picture, const PlotLayout& layout) {
  set_colour(cr, AXIS_TEXT);
  for (std::size_t i = 0; i < picture.ticks.size(); ++i) {
    const double x = crisp(picture.tick_x[i]);
    vertical_line(cr, x, layout.axis.top, layout.axis.top + TICK_LENGTH);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, picture.ticks[i].label.c_str(), &extents);
    // A label that would run off the right edge is left out rather than cut.
    if (x + TEXT_GAP + extents.x_advance > picture.width) continue;
    cairo_move_to(cr, x + TEXT_GAP, layout.axis.top + TICK_LENGTH + FONT_SIZE);
    cairo_show_text(cr, picture.ticks[i].label.c_str());
  }
}

void draw(cairo_t* cr, const PlotPicture& picture) {
  const bool labels = !picture.breaks.empty() || !picture.detected_breaks.empty();
  const PlotLayout layout = plot_layout(picture.height, picture.waveforms.size(), labels);
  // cairo's own font: the same letters on every machine, and no font library's caches that
  // outlive the process's last picture.
  cairo_select_font_face(cr, "@cairo:sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, FONT_SIZE);
  cairo_set_line_width(cr, 1);
  set_colour(cr, PLOT_BACKGROUND);
  cairo_paint(cr);
  for (const PlotSpan& gap : picture.detected_gaps) shade(cr, layout, gap, GAP_SHADE, GAP_SHADE_ALPHA);
  for (std::size_t i = 0; i < picture.waveforms.size(); ++i) {
    draw_waveform(cr, picture, layout.bands[i], picture.waveforms[i]);
  }
  for (const PlotSpan& track : picture.skipped_tracks) {
    shade(cr, layout, track, PLOT_BACKGROUND, SKIPPED_SHADE_ALPHA);
  }
  // Dashes over the list's lines: where detect agrees with the list, both show.
  draw_breaks(cr, picture, layout);
  draw_detected(cr, picture, layout);
  draw_labels(cr, picture, layout);
  draw_axis(cr, picture, layout);
}

cairo_status_t write_to_file(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::FILE*>(closure);
  return std::fwrite(data, 1, length, out) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

SurfacePtr make_surface(const PlotPicture& picture, PlotImageFormat format, std::FILE* out) {
  if (format == PlotImageFormat::svg) {
    return SurfacePtr(cairo_svg_surface_create_for_stream(write_to_file, out, picture.width, picture.height));
  }
  return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(picture.width),
                                               static_cast<int>(picture.height)));
}

bool failed(cairo_status_t status, ErrorText* error) {
  if (status == CAIRO_STATUS_SUCCESS) return false;
  set_error_message(error, "%s", cairo_status_to_string(status));
  return true;
}

}  // namespace

bool plot_write_image(const PlotPicture& picture, PlotImageFormat format, std::FILE* out, ErrorText* error) {
  SurfacePtr surface = make_surface(picture, format, out);
  if (failed(cairo_surface_status(surface.get()), error)) return false;
  {
    ContextPtr cr(cairo_create(surface.get()));
    draw(cr.get(), picture);
    if (failed(cairo_status(cr.get()), error)) return false;
  }
  if (format == PlotImageFormat::png) {
    return !failed(cairo_surface_write_to_png_stream(surface.get(), write_to_file, out), error);
  }
  // The SVG surface writes its document as it finishes.
  cairo_surface_finish(surface.get());
  return !failed(cairo_surface_status(surface.get()), error);
}

void plot_release_fonts() { cairo_debug_reset_static_data(); }
