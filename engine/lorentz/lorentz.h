// Lorentzian variants: their layouts, and their start routines (g...), model
// functions (f...) and result routines (x...).
#pragma once

#include "engine/lorentz/shape.h"
#include "engine/model.h"

namespace tavrick {

namespace lorentz {

inline constexpr fortran::Format kHead = "(13X,'Centroid',15X,'Height/Area',11X,'Fwhm ')";

// clang-format off
// lor: every peak has its own centroid, height and half width, all free.
inline constexpr Layout kLor{.centroid = {3, 0, 0, -2}, .height = {3, 0, 0, -1},
    .width = {3, 0, 0, 0}, .background = {0, 3, 0, 0}, .ma = {0, 3, 1, 0}, .mfit = {0, 3, 1, 0},
    .startedBackground = kMaxBak, .head = kHead,
    .row = "(I4,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)"};
// lorf: centroids, heights and one common half width, all free.
inline constexpr Layout kLorf{.centroid = {2, 0, 0, -1}, .height = {2, 0, 0, 0},
    .width = {0, 2, 0, 1}, .background = {0, 2, 0, 1}, .ma = {0, 2, 1, 1}, .mfit = {0, 2, 1, 1},
    .startedBackground = kMaxBak, .head = kHead,
    .row = "(I3,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)"};
// clang-format on

}  // namespace lorentz

inline constexpr Start glor = Form<lorentz::Kernel, lorentz::kLor>::start;
inline constexpr Model flor = Form<lorentz::Kernel, lorentz::kLor>::full;
inline constexpr Result xlor = Form<lorentz::Kernel, lorentz::kLor>::result;

inline constexpr Start glorf = Form<lorentz::Kernel, lorentz::kLorf>::start;
inline constexpr Model florf = Form<lorentz::Kernel, lorentz::kLorf>::full;
inline constexpr Result xlorf = Form<lorentz::Kernel, lorentz::kLorf>::result;

}  // namespace tavrick
