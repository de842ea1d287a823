#pragma once

#include "raster/Bitmap32.h"
#include "raster/Transformation.h"

/// One nearest-neighbour render of an affine transformation with an opaque
/// store and checked source reads, in integer arithmetic only.
struct TNearestJob
{
    TColor32* Dst = nullptr;
    int DstWidth = 0;
    const TColor32* Src = nullptr;
    int SrcWidth = 0;
    TRect SrcClip; ///< reads outside give Outer
    TColor32 Outer = 0;
    TFixedMatrix Inverse{}; ///< destination to source, 16.16
};

/// Fills rows top..bottom-1, columns left..right-1 of the destination. Each
/// pixel (I, J) takes the source pixel at FixedRound of the 16.16 reverse
/// mapping of (I * 65536, J * 65536), or Outer outside the clip rectangle.
/// Columns and rows must lie within 0..32767, where stepping along a row by
/// the matrix elements equals the products exactly.
void RenderNearest(const TNearestJob& job, int left, int top, int right, int bottom);

/// Largest pixel index whose 16.16 form does not wrap around.
constexpr int MaxFixedIndex = 32767;
