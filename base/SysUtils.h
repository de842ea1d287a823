#pragma once

#include <stdexcept>
#include <string>

/// The general exception class: every error of the library-like code derives
/// from it and carries its fixed message text.
class Exception : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Silent abort (a progress observer asked to stop); never shown to the user.
class EAbort : public Exception
{
public:
    EAbort()
        : Exception("Operation aborted")
    {
    }
};

class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

class EOutOfResources : public Exception
{
public:
    using Exception::Exception;
};

class EStreamError : public Exception
{
public:
    using Exception::Exception;
};

/// "Datei %s kann nicht geöffnet werden"
class EFOpenError : public EStreamError
{
public:
    explicit EFOpenError(const std::string& fileName);
};

/// "Datei %s kann nicht erstellt werden"
class EFCreateError : public EStreamError
{
public:
    explicit EFCreateError(const std::string& fileName);
};

/// "Stream-Lesefehler"
class EReadError : public EStreamError
{
public:
    EReadError();
};

/// "Stream-Schreibfehler"
class EWriteError : public EStreamError
{
public:
    EWriteError();
};

/// Replaces the first "%s" in fmt by arg (the fixed messages carry at most one).
std::string FormatS(const std::string& fmt, const std::string& arg);
/// Replaces the first "%d" in fmt by the decimal value.
std::string FormatD(const std::string& fmt, long long value);
