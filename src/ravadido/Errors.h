#pragma once

// The service's three declared exceptions: each is at once a Thrift
// exception that can be thrown and caught by type, and a record read from
// and written to the wire like any other.

#include "Record.h"

#include <thrift/Thrift.h>

namespace ravadido {

// Base of the three: the platform-style name (the class name) and reason
// ("unknown": the wire carries no reason), and `what()` giving the
// description.
class RecordException : public apache::thrift::TException, public Record
{
public:
    const char *name() const { return layout().wireName(); }
    const char *reason() const { return "unknown"; }
    const char *what() const noexcept override;

protected:
    RecordException() = default;
    RecordException(const RecordException &) = default;
    RecordException &operator=(const RecordException &) = default;

private:
    mutable std::string m_what;
};

// clang-format off
#define RURU_USER_EXCEPTION_FIELDS(X)                                                             \
    X(1, errorCode, ErrorCode, codec::EnumI32)                                                    \
    X(2, parameter, Parameter, codec::String)
// clang-format on

// A fault in the caller's request; error code 9 is an expired
// authentication token.
class RURUUserException final : public RecordException
{
    RAVADIDO_RECORD(RURUUserException, RURU_USER_EXCEPTION_FIELDS)
};

// clang-format off
#define RURU_SYSTEM_EXCEPTION_FIELDS(X)                                                           \
    X(1, errorCode, ErrorCode, codec::EnumI32)                                                    \
    X(2, message, Message, codec::String)
// clang-format on

class RURUSystemException final : public RecordException
{
    RAVADIDO_RECORD(RURUSystemException, RURU_SYSTEM_EXCEPTION_FIELDS)
};

// clang-format off
#define RURU_NOT_FOUND_EXCEPTION_FIELDS(X)                                                        \
    X(1, identifier, Identifier, codec::String)                                                   \
    X(2, key, Key, codec::String)
// clang-format on

class RURUNotFoundException final : public RecordException
{
    RAVADIDO_RECORD(RURUNotFoundException, RURU_NOT_FOUND_EXCEPTION_FIELDS)
};

// clang-format off
#define RURU_ERRORS_RECORDS(R)                                                                    \
    R(RURUUserException, "RURUUserException", RURU_USER_EXCEPTION_FIELDS)                        \
    R(RURUSystemException, "RURUSystemException", RURU_SYSTEM_EXCEPTION_FIELDS)                   \
    R(RURUNotFoundException, "RURUNotFoundException", RURU_NOT_FOUND_EXCEPTION_FIELDS)
// clang-format on

// The service's error codes travel as plain integers; nothing is named here.
class ErrorsConstants
{
};

} // namespace ravadido
