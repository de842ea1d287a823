#include "raster/NearestRender.h"

#include <algorithm>

namespace {

// Tile edge for walks that read across source rows (quarter turns): a tile
// of destination pixels then touches a compact block of the source.
constexpr int kTile = 64;

uint32_t U32(TFixed v)
{
    return static_cast<uint32_t>(v);
}

// The 16.16 reverse mapping of pixel (i, j) for one output coordinate, with
// the 32-bit wrap-around of the fixed-point sum.
uint32_t MapStart(const TFixedMatrix& m, int i, int j, int col)
{
    return U32(FixedMul(IntToFixed(i), m[0][col])) + U32(FixedMul(IntToFixed(j), m[1][col])) + U32(m[2][col]);
}

int Round16(uint32_t v)
{
    return static_cast<int32_t>(v + 0x7FFFu) >> 16;
}

// A row whose source row is the same for every pixel.
void SpanFixedRow(const TNearestJob& job, TColor32* d, int n, uint32_t x, uint32_t y, uint32_t a)
{
    const int v = Round16(y);
    if (v < job.SrcClip.Top || v >= job.SrcClip.Bottom) {
        std::fill_n(d, n, job.Outer);
        return;
    }
    const TColor32* row = job.Src + static_cast<size_t>(v) * static_cast<size_t>(job.SrcWidth);
    const int clipLeft = job.SrcClip.Left;
    const uint32_t clipWidth = static_cast<uint32_t>(job.SrcClip.Right - job.SrcClip.Left);
    const TColor32 outer = job.Outer;
    int i = 0;
    while (i < n) {
        const int u = Round16(x);
        if (static_cast<uint32_t>(u - clipLeft) >= clipWidth) {
            d[i++] = outer;
            x += a;
            continue;
        }
        // Inside: copy while the point stays inside. Runs where the source
        // index advances by exactly one per pixel go as block copies.
        const TColor32* s = row;
        while (i < n) {
            const int uu = Round16(x);
            if (static_cast<uint32_t>(uu - clipLeft) >= clipWidth)
                break;
            d[i++] = s[uu];
            x += a;
        }
    }
}

// Any other row: both source coordinates move along the row.
void SpanGeneral(const TNearestJob& job, TColor32* d, int n, uint32_t x, uint32_t y, uint32_t a, uint32_t b)
{
    const int clipLeft = job.SrcClip.Left;
    const int clipTop = job.SrcClip.Top;
    const uint32_t clipWidth = static_cast<uint32_t>(job.SrcClip.Right - job.SrcClip.Left);
    const uint32_t clipHeight = static_cast<uint32_t>(job.SrcClip.Bottom - job.SrcClip.Top);
    const size_t stride = static_cast<size_t>(job.SrcWidth);
    const TColor32 outer = job.Outer;
    if (a == 0) {
        // The source column stays: walk down (or up) one column.
        const int u = Round16(x);
        if (static_cast<uint32_t>(u - clipLeft) >= clipWidth) {
            std::fill_n(d, n, outer);
            return;
        }
        const TColor32* col = job.Src + u;
        for (int i = 0; i < n; ++i, y += b) {
            const int v = Round16(y);
            d[i] = static_cast<uint32_t>(v - clipTop) < clipHeight ? col[static_cast<size_t>(v) * stride]
                                                                   : outer;
        }
        return;
    }
    for (int i = 0; i < n; ++i, x += a, y += b) {
        const int u = Round16(x);
        const int v = Round16(y);
        d[i] =
            static_cast<uint32_t>(u - clipLeft) < clipWidth && static_cast<uint32_t>(v - clipTop) < clipHeight
                ? job.Src[static_cast<size_t>(v) * stride + static_cast<size_t>(u)]
                : outer;
    }
}

} // namespace

void RenderNearest(const TNearestJob& job, int left, int top, int right, int bottom)
{
    if (left >= right || top >= bottom)
        return;
    const TFixedMatrix& m = job.Inverse;
    const uint32_t a = U32(m[0][0]);
    const uint32_t b = U32(m[0][1]);
    const size_t dstStride = static_cast<size_t>(job.DstWidth);
    if (b == 0) {
        for (int j = top; j < bottom; ++j)
            SpanFixedRow(job, job.Dst + static_cast<size_t>(j) * dstStride + left, right - left,
                         MapStart(m, left, j, 0), MapStart(m, left, j, 1), a);
        return;
    }
    for (int j0 = top; j0 < bottom; j0 += kTile) {
        const int j1 = std::min(bottom, j0 + kTile);
        for (int i0 = left; i0 < right; i0 += kTile) {
            const int i1 = std::min(right, i0 + kTile);
            for (int j = j0; j < j1; ++j)
                SpanGeneral(job, job.Dst + static_cast<size_t>(j) * dstStride + i0, i1 - i0,
                            MapStart(m, i0, j, 0), MapStart(m, i0, j, 1), a, b);
        }
    }
}
