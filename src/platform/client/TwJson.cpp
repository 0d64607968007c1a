// SPDX-License-Identifier: BSD-3-Clause
#include "TwJson.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const QString TextSuffix = QStringLiteral("_str");
// Longest part of a refused key quoted in the error: the text comes from the network.
const int QuotedKeyLength = 40;
// Objects with up to this many keys are checked pair by pair; larger ones are sorted.
const int PairwiseKeys = 8;

// A key of an object: where it is in the text, and its characters as UTF-8 (the text's
// own bytes, or its escapes undone), the first eight of them also as a number: most keys
// differ in their length or there.
struct Key
{
    const char *data;
    int size;
    int offset;
    quint64 prefix;
};

quint64 prefixOf(const char *data, int size)
{
    quint64 prefix = 0;
    memcpy(&prefix, data, size_t(qMin(size, int(sizeof prefix))));
    return prefix;
}

bool sameKey(const Key &a, const Key &b)
{
    return a.prefix == b.prefix && a.size == b.size && memcmp(a.data, b.data, size_t(a.size)) == 0;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The UTF-16 unit of the four hex digits at text, or -1.
int codeUnit(const char *text, const char *end)
{
    if (end - text < 4)
        return -1;
    int unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0)
            return -1;
        unit = unit << 4 | digit;
    }
    return unit;
}

void appendUtf8(QByteArray *out, uint code)
{
    if (code < 0x80) {
        out->append(char(code));
    } else if (code < 0x800) {
        out->append(char(0xc0 | code >> 6));
        out->append(char(0x80 | (code & 0x3f)));
    } else if (code < 0x10000) {
        // A lone surrogate too: its three bytes keep it apart from every other key.
        out->append(char(0xe0 | code >> 12));
        out->append(char(0x80 | (code >> 6 & 0x3f)));
        out->append(char(0x80 | (code & 0x3f)));
    } else {
        out->append(char(0xf0 | code >> 18));
        out->append(char(0x80 | (code >> 12 & 0x3f)));
        out->append(char(0x80 | (code >> 6 & 0x3f)));
        out->append(char(0x80 | (code & 0x3f)));
    }
}

// The characters of a string with escapes as the parser reads them, in UTF-8: "a" and
// "\u0061", or a pair of escaped surrogates and the character's own bytes, are one key
// to it. An escape it would refuse stays as it is; such a text is refused anyway.
QByteArray unescaped(const char *begin, const char *end)
{
    QByteArray out;
    out.reserve(int(end - begin));
    for (const char *p = begin; p < end; ++p) {
        if (*p != '\\' || p + 1 == end) {
            out.append(*p);
            continue;
        }
        const char c = *++p;
        switch (c) {
        case 'b': out.append('\b'); break;
        case 'f': out.append('\f'); break;
        case 'n': out.append('\n'); break;
        case 'r': out.append('\r'); break;
        case 't': out.append('\t'); break;
        case 'u': {
            int unit = codeUnit(p + 1, end);
            if (unit < 0) {
                out.append("\\u");
                break;
            }
            p += 4;
            if (unit >= 0xd800 && unit < 0xdc00 && end - p > 2 && p[1] == '\\' && p[2] == 'u') {
                const int low = codeUnit(p + 3, end);
                if (low >= 0xdc00 && low < 0xe000) {
                    unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
                    p += 6;
                }
            }
            appendUtf8(&out, uint(unit));
            break;
        }
        default: // '"', '\\', '/', and what the parser refuses
            out.append(c);
        }
    }
    return out;
}

bool isContainer(const QVariant &value)
{
    return value.type() == QVariant::List || value.type() == QVariant::Map;
}

// The first key found twice in one of the object's keys [begin, end), the later one of
// the two; nullptr when every key is there once.
const Key *repeatIn(std::vector<Key>::iterator begin, std::vector<Key>::iterator end)
{
    if (end - begin < 2)
        return nullptr;
    if (end - begin <= PairwiseKeys) {
        for (auto later = begin + 1; later < end; ++later) {
            for (auto earlier = begin; earlier < later; ++earlier) {
                if (sameKey(*earlier, *later))
                    return &*later;
            }
        }
        return nullptr;
    }
    // The keys go once the object closes: their order no longer matters.
    std::sort(begin, end, [](const Key &a, const Key &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        if (a.size != b.size)
            return a.size < b.size;
        const int order = memcmp(a.data, b.data, size_t(a.size));
        return order != 0 ? order < 0 : a.offset < b.offset;
    });
    for (auto it = begin + 1; it < end; ++it) {
        if (sameKey(*(it - 1), *it))
            return &*it;
    }
    return nullptr;
}

// The first raw control character between first and end, or end: RFC 8259 allows them
// only escaped. Qt's parser takes them, and keys that differ only after a raw NUL are
// one key to it, which the check for repeated keys cannot see.
const char *controlCharacter(const char *first, const char *end)
{
    return std::find_if(first, end, [](char c) { return uchar(c) < 0x20; });
}

// The quote that ends the string whose characters begin at first, or end. Strings are
// most of a text: memchr() finds quotes faster than a loop over every character.
const char *stringEnd(const char *first, const char *end)
{
    for (const char *p = first;;) {
        const char *const quote = static_cast<const char *>(memchr(p, '"', size_t(end - p)));
        if (!quote)
            return end;
        // Escaped when an odd number of backslashes comes before it.
        const char *escape = quote;
        while (escape > first && escape[-1] == '\\')
            --escape;
        if ((quote - escape) % 2 == 0)
            return quote;
        p = quote + 1;
    }
}

// Qt 5.15's parser keeps the last value of a key that an object holds twice and never
// frees the earlier one when it is an array or object: every such answer would leak.
// This finds those texts in one pass before Qt sees them, without building anything but
// the keys of the objects open at a time. It reads JSON exactly as the parser does; on
// text that is not JSON its finding means nothing, but the parser refuses that anyway.
// Returns the offset of the key's second occurrence, or of a raw control character in a
// string, and describes it in *problem; -1 when there is neither.
int malformedAt(const QByteArray &text, QString *problem)
{
    const char *const start = text.constData();
    const char *const end = start + text.size();
    std::vector<Key> keys; // of the open objects, the innermost's last
    std::vector<int> open; // per open bracket: where its keys start in keys, -1 for an array
    QVector<QByteArray> unescapedKeys; // their bytes stay where they are when the vector grows
    bool keyNext = false;
    for (const char *p = start; p < end; ++p) {
        switch (*p) {
        case '"': {
            const char *const first = ++p;
            p = stringEnd(first, end);
            if (p == end) // a string without its end: not JSON
                return -1;
            const char *const control = controlCharacter(first, p);
            if (control != p) {
                *problem = QStringLiteral("a raw control character (%1) in a string").arg(int(uchar(*control)));
                return int(control - start);
            }
            if (keyNext) {
                Key found{first, int(p - first), int(first - start) - 1, 0};
                if (memchr(first, '\\', size_t(p - first))) {
                    unescapedKeys.append(unescaped(first, p));
                    found.data = unescapedKeys.last().constData();
                    found.size = unescapedKeys.last().size();
                }
                found.prefix = prefixOf(found.data, found.size);
                keys.push_back(found);
                keyNext = false;
            }
            break;
        }
        case '{':
            open.push_back(int(keys.size()));
            keyNext = true;
            break;
        case '[':
            open.push_back(-1);
            keyNext = false;
            break;
        case ',':
            keyNext = !open.empty() && open.back() >= 0;
            break;
        case '}':
        case ']':
            if (!open.empty()) {
                const int first = open.back();
                open.pop_back();
                if (first >= 0) {
                    if (const Key *repeat = repeatIn(keys.begin() + first, keys.end())) {
                        *problem = QStringLiteral("an object holds the key \"%1\" twice")
                                       .arg(QString::fromUtf8(repeat->data, qMin(repeat->size, QuotedKeyLength)));
                        return repeat->offset;
                    }
                    keys.resize(size_t(first));
                }
            }
            keyNext = false;
            break;
        default:
            break;
        }
    }
    return -1;
}

}

QVariant TwJson::parse(const QByteArray &text, QString *error)
{
    QString problem;
    const int malformed = malformedAt(text, &problem);
    if (malformed >= 0) {
        *error = problem + QStringLiteral(", at offset ") + QString::number(malformed);
        // Quoted and escaped: the text comes from the network.
        qWarning() << Q_FUNC_INFO << "refused:" << *error;
        return QVariant();
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString() + QStringLiteral(" at offset ") + QString::number(parseError.offset);
        return QVariant();
    }
    if (document.isNull()) {
        *error = QStringLiteral("neither an object nor an array");
        return QVariant();
    }
    return exactIds(document.toVariant());
}

QVariant TwJson::exactIds(const QVariant &value)
{
    if (value.type() == QVariant::List) {
        QVariantList list = value.toList();
        for (QVariant &element : list) {
            if (isContainer(element))
                element = exactIds(element);
        }
        return list;
    }
    if (value.type() != QVariant::Map)
        return value;
    QVariantMap map = value.toMap();
    // One pass in key order: "id" comes before "id_str", so the text replaces the number
    // after the number's own turn, and "id_str" before "id_str_str" as well.
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (isContainer(it.value())) {
            it.value() = exactIds(it.value());
        } else if (it.value().type() == QVariant::String && it.key().endsWith(TextSuffix)) {
            const auto number = map.find(it.key().chopped(TextSuffix.size()));
            if (number != map.end())
                number.value() = it.value();
        }
    }
    return map;
}

QString TwJson::errorMessage(const QVariant &body)
{
    const QVariantMap map = body.toMap();
    const QString error = map.value(QStringLiteral("error")).toString();
    if (!error.isEmpty())
        return error;
    return map.value(QStringLiteral("errors")).toList().value(0).toMap().value(QStringLiteral("message")).toString();
}

int TwJson::errorCode(const QVariant &body)
{
    return body.toMap().value(QStringLiteral("errors")).toList().value(0).toMap().value(QStringLiteral("code")).toInt();
}
