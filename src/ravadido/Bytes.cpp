#include "Bytes.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ravadido {

LentFile::~LentFile()
{
    ::close(m_fd);
}

std::string_view LentFile::bytes() const
{
    // A failed read throws out of call_once, and the next ask tries again.
    std::call_once(m_read, [this] {
        std::string bytes(m_size, '\0');
        for (std::size_t done = 0; done < m_size;) {
            const ssize_t n = ::pread(m_fd, bytes.data() + done, m_size - done, off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw std::runtime_error("The file " + m_name + " could not be read: " + std::strerror(errno));
            if (n == 0)
                throw std::runtime_error("The file " + m_name + " changed: it holds fewer bytes than it did.");
            done += std::size_t(n);
        }
        m_bytes = std::move(bytes);
    });
    return m_bytes;
}

} // namespace ravadido
