// Twips (1/1440 inch) against screen pixels: the layout is given in twips at 15 twips per pixel.
#pragma once

namespace ui {

constexpr int kTwipsPerPixel = 15;

// Rounded to the nearest pixel, halves away from zero; computed wide so no int overflows.
constexpr int TwipsToPixels(int twips) {
    const long long t = twips;
    const long long half = kTwipsPerPixel / 2;
    return static_cast<int>(t >= 0 ? (t + half) / kTwipsPerPixel : -((-t + half) / kTwipsPerPixel));
}

// Saturates at the int range instead of overflowing.
constexpr int PixelsToTwips(int pixels) {
    const long long t = static_cast<long long>(pixels) * kTwipsPerPixel;
    constexpr long long kMax = 0x7FFFFFFF;
    return static_cast<int>(t > kMax ? kMax : t < -kMax - 1 ? -kMax - 1 : t);
}

}  // namespace ui
