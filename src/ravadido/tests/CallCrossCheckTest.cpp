// Every call of the table against an independent implementation: the Thrift
// compiler's Python output for tests/thrift/notestore.thrift. Each request
// our client writes must decode with the call's *_args struct to the values
// given, and each reply the call's *_result struct writes (the success, each
// declared exception, nothing, an undeclared field) must come out of our
// client as the same value or the same thrown exception.

#include "CallSamples.h"
#include "NoteStoreTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace ravadido;
using namespace ravadido::test;
using apache::thrift::TApplicationException;

namespace {

QString hexText(const std::string &bytes)
{
    return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex());
}

std::string fromHexText(const QJsonValue &v)
{
    return QByteArray::fromHex(v.toString().toLatin1()).toStdString();
}

// For readable failures.
std::string text(const QJsonValue &v)
{
    if (v.isUndefined())
        return "(nothing)";
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
}

// The JSON form callcheck.py uses, written from our values; `normalized`
// turns Python's form into ours (a struct read back and written by our
// code, whose field order may differ from the generated code's).
template<typename Codec>
struct Json;

template<typename T, TType Wire, std::size_t Size, ArchiveValue::Kind Kind>
struct Json<codec::Scalar<T, Wire, Size, Kind>>
{
    static QJsonValue element(const T &v)
    {
        if constexpr (std::is_same_v<T, bool>)
            return v;
        else
            return QString::number(v);
    }
    static QJsonValue normalized(const QJsonValue &v) { return v; }
};
template<>
struct Json<codec::String>
{
    static QJsonValue element(const std::string &v) { return QString::fromStdString(v); }
    static QJsonValue normalized(const QJsonValue &v) { return v; }
};
template<>
struct Json<codec::Binary>
{
    static QJsonValue element(const Bytes &v) { return hexText(v.storage()); }
    static QJsonValue normalized(const QJsonValue &v) { return v; }
};
template<typename R>
struct Json<codec::Struct<R>>
{
    static QJsonValue element(const std::shared_ptr<R> &v)
    {
        return v ? QJsonValue(hexText(bytesOf(*v))) : QJsonValue();
    }
    static QJsonValue normalized(const QJsonValue &v)
    {
        if (v.isNull())
            return v;
        return element(readBytes<R>(fromHexText(v)));
    }
};
template<typename E>
struct Json<codec::List<E>>
{
    static QJsonValue element(const typename codec::List<E>::Items &v)
    {
        QJsonArray a;
        for (const auto &e : v)
            a.append(Json<E>::element(e));
        return a;
    }
    static QJsonValue normalized(const QJsonValue &v)
    {
        if (!v.isArray())
            return v;
        QJsonArray a;
        for (const auto &e : v.toArray())
            a.append(Json<E>::normalized(e));
        return a;
    }
};

template<typename Codec>
QJsonValue toJson(const typename Codec::Value &v)
{
    if constexpr (Codec::isObject) {
        if (!Codec::present(v))
            return QJsonValue();
        if constexpr (std::is_same_v<typename Codec::Value, typename Codec::Element>)
            return Json<Codec>::element(v);
        else
            return Json<Codec>::element(*v);
    } else {
        return Json<Codec>::element(v);
    }
}

// Receives one reply and gives its success in JSON form; undefined for a
// call that returns nothing.
template<typename Result, typename Receive>
QJsonValue receivedJson(Receive receive)
{
    if constexpr (Result::hasSuccess) {
        return toJson<typename Result::Success>(typename Result::SuccessValue(receive()));
    } else {
        receive();
        return QJsonValue(QJsonValue::Undefined);
    }
}

template<typename Result>
QJsonValue successJson()
{
    if constexpr (Result::hasSuccess)
        return toJson<typename Result::Success>(samples::callValue<typename Result::Success>(0));
    else
        return QJsonValue(QJsonValue::Undefined);
}

struct CallCase
{
    const char *call;
    // Sends the call with sample arguments; records them in JSON form.
    std::function<void(RURUNoteStoreClient &, QJsonObject &)> send;
    // Python's decoding of the arguments in the form `send` records.
    std::function<QJsonObject(const QJsonObject &)> normalizedArgs;
    QJsonValue success;
    std::function<QJsonValue(RURUNoteStoreClient &)> receive;
    std::size_t resultFields;
};

#define CHECK_SAMPLE(Codec, id, name) samples::callValue<Codec>(id)
#define CHECK_EXPECT(Codec, id, name) expected.insert(QStringLiteral(#name), toJson<Codec>(name))
#define CHECK_NORMALIZE(Codec, id, name) \
    out.insert(QStringLiteral(#name), Json<Codec>::normalized(python.value(QStringLiteral(#name))))
#define CHECK_CALL(call, Result, ...)                                                                                \
    CallCase{#call,                                                                                                  \
             [](RURUNoteStoreClient &client, QJsonObject &expected) {                                                \
                 [&](RAVADIDO_CALL_EACH(RAVADIDO_CALL_PARAMETER, __VA_ARGS__)) {                                     \
                     client.send_##call(RAVADIDO_CALL_EACH(RAVADIDO_CALL_NAME, __VA_ARGS__));                        \
                     (void)(RAVADIDO_CALL_EACH(CHECK_EXPECT, __VA_ARGS__));                                          \
                 }(RAVADIDO_CALL_EACH(CHECK_SAMPLE, __VA_ARGS__));                                                   \
             },                                                                                                      \
             [](const QJsonObject &python) {                                                                         \
                 QJsonObject out;                                                                                    \
                 (void)(RAVADIDO_CALL_EACH(CHECK_NORMALIZE, __VA_ARGS__));                                           \
                 return out;                                                                                         \
             },                                                                                                      \
             successJson<Result>(),                                                                                  \
             [](RURUNoteStoreClient &client) { return receivedJson<Result>([&] { return client.recv_##call(); }); }, \
             Result::recordLayout.fields().size()},

std::vector<CallCase> callCases()
{
    return {RURU_NOTE_STORE_CALLS(CHECK_CALL)};
}

// One sample of each exception, under its result field name.
std::map<QString, std::shared_ptr<RecordException>> sampleExceptions()
{
    auto user = std::make_shared<RURUUserException>(9, "authenticationToken");
    auto system = std::make_shared<RURUSystemException>(3, "down for maintenance");
    auto notFound = std::make_shared<RURUNotFoundException>("Note.guid", "a-guid");
    return {{"userException", user}, {"systemException", system}, {"notFoundException", notFound}};
}

QJsonArray throughPython(const QJsonObject &input)
{
    QTemporaryDir dir;
    EXPECT_TRUE(dir.isValid());
    QProcess compiler;
    compiler.start("thrift",
                   {"-r", "--gen", "py", "-out", dir.path(), QStringLiteral(TEST_DATA_DIR "/thrift/notestore.thrift")});
    EXPECT_TRUE(compiler.waitForFinished(60000));
    EXPECT_EQ(compiler.exitCode(), 0) << compiler.readAllStandardError().toStdString();

    QProcess python;
    python.start(LEAFHAUL_PYTHON, {QStringLiteral(TEST_DATA_DIR "/callcheck.py"), dir.path()});
    python.write(QJsonDocument(input).toJson(QJsonDocument::Compact));
    python.closeWriteChannel();
    EXPECT_TRUE(python.waitForFinished(120000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

// What a reply made our client do: its success in JSON form, the
// exception it threw, or that it returned nothing.
struct Outcome
{
    QJsonValue success = QJsonValue(QJsonValue::Undefined);
    // Class name and bytes.
    std::string declared;
    std::optional<std::string> missingResult;
};

Outcome receive(const CallCase &c, const std::string &replyBytes)
{
    MemoryClient memory(replyBytes);
    Outcome out;
    try {
        out.success = c.receive(memory.client);
    } catch (const RecordException &e) {
        out.declared = std::string(e.name()) + " " + hex(bytesOf(e));
    } catch (const TApplicationException &e) {
        EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
        out.missingResult = e.what();
    }
    return out;
}

TEST(CallCrossCheck, EveryCallsRequestsAndRepliesAgreeWithGeneratedCode)
{
    const std::vector<CallCase> cases = callCases();
    ASSERT_EQ(cases.size(), 76u);

    const auto exceptions = sampleExceptions();
    QJsonObject input;
    QJsonObject exceptionsJson;
    for (const auto &[field, e] : exceptions)
        exceptionsJson.insert(field, hexText(bytesOf(*e)));
    input.insert("exceptions", exceptionsJson);

    QJsonArray calls;
    std::vector<QJsonObject> expectedArgs(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        MemoryClient memory;
        cases[i].send(memory.client, expectedArgs[i]);
        QJsonObject call{{"call", cases[i].call}, {"request", hexText(memory.sent->getBufferAsString())}};
        if (!cases[i].success.isUndefined())
            call.insert("success", cases[i].success);
        calls.append(call);
    }
    input.insert("calls", calls);

    const QJsonArray python = throughPython(input);
    ASSERT_EQ(python.size(), static_cast<qsizetype>(cases.size()));

    for (std::size_t i = 0; i < cases.size(); ++i) {
        const CallCase &c = cases[i];
        SCOPED_TRACE(c.call);
        const QJsonObject result = python[static_cast<qsizetype>(i)].toObject();
        ASSERT_EQ(result.value("call").toString(), c.call);
        if (result.contains("error")) {
            ADD_FAILURE() << result.value("error").toString().toStdString();
            continue;
        }

        // The request: the generated *_args struct has exactly our fields,
        // with our values.
        const QJsonObject args = result.value("args").toObject();
        EXPECT_EQ(text(QJsonArray::fromStringList(args.keys())),
                  text(QJsonArray::fromStringList(expectedArgs[i].keys())));
        EXPECT_EQ(text(c.normalizedArgs(args)), text(expectedArgs[i]));

        const QJsonObject replies = result.value("replies").toObject();
        for (auto it = replies.begin(); it != replies.end(); ++it) {
            const std::string kind = it.key().toStdString();
            SCOPED_TRACE(kind);
            const Outcome outcome = receive(c, fromHexText(it.value()));
            if (kind == "success") {
                EXPECT_EQ(text(outcome.success), text(c.success));
            } else if (kind == "empty" || kind == "undeclared") {
                if (c.success.isUndefined()) {
                    EXPECT_EQ(text(outcome.success), "(nothing)");
                    EXPECT_EQ(outcome.declared, "");
                    EXPECT_FALSE(outcome.missingResult);
                } else {
                    EXPECT_EQ(outcome.missingResult, std::string(c.call) + " failed: unknown result");
                }
            } else {
                const auto &e = exceptions.at(it.key());
                EXPECT_EQ(outcome.declared, std::string(e->name()) + " " + hex(bytesOf(*e)));
            }
        }
        // One reply per field of the generated *_result (as many as ours
        // has), nothing, an undeclared field.
        EXPECT_EQ(static_cast<std::size_t>(replies.size()), c.resultFields + 2);
    }
}

} // namespace
