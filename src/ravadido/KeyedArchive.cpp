#include "KeyedArchive.h"

namespace ravadido {

void KeyedArchive::encodeObject(const std::string &key, ArchiveValue value)
{
    m_entries[key] = std::move(value);
}

void KeyedArchive::encodeInt(const std::string &key, int value)
{
    m_entries[key] = ArchiveValue::integer(ArchiveValue::Kind::Int, value);
}

void KeyedArchive::encodeInt64(const std::string &key, std::int64_t value)
{
    m_entries[key] = ArchiveValue::integer(ArchiveValue::Kind::Int64, value);
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

} // namespace ravadido
