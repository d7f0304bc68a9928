#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

// Plain C++, no Qt: the record engine reads lent files with it too.
namespace FileRead {

// Exactly `size` bytes of the file at `offset` into `into`, or false with
// *errnum set to the read's errno (0: the file ends before). A read, not a
// mapping: whatever another process does to the file, never a signal.
inline bool readFully(int fd, off_t offset, char *into, std::size_t size, int *errnum)
{
    while (size) {
        const ssize_t n = ::pread(fd, into, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *errnum = n < 0 ? errno : 0;
            return false;
        }
        into += n;
        size -= std::size_t(n);
        offset += n;
    }
    return true;
}

} // namespace FileRead
