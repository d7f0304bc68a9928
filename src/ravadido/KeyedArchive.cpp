#include "KeyedArchive.h"

namespace ravadido {

namespace {

template<typename T>
std::optional<T> integerOf(const ArchiveValue *v)
{
    return v ? v->integer<T>() : std::nullopt;
}

} // namespace

void KeyedArchive::encodeObject(const std::string &key, ArchiveValue value)
{
    m_entries[key] = std::move(value);
}

void KeyedArchive::encodeBool(const std::string &key, bool value)
{
    m_entries[key] = ArchiveValue::boolean(value);
}

void KeyedArchive::encodeInt(const std::string &key, int value)
{
    m_entries[key] = ArchiveValue::integer(ArchiveValue::Kind::Int, value);
}

void KeyedArchive::encodeInt32(const std::string &key, std::int32_t value)
{
    m_entries[key] = ArchiveValue::integer(ArchiveValue::Kind::Int32, value);
}

void KeyedArchive::encodeInt64(const std::string &key, std::int64_t value)
{
    m_entries[key] = ArchiveValue::integer(ArchiveValue::Kind::Int64, value);
}

void KeyedArchive::encodeDouble(const std::string &key, double value)
{
    m_entries[key] = ArchiveValue::real(value);
}

bool KeyedArchive::containsValueForKey(const std::string &key) const
{
    return m_entries.find(key) != m_entries.end();
}

const ArchiveValue *KeyedArchive::valueForKey(const std::string &key) const
{
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

std::optional<bool> KeyedArchive::decodeBool(const std::string &key) const
{
    const ArchiveValue *v = valueForKey(key);
    if (!v || v->kind != ArchiveValue::Kind::Bool)
        return std::nullopt;
    return std::get<bool>(v->value);
}

std::optional<int> KeyedArchive::decodeInt(const std::string &key) const
{
    return integerOf<int>(valueForKey(key));
}

std::optional<std::int32_t> KeyedArchive::decodeInt32(const std::string &key) const
{
    return integerOf<std::int32_t>(valueForKey(key));
}

std::optional<std::int64_t> KeyedArchive::decodeInt64(const std::string &key) const
{
    return integerOf<std::int64_t>(valueForKey(key));
}

std::optional<double> KeyedArchive::decodeDouble(const std::string &key) const
{
    const ArchiveValue *v = valueForKey(key);
    if (!v || v->kind != ArchiveValue::Kind::Double)
        return std::nullopt;
    return std::get<double>(v->value);
}

} // namespace ravadido
