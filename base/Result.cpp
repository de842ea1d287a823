#include "base/Result.h"

const char* FailureName(TFailure kind)
{
    switch (kind) {
    case TFailure::None:
        return "ok";
    case TFailure::NotFound:
        return "not found";
    case TFailure::Exists:
        return "already exists";
    case TFailure::Access:
        return "access denied";
    case TFailure::NoSpace:
        return "no space left";
    case TFailure::Io:
        return "input/output error";
    case TFailure::Unavailable:
        return "target unavailable";
    case TFailure::NotSafe:
        return "not a file of the card";
    case TFailure::Mismatch:
        return "copy differs from the original";
    case TFailure::Damaged:
        return "damaged data";
    case TFailure::Unsupported:
        return "unsupported";
    case TFailure::Other:
        break;
    }
    return "failed";
}

std::string TResult::Text() const
{
    if (Ok())
        return "ok";
    std::string text = FMessage.empty() ? FailureName(FKind) : FMessage;
    if (!FPath.empty())
        text += ": " + FPath;
    return text;
}
