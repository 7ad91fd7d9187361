// Data movement: copy_file_range where it works, read/write where not, holes kept.
#include "DataCopy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace fileop {

namespace {

constexpr size_t kChunk = 16 << 20;     // between cancel checks on big files
constexpr size_t kBufferSize = 1 << 20; // read/write fallback

bool fallbackErrno(int e)
{
    return e == EXDEV || e == EINVAL || e == EOPNOTSUPP || e == ENOSYS || e == EBADF || e == ETXTBSY;
}

bool targetErrno(int e)
{
    return e == ENOSPC || e == EDQUOT || e == EROFS || e == EFBIG;
}

// Copies [off, off + len) by copy_file_range (reflink or server-side copy where
// the file system offers it), falling back to read/write. 0 or errno.
int copyRange(DataCopy& c, off_t off, off_t len)
{
    const int in = c.in;
    const int out = c.out;
    std::atomic<bool>* rangeCopy = c.rangeCopy;
    loff_t ioff = off;
    loff_t ooff = off;
    bool useCfr = !rangeCopy || rangeCopy->load(std::memory_order_relaxed);
    while (len > 0) {
        if (c.cancel.load(std::memory_order_relaxed))
            return ECANCELED;
        const size_t want = static_cast<size_t>(std::min<off_t>(len, kChunk));
        ssize_t n = -1;
        if (useCfr) {
            n = ::copy_file_range(in, &ioff, out, &ooff, want, 0);
            if (n < 0 && fallbackErrno(errno)) {
                // Across file systems, or without the call at all, it fails for every file alike.
                if (rangeCopy && (errno == EXDEV || errno == ENOSYS))
                    rangeCopy->store(false, std::memory_order_relaxed);
                useCfr = false;
                continue;
            }
            if (n < 0) {
                c.onTarget = targetErrno(errno);
                return errno;
            }
        } else {
            thread_local std::vector<char> buffer(kBufferSize);
            n = ::pread(in, buffer.data(), std::min(want, buffer.size()), ioff);
            if (n < 0)
                return errno;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::pwrite(out, buffer.data() + done, static_cast<size_t>(n - done), ooff + done);
                if (w < 0) {
                    c.onTarget = true;
                    return errno;
                }
                done += w;
            }
            ioff += n;
            ooff += n;
        }
        if (n == 0)
            break; // the file shrank while we copied: take what is there
        len -= n;
        c.bytesDone += n;
    }
    return 0;
}

} // namespace

int copyData(DataCopy& c, const struct stat& st)
{
    const int in = c.in;
    const bool sparse = st.st_size > 0 && st.st_blocks * 512 < st.st_size;
    if (!sparse)
        return copyRange(c, 0, st.st_size);
    // Only the data extents are copied; the holes stay holes.
    off_t pos = 0;
    qint64 copied = 0;
    while (pos < st.st_size) {
        const off_t data = ::lseek(in, pos, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                break;
            return errno;
        }
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0)
            hole = st.st_size;
        hole = std::min(hole, st.st_size);
        if (const int e = copyRange(c, data, hole - data))
            return e;
        copied += hole - data;
        pos = hole;
    }
    c.bytesDone += st.st_size - copied; // the holes count as done for the progress
    if (::ftruncate(c.out, st.st_size) != 0) {
        c.onTarget = true;
        return errno;
    }
    return 0;
}

} // namespace fileop
