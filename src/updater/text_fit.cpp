#include "updater/text_fit.h"

namespace dov {

int FitTextHeight(int height, int boxWidth,
                  const std::function<int(int)>& widthAt) {
  while (height > kSmallestTextHeight && widthAt(height) > boxWidth) --height;
  return height;
}

}  // namespace dov
