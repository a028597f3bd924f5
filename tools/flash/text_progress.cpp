#include "text_progress.h"

#include <algorithm>

namespace dov::flash {
namespace {

constexpr std::size_t kBarWidth = 40;

}  // namespace

void TTextProgress::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
}

int TTextProgress::Percent() const {
  const long long span = std::max(1, max_ - min_);
  const long long done = std::clamp(position_ - min_, 0, max_ - min_);
  return static_cast<int>(done * 100 / span);
}

std::string TTextProgress::Text() const {
  const auto filled = static_cast<std::size_t>(Percent() * kBarWidth / 100);
  std::string text = "[";
  text.append(filled, '#');
  text.append(kBarWidth - filled, '.');
  text += "] ";
  text += std::to_string(Percent());
  text += "%  ";
  text += std::to_string(position_ - min_);
  text += '/';
  text += std::to_string(max_ - min_);
  text += " bytes";
  return text;
}

void TTextProgress::Repaint() {
  if (!visible_ || out_ == nullptr) return;
  if (terminal_) {
    if (Percent() == shownPercent_) return;
    std::fprintf(out_, "\r%s", Text().c_str());
    shownPercent_ = Percent();
    drawn_ = true;
  } else {
    const int tenth = Percent() / 10;
    if (tenth == shownTenth_) return;
    std::fprintf(out_, "progress: %d%% (%d/%d bytes)\n", tenth * 10,
                 position_ - min_, max_ - min_);
    shownTenth_ = tenth;
  }
  std::fflush(out_);
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
  if (drawn_) {
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  drawn_ = false;
}

}  // namespace dov::flash
