#include "platform/windows/WindowsPlatform.h"

#include <algorithm>

TResult TWindowsPlatform::AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize)
{
    if (path.empty())
        return OsFailure(path, ERROR_PATH_NOT_FOUND);
    if (TResult made = ForceDirectories(ParentFolder(path)); !made)
        return made;
    const std::wstring name = LongPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    const bool exists = ::GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) != 0;
    // The log is never written through a link, nor is a folder one.
    if (exists && (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return TResult::Fail(TFailure::NotSafe, path, "not a regular file");
    if (exists && ((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) >= maxSize) {
        const std::string older = path + ".1";
        if (!::MoveFileExW(name.c_str(), LongPath(older).c_str(), MOVEFILE_REPLACE_EXISTING))
            return LastFailure(older);
    }
    // The file inherits the state folder's permissions, the user's alone.
    THandle out(::CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!out.Valid() || !WriteAll(out.Get(), text.data(), text.size()))
        return LastFailure(path);
    return {};
}

bool TWindowsPlatform::StderrIsTerminal()
{
    // A console, not any character device: "NUL" is one too.
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return err != nullptr && err != INVALID_HANDLE_VALUE && ::GetConsoleMode(err, &mode) != 0;
}

int TWindowsPlatform::ProcessorCount()
{
    // The processors of this process's affinity mask, as the system may have limited it.
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    int count = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) != 0) {
        for (; process != 0; process &= process - 1)
            ++count;
    }
    return std::max(count, 1);
}
