// Area-averaging resampling from a rectangle of one row view into a
// rectangle of another, upright or turned by 180 degrees.
#pragma once

#include <cstdint>

#include "imaging/row_view.h"

namespace dactyra {

// Every destination pixel becomes the mean of the source pixels under it,
// each weighted by the part of its area the destination pixel covers, in
// double precision, clamped to 255 and rounded half to even.
//
// Rectangles are not required to lie inside their views: destination pixels
// outside the destination view (or in a null row slot) are not written, and
// source pixels outside the source view (or in a null row slot) are left out
// of the mean as if they had no area; a destination pixel with no source
// pixel left gets 0. With both rectangles inside their views the result is
// exactly that of the algorithm without clipping. A destination rectangle of
// no width or height writes nothing; null views write nothing. The
// destination pixels must not overlap the source pixels.
void ResampleArea(const TRowView* dst, const TRowView* src, std::int32_t DstLeft,
                  std::int32_t DstTop, std::int32_t SrcLeft, std::int32_t SrcTop,
                  std::int32_t DstWidth, std::int32_t DstHeight, std::int32_t SrcWidth,
                  std::int32_t SrcHeight);

// The same values, written turned: the value of destination row r, column c
// goes to row DstBottom - r, column DstRight - c.
void ResampleAreaTurned(const TRowView* dst, const TRowView* src, std::int32_t DstRight,
                        std::int32_t DstBottom, std::int32_t SrcLeft, std::int32_t SrcTop,
                        std::int32_t DstWidth, std::int32_t DstHeight, std::int32_t SrcWidth,
                        std::int32_t SrcHeight);

}  // namespace dactyra
