#pragma once

#include <string>
#include <utility>

/// What kind of failure an operation met; None means it succeeded.
enum class TFailure
{
    None,
    NotFound,    ///< the file or folder is not there
    Exists,      ///< the target name is taken
    Access,      ///< permission denied, or a read-only medium
    NoSpace,     ///< the disk or the user's quota is full
    Io,          ///< the device failed to read or write
    Unavailable, ///< the target cannot be used (no documents folder, a drive not attached)
    NotSafe,     ///< refused on purpose: a link, or an entry that leads off the card
    Mismatch,    ///< the copy read back differs from the original
    Damaged,     ///< the photo's data is corrupt or cut short
    Unsupported, ///< the photo cannot be handled this way
    Other
};

/// The outcome of one operation: success, or a failure with its kind, the
/// operating system's error number (0 when the OS was not asked), a readable
/// reason (the OS's error text or the decoder's message) and the path it
/// concerns. Cheap to copy; success carries nothing.
class TResult
{
public:
    /// Success.
    TResult() = default;

    static TResult Fail(TFailure kind, std::string path, std::string message = {}, int osError = 0)
    {
        TResult r;
        r.FKind = kind == TFailure::None ? TFailure::Other : kind;
        r.FPath = std::move(path);
        r.FMessage = std::move(message);
        r.FOsError = osError;
        return r;
    }

    bool Ok() const { return FKind == TFailure::None; }
    explicit operator bool() const { return Ok(); }

    TFailure Kind() const { return FKind; }
    int OsError() const { return FOsError; }
    const std::string& Message() const { return FMessage; }
    const std::string& Path() const { return FPath; }

    /// One line for a log: "<reason>: <path>", or "ok".
    std::string Text() const;

private:
    TFailure FKind = TFailure::None;
    int FOsError = 0;
    std::string FMessage;
    std::string FPath;
};

/// A short English name of the kind ("no space", "not found", ...).
const char* FailureName(TFailure kind);
