// Skew-Gaussian variants: their layouts, and their start routines (g...),
// model functions (f...) and result routines (x...).
#pragma once

#include "engine/model.h"
#include "engine/skew/shape.h"

namespace tavrick {

namespace skew {

// The head of the result table: two spacings for free widths, one for held.
inline constexpr fortran::Format kHead =
    "(13X,'Centroid',15X,'Area',18X,'Fwhm'/                             58X,'Fwhmhi'/58X,'Fwhmlo')";
inline constexpr fortran::Format kHeadf =
    "(13X,'Centroid',15X,'Area',18X,'Fwhm'/                       58X,'Fwhmhi'/58X,'Fwhmlo')";
inline constexpr fortran::Format kHeadHeld =
    "(13X,'Centroid',15X,'Area',18X,'Fwhm '/                     58X,'Fwhmhi'/58X,'Fwhmlo')";

// clang-format off
// skew: every peak has its own centroid, height, high-side and low-side
// width, all free.
inline constexpr Layout kSkew{.centroid = {4, 0, 0, -3}, .height = {4, 0, 0, -2},
    .width = {4, 0, 0, -1}, .widthLow = {4, 0, 0, 0}, .background = {0, 4, 0, 0},
    .ma = {0, 4, 1, 0}, .mfit = {0, 4, 1, 0}, .startedBackground = kMaxBak, .head = kHead,
    .row = "(I3,3(1X,F10.2,' +/-',F8.2))", .row2 = "(51X,F9.2,' +/-',F8.2)"};
// skewf: centroids, heights and one common pair of widths, all free.
inline constexpr Layout kSkewf{.centroid = {2, 0, 0, -1}, .height = {2, 0, 0, 0},
    .width = {0, 2, 0, 1}, .widthLow = {0, 2, 0, 2}, .background = {0, 2, 0, 2}, .ma = {0, 2, 1, 2},
    .mfit = {0, 2, 1, 2}, .startedBackground = kMaxBak, .head = kHeadf, .row = kSkew.row,
    .row2 = kSkew.row2};
// sfwvc: centroids and heights free, the pair of widths held at the given
// FWHMs.
inline constexpr Layout kSfwvc{.centroid = {2, 0, 0, -1}, .height = {2, 0, 0, 0},
    .width = {0, 2, 1, 1}, .widthLow = {0, 2, 1, 2}, .background = {0, 2, 0, 0}, .ma = {0, 2, 1, 2},
    .mfit = {0, 2, 1, 0}, .widthsHeld = true, .startedBackground = kMaxBak, .head = kHeadHeld};
// sfwfc: heights free; centroids and the pair of widths held.
inline constexpr Layout kSfwfc{.centroid = {1, 1, 1, 0}, .height = {1, 0, 0, 0},
    .width = {0, 2, 1, 1}, .widthLow = {0, 2, 1, 2}, .background = {0, 1, 0, 0}, .ma = {0, 2, 1, 2},
    .mfit = {0, 1, 1, 0}, .centroidsHeld = true, .widthsHeld = true, .startedBackground = kMaxBak,
    .head = kHeadHeld};
// clang-format on

}  // namespace skew

inline constexpr Start gskew = Form<skew::Kernel, skew::kSkew>::start;
inline constexpr Model fskew = Form<skew::Kernel, skew::kSkew>::full;
inline constexpr Result xskew = Form<skew::Kernel, skew::kSkew>::result;

inline constexpr Start gskewf = Form<skew::Kernel, skew::kSkewf>::start;
inline constexpr Model fskewf = Form<skew::Kernel, skew::kSkewf>::full;
inline constexpr Result xskewf = Form<skew::Kernel, skew::kSkewf>::result;

inline constexpr Start gsfwvc = Form<skew::Kernel, skew::kSfwvc>::start;
inline constexpr Model fgsfwvc = Form<skew::Kernel, skew::kSfwvc>::full;
inline constexpr Result xsfwvc = Form<skew::Kernel, skew::kSfwvc>::result;

inline constexpr Start gsfwfc = Form<skew::Kernel, skew::kSfwfc>::start;
inline constexpr Model fgsfwfc = Form<skew::Kernel, skew::kSfwfc>::full;
inline constexpr Result xsfwfc = Form<skew::Kernel, skew::kSfwfc>::result;

}  // namespace tavrick
