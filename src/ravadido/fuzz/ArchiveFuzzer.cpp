// Arbitrary keyed archives restored into each record type (the first byte
// picks it). The archive's keys are mostly field names and its values of any
// kind, nested records and containers included, so that every field meets
// values of its own kind and of every other. Restoring may leave a field
// unset but must not fail; what was restored must archive and restore again
// to the same record, and write and read back the same on the wire.

#include "RecordKinds.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <vector>

using namespace ravadido;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

namespace {

std::string bytesOf(const Record &record)
{
    auto buffer = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(buffer, 0, 0, false, false);
    record.write(out);
    return buffer->getBufferAsString();
}

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "archive fuzzer: %s\n", what);
        std::abort();
    }
}

// Every field name of every record type: the keys an archive is made of.
const std::vector<std::string> &fieldNames()
{
    static const std::vector<std::string> names = [] {
        std::set<std::string> all;
        for (const auto &make : fuzz::kinds)
            for (const FieldInfo &field : make()->layout().fields())
                all.insert(field.name);
        return std::vector<std::string>(all.begin(), all.end());
    }();
    return names;
}

// Whether a value the record archived says what the value it was restored
// from says: the same integer at any width, the same value otherwise, and
// for a nested record only keys the original had.
bool agrees(const ArchiveValue &saved, const ArchiveValue &original);

bool agrees(const KeyedArchive &saved, const KeyedArchive &original)
{
    for (const auto &[key, value] : saved.entries()) {
        const ArchiveValue *from = original.valueForKey(key);
        if (!from || !agrees(value, *from))
            return false;
    }
    return true;
}

bool agrees(const ArchiveValue &saved, const ArchiveValue &original)
{
    using K = ArchiveValue::Kind;
    if (saved.isInteger())
        return original.isInteger() && std::get<std::int64_t>(original.value) == std::get<std::int64_t>(saved.value);
    if (saved.kind != original.kind)
        return false;
    switch (saved.kind) {
    case K::Double: {
        const double a = std::get<double>(saved.value), b = std::get<double>(original.value);
        return a == b || (a != a && b != b);
    }
    case K::Record:
        return agrees(*std::get<std::shared_ptr<const KeyedArchive>>(saved.value),
                      *std::get<std::shared_ptr<const KeyedArchive>>(original.value));
    case K::Array: {
        const auto &a = std::get<ArchiveValue::Array>(saved.value), &b = std::get<ArchiveValue::Array>(original.value);
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const auto &x, const auto &y) { return agrees(x, y); });
    }
    case K::Set: // kept in its own order, without repeats
        for (const ArchiveValue &e : std::get<ArchiveValue::Array>(saved.value))
            if (std::none_of(std::get<ArchiveValue::Array>(original.value).begin(),
                             std::get<ArchiveValue::Array>(original.value).end(),
                             [&](const ArchiveValue &o) { return agrees(e, o); }))
                return false;
        return true;
    case K::Dictionary: {
        const auto &a = std::get<ArchiveValue::Dictionary>(saved.value);
        const auto &b = std::get<ArchiveValue::Dictionary>(original.value);
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
            return x.first == y.first && agrees(x.second, y.second);
        });
    }
    case K::Bool: return std::get<bool>(saved.value) == std::get<bool>(original.value);
    case K::String: return std::get<std::string>(saved.value) == std::get<std::string>(original.value);
    case K::Bytes: return std::get<Bytes>(saved.value) == std::get<Bytes>(original.value);
    default: return true; // nil
    }
}

constexpr int kMaxDepth = 5;
constexpr std::size_t kMaxElements = 8;

class ArchiveMaker
{
public:
    explicit ArchiveMaker(FuzzedDataProvider &in) : m_in(in) {}

    std::shared_ptr<KeyedArchive> archive(int depth)
    {
        auto made = std::make_shared<KeyedArchive>(m_in.ConsumeRandomLengthString(16));
        const std::size_t count = m_in.ConsumeIntegralInRange<std::size_t>(0, 12);
        for (std::size_t i = 0; i < count && m_in.remaining_bytes() > 0; ++i)
            made->encodeObject(key(), value(depth));
        return made;
    }

private:
    // What a value is made as; List is an array or a set, Map a dictionary.
    enum class Shape { Nil, Bool, Int, Int32, Int64, Double, String, Bytes, Record, List, Map, kMaxValue = Map };

    std::string key()
    {
        if (m_in.ConsumeIntegralInRange(0, 7) == 0)
            return m_in.ConsumeRandomLengthString(16);
        const auto &names = fieldNames();
        return names[m_in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
    }

    template<typename T>
    std::int64_t integer()
    {
        // The edges of each width, where a narrowing read must refuse.
        switch (m_in.ConsumeIntegralInRange(0, 3)) {
        case 0: return std::numeric_limits<T>::min();
        case 1: return std::numeric_limits<T>::max();
        case 2: return std::int64_t(std::uint64_t(std::numeric_limits<T>::max()) + 1);
        default: return m_in.ConsumeIntegral<std::int64_t>();
        }
    }

    std::int64_t anyInteger()
    {
        switch (m_in.ConsumeIntegralInRange(0, 3)) {
        case 0: return integer<std::int16_t>();
        case 1: return integer<std::int32_t>();
        case 2: return integer<int>();
        default: return integer<std::int64_t>();
        }
    }

    ArchiveValue::Array elements(int depth)
    {
        ArchiveValue::Array items;
        const std::size_t count = m_in.ConsumeIntegralInRange<std::size_t>(0, kMaxElements);
        // Containers mostly hold one kind, as a record archives them.
        const auto shape = m_in.ConsumeEnum<Shape>();
        for (std::size_t i = 0; i < count; ++i)
            items.push_back(m_in.ConsumeBool() ? value(depth, shape) : value(depth));
        return items;
    }

    ArchiveValue value(int depth) { return value(depth, m_in.ConsumeEnum<Shape>()); }

    ArchiveValue value(int depth, Shape shape)
    {
        using K = ArchiveValue::Kind;
        if (depth >= kMaxDepth && shape >= Shape::Record)
            shape = Shape::Nil;
        switch (shape) {
        case Shape::Nil: return ArchiveValue::nil();
        case Shape::Bool: return ArchiveValue::boolean(m_in.ConsumeBool());
        case Shape::Int: return ArchiveValue::integer(K::Int, anyInteger());
        case Shape::Int32: return ArchiveValue::integer(K::Int32, anyInteger());
        case Shape::Int64: return ArchiveValue::integer(K::Int64, anyInteger());
        case Shape::Double: return ArchiveValue::real(m_in.ConsumeFloatingPoint<double>());
        case Shape::String: return ArchiveValue::string(m_in.ConsumeRandomLengthString(64));
        case Shape::Bytes: return ArchiveValue::bytes(Bytes(m_in.ConsumeRandomLengthString(64)));
        case Shape::Record: return ArchiveValue::record(archive(depth + 1));
        case Shape::List:
            if (m_in.ConsumeBool())
                return ArchiveValue::array(elements(depth + 1));
            return ArchiveValue::set(elements(depth + 1));
        case Shape::Map: {
            ArchiveValue::Dictionary entries;
            const std::size_t count = m_in.ConsumeIntegralInRange<std::size_t>(0, kMaxElements);
            for (std::size_t i = 0; i < count; ++i)
                entries.emplace(m_in.ConsumeRandomLengthString(16), value(depth + 1));
            return ArchiveValue::dictionary(std::move(entries));
        }
        }
        return ArchiveValue::nil();
    }

    FuzzedDataProvider &m_in;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const fuzz::Factory make = fuzz::kinds[data[0] % fuzz::kinds.size()];
    FuzzedDataProvider in(data + 1, size - 1);
    const auto archive = ArchiveMaker(in).archive(0);

    auto record = make();
    record->decodeFields(*archive);
    const std::string bytes = bytesOf(*record);

    KeyedArchive again;
    record->encodeWithCoder(again);
    require(agrees(again, *archive), "agrees(again, *archive)");
    auto restored = make();
    restored->decodeFields(again);
    require(bytesOf(*restored) == bytes, "bytesOf(*restored) == bytes");
    require(restored->description() == record->description(), "restored->description() == record->description()");

    auto buffer = std::make_shared<TMemoryBuffer>(reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data())),
                                                  static_cast<std::uint32_t>(bytes.size()));
    auto reread = make();
    reread->read(*std::make_shared<TBinaryProtocol>(buffer, 0, 0, false, false));
    require(buffer->available_read() == 0, "buffer->available_read() == 0");
    require(bytesOf(*reread) == bytes, "bytesOf(*reread) == bytes");
    return 0;
}
