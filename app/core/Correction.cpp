#include "app/core/Correction.h"

struct TOrientationCorrector::TImpl
{
};

TOrientationCorrector::TOrientationCorrector() : FImpl(std::make_unique<TImpl>()) {}

TOrientationCorrector::~TOrientationCorrector() = default;

TCorrectionOutcome TOrientationCorrector::Correct(const std::string&, int)
{
    return TCorrectionOutcome::Skipped;
}
