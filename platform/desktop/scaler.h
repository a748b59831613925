// What the desktop backends (platform/sdl/, platform/win32/) share to show
// the core's 640 x 480 pictures on a 32-bit window surface of any size,
// without a GPU: the picture's place in the window, the scaler's tables and
// presenting only the spans that changed.
//
// A picture arrives as 8-bit indices and a 256-colour lookup. It is scaled
// to the largest centred 4:3 area of the window, black around it, in one of
// two ways:
//   sharp    the picture enlarged by a whole factor with nearest-neighbour,
//            the smallest that reaches the area, then brought down to the
//            area with linear filtering: every picture pixel is the same size
//            to within one screen pixel, and an edge between two picture
//            pixels is at most one blended screen pixel wide;
//   nearest  each screen pixel shows the picture pixel it falls on: hard
//            edges, but at a size that is no whole multiple the picture
//            pixels are one or two screen pixels wide, unevenly.
// Scaling all of a picture on the processor every frame would cost more than
// the whole rest of a play frame, while a play frame changes only where
// jewels, the basket and the numbers moved. So the scaling is two passes over
// tables made when the area changes: each changed picture row span is
// widened (each window column mixes at most two picture columns), then each
// window row takes one widened row or mixes two.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/backend.h"

namespace desktop {

constexpr int kPictureWidth = backend::kPictureWidth;
constexpr int kPictureHeight = backend::kPictureHeight;

enum class Scaling { Sharp, Nearest };

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// The largest centred 4:3 area of a w x h window.
Rect PictureArea(int w, int h);

// One axis of the scaling: window position i shows picture position near[i]
// mixed with far[i] by weight[i] 256ths of the latter (0: near alone).
// Picture position c is read by window positions [from[c], to[c]).
struct Axis {
    std::vector<int> near, far, weight;
    int from[kPictureWidth] = {};
    int to[kPictureWidth] = {};
};
// Fills `axis` for `source` picture positions shown on `target` window ones.
void MakeAxis(Axis& axis, int source, int target, Scaling scaling);

// a * (256 - weight) + b * weight, per colour channel, in 256ths.
inline std::uint32_t Mix(std::uint32_t a, std::uint32_t b, std::uint32_t weight) {
    const std::uint32_t keep = 256 - weight;
    const std::uint32_t redBlue = ((a & 0xFF00FFu) * keep + (b & 0xFF00FFu) * weight) >> 8;
    const std::uint32_t green = ((a & 0xFF00u) * keep + (b & 0xFF00u) * weight) >> 8;
    return 0xFF000000u | (redBlue & 0xFF00FFu) | (green & 0xFF00u);
}

// A window's pixels as the backend lends them: 0xFFRRGGBB, rows `pitch`
// bytes apart.
struct Surface {
    std::uint32_t* pixels = nullptr;
    int pitch = 0;
    int width = 0, height = 0;
};

// The picture as the window shows it, so that a lost one can be drawn again
// and only changed spans are redrawn.
class SpanPresenter {
  public:
    SpanPresenter();
    // Shows the picture on `surface`: the spans that differ from the one shown
    // last, or all of it when `all` is set, the lookup changed or the surface
    // is another size or scaling. Returns the part of the surface written
    // (w == 0: none).
    Rect Present(const Surface& surface, const std::uint8_t* pixels, int pitch,
                 const std::uint32_t lookup[256], Scaling scaling, bool all);
    // The last picture again, all of it (the window's picture was lost).
    Rect Redraw(const Surface& surface, Scaling scaling);
    // A picture has been shown since the last Forget.
    bool Valid() const { return valid_; }
    // The next picture is drawn whole.
    void Forget() { valid_ = false; }

  private:
    void Place(int width, int height, Scaling scaling);

    std::vector<std::uint8_t> shown_;
    std::uint32_t lookup_[256] = {};
    bool valid_ = false;
    int width_ = 0, height_ = 0;  // the surface the tables were made for
    Scaling scaling_ = Scaling::Sharp;
    Rect area_;
    Axis columns_, rows_;
    // Picture rows widened to the area's width, and per picture row the
    // window columns [spanFrom_, spanTo_) widened again by this present.
    std::vector<std::uint32_t> widened_;
    int spanFrom_[kPictureHeight] = {};
    int spanTo_[kPictureHeight] = {};
};

}  // namespace desktop
