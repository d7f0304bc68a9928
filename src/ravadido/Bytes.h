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
    explicit Bytes(std::string bytes) : bytes_(std::move(bytes)) {}
    Bytes(const void *data, std::size_t size) : bytes_(static_cast<const char *>(data), size) {}
    explicit Bytes(std::span<const std::uint8_t> data) : Bytes(data.data(), data.size()) {}
    // Read-only bytes that `owner` keeps valid.
    Bytes(std::shared_ptr<const void> owner, std::string_view lent)
        : owner_(std::move(owner)), lent_(owner_ ? lent : std::string_view())
    {
    }

    const std::uint8_t *data() const { return reinterpret_cast<const std::uint8_t *>(view().data()); }
    std::size_t size() const { return view().size(); }
    bool empty() const { return view().empty(); }
    std::span<const std::uint8_t> span() const { return {data(), size()}; }
    std::string_view view() const { return owner_ ? lent_ : std::string_view(bytes_); }
    bool isLent() const { return bool(owner_); }

    // The storage itself, for the protocol's reads and for callers that take
    // the bytes without a copy (std::move(bytes.storage())); lent bytes are
    // copied into it first.
    std::string &storage()
    {
        if (owner_) {
            bytes_.assign(lent_);
            owner_.reset();
            lent_ = {};
        }
        return bytes_;
    }
    // Owned bytes only: lent ones are read through view().
    const std::string &storage() const { return bytes_; }

    friend bool operator==(const Bytes &a, const Bytes &b) { return a.view() == b.view(); }

private:
    std::string bytes_;
    std::shared_ptr<const void> owner_;
    std::string_view lent_;
};

} // namespace ravadido
