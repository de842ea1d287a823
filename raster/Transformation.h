#pragma once

#include "graphics/Graphics.h"
#include "raster/Persistent.h"

#include <array>
#include <cstdint>
#include <string>

/// Signed 16.16 fixed point: 1.0 is 65536.
using TFixed = int32_t;
constexpr TFixed FixedOne = 65536;

/// Two signed 32-bit integers.
struct TPoint
{
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TFixedPoint
{
    TFixed X = 0;
    TFixed Y = 0;
    bool operator==(const TFixedPoint&) const = default;
};

struct TFloatPoint
{
    float X = 0;
    float Y = 0;
    bool operator==(const TFloatPoint&) const = default;
};

/// Edges (not pixel centres): a bitmap of W x H is (0, 0, W, H).
struct TFloatRect
{
    float Left = 0;
    float Top = 0;
    float Right = 0;
    float Bottom = 0;
    bool operator==(const TFloatRect&) const = default;
};

/// 3 x 3 matrix indexed [i][j]; (x, y) maps to x*M[0][0] + y*M[1][0] + M[2][0],
/// x*M[0][1] + y*M[1][1] + M[2][1].
using TFloatMatrix = std::array<std::array<float, 3>, 3>;
using TFixedMatrix = std::array<std::array<TFixed, 3>, 3>;

constexpr TFloatMatrix IdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

/// v * 65536 rounded to nearest, ties to even; the low 32 bits of the result
/// (0 for values that are not finite or lie beyond the 64-bit range).
TFixed ToFixed(float v);
/// The exact 64-bit product shifted right arithmetically by 16 (rounding
/// toward minus infinity), low 32 bits kept.
inline TFixed FixedMul(TFixed a, TFixed b)
{
    return static_cast<TFixed>(static_cast<uint32_t>((static_cast<int64_t>(a) * b) >> 16));
}
/// Nearest integer of a 16.16 value, an exact half going down (1.5 -> 1, -0.5 -> -1).
inline int FixedRound(TFixed a)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + 0x7FFFu) >> 16;
}
/// Integer to 16.16 with 32-bit wrap-around (x shifted left by 16).
inline TFixed IntToFixed(int x)
{
    return static_cast<TFixed>(static_cast<uint32_t>(x) << 16);
}
/// Rounds to the nearest integer, ties to even; saturates at the 32-bit range
/// (0 for NaN).
int RoundToInt(long double v);

/// Matrix product with B applied first: Mult(A, B)[i][j] = A[0][j]*B[i][0] +
/// A[1][j]*B[i][1] + A[2][j]*B[i][2], each element evaluated at extended
/// precision and stored as single.
TFloatMatrix Mult(const TFloatMatrix& a, const TFloatMatrix& b);

/// Raised by a transformation that implements no float mapping in one direction.
class ETransformNotImplemented : public Exception
{
public:
    using Exception::Exception;
};

/// A mapping between the pixel coordinates of a source and a destination.
/// The six mapping operations never prepare by themselves: callers see to
/// Prepared() (the ReversePoint/ForwardPoint forms and the samplers do).
class TTransformation : public TNotifiablePersistent
{
public:
    TFloatRect SrcRect() const { return FSrcRect; }
    void SetSrcRect(const TFloatRect& value);
    bool Prepared() const { return FPrepared; }

    /// Marks the derived data stale, then notifies.
    void Changed() override;

    virtual void Prepare() {}
    virtual TPoint ReverseMapInt(int dstX, int dstY) const;
    virtual TFixedPoint ReverseMapFixed(TFixed dstX, TFixed dstY) const;
    /// Raises ETransformNotImplemented in this class.
    virtual TFloatPoint ReverseMapFloat(float dstX, float dstY) const;
    virtual TPoint ForwardMapInt(int srcX, int srcY) const;
    virtual TFixedPoint ForwardMapFixed(TFixed srcX, TFixed srcY) const;
    /// Raises ETransformNotImplemented in this class.
    virtual TFloatPoint ForwardMapFloat(float srcX, float srcY) const;
    virtual bool HasTransformedBounds() const { return true; }
    /// Here each edge rounded to nearest (ties to even).
    virtual TRect TransformedBounds(const TFloatRect& r) const;
    TRect TransformedBounds() const { return TransformedBounds(FSrcRect); }

    TPoint ReversePoint(const TPoint& p);
    TFixedPoint ReversePoint(const TFixedPoint& p);
    TFloatPoint ReversePoint(const TFloatPoint& p);
    TPoint ForwardPoint(const TPoint& p);
    TFixedPoint ForwardPoint(const TFixedPoint& p);
    TFloatPoint ForwardPoint(const TFloatPoint& p);

    virtual std::string ClassName() const { return "TTransformation"; }

protected:
    void SetPrepared(bool value) { FPrepared = value; }

private:
    void EnsurePrepared()
    {
        if (!FPrepared)
            Prepare();
    }

    TFloatRect FSrcRect;
    bool FPrepared = false;
};

/// Affine transformation built from translations, rotations and scalings;
/// each appended operation acts after those before it.
class TAffineTransformation : public TTransformation
{
public:
    TAffineTransformation() = default;

    /// Matrix := identity.
    void Clear();
    void Translate(float dx, float dy);
    void Scale(float sx, float sy);
    /// Turns by alpha degrees about (cx, cy); a positive angle turns
    /// counter-clockwise on screen (y pointing down): (1, 0) goes to (0, -1).
    void Rotate(float cx, float cy, float alpha);

    /// Inverse (identity for a determinant below 0.00001 in magnitude) and
    /// both fixed matrices.
    void Prepare() override;
    TFixedPoint ReverseMapFixed(TFixed dstX, TFixed dstY) const override;
    TFloatPoint ReverseMapFloat(float dstX, float dstY) const override;
    TFixedPoint ForwardMapFixed(TFixed srcX, TFixed srcY) const override;
    TFloatPoint ForwardMapFloat(float srcX, float srcY) const override;
    /// Bounds of the four forward-mapped corners, widened by half a pixel and
    /// rounded (ties to even). Works from Matrix directly.
    TRect TransformedBounds(const TFloatRect& r) const override;
    using TTransformation::TransformedBounds;

    const TFloatMatrix& Matrix() const { return FMatrix; }
    const TFloatMatrix& Inverse() const { return FInverse; }
    const TFixedMatrix& ForwardFixed() const { return FForwardFixed; }
    const TFixedMatrix& InverseFixed() const { return FInverseFixed; }

    std::string ClassName() const override { return "TAffineTransformation"; }

private:
    void Append(const TFloatMatrix& op);

    TFloatMatrix FInverse = IdentityMatrix;
    TFixedMatrix FForwardFixed{};
    TFixedMatrix FInverseFixed{};
    TFloatMatrix FMatrix = IdentityMatrix;
};
