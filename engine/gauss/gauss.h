// Symmetric Gaussian variants: their layouts, and their start routines
// (g...), model functions (f...) and result routines (x...).
#pragma once

#include "engine/gauss/shape.h"
#include "engine/model.h"

namespace tavrick {

namespace gauss {

// clang-format off
// sym: every peak has its own centroid, height and width, all free.
inline constexpr Layout kSym{.centroid = {3, 0, 0, -2}, .height = {3, 0, 0, -1},
    .width = {3, 0, 0, 0}, .background = {0, 3, 0, 0}, .ma = {0, 3, 1, 0}, .mfit = {0, 3, 1, 0},
    .row = "(I4,3(1X,F9.2,' +/-',F8.2))"};
// symf: centroids, heights and one common width, all free.
inline constexpr Layout kSymf{.centroid = {2, 0, 0, -1}, .height = {2, 0, 0, 0},
    .width = {0, 2, 0, 1}, .background = {0, 2, 0, 1}, .ma = {0, 2, 1, 1}, .mfit = {0, 2, 1, 1},
    .row = "(I3,3(1X,F10.2,' +/-',F8.2))"};
// symfc: heights and the common width free, centroids held at their guesses.
inline constexpr Layout kSymfc{.centroid = {1, 1, 1, 1}, .height = {1, 0, 0, 0},
    .width = {0, 1, 1, 1}, .background = {0, 1, 0, 0}, .ma = {0, 2, 1, 1}, .mfit = {0, 1, 1, 1},
    .centroidsHeld = true};
// fwvc: centroids and heights free, the common width held at the given FWHM.
inline constexpr Layout kFwvc{.centroid = {2, 0, 0, -1}, .height = {2, 0, 0, 0},
    .width = {0, 2, 1, 1}, .background = {0, 2, 0, 0}, .ma = {0, 2, 1, 1}, .mfit = {0, 2, 1, 0},
    .widthsHeld = true};
// fwfc: heights free (the model is linear in every free slot); centroids and
// the common width held.
inline constexpr Layout kFwfc{.centroid = {1, 1, 1, 0}, .height = {1, 0, 0, 0},
    .width = {0, 2, 1, 1}, .background = {0, 1, 0, 0}, .ma = {0, 2, 1, 1}, .mfit = {0, 1, 1, 0},
    .centroidsHeld = true, .widthsHeld = true};
// clang-format on

}  // namespace gauss

inline constexpr Start gsym = Form<gauss::Kernel, gauss::kSym>::start;
inline constexpr Model fgaus = Form<gauss::Kernel, gauss::kSym>::full;
inline constexpr Result xsym = Form<gauss::Kernel, gauss::kSym>::result;

inline constexpr Start gsymf = Form<gauss::Kernel, gauss::kSymf>::start;
inline constexpr Model fgausf = Form<gauss::Kernel, gauss::kSymf>::full;
inline constexpr Result xsymf = Form<gauss::Kernel, gauss::kSymf>::result;

inline constexpr Start gsymfc = Form<gauss::Kernel, gauss::kSymfc>::start;
inline constexpr Model fsymfc = Form<gauss::Kernel, gauss::kSymfc>::full;
inline constexpr Result xsymfc = Form<gauss::Kernel, gauss::kSymfc>::result;

inline constexpr Start gfwvc = Form<gauss::Kernel, gauss::kFwvc>::start;
inline constexpr Model fgfwvc = Form<gauss::Kernel, gauss::kFwvc>::full;
inline constexpr Result xfwvc = Form<gauss::Kernel, gauss::kFwvc>::result;

inline constexpr Start gfwfc = Form<gauss::Kernel, gauss::kFwfc>::start;
inline constexpr Model fgfwfc = Form<gauss::Kernel, gauss::kFwfc>::full;
inline constexpr Result xfwfc = Form<gauss::Kernel, gauss::kFwfc>::result;

}  // namespace tavrick
