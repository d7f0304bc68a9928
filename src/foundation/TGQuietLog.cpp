#include "foundation/TGQuietLog.h"

#include <cstring>
#include <mutex>

namespace quietlog {
namespace {

long long asSigned(const Arg &arg)
{
    return std::visit(
        [](const auto &v) -> long long {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, QString>)
                return v.toLongLong();
            else if constexpr (std::is_same_v<V, const void *>)
                return static_cast<long long>(reinterpret_cast<quintptr>(v));
            else
                return static_cast<long long>(v);
        },
        arg.value);
}

unsigned long long asUnsigned(const Arg &arg)
{
    return static_cast<unsigned long long>(asSigned(arg));
}

double asDouble(const Arg &arg)
{
    return std::visit(
        [](const auto &v) -> double {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, QString>)
                return v.toDouble();
            else if constexpr (std::is_same_v<V, const void *>)
                return 0.0;
            else
                return static_cast<double>(v);
        },
        arg.value);
}

QString describe(const Arg &arg)
{
    return std::visit(
        [](const auto &v) -> QString {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, QString>)
                return v;
            else if constexpr (std::is_same_v<V, const void *>)
                return v ? QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(v), 16)
                         : QStringLiteral("(null)");
            else
                return QString::number(v);
        },
        arg.value);
}

// Runs snprintf for one conversion, rebuilt in `conversion` with its flags,
// width, precision and the length modifier that fits the value.
template<typename T>
QString printOne(const std::string &conversion, T value)
{
    char small[128];
    int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return QString::fromUtf8(small, n);
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), conversion.c_str(), value);
    big.resize(static_cast<size_t>(n));
    return QString::fromStdString(big);
}

} // namespace

QString format(const char *fmt, std::initializer_list<Arg> argList)
{
    QString out;
    if (!fmt)
        return out;
    const Arg *args = argList.begin();
    const size_t count = argList.size();
    size_t next = 0;
    auto take = [&]() -> const Arg * { return next < count ? &args[next++] : nullptr; };

    const char *p = fmt;
    const char *literal = p;
    auto flushLiteral = [&](const char *upTo) {
        if (upTo > literal)
            out += QString::fromUtf8(literal, upTo - literal);
    };
    while (*p) {
        if (*p != '%') {
            ++p;
            continue;
        }
        flushLiteral(p);
        const char *start = p++;
        std::string flags;
        while (*p && std::strchr("-+ #0'", *p))
            flags += *p++;
        std::string width;
        if (*p == '*') {
            ++p;
            const Arg *a = take();
            width = std::to_string(a ? asSigned(*a) : 0);
        } else {
            while (*p >= '0' && *p <= '9')
                width += *p++;
        }
        std::string precision;
        if (*p == '.') {
            ++p;
            precision = ".";
            if (*p == '*') {
                ++p;
                const Arg *a = take();
                precision += std::to_string(a ? asSigned(*a) : 0);
            } else {
                while (*p >= '0' && *p <= '9')
                    precision += *p++;
            }
        }
        while (*p && std::strchr("hlqLzjt", *p))
            ++p;
        const char conv = *p;
        if (!conv) {
            // A lone '%' at the end is printed as written.
            out += QString::fromUtf8(start);
            literal = p;
            break;
        }
        ++p;
        literal = p;
        const std::string base = "%" + flags + width + precision;
        switch (conv) {
        case '%': out += QLatin1Char('%'); break;
        case '@': {
            const Arg *a = take();
            out += a ? describe(*a) : QStringLiteral("(null)");
            break;
        }
        case 'd':
        case 'i': {
            const Arg *a = take();
            out += printOne(base + "lld", a ? asSigned(*a) : 0LL);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            const Arg *a = take();
            out += printOne(base + "ll" + conv, a ? asUnsigned(*a) : 0ULL);
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            const Arg *a = take();
            out += printOne(base + conv, a ? asDouble(*a) : 0.0);
            break;
        }
        case 'c': {
            const Arg *a = take();
            if (a && std::holds_alternative<QString>(a->value))
                out += std::get<QString>(a->value).left(1);
            else
                out += QChar(char16_t(a ? asSigned(*a) : 0));
            break;
        }
        case 's':
        case 'S': {
            const Arg *a = take();
            const QByteArray utf8 = (a ? describe(*a) : QStringLiteral("(null)")).toUtf8();
            out += printOne(base + "s", utf8.constData());
            break;
        }
        case 'p': {
            const Arg *a = take();
            out += a ? describe(*a) : QStringLiteral("(null)");
            break;
        }
        default:
            // Unknown conversions are printed as written.
            out += QString::fromUtf8(start, p - start);
            break;
        }
    }
    flushLiteral(p);
    return out;
}

void writeLine(const QString &text)
{
    QByteArray line = text.toUtf8();
    line.append('\n');
    // One write per line keeps lines from several threads whole.
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace quietlog
