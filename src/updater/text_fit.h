// Fitting a line of text into its box whatever face the system gives: the
// dialog asks for Tahoma, and a face that stands in for it may be wider.
#pragma once

#include <functional>

namespace dov {

// The smallest pixel height a fitted text is drawn at.
inline constexpr int kSmallestTextHeight = 8;

// The pixel height to draw a line of text at: `height` when the text fits
// `boxWidth` there, else the largest smaller height at which it fits (never
// below kSmallestTextHeight). `widthAt(h)` measures the text at height h in
// the face the view draws with.
int FitTextHeight(int height, int boxWidth,
                  const std::function<int(int)>& widthAt);

}  // namespace dov
