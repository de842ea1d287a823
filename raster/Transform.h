#pragma once

#include "raster/Bitmap32.h"
#include "raster/Rasterizers.h"
#include "raster/Transformation.h"

/// Renders src into dst through t: every destination pixel inside the
/// transformed source rectangle (and dst's clip) takes the sample of src at
/// the point t maps it back to. Uses a rasterizer of DefaultRasterizerClass.
void Transform(TBitmap32& dst, TBitmap32& src, TTransformation& t);
void Transform(TBitmap32& dst, TBitmap32& src, TTransformation& t, TRasterizer& rasterizer);
/// src's resampler must be a TBitmap32Resampler (else EInvalidCast).
void Transform(TBitmap32& dst, TBitmap32& src, TTransformation& t, const TRect& dstClip,
               TRasterizer& rasterizer);

/// Sets the alpha of the outermost ring of pixels of r (within the bitmap) to 0.
void ClearBorderAlpha(TBitmap32& bitmap, const TRect& r);
