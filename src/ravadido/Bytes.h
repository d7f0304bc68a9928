#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ravadido {

// A block of bytes (hashes, resource bodies), kept apart from text so that a
// binary field can never be mistaken for a string one. The bytes live in a
// std::string because that is what the Thrift protocol reads into and writes
// from: moving a body in or out never copies it.
class Bytes
{
public:
    Bytes() = default;
    explicit Bytes(std::string bytes) : bytes_(std::move(bytes)) {}
    Bytes(const void *data, std::size_t size) : bytes_(static_cast<const char *>(data), size) {}
    explicit Bytes(std::span<const std::uint8_t> data) : Bytes(data.data(), data.size()) {}

    const std::uint8_t *data() const { return reinterpret_cast<const std::uint8_t *>(bytes_.data()); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    std::span<const std::uint8_t> span() const { return {data(), size()}; }
    std::string_view view() const { return bytes_; }

    // The storage itself, for the protocol and for callers that hand the
    // bytes on without a copy (std::move(bytes.storage())).
    const std::string &storage() const { return bytes_; }
    std::string &storage() { return bytes_; }

    friend bool operator==(const Bytes &, const Bytes &) = default;

private:
    std::string bytes_;
};

} // namespace ravadido
