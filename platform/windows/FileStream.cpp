#include "platform/FileStream.h"

#include "base/SysUtils.h"
#include "platform/windows/WindowsPlatform.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <sys/stat.h>

namespace {

// The C runtime reads and writes at most INT_MAX bytes per call.
unsigned int Chunk(int64_t count)
{
    return static_cast<unsigned int>(std::min<int64_t>(count, INT_MAX));
}

} // namespace

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : FFileName(fileName)
{
    // The file is opened by its wide name; an empty one (no name, or not UTF-8) opens nothing.
    const std::wstring name = LongPath(fileName);
    if (mode == fmCreate) {
        if (::_wsopen_s(&FHandle, name.c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                        _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0)
            throw EFCreateError(fileName);
        return;
    }
    int flags = _O_RDONLY;
    if ((mode & 3) == fmOpenWrite)
        flags = _O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite)
        flags = _O_RDWR;
    int share = _SH_DENYNO;
    if ((mode & 0xF0) == fmShareExclusive)
        share = _SH_DENYRW;
    else if ((mode & 0xF0) == fmShareDenyWrite)
        share = _SH_DENYWR;
    if (::_wsopen_s(&FHandle, name.c_str(), flags | _O_BINARY | _O_NOINHERIT, share, 0) != 0)
        throw EFOpenError(fileName);
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::_close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    int64_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        const int n = ::_read(FHandle, out + done, Chunk(count - done));
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::ReadAt(int64_t pos, void* buffer, int64_t count)
{
    if (pos < 0 || count <= 0 || ::_lseeki64(FHandle, pos, SEEK_SET) < 0)
        return 0;
    return Read(buffer, count);
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    int64_t done = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (done < count) {
        const int n = ::_write(FHandle, in + done, Chunk(count - done));
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const int64_t pos = ::_lseeki64(FHandle, offset, whence);
    return pos < 0 ? -1 : pos;
}

void TFileStream::Flush()
{
    if (::_commit(FHandle) != 0)
        throw EWriteError();
}
