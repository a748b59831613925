// The desktop backends' processor scaler (scaler.h).
#include "platform/desktop/scaler.h"

#include <algorithm>
#include <cstring>

namespace desktop {

namespace {

constexpr int kWidth = kPictureWidth;
constexpr int kHeight = kPictureHeight;

std::uint32_t* Row(const Surface& surface, int y) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(surface.pixels) +
                                            static_cast<std::size_t>(y) * surface.pitch);
}

// Picture row `row`, columns read by window columns [from, to), looked up
// and widened into `out`.
void Widen(const Axis& columns, const std::uint32_t lookup[256], const std::uint8_t* row,
           std::uint32_t* out, int from, int to) {
    const int* near = columns.near.data();
    const int* far = columns.far.data();
    const int* weight = columns.weight.data();
    // Mixed even with weight 0: a branch on it would be mispredicted at
    // every other column at sizes like 1.6.
    for (int x = from; x < to; ++x) {
        out[x] =
            Mix(lookup[row[near[x]]], lookup[row[far[x]]], static_cast<std::uint32_t>(weight[x]));
    }
}

}  // namespace

Rect PictureArea(int w, int h) {
    if (w * kHeight > h * kWidth) {  // wider than 4:3: bars left and right
        const int width = h * kWidth / kHeight;
        return Rect{(w - width) / 2, 0, width, h};
    }
    const int height = w * kHeight / kWidth;
    return Rect{0, (h - height) / 2, w, height};
}

void MakeAxis(Axis& axis, int source, int target, Scaling scaling) {
    axis.near.assign(static_cast<size_t>(target), 0);
    axis.far.assign(static_cast<size_t>(target), 0);
    axis.weight.assign(static_cast<size_t>(target), 0);
    // The whole factor, and the enlarged picture's size.
    const int factor = std::max(1, (target + source - 1) / source);
    const long enlarged = static_cast<long>(source) * factor;
    for (int i = 0; i < target; ++i) {
        if (scaling == Scaling::Nearest) {
            axis.near[i] = axis.far[i] = static_cast<int>(static_cast<long>(i) * source / target);
            continue;
        }
        // Linear filtering samples window pixel i's centre: enlarged position
        // u = (i + 1/2) * enlarged / target - 1/2, here in units of 1/(2 target).
        const long u = (2L * i + 1) * enlarged - target;
        long a = 0, rest = 0;  // whole enlarged position and what is left
        if (u > 0) {
            a = u / (2L * target);
            rest = u % (2L * target);
        }
        if (a >= enlarged - 1) a = enlarged - 1, rest = 0;
        const int nearPixel = static_cast<int>(a / factor);
        const int farPixel = static_cast<int>((a + 1) / factor);
        const int weight = static_cast<int>((rest * 256 + target) / (2L * target));
        axis.near[i] = nearPixel;
        axis.far[i] = nearPixel;
        if (farPixel != nearPixel && weight > 0) {
            if (weight >= 256) {
                axis.near[i] = axis.far[i] = farPixel;
            } else {
                axis.far[i] = farPixel;
                axis.weight[i] = weight;
            }
        }
    }
    for (int c = 0; c < source; ++c) {
        axis.from[c] = target;
        axis.to[c] = 0;
    }
    for (int i = 0; i < target; ++i) {
        for (int c : {axis.near[i], axis.far[i]}) {
            axis.from[c] = std::min(axis.from[c], i);
            axis.to[c] = std::max(axis.to[c], i + 1);
        }
    }
    // A position no window position reads (a window smaller than the
    // picture) stands where the next one read starts, so that a span of
    // picture positions still maps to the window positions between.
    for (int c = source - 1; c >= 0; --c) {
        if (axis.from[c] < axis.to[c]) continue;
        axis.from[c] = axis.to[c] = c + 1 < source ? axis.from[c + 1] : target;
    }
}

SpanPresenter::SpanPresenter() : shown_(static_cast<std::size_t>(kWidth) * kHeight, 0) {}

void SpanPresenter::Place(int width, int height, Scaling scaling) {
    width_ = width;
    height_ = height;
    scaling_ = scaling;
    area_ = PictureArea(width, height);
    if (area_.w <= 0 || area_.h <= 0) return;
    MakeAxis(columns_, kWidth, area_.w, scaling);
    MakeAxis(rows_, kHeight, area_.h, scaling);
    widened_.assign(static_cast<std::size_t>(area_.w) * kHeight, 0);
}

Rect SpanPresenter::Redraw(const Surface& surface, Scaling scaling) {
    if (!valid_) return Rect{};
    return Present(surface, shown_.data(), kWidth, lookup_, scaling, true);
}

Rect SpanPresenter::Present(const Surface& surface, const std::uint8_t* pixels, int pitch,
                            const std::uint32_t lookup[256], Scaling scaling, bool all) {
    if (!valid_ || std::memcmp(lookup_, lookup, sizeof lookup_) != 0) all = true;
    if (lookup != lookup_) std::memcpy(lookup_, lookup, sizeof lookup_);
    if (surface.width != width_ || surface.height != height_ || scaling != scaling_) {
        Place(surface.width, surface.height, scaling);
        all = true;
    }
    valid_ = true;
    if (surface.pixels == nullptr || area_.w <= 0 || area_.h <= 0) {
        // Nothing to draw on: the picture is kept, and drawn whole on the
        // next surface.
        if (pixels != shown_.data()) {
            for (int y = 0; y < kHeight; ++y)
                std::memcpy(&shown_[static_cast<std::size_t>(y) * kWidth],
                            pixels + static_cast<std::size_t>(y) * pitch, kWidth);
        }
        width_ = height_ = 0;
        return Rect{};
    }
    if (all) {
        for (int y = 0; y < surface.height; ++y)
            std::fill_n(Row(surface, y), surface.width, 0xFF000000u);
    }
    // Picture rows: the changed span of each, widened.
    const int width = area_.w;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* now = pixels + static_cast<std::size_t>(y) * pitch;
        std::uint8_t* was = shown_.data() + static_cast<std::size_t>(y) * kWidth;
        int first, last;
        if (!backend::TakeChangedSpan(now, was, all, &first, &last)) {
            spanFrom_[y] = width;
            spanTo_[y] = 0;
            continue;
        }
        spanFrom_[y] = columns_.from[first];
        spanTo_[y] = columns_.to[last];
        Widen(columns_, lookup_, now, widened_.data() + static_cast<std::size_t>(y) * width,
              spanFrom_[y], spanTo_[y]);
    }
    // Window rows: each reads one widened row or mixes two.
    int left = width, right = 0, top = area_.h, bottom = 0;
    for (int y = 0; y < area_.h; ++y) {
        const int near = rows_.near[y], far = rows_.far[y];
        const int from = std::min(spanFrom_[near], spanFrom_[far]);
        const int to = std::max(spanTo_[near], spanTo_[far]);
        if (from >= to) continue;
        left = std::min(left, from);
        right = std::max(right, to);
        top = std::min(top, y);
        bottom = y + 1;
        std::uint32_t* out = Row(surface, area_.y + y) + area_.x;
        const std::uint32_t* a = widened_.data() + static_cast<std::size_t>(near) * width;
        const std::uint32_t weight = static_cast<std::uint32_t>(rows_.weight[y]);
        if (weight == 0) {
            std::memcpy(out + from, a + from, static_cast<std::size_t>(to - from) * 4);
            continue;
        }
        const std::uint32_t* b = widened_.data() + static_cast<std::size_t>(far) * width;
        for (int x = from; x < to; ++x) out[x] = a[x] == b[x] ? a[x] : Mix(a[x], b[x], weight);
    }
    if (all) return Rect{0, 0, surface.width, surface.height};
    if (bottom == 0) return Rect{};
    return Rect{area_.x + left, area_.y + top, right - left, bottom - top};
}

}  // namespace desktop
