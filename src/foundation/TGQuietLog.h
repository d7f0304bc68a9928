#pragma once

// Prints one formatted line to standard output and nothing else: no time
// stamp, no program name, nothing to the system log. The format follows
// printf (%d, %ld, %u, %x, %f, %g, %s, %c, %%, with flags, width and
// precision) and adds %@ for an object's text: QString, QByteArray (UTF-8),
// QUrl, QVariant, numbers, and anything with a toString() that yields a
// QString (Error, QDateTime, ...).

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <concepts>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace quietlog {

// One argument of a log line, kept as what it is so each conversion can take
// the form it needs.
struct Arg
{
    std::variant<long long, unsigned long long, double, QString, const void *> value;

    Arg(const QString &s) : value(s) {}
    Arg(const char *s) : value(s ? QString::fromUtf8(s) : QStringLiteral("(null)")) {}
    Arg(const std::string &s) : value(QString::fromStdString(s)) {}
    Arg(std::string_view s) : value(QString::fromUtf8(s.data(), qsizetype(s.size()))) {}
    Arg(const QByteArray &b) : value(QString::fromUtf8(b)) {}
    Arg(const QUrl &u) : value(u.toString()) {}
    Arg(const QVariant &v) : value(v.toString()) {}
    Arg(QChar c) : value(QString(c)) {}
    Arg(bool b) : value(static_cast<long long>(b)) {}
    Arg(char c) : value(static_cast<long long>(c)) {}
    template<std::signed_integral I>
    Arg(I i) : value(static_cast<long long>(i))
    {
    }
    template<std::unsigned_integral U>
    Arg(U u) : value(static_cast<unsigned long long>(u))
    {
    }
    template<std::floating_point F>
    Arg(F f) : value(static_cast<double>(f))
    {
    }
    Arg(const void *p) : value(p) {}
    template<typename T>
    requires requires(const T &t)
    {
        {
            t.toString()
            } -> std::convertible_to<QString>;
    }
    Arg(const T &t) : value(QString(t.toString())) {}
};

// The formatted text without the line feed.
QString format(const char *format, std::initializer_list<Arg> args);
// Writes the text and one line feed in a single write, then flushes.
void writeLine(const QString &text);

} // namespace quietlog

template<typename... Args>
void TGQuietLog(const char *format, const Args &...args)
{
    quietlog::writeLine(quietlog::format(format, {quietlog::Arg(args)...}));
}
