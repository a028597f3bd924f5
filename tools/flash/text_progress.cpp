#include "text_progress.h"

#include <algorithm>

namespace dov::flash {
namespace {

constexpr int kBarWidth = 40;
constexpr int kNarrowestBar = 10;

}  // namespace

std::string FitLine(std::string text, int columns) {
  const auto room = static_cast<std::size_t>(std::max(columns - 1, 1));
  if (text.size() > room) text.resize(room);
  return text;
}

void TTextProgress::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
}

int TTextProgress::Percent() const {
  const long long span = std::max(1, max_ - min_);
  const long long done = std::clamp(position_ - min_, 0, max_ - min_);
  return static_cast<int>(done * 100 / span);
}

std::string TTextProgress::Text(int columns) const {
  std::string counts = "] " + std::to_string(Percent()) + "%  " +
                       std::to_string(position_ - min_) + '/' +
                       std::to_string(max_ - min_) + " bytes";
  // The bar gives way first, down to a stub; then the line is cut.
  const int width = std::clamp(columns - 2 - static_cast<int>(counts.size()),
                               kNarrowestBar, kBarWidth);
  const int filled = Percent() * width / 100;
  std::string text = "[";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(width - filled), '.');
  return FitLine(text + counts, columns);
}

void TTextProgress::Repaint() {
  if (!visible_ || out_ == nullptr) return;
  if (terminal_) {
    const unsigned resizes = TerminalResizes();
    if (Percent() == shownPercent_ && resizes == shownResizes_) return;
    // Rest of the line cleared: a narrower redraw leaves nothing behind.
    out_->Put("\r" + Text(columns_()) + "\x1b[K");
    shownPercent_ = Percent();
    shownResizes_ = resizes;
    drawn_ = true;
  } else {
    const int tenth = Percent() / 10;
    if (tenth == shownTenth_) return;
    out_->Put("progress: " + std::to_string(tenth * 10) + "% (" +
              std::to_string(position_ - min_) + "/" +
              std::to_string(max_ - min_) + " bytes)\n");
    shownTenth_ = tenth;
  }
}

void TTextProgress::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (!visible) Finish();
  visible_ = visible;
  shownPercent_ = -1;
  shownTenth_ = -1;
  if (visible) Repaint();
}

void TTextProgress::Finish() {
  if (drawn_) out_->Put("\n");
  drawn_ = false;
}

}  // namespace dov::flash
