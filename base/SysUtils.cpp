#include "base/SysUtils.h"

namespace {

std::string ReplaceFirst(const std::string& fmt, const char* token, const std::string& arg)
{
    std::string result = fmt;
    const auto at = result.find(token);
    if (at != std::string::npos)
        result.replace(at, 2, arg);
    return result;
}

} // namespace

EFOpenError::EFOpenError(const std::string& fileName)
    : EStreamError(FormatS("Datei %s kann nicht geöffnet werden", fileName))
{
}

EFCreateError::EFCreateError(const std::string& fileName)
    : EStreamError(FormatS("Datei %s kann nicht erstellt werden", fileName))
{
}

EReadError::EReadError()
    : EStreamError("Stream-Lesefehler")
{
}

EWriteError::EWriteError()
    : EStreamError("Stream-Schreibfehler")
{
}

std::string FormatS(const std::string& fmt, const std::string& arg)
{
    return ReplaceFirst(fmt, "%s", arg);
}

std::string FormatD(const std::string& fmt, long long value)
{
    return ReplaceFirst(fmt, "%d", std::to_string(value));
}
