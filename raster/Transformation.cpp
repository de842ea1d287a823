#include "raster/Transformation.h"

#include <algorithm>
#include <cmath>

namespace {

// pi / 180 held at extended precision; the product with an angle is rounded
// to single where it is stored.
constexpr long double kDegToRad = 3.14159265358979323846264338327950288L / 180.0L;
constexpr long double kTwoTo63 = 9223372036854775808.0L;

using Ext = long double;

// Fixed-point sum with 32-bit wrap-around.
TFixed WrapAdd(TFixed a, TFixed b, TFixed c)
{
    return static_cast<TFixed>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b) +
                               static_cast<uint32_t>(c));
}

TFixedPoint MapFixed(const TFixedMatrix& f, TFixed x, TFixed y)
{
    return {WrapAdd(FixedMul(x, f[0][0]), FixedMul(y, f[1][0]), f[2][0]),
            WrapAdd(FixedMul(x, f[0][1]), FixedMul(y, f[1][1]), f[2][1])};
}

TFloatPoint MapFloat(const TFloatMatrix& f, float x, float y)
{
    return {static_cast<float>(Ext{x} * f[0][0] + Ext{y} * f[1][0] + f[2][0]),
            static_cast<float>(Ext{x} * f[0][1] + Ext{y} * f[1][1] + f[2][1])};
}

// Difference of two products at extended precision, stored as single.
float Cross(float a, float b, float c, float d)
{
    return static_cast<float>(Ext{a} * b - Ext{c} * d);
}

} // namespace

TFixed ToFixed(float v)
{
    const Ext r = std::nearbyint(Ext{v} * FixedOne);
    if (!(std::fabs(r) < kTwoTo63))
        return 0;
    return static_cast<TFixed>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(r))));
}

int RoundToInt(long double v)
{
    if (std::isnan(v))
        return 0;
    const long double r = std::nearbyint(v);
    if (r >= 2147483647.0L)
        return 2147483647;
    if (r <= -2147483648.0L)
        return -2147483647 - 1;
    return static_cast<int>(r);
}

TFloatMatrix Mult(const TFloatMatrix& a, const TFloatMatrix& b)
{
    TFloatMatrix result{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            result[i][j] =
                static_cast<float>(Ext{a[0][j]} * b[i][0] + Ext{a[1][j]} * b[i][1] + Ext{a[2][j]} * b[i][2]);
    return result;
}

void TTransformation::SetSrcRect(const TFloatRect& value)
{
    FSrcRect = value;
    Changed();
}

void TTransformation::Changed()
{
    FPrepared = false;
    TNotifiablePersistent::Changed();
}

TPoint TTransformation::ReverseMapInt(int dstX, int dstY) const
{
    const TFixedPoint p = ReverseMapFixed(IntToFixed(dstX), IntToFixed(dstY));
    return {FixedRound(p.X), FixedRound(p.Y)};
}

TFixedPoint TTransformation::ReverseMapFixed(TFixed dstX, TFixed dstY) const
{
    const TFloatPoint p = ReverseMapFloat(static_cast<float>(static_cast<Ext>(dstX) / FixedOne),
                                          static_cast<float>(static_cast<Ext>(dstY) / FixedOne));
    return {ToFixed(p.X), ToFixed(p.Y)};
}

TFloatPoint TTransformation::ReverseMapFloat(float, float) const
{
    throw ETransformNotImplemented(FormatS("Reverse transformation is not implemented in %s.", ClassName()));
}

TPoint TTransformation::ForwardMapInt(int srcX, int srcY) const
{
    const TFixedPoint p = ForwardMapFixed(IntToFixed(srcX), IntToFixed(srcY));
    return {FixedRound(p.X), FixedRound(p.Y)};
}

TFixedPoint TTransformation::ForwardMapFixed(TFixed srcX, TFixed srcY) const
{
    const TFloatPoint p = ForwardMapFloat(static_cast<float>(static_cast<Ext>(srcX) / FixedOne),
                                          static_cast<float>(static_cast<Ext>(srcY) / FixedOne));
    return {ToFixed(p.X), ToFixed(p.Y)};
}

TFloatPoint TTransformation::ForwardMapFloat(float, float) const
{
    throw ETransformNotImplemented(FormatS("Forward transformation is not implemented in %s.", ClassName()));
}

TRect TTransformation::TransformedBounds(const TFloatRect& r) const
{
    return {RoundToInt(r.Left), RoundToInt(r.Top), RoundToInt(r.Right), RoundToInt(r.Bottom)};
}

TPoint TTransformation::ReversePoint(const TPoint& p)
{
    EnsurePrepared();
    return ReverseMapInt(p.X, p.Y);
}

TFixedPoint TTransformation::ReversePoint(const TFixedPoint& p)
{
    EnsurePrepared();
    return ReverseMapFixed(p.X, p.Y);
}

TFloatPoint TTransformation::ReversePoint(const TFloatPoint& p)
{
    EnsurePrepared();
    return ReverseMapFloat(p.X, p.Y);
}

TPoint TTransformation::ForwardPoint(const TPoint& p)
{
    EnsurePrepared();
    return ForwardMapInt(p.X, p.Y);
}

TFixedPoint TTransformation::ForwardPoint(const TFixedPoint& p)
{
    EnsurePrepared();
    return ForwardMapFixed(p.X, p.Y);
}

TFloatPoint TTransformation::ForwardPoint(const TFloatPoint& p)
{
    EnsurePrepared();
    return ForwardMapFloat(p.X, p.Y);
}

void TAffineTransformation::Clear()
{
    FMatrix = IdentityMatrix;
    Changed();
}

void TAffineTransformation::Append(const TFloatMatrix& op)
{
    FMatrix = Mult(op, FMatrix);
}

void TAffineTransformation::Translate(float dx, float dy)
{
    TFloatMatrix op = IdentityMatrix;
    op[2][0] = dx;
    op[2][1] = dy;
    Append(op);
    Changed();
}

void TAffineTransformation::Scale(float sx, float sy)
{
    TFloatMatrix op = IdentityMatrix;
    op[0][0] = sx;
    op[1][1] = sy;
    Append(op);
    Changed();
}

void TAffineTransformation::Rotate(float cx, float cy, float alpha)
{
    const bool aboutCentre = cx != 0 || cy != 0;
    if (aboutCentre)
        Translate(-cx, -cy);
    const float a = static_cast<float>(alpha * kDegToRad);
    const float s = static_cast<float>(std::sin(Ext{a}));
    const float c = static_cast<float>(std::cos(Ext{a}));
    TFloatMatrix op = IdentityMatrix;
    op[0][0] = c;
    op[1][0] = s;
    op[0][1] = -s;
    op[1][1] = c;
    Append(op);
    if (aboutCentre)
        Translate(cx, cy);
    Changed();
}

void TAffineTransformation::Prepare()
{
    const TFloatMatrix& m = FMatrix;
    // Adjugate: the transposed cofactors, each the difference of two products
    // stored as single.
    TFloatMatrix adj{};
    adj[0][0] = Cross(m[1][1], m[2][2], m[1][2], m[2][1]);
    adj[0][1] = Cross(m[0][2], m[2][1], m[0][1], m[2][2]);
    adj[0][2] = Cross(m[0][1], m[1][2], m[0][2], m[1][1]);
    adj[1][0] = Cross(m[1][2], m[2][0], m[1][0], m[2][2]);
    adj[1][1] = Cross(m[0][0], m[2][2], m[0][2], m[2][0]);
    adj[1][2] = Cross(m[0][2], m[1][0], m[0][0], m[1][2]);
    adj[2][0] = Cross(m[1][0], m[2][1], m[1][1], m[2][0]);
    adj[2][1] = Cross(m[0][1], m[2][0], m[0][0], m[2][1]);
    adj[2][2] = Cross(m[0][0], m[1][1], m[0][1], m[1][0]);
    const float det =
        static_cast<float>(Ext{m[0][0]} * adj[0][0] + Ext{m[0][1]} * adj[1][0] + Ext{m[0][2]} * adj[2][0]);
    if (std::fabs(det) < 0.00001f) {
        FInverse = IdentityMatrix;
    } else {
        const float invDet = static_cast<float>(1.0L / det);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                FInverse[i][j] = static_cast<float>(Ext{adj[i][j]} * invDet);
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            FInverseFixed[i][j] = ToFixed(FInverse[i][j]);
            FForwardFixed[i][j] = ToFixed(FMatrix[i][j]);
        }
    SetPrepared(true);
}

TFixedPoint TAffineTransformation::ReverseMapFixed(TFixed dstX, TFixed dstY) const
{
    return MapFixed(FInverseFixed, dstX, dstY);
}

TFloatPoint TAffineTransformation::ReverseMapFloat(float dstX, float dstY) const
{
    return MapFloat(FInverse, dstX, dstY);
}

TFixedPoint TAffineTransformation::ForwardMapFixed(TFixed srcX, TFixed srcY) const
{
    return MapFixed(FForwardFixed, srcX, srcY);
}

TFloatPoint TAffineTransformation::ForwardMapFloat(float srcX, float srcY) const
{
    return MapFloat(FMatrix, srcX, srcY);
}

TRect TAffineTransformation::TransformedBounds(const TFloatRect& r) const
{
    const TFloatPoint corners[4] = {MapFloat(FMatrix, r.Left, r.Top), MapFloat(FMatrix, r.Right, r.Top),
                                    MapFloat(FMatrix, r.Left, r.Bottom),
                                    MapFloat(FMatrix, r.Right, r.Bottom)};
    float minX = corners[0].X, maxX = corners[0].X, minY = corners[0].Y, maxY = corners[0].Y;
    for (const TFloatPoint& p : corners) {
        minX = std::min(minX, p.X);
        maxX = std::max(maxX, p.X);
        minY = std::min(minY, p.Y);
        maxY = std::max(maxY, p.Y);
    }
    return {RoundToInt(Ext{minX} - 0.5L), RoundToInt(Ext{minY} - 0.5L), RoundToInt(Ext{maxX} + 0.5L),
            RoundToInt(Ext{maxY} + 0.5L)};
}
