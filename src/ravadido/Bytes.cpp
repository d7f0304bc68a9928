#include "Bytes.h"

#include "foundation/FileRead.h"

#include <unistd.h>

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
        int errnum = 0;
        if (!FileRead::readFully(m_fd, 0, bytes.data(), m_size, &errnum))
            throw std::runtime_error("The file " + m_name
                                     + (errnum ? " could not be read: " + std::string(std::strerror(errnum))
                                               : std::string(" changed: it holds fewer bytes than it did.")));
        m_bytes = std::move(bytes);
    });
    return m_bytes;
}

} // namespace ravadido
