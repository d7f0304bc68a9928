#pragma once

// The reply record of a NoteStore call: field 0 `success` holds the call's
// value (none for a call that returns nothing), fields 1 to 3 the call's
// declared exceptions in the call's own order. Every member of the family is
// one instantiation of CallResult (listed in NoteStoreResults.h):
//
//   using RURUCreateNote_result = CallResult<"CreateNote_result",
//       codec::Struct<RURUNote>,
//       RURUUserException, RURUSystemException, RURUNotFoundException>;
//
// It reads like any record; it writes only its first set field, since a
// reply carries either the value or one exception.

#include "ravadido/Errors.h"
#include "ravadido/Record.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace ravadido {

// A string literal usable as a template argument.
template<std::size_t N>
struct FixedString
{
    char text[N];
    constexpr FixedString(const char (&s)[N]) { std::copy_n(s, N, text); }
    constexpr const char *c_str() const { return text; }
};

namespace codec {

// The success "codec" of the calls that return nothing: no field 0. Its
// `unset` is never called; clang instantiates the constrained success
// accessors anyway when a record is explicitly instantiated.
struct None
{
    using Value = bool;
    using Getter = bool;
    static void unset(bool &) {}
};

} // namespace codec

namespace detail {

// What the client hands back for a success value: a string rather than a
// string that may be nil, a list rather than a list that may be nil; a
// record pointer and a number as they are.
template<typename T>
struct StripOptional
{
    using Type = T;
    static Type from(const T &v) { return v; }
};
template<typename T>
struct StripOptional<std::optional<T>>
{
    using Type = T;
    static Type from(const std::optional<T> &v) { return v.value_or(T{}); }
};
template<typename Codec>
struct CallReturn : StripOptional<typename Codec::Value>
{
};
template<>
struct CallReturn<codec::None>
{
    using Type = void;
};

// One row of a result record's table, like the rows the record macros make
// but for the members of a class template.
template<typename Codec, typename R, auto Value, auto Flag, FixedString Name, std::int16_t Id>
FieldInfo callResultField()
{
    using Ops = FieldOps<Codec, R, Value, Flag>;
    return FieldInfo{
        Id,
        Codec::type,
        Name.c_str(),
        &Ops::read,
        [](const Record &r, TProtocol &out) {
            if (Ops::isPresent(r)) {
                out.writeFieldBegin(Name.c_str(), Codec::type, Id);
                Ops::writeValue(r, out);
                out.writeFieldEnd();
            }
        },
        &Ops::isSet,
        &Ops::isPresent,
        &Ops::writeValue,
        [](const Record &r, std::string &s) {
            s += Name.c_str();
            s += ':';
            Codec::describe(s, static_cast<const R &>(r).*Value);
        },
        [](const Record &r, KeyedArchive &coder) { Ops::encode(r, coder, Name.c_str()); },
        [](Record &r, const KeyedArchive &coder) { Ops::decode(r, coder, Name.c_str()); },
    };
}

template<typename E, typename... Es>
constexpr int indexOf()
{
    constexpr bool matches[] = {std::is_same_v<E, Es>...};
    for (std::size_t i = 0; i < sizeof...(Es); ++i)
        if (matches[i])
            return static_cast<int>(i);
    return -1;
}

// The slots of a result record live in these bases rather than in
// CallResult itself, so that a row's code depends only on the exception and
// its id, or on the success codec: the 76 results share a few dozen rows
// instead of building some 300 of their own.
class CallResultExceptions : public Record
{
protected:
    CallResultExceptions() = default;
    CallResultExceptions(const CallResultExceptions &) = default;
    CallResultExceptions &operator=(const CallResultExceptions &) = default;

    template<typename E>
    static constexpr auto member()
    {
        if constexpr (std::is_same_v<E, RURUUserException>)
            return std::pair{&CallResultExceptions::m_userException, &CallResultExceptions::m_userExceptionIsSet};
        else if constexpr (std::is_same_v<E, RURUSystemException>)
            return std::pair{&CallResultExceptions::m_systemException, &CallResultExceptions::m_systemExceptionIsSet};
        else
            return std::pair{&CallResultExceptions::m_notFoundException,
                             &CallResultExceptions::m_notFoundExceptionIsSet};
    }

    std::shared_ptr<RURUUserException> m_userException;
    bool m_userExceptionIsSet = false;
    std::shared_ptr<RURUSystemException> m_systemException;
    bool m_systemExceptionIsSet = false;
    std::shared_ptr<RURUNotFoundException> m_notFoundException;
    bool m_notFoundExceptionIsSet = false;
};

template<typename SuccessCodec>
class CallResultSuccess : public CallResultExceptions
{
protected:
    CallResultSuccess() = default;
    CallResultSuccess(const CallResultSuccess &) = default;
    CallResultSuccess &operator=(const CallResultSuccess &) = default;

    static constexpr auto member()
    {
        return std::pair{&CallResultSuccess::m_success, &CallResultSuccess::m_successIsSet};
    }

    typename SuccessCodec::Value m_success{};
    bool m_successIsSet = false;
};

} // namespace detail

template<FixedString WireName, typename SuccessCodec, typename... Exceptions>
class CallResult final : public detail::CallResultSuccess<SuccessCodec>
{
    using Slots = detail::CallResultSuccess<SuccessCodec>;
    using ExceptionSlots = detail::CallResultExceptions;

    static_assert(sizeof...(Exceptions) >= 1 && sizeof...(Exceptions) <= 3);

    template<typename E>
    static constexpr bool declares = detail::indexOf<E, Exceptions...>() >= 0;

public:
    static constexpr bool hasSuccess = !std::is_same_v<SuccessCodec, codec::None>;
    using Success = SuccessCodec;
    using SuccessValue = typename SuccessCodec::Value;
    using ReturnType = typename detail::CallReturn<SuccessCodec>::Type;

    // Every field unset.
    CallResult() = default;
    // Every field set, nil values included; one argument per field in id order.
    explicit CallResult(SuccessValue success, std::shared_ptr<Exceptions>... exceptions) requires hasSuccess
    {
        m_success = std::move(success);
        m_successIsSet = true;
        (setException(std::move(exceptions)), ...);
    }
    explicit CallResult(std::shared_ptr<Exceptions>... exceptions) requires(!hasSuccess)
    {
        (setException(std::move(exceptions)), ...);
    }
    explicit CallResult(const KeyedArchive &coder) { this->decodeFields(recordLayout, coder); }

    typename SuccessCodec::Getter success() const requires hasSuccess { return m_success; }
    void setSuccess(SuccessValue value) requires hasSuccess
    {
        m_success = std::move(value);
        m_successIsSet = true;
    }
    bool successIsSet() const requires hasSuccess { return m_successIsSet; }
    void unsetSuccess() requires hasSuccess
    {
        SuccessCodec::unset(m_success);
        m_successIsSet = false;
    }

    const std::shared_ptr<RURUUserException> &userException() const requires declares<RURUUserException>
    {
        return m_userException;
    }
    void setUserException(std::shared_ptr<RURUUserException> e) requires declares<RURUUserException>
    {
        setException(std::move(e));
    }
    bool userExceptionIsSet() const requires declares<RURUUserException> { return m_userExceptionIsSet; }
    void unsetUserException() requires declares<RURUUserException>
    {
        m_userException.reset();
        m_userExceptionIsSet = false;
    }

    const std::shared_ptr<RURUSystemException> &systemException() const requires declares<RURUSystemException>
    {
        return m_systemException;
    }
    void setSystemException(std::shared_ptr<RURUSystemException> e) requires declares<RURUSystemException>
    {
        setException(std::move(e));
    }
    bool systemExceptionIsSet() const requires declares<RURUSystemException> { return m_systemExceptionIsSet; }
    void unsetSystemException() requires declares<RURUSystemException>
    {
        m_systemException.reset();
        m_systemExceptionIsSet = false;
    }

    const std::shared_ptr<RURUNotFoundException> &notFoundException() const requires declares<RURUNotFoundException>
    {
        return m_notFoundException;
    }
    void setNotFoundException(std::shared_ptr<RURUNotFoundException> e) requires declares<RURUNotFoundException>
    {
        setException(std::move(e));
    }
    bool notFoundExceptionIsSet() const requires declares<RURUNotFoundException> { return m_notFoundExceptionIsSet; }
    void unsetNotFoundException() requires declares<RURUNotFoundException>
    {
        m_notFoundException.reset();
        m_notFoundExceptionIsSet = false;
    }

    // Only the first set field, in id order, goes on the wire; when that one
    // is nil, nothing does.
    void write(TProtocol &out) const override
    {
        out.writeStructBegin(recordLayout.wireName());
        for (const FieldInfo &field : recordLayout.fields()) {
            if (field.isSet(*this)) {
                field.write(*this, out);
                break;
            }
        }
        out.writeFieldStop();
        out.writeStructEnd();
    }

    // Throws the first declared exception that is set, in id order; returns
    // when none is.
    void throwFirstSetException() const { (throwIfSet<Exceptions>(), ...); }

    static const RecordLayout recordLayout;
    const RecordLayout &layout() const override { return recordLayout; }

private:
    template<typename E>
    static constexpr auto fieldName()
    {
        if constexpr (std::is_same_v<E, RURUUserException>)
            return FixedString("userException");
        else if constexpr (std::is_same_v<E, RURUSystemException>)
            return FixedString("systemException");
        else
            return FixedString("notFoundException");
    }

    template<typename E>
    void setException(std::shared_ptr<E> e)
    {
        constexpr auto m = ExceptionSlots::template member<E>();
        this->*(m.first) = std::move(e);
        this->*(m.second) = true;
    }

    template<typename E>
    void throwIfSet() const
    {
        constexpr auto m = ExceptionSlots::template member<E>();
        if (this->*(m.second) && this->*(m.first))
            throw E(*(this->*(m.first)));
    }

    template<typename E>
    static FieldInfo exceptionField()
    {
        constexpr auto m = ExceptionSlots::template member<E>();
        constexpr auto id = static_cast<std::int16_t>(detail::indexOf<E, Exceptions...>() + 1);
        return detail::callResultField<codec::Struct<E>, ExceptionSlots, m.first, m.second, fieldName<E>(), id>();
    }

    static std::vector<FieldInfo> fieldTable()
    {
        std::vector<FieldInfo> rows;
        if constexpr (hasSuccess) {
            constexpr auto m = Slots::member();
            rows.push_back(detail::callResultField<SuccessCodec, Slots, m.first, m.second, "success", 0>());
        }
        (rows.push_back(exceptionField<Exceptions>()), ...);
        return rows;
    }

    using ExceptionSlots::m_notFoundException;
    using ExceptionSlots::m_notFoundExceptionIsSet;
    using ExceptionSlots::m_systemException;
    using ExceptionSlots::m_systemExceptionIsSet;
    using ExceptionSlots::m_userException;
    using ExceptionSlots::m_userExceptionIsSet;
    using Slots::m_success;
    using Slots::m_successIsSet;
};

template<FixedString WireName, typename SuccessCodec, typename... Exceptions>
const RecordLayout CallResult<WireName, SuccessCodec, Exceptions...>::recordLayout{
    WireName.c_str(), CallResult<WireName, SuccessCodec, Exceptions...>::fieldTable()};

} // namespace ravadido
