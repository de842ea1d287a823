#pragma once

#include "raster/Bitmap32.h"

/// The scale that fits a W x H picture turned by angle degrees into W x H:
/// the smaller of W / Dw and H / Dh, where Dw and Dh are the turned picture's
/// width and height in pixel-centre units. W and H must both be at least 2.
float FitScale(int width, int height, float angle);

/// Whether a photo of this size can be turned: both sides at least 2 pixels
/// (else the fit scale divides by zero) and at most 32767 (the reach of the
/// 16.16 coordinates).
bool CanRotatePhoto(int width, int height);

/// Renders src into dst turned by angle degrees (counter-clockwise on screen)
/// about the bitmap centre and scaled to fit, on opaque black. dst keeps its
/// size. Returns false, leaving dst untouched, when src cannot be turned
/// (CanRotatePhoto).
bool RotatePhoto(TBitmap32& src, TBitmap32& dst, float angle);

/// The angle of the turn for an EXIF orientation: 180 for 3, -90 for 6, 90
/// for 8; false for every other value.
bool OrientationAngle(int orientation, float& angle);

/// The render of one photo for its orientation: sizes dst to src, clears the
/// alpha of src's outermost ring, and renders src turned for orientation 3, 6
/// or 8, else at angle 0. A turn overwrites the angle-0 render completely, so
/// it is the only render made. Returns false, changing neither bitmap, when
/// src cannot be turned.
bool RenderUpright(TBitmap32& src, TBitmap32& dst, int orientation);
