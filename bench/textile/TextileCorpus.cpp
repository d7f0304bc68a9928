#include "TextileCorpus.h"

#include <QStringList>

#include <random>

namespace {

const char *const kWords[] = {
    "meeting", "project", "budget",   "review", "draft",   "client", "schedule", "notes",  "design",
    "release", "today",   "tomorrow", "please", "check",   "the",    "and",      "with",   "for",
    "about",   "update",  "team",     "plan",   "café",    "naïve",  "résumé",   "Zürich", "idea",
    "list",    "follow",  "call",     "send",   "invoice", "week",   "goal",
};

class Writer
{
public:
    explicit Writer(unsigned seed) : m_rng(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
    bool chance(int percent) { return pick(100) < percent; }

    QString word() { return QString::fromUtf8(kWords[pick(int(std::size(kWords)))]); }

    QString phrase(int minWords, int maxWords)
    {
        QStringList words;
        const int count = minWords + pick(maxWords - minWords + 1);
        for (int i = 0; i < count; ++i) {
            QString w = word();
            switch (pick(40)) {
            case 0: w = QLatin1Char('*') + w + QLatin1Char('*'); break;
            case 1: w = QLatin1Char('_') + w + QLatin1Char('_'); break;
            case 2: w = QLatin1Char('@') + w + QLatin1Char('@'); break;
            case 3: w = QStringLiteral("\"%1\":http://example.com/%1").arg(w); break;
            case 4: w = QStringLiteral("www.%1.org/page?id=%2").arg(w).arg(pick(999)); break;
            case 5: w = QStringLiteral("%1@example.net").arg(w); break;
            case 6: w += QStringLiteral("[%1]").arg(1 + pick(3)); break;
            case 7: w += QLatin1Char(','); break;
            case 8: w = QStringLiteral("https://docs.example.com/%1/").arg(w); break;
            case 9: w = QStringLiteral("??%1??").arg(w); break;
            default: break;
            }
            words.append(w);
        }
        QString s = words.join(QLatin1Char(' '));
        if (!s.isEmpty())
            s[0] = s[0].toUpper();
        return s + QLatin1Char('.');
    }

    QString block()
    {
        const int kind = pick(100);
        if (kind < 40) {
            // A paragraph, sometimes over two or three lines.
            QString p = phrase(8, 30);
            for (int extra = pick(3); extra > 0; --extra)
                p += QLatin1Char('\n') + phrase(5, 15);
            return p;
        }
        if (kind < 50)
            return QStringLiteral("h%1. ").arg(1 + pick(3)) + phrase(2, 6);
        if (kind < 65) {
            QStringList items;
            const char marker = chance(50) ? '*' : '#';
            int depth = 1;
            for (int i = 3 + pick(6); i > 0; --i) {
                depth = std::max(1, std::min(3, depth + pick(3) - 1));
                items.append(QString(depth, QLatin1Char(marker)) + QLatin1Char(' ') + phrase(2, 10));
            }
            return items.join(QLatin1Char('\n'));
        }
        if (kind < 75) {
            QStringList rows;
            const int columns = 2 + pick(3);
            QString header = QStringLiteral("|");
            for (int c = 0; c < columns; ++c)
                header += QStringLiteral("_. %1 |").arg(word());
            rows.append(header);
            for (int r = 2 + pick(6); r > 0; --r) {
                QString row = QStringLiteral("|");
                for (int c = 0; c < columns; ++c)
                    row += QStringLiteral(" %1 |").arg(chance(30) ? QString::number(pick(10000)) : word());
                rows.append(row);
            }
            return rows.join(QLatin1Char('\n'));
        }
        if (kind < 82)
            return QStringLiteral("bq. ") + phrase(6, 20);
        if (kind < 88)
            return QStringLiteral("!%1.png(%2)! ").arg(word(), word()) + phrase(3, 10);
        if (kind < 92)
            return QStringLiteral("fn%1. ").arg(1 + pick(3)) + phrase(4, 12);
        if (kind < 96)
            return QStringLiteral("p(note). ") + phrase(5, 15);
        return phrase(3, 8) + QStringLiteral(" -removed- and +added+ %{color:red}warning% ") + phrase(3, 8);
    }

private:
    std::mt19937 m_rng;
};

struct Hostile
{
    const char *name;
    const char16_t *unit;
};

// Markup characters without their closers, and shapes that make a
// backtracking engine retry from every position of a long line.
const Hostile kHostile[] = {
    {"stars", u"*"},
    {"underscores", u"_"},
    {"quotes", u"\""},
    {"brackets", u"["},
    {"percents", u"%"},
    {"bangs", u"!"},
    {"word-bracket", u"a["},
    {"open-emphasis", u"_a "},
    {"link-title", u"\"a("},
    {"image-alt", u"!a("},
    {"styles", u"%{}"},
    {"tags", u"<b>"},
    {"address-body", u"http://a="},
    {"bold-words", u"*a* "},
    {"link-tails", u"\"a\":....x "},
};

} // namespace

QString textileCorpus(qsizetype size, unsigned seed)
{
    Writer w(seed);
    QString text;
    text.reserve(size + 1024);
    while (text.size() < size) {
        if (!text.isEmpty())
            text += QStringLiteral("\n\n");
        text += w.block();
    }
    return text;
}

QString hostileText(int kind, qsizetype size)
{
    const QString unit = QString::fromUtf16(kHostile[kind].unit);
    QString text;
    text.reserve(size + unit.size());
    while (text.size() < size)
        text += unit;
    return text;
}

const char *hostileName(int kind)
{
    return kHostile[kind].name;
}

int hostileKinds()
{
    return int(std::size(kHostile));
}
