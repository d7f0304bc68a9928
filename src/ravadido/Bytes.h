#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace ravadido {

// A whole file lent to a block of bytes: its descriptor stays open, and with
// it whatever the opener holds on it (a lock), while any copy of the block
// lives. The HTTP transport sends it from the file; any other reader gets the
// bytes read once, at the first ask, and an exception when the file no
// longer holds them.
class LentFile
{
public:
    // Takes the descriptor; `name` is for messages.
    LentFile(int fd, std::size_t size, std::string name) : m_fd(fd), m_size(size), m_name(std::move(name)) {}
    ~LentFile();
    LentFile(const LentFile &) = delete;
    LentFile &operator=(const LentFile &) = delete;

    int descriptor() const { return m_fd; }
    std::size_t size() const { return m_size; }
    const std::string &name() const { return m_name; }
    std::string_view bytes() const;

private:
    int m_fd;
    std::size_t m_size;
    std::string m_name;
    mutable std::once_flag m_read;
    mutable std::string m_bytes;
};

// A block of bytes (hashes, resource bodies), kept apart from text so that a
// binary field can never be mistaken for a string one. The bytes live in a
// std::string because that is what the Thrift protocol reads into: moving a
// body in or out never copies it. A body may instead be a LentFile: it is
// written from the file, and becomes a string of its own only when changed.
class Bytes
{
public:
    Bytes() = default;
    explicit Bytes(std::string bytes) : m_bytes(std::move(bytes)) {}
    Bytes(const void *data, std::size_t size) : m_bytes(static_cast<const char *>(data), size) {}
    explicit Bytes(std::span<const std::uint8_t> data) : Bytes(data.data(), data.size()) {}
    explicit Bytes(std::shared_ptr<const LentFile> file) : m_file(std::move(file)) {}

    const std::uint8_t *data() const { return reinterpret_cast<const std::uint8_t *>(view().data()); }
    // A lent file's size needs no read.
    std::size_t size() const { return m_file ? m_file->size() : m_bytes.size(); }
    bool empty() const { return size() == 0; }
    std::span<const std::uint8_t> span() const { return {data(), size()}; }
    std::string_view view() const { return m_file ? m_file->bytes() : std::string_view(m_bytes); }
    bool isLent() const { return bool(m_file); }
    const std::shared_ptr<const LentFile> &lentFile() const { return m_file; }

    // The storage itself, for the protocol's reads and for callers that take
    // the bytes without a copy (std::move(bytes.storage())); lent bytes are
    // copied into it first.
    std::string &storage()
    {
        if (m_file) {
            m_bytes.assign(m_file->bytes());
            m_file.reset();
        }
        return m_bytes;
    }
    // Owned bytes only: lent ones are read through view().
    const std::string &storage() const { return m_bytes; }

    friend bool operator==(const Bytes &a, const Bytes &b)
    {
        return (a.m_file && a.m_file == b.m_file) || a.view() == b.view();
    }

private:
    std::string m_bytes;
    std::shared_ptr<const LentFile> m_file;
};

} // namespace ravadido
