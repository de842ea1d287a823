#include "raster/NearestRender.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Tile edge for walks that read across source rows (quarter turns): a tile
// of destination pixels then touches a compact block of the source.
constexpr int kTile = 64;
constexpr int kTileRows = 8;
constexpr int kTileCols = 256;

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
    for (int i = 0; i < n; ++i, x += a) {
        const int u = Round16(x);
        d[i] = static_cast<uint32_t>(u - clipLeft) < clipWidth ? row[u] : outer;
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

// Source index along one axis for every destination index of a row or
// column, as an offset (index * stride), or -1 outside the clip.
std::vector<ptrdiff_t> AxisOffsets(uint32_t start, uint32_t step, int n, int clipLo, int clipHi,
                                   size_t stride)
{
    std::vector<ptrdiff_t> offsets(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i, start += step) {
        const int v = Round16(start);
        offsets[static_cast<size_t>(i)] =
            v >= clipLo && v < clipHi ? static_cast<ptrdiff_t>(v) * static_cast<ptrdiff_t>(stride) : -1;
    }
    return offsets;
}

// A stretch of a row whose source pixels are consecutive, ascending or
// descending (or a single pixel), or lie outside the source.
struct TRun
{
    int Start;
    int Length;
    ptrdiff_t Source; ///< index of the first pixel's source, -1 outside
    int Direction;    ///< +1 or -1
};

std::vector<TRun> Runs(const std::vector<ptrdiff_t>& index)
{
    std::vector<TRun> runs;
    const int n = static_cast<int>(index.size());
    for (int i = 0; i < n;) {
        const ptrdiff_t first = index[static_cast<size_t>(i)];
        int len = 1;
        int dir = 1;
        if (first < 0) {
            while (i + len < n && index[static_cast<size_t>(i + len)] < 0)
                ++len;
        } else if (i + 1 < n && index[static_cast<size_t>(i + 1)] >= 0 &&
                   (index[static_cast<size_t>(i + 1)] - first == 1 ||
                    index[static_cast<size_t>(i + 1)] - first == -1)) {
            dir = static_cast<int>(index[static_cast<size_t>(i + 1)] - first);
            while (i + len < n && index[static_cast<size_t>(i + len)] >= 0 &&
                   index[static_cast<size_t>(i + len)] - first == static_cast<ptrdiff_t>(len) * dir)
                ++len;
        }
        runs.push_back({i, len, first, dir});
        i += len;
    }
    return runs;
}

// The source column depends on the destination column only, the source row
// on the destination row only (no turn, or a half turn): every row is the
// same sequence of runs from one source row.
void RenderRowSeparable(const TNearestJob& job, int left, int top, int right, int bottom)
{
    const TFixedMatrix& m = job.Inverse;
    const std::vector<TRun> runs = Runs(AxisOffsets(MapStart(m, left, 0, 0), U32(m[0][0]), right - left,
                                                    job.SrcClip.Left, job.SrcClip.Right, 1));
    const size_t dstStride = static_cast<size_t>(job.DstWidth);
    for (int j = top; j < bottom; ++j) {
        TColor32* d = job.Dst + static_cast<size_t>(j) * dstStride + left;
        const int v = Round16(MapStart(m, left, j, 1));
        if (v < job.SrcClip.Top || v >= job.SrcClip.Bottom) {
            std::fill_n(d, right - left, job.Outer);
            continue;
        }
        const TColor32* row = job.Src + static_cast<size_t>(v) * static_cast<size_t>(job.SrcWidth);
        for (const TRun& r : runs) {
            TColor32* out = d + r.Start;
            if (r.Source < 0) {
                std::fill_n(out, r.Length, job.Outer);
            } else if (r.Direction > 0) {
                std::memcpy(out, row + r.Source, static_cast<size_t>(r.Length) * sizeof(TColor32));
            } else {
                const TColor32* s = row + r.Source;
                for (int k = 0; k < r.Length; ++k)
                    out[k] = s[-k];
            }
        }
    }
}

// Any transformation: tiles of per-pixel mappings.
void RenderGeneral(const TNearestJob& job, int left, int top, int right, int bottom)
{
    const TFixedMatrix& m = job.Inverse;
    const uint32_t a = U32(m[0][0]);
    const uint32_t b = U32(m[0][1]);
    const size_t dstStride = static_cast<size_t>(job.DstWidth);
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

// The source row depends on the destination column only, the source column
// on the destination row only (quarter turns). Tiles keep the reads of each
// pass within a small block of the source; the source rows of the columns
// are looked up once.
void RenderTransposed(const TNearestJob& job, int left, int top, int right, int bottom)
{
    const TFixedMatrix& m = job.Inverse;
    const std::vector<ptrdiff_t> rows =
        AxisOffsets(MapStart(m, left, 0, 1), U32(m[0][1]), right - left, job.SrcClip.Top, job.SrcClip.Bottom,
                    static_cast<size_t>(job.SrcWidth));
    // The source row moves monotonically with the column, so the columns that
    // read inside the source form one stretch.
    const auto firstIn = std::find_if(rows.begin(), rows.end(), [](ptrdiff_t o) { return o >= 0; });
    const auto lastIn = std::find_if(rows.rbegin(), rows.rend(), [](ptrdiff_t o) { return o >= 0; }).base();
    if (firstIn >= lastIn || std::find(firstIn, lastIn, -1) != lastIn) {
        RenderGeneral(job, left, top, right, bottom);
        return;
    }
    const int inLeft = left + static_cast<int>(firstIn - rows.begin());
    const int inRight = left + static_cast<int>(lastIn - rows.begin());
    const size_t dstStride = static_cast<size_t>(job.DstWidth);
    const TColor32 outer = job.Outer;
    for (int j = top; j < bottom; ++j) {
        TColor32* d = job.Dst + static_cast<size_t>(j) * dstStride;
        std::fill(d + left, d + inLeft, outer);
        std::fill(d + inRight, d + right, outer);
    }
    for (int j0 = top; j0 < bottom; j0 += kTileRows) {
        const int j1 = std::min(bottom, j0 + kTileRows);
        for (int i0 = inLeft; i0 < inRight; i0 += kTileCols) {
            const int n = std::min(inRight, i0 + kTileCols) - i0;
            const ptrdiff_t* off = rows.data() + (i0 - left);
            for (int j = j0; j < j1; ++j) {
                TColor32* d = job.Dst + static_cast<size_t>(j) * dstStride + i0;
                const int u = Round16(MapStart(m, 0, j, 0));
                if (u < job.SrcClip.Left || u >= job.SrcClip.Right) {
                    std::fill_n(d, n, outer);
                    continue;
                }
                const TColor32* col = job.Src + u;
                if (j == j0 && i0 + n + n <= inRight) {
                    // The first row of a tile touches a new source line at
                    // every pixel: ask early for those of the next tile.
                    const ptrdiff_t* next = off + n;
                    for (int i = 0; i < n; ++i) {
                        __builtin_prefetch(col + next[i]);
                        d[i] = col[off[i]];
                    }
                    continue;
                }
                for (int i = 0; i < n; ++i)
                    d[i] = col[off[i]];
            }
        }
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
    // With [1][0] = 0 the column term of a row does not depend on the row;
    // with [1][1] = 0 likewise the row term.
    if (b == 0 && m[1][0] == 0) {
        RenderRowSeparable(job, left, top, right, bottom);
        return;
    }
    if (a == 0 && m[1][1] == 0) {
        RenderTransposed(job, left, top, right, bottom);
        return;
    }
    const size_t dstStride = static_cast<size_t>(job.DstWidth);
    if (b == 0) {
        for (int j = top; j < bottom; ++j)
            SpanFixedRow(job, job.Dst + static_cast<size_t>(j) * dstStride + left, right - left,
                         MapStart(m, left, j, 0), MapStart(m, left, j, 1), a);
        return;
    }
    RenderGeneral(job, left, top, right, bottom);
}
