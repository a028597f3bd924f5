#include "pause_plot.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace devsim {
namespace {

using Surface =
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

constexpr double kWidth = 1400;
constexpr double kHeight = 1000;
constexpr double kLeft = 110;
constexpr double kRight = 30;
constexpr double kTop = 80;
constexpr double kBottom = 70;
constexpr double kBandGap = 45;

struct Colour {
  double r, g, b;
};
constexpr Colour kInk{0.1, 0.1, 0.1};
constexpr Colour kGrid{0.85, 0.85, 0.85};
constexpr Colour kHost{0.12, 0.38, 0.75};
constexpr Colour kDevice{0.2, 0.6, 0.3};
constexpr Colour kLate{0.95, 0.55, 0.0};
constexpr Colour kBelow{0.85, 0.1, 0.1};

struct Band {
  GapKind kind;
  const char* name;
  double weight;  // share of the picture's height
};
constexpr std::array kBands{
    Band{GapKind::kAfterBoot, "pause after the boot command", 1},
    Band{GapKind::kBeforeWrite, "pauses in front of writes", 2},
    Band{GapKind::kAfterBlock, "pauses after blocks", 2},
};

// A round step of about `rough`: 1, 2 or 5 times a power of ten.
double NiceStep(double rough) {
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  const double scaled = rough / power;
  return power * (scaled <= 1 ? 1 : scaled <= 2 ? 2 : scaled <= 5 ? 5 : 10);
}

// The digits after the point that tell the ticks of `step` apart.
int Decimals(double step) {
  return std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 4);
}

// Maps values in [lo, hi] onto pixels in [from, to].
struct Scale {
  double lo, hi, from, to;
  double operator()(double value) const {
    return from + (value - lo) / (hi - lo) * (to - from);
  }
};

class Canvas {
 public:
  explicit Canvas(cairo_t* cr) : cr_(cr) {
    cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           CAIRO_FONT_WEIGHT_NORMAL);
  }

  void Text(double x, double y, const std::string& text, double size,
            Colour colour = kInk, double align = 0) {
    cairo_set_font_size(cr_, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, text.c_str(), &extents);
    Use(colour);
    cairo_move_to(cr_, x - extents.x_advance * align, y);
    cairo_show_text(cr_, text.c_str());
  }
  void UprightText(double x, double y, const std::string& text, double size) {
    cairo_save(cr_);
    cairo_translate(cr_, x, y);
    cairo_rotate(cr_, -M_PI / 2);
    Text(0, 0, text, size, kInk, 0.5);
    cairo_restore(cr_);
  }
  void Line(double x1, double y1, double x2, double y2, Colour colour,
            double width, bool dashed = false) {
    Use(colour);
    cairo_set_line_width(cr_, width);
    const double dash = 6;
    cairo_set_dash(cr_, &dash, dashed ? 1 : 0, 0);
    cairo_move_to(cr_, x1, y1);
    cairo_line_to(cr_, x2, y2);
    cairo_stroke(cr_);
    cairo_set_dash(cr_, nullptr, 0, 0);
  }
  void Dot(double x, double y, Colour colour, bool filled) {
    Use(colour);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x, y, 2.4, 0, 2 * M_PI);
    cairo_set_line_width(cr_, 1);
    filled ? cairo_fill(cr_) : cairo_stroke(cr_);
  }
  void Ring(double x, double y, Colour colour) {
    Use(colour);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x, y, 6.5, 0, 2 * M_PI);
    cairo_set_line_width(cr_, 2);
    cairo_stroke(cr_);
  }
  void Cross(double x, double y, Colour colour) {
    Line(x - 6, y - 6, x + 6, y + 6, colour, 2.2);
    Line(x - 6, y + 6, x + 6, y - 6, colour, 2.2);
  }
  void Frame(double x, double y, double w, double h) {
    Use(kInk);
    cairo_set_line_width(cr_, 1);
    cairo_rectangle(cr_, x, y, w, h);
    cairo_stroke(cr_);
  }
  void Fill(Colour colour) {
    Use(colour);
    cairo_paint(cr_);
  }

 private:
  void Use(Colour colour) {
    cairo_set_source_rgb(cr_, colour.r, colour.g, colour.b);
  }

  cairo_t* cr_;
};

std::string Number(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void DrawMark(Canvas& canvas, const Mark& mark, double x, double y) {
  canvas.Dot(x, y, mark.source == MarkSource::kHost ? kHost : kDevice,
             mark.source == MarkSource::kHost);
  if (mark.flag == MarkFlag::kLate) canvas.Ring(x, y, kLate);
  if (mark.flag == MarkFlag::kBelow) canvas.Cross(x, y, kBelow);
}

// One band: its frame and title, the pause axis in ms, the minimum as a
// dashed line, and the marks (flagged ones on top).
void DrawBand(Canvas& canvas, const Band& band, const std::vector<Mark>& marks,
              const Scale& x, double top, double height) {
  const double left = x.from;
  const double width = x.to - x.from;
  canvas.Frame(left, top, width, height);
  std::set<double> minimums;
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (const Mark& mark : marks) {
    minimums.insert(mark.minimum_ms);
    lo = std::min({lo, mark.ms, mark.minimum_ms});
    hi = std::max({hi, mark.ms, mark.minimum_ms});
  }
  std::string title = band.name;
  for (const double minimum : minimums) {
    title += (minimum == *minimums.begin() ? " (minimum " : ", ") +
             Number(minimum, minimum == std::floor(minimum) ? 0 : 3) + " ms";
  }
  canvas.Text(left, top - 8, minimums.empty() ? title + ": none" : title + ")",
              15);
  if (marks.empty()) return;
  const double span = std::max(hi - lo, std::max(std::fabs(hi), 1.0) * 1e-3);
  const Scale y{lo - span * 0.12, hi + span * 0.12, top + height, top};
  const double step = NiceStep((y.hi - y.lo) / 5);
  for (double tick = std::ceil(y.lo / step) * step; tick <= y.hi;
       tick += step) {
    canvas.Line(left, y(tick), left + width, y(tick), kGrid, 1);
    canvas.Text(left - 8, y(tick) + 4, Number(tick, Decimals(step)), 12, kInk,
                1);
  }
  canvas.UprightText(left - 85, top + height / 2, "pause (ms)", 13);
  for (const double minimum : minimums) {
    canvas.Line(left, y(minimum), left + width, y(minimum), kBelow, 1.5, true);
  }
  for (const bool flagged : {false, true}) {
    for (const Mark& mark : marks) {
      if ((mark.flag != MarkFlag::kNone) != flagged) continue;
      DrawMark(canvas, mark, x(static_cast<double>(mark.write)), y(mark.ms));
    }
  }
}

// The device's entries only when the picture holds its gaps.
void DrawLegend(Canvas& canvas, double y, bool device) {
  double x = kLeft;
  const auto entry = [&](const std::string& text, auto draw) {
    draw(x + 6, y - 4);
    canvas.Text(x + 18, y, text, 13);
    x += 18 + 8.0 * static_cast<double>(text.size()) + 30;
  };
  entry("host's pause",
        [&](double px, double py) { canvas.Dot(px, py, kHost, true); });
  if (device) {
    entry("gap the device saw",
          [&](double px, double py) { canvas.Dot(px, py, kDevice, false); });
    entry("delivered late",
          [&](double px, double py) { canvas.Ring(px, py, kLate); });
  }
  entry("below its minimum",
        [&](double px, double py) { canvas.Cross(px, py, kBelow); });
  entry("minimum", [&](double px, double py) {
    canvas.Line(px - 8, py, px + 8, py, kBelow, 1.5, true);
  });
}

void Draw(cairo_t* cr, std::span<const Mark> marks, const std::string& title) {
  Canvas canvas(cr);
  canvas.Fill({1, 1, 1});
  canvas.Text(kLeft, 30, title, 18);
  DrawLegend(canvas, 56, std::ranges::any_of(marks, [](const Mark& m) {
               return m.source == MarkSource::kDevice;
             }));

  std::size_t last_write = 1;
  for (const Mark& mark : marks) last_write = std::max(last_write, mark.write);
  const Scale x{0, static_cast<double>(last_write), kLeft, kWidth - kRight};
  double weights = 0;
  for (const Band& band : kBands) weights += band.weight;
  const double room =
      kHeight - kTop - kBottom - kBandGap * (kBands.size() - 1) - 20;
  double top = kTop + 20;
  for (const Band& band : kBands) {
    std::vector<Mark> of_kind;
    std::ranges::copy_if(marks, std::back_inserter(of_kind),
                         [&](const Mark& m) { return m.kind == band.kind; });
    const double height = room * band.weight / weights;
    DrawBand(canvas, band, of_kind, x, top, height);
    top += height + kBandGap;
  }
  const double axis = top - kBandGap;
  const double step = NiceStep(static_cast<double>(last_write) / 8);
  for (double tick = 0; tick <= last_write; tick += step) {
    canvas.Line(x(tick), axis, x(tick), axis + 5, kInk, 1);
    canvas.Text(x(tick), axis + 20, Number(tick, 0), 12, kInk, 0.5);
  }
  canvas.Text((x.from + x.to) / 2, axis + 45,
              "write number (each pause is drawn at the write that follows it)",
              13, kInk, 0.5);
}

bool IsPng(const std::filesystem::path& file) {
  std::string extension = file.extension().string();
  for (char& c : extension) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return extension == ".png";
}

bool Failed(cairo_status_t status, const std::filesystem::path& file,
            std::string& error) {
  if (status == CAIRO_STATUS_SUCCESS) return false;
  error =
      "cannot write " + file.string() + ": " + cairo_status_to_string(status);
  return true;
}

}  // namespace

bool DrawPausePlot(std::span<const Mark> marks, const std::string& title,
                   const std::filesystem::path& file, std::string& error) {
  const bool png = IsPng(file);
  Surface surface(
      png ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight)
          : cairo_svg_surface_create(file.c_str(), kWidth, kHeight),
      cairo_surface_destroy);
  if (Failed(cairo_surface_status(surface.get()), file, error)) return false;
  {
    const Context cr(cairo_create(surface.get()), cairo_destroy);
    Draw(cr.get(), marks, title);
    if (Failed(cairo_status(cr.get()), file, error)) return false;
  }
  if (png) {
    return !Failed(cairo_surface_write_to_png(surface.get(), file.c_str()),
                   file, error);
  }
  cairo_surface_finish(surface.get());
  return !Failed(cairo_surface_status(surface.get()), file, error);
}

}  // namespace devsim
