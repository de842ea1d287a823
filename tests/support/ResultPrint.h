#pragma once

#include "base/Result.h"

#include <ostream>

/// Failures in test messages by name and reason rather than as raw bytes.
inline void PrintTo(TFailure kind, std::ostream* os)
{
    *os << FailureName(kind);
}

inline void PrintTo(const TResult& result, std::ostream* os)
{
    *os << result.Text();
}
