#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace ravadido {

// A block of bytes (hashes, resource bodies), kept apart from text so that a
// binary field can never be mistaken for a string one. The bytes live in a
// std::string because that is what the Thrift protocol reads into: moving a
// body in or out never copies it. A body may instead be lent by an owner
// that outlives every copy of the block (a mapped file): it is written from
// where it lies, and becomes a string of its own only when changed.
class Bytes
{
public:
    Bytes() = default;
    explicit Bytes(std::string bytes) : m_bytes(std::move(bytes)) {}
    Bytes(const void *data, std::size_t size) : m_bytes(static_cast<const char *>(data), size) {}
    explicit Bytes(std::span<const std::uint8_t> data) : Bytes(data.data(), data.size()) {}
    // Read-only bytes that `owner` keeps valid.
    Bytes(std::shared_ptr<const void> owner, std::string_view lent)
        : m_owner(std::move(owner)), m_lent(m_owner ? lent : std::string_view())
    {
    }

    const std::uint8_t *data() const { return reinterpret_cast<const std::uint8_t *>(view().data()); }
    std::size_t size() const { return view().size(); }
    bool empty() const { return view().empty(); }
    std::span<const std::uint8_t> span() const { return {data(), size()}; }
    std::string_view view() const { return m_owner ? m_lent : std::string_view(m_bytes); }
    bool isLent() const { return bool(m_owner); }

    // The storage itself, for the protocol's reads and for callers that take
    // the bytes without a copy (std::move(bytes.storage())); lent bytes are
    // copied into it first.
    std::string &storage()
    {
        if (m_owner) {
            m_bytes.assign(m_lent);
            m_owner.reset();
            m_lent = {};
        }
        return m_bytes;
    }
    // Owned bytes only: lent ones are read through view().
    const std::string &storage() const { return m_bytes; }

    friend bool operator==(const Bytes &a, const Bytes &b) { return a.view() == b.view(); }

private:
    std::string m_bytes;
    std::shared_ptr<const void> m_owner;
    std::string_view m_lent;
};

} // namespace ravadido
