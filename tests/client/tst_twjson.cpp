// SPDX-License-Identifier: BSD-3-Clause
// The service's JSON as the client reads it: a text whose object holds a key twice is
// refused before Qt's parser sees it (Qt 5.15 leaks the earlier value of such a key),
// keys are compared as the parser reads them, and every other text reads as Qt reads it.

#include "TwJson.h"

#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

namespace {

// What Qt alone makes of the text, with the ids made exact as the client does.
QVariant qtReading(const QByteArray &text)
{
    return TwJson::exactIds(QJsonDocument::fromJson(text).toVariant());
}

QByteArray objectOfKeys(int count, const QByteArray &lastKey = QByteArray())
{
    QByteArray text = "{";
    for (int i = 0; i < count; ++i)
        text += "\"key" + QByteArray::number(i) + "\":[" + QByteArray::number(i) + "],";
    if (!lastKey.isEmpty())
        text += "\"" + lastKey + "\":0,";
    text.chop(1);
    return text + "}";
}

}

class TestTwJson : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void repeatedKeyIsRefused_data();
    void repeatedKeyIsRefused();
    void errorNamesTheKeyAndWhere();
    void rawControlCharacterIsRefused();
    void distinctKeysAreRead_data();
    void distinctKeysAreRead();
    void malformedTextsKeepQtsError_data();
    void malformedTextsKeepQtsError();
    void fixturesReadAsQtReadsThem();
};

void TestTwJson::repeatedKeyIsRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("top level, array first") << QByteArray(R"({"a":[1],"a":1})");
    QTest::newRow("top level, scalars") << QByteArray(R"({"a":1,"a":2})");
    QTest::newRow("empty keys, nested") << QByteArray(R"({"":{"":[]},"":[]})");
    QTest::newRow("nested object") << QByteArray(R"({"x":{"a":1,"b":{"c":[2]},"a":3}})");
    QTest::newRow("object in an array") << QByteArray(R"([{"a":1},{"b":1,"c":2,"b":{"d":1}}])");
    QTest::newRow("apart by other keys") << QByteArray(R"({"b":[1],"a":1,"c":{"b":2},"b":2})");
    QTest::newRow("spaces around") << QByteArray(" { \"a\" : [ 1 ] ,\n\t\"a\" : 2 } ");
    QTest::newRow("escaped letter") << QByteArray(R"({"a":[1],"\u0061":1})");
    QTest::newRow("escaped letter first") << QByteArray(R"({"\u0061":[1],"a":1})");
    QTest::newRow("both escaped, hex case") << QByteArray(R"({"\u00E9":[1],"\u00e9":1})");
    QTest::newRow("escape and UTF-8") << QByteArray("{\"\\u00e9\":[1],\"\xc3\xa9\":1}");
    QTest::newRow("three-byte escape and UTF-8") << QByteArray("{\"\\u20ac\":[1],\"\xe2\x82\xac\":1}");
    QTest::newRow("surrogate pair and UTF-8") << QByteArray("{\"x\\ud83d\\ude00\":[1],\"x\xf0\x9f\x98\x80\":1}");
    QTest::newRow("escaped solidus") << QByteArray(R"({"a\/b":[1],"a/b":1})");
    QTest::newRow("escaped newline") << QByteArray(R"({"\n":[1],"\u000a":1})");
    QTest::newRow("escaped quote") << QByteArray(R"({"\"":[1],"\u0022":1})");
    QTest::newRow("lone surrogates") << QByteArray(R"({"\ud800":[1],"\ud800":1})");
    QTest::newRow("many keys, repeat last") << objectOfKeys(300, "key17");
    QTest::newRow("many keys, escaped repeat") << objectOfKeys(300, "\\u006bey299");
    QTest::newRow("deep inside")
        << QByteArray(500, '[') + R"({"a":{"b":1,"b":2}})" + QByteArray(500, ']');
}

void TestTwJson::repeatedKeyIsRefused()
{
    QFETCH(QByteArray, text);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^static QVariant TwJson::parse.* refused: .*twice")));
    QString error;
    const QVariant body = TwJson::parse(text, &error);
    QVERIFY(!body.isValid());
    QVERIFY2(error.contains(QStringLiteral("twice")), qPrintable(error));
}

void TestTwJson::errorNamesTheKeyAndWhere()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused")));
    QString error;
    TwJson::parse(R"({"id":[1],"name":"x","id":1})", &error);
    QCOMPARE(error, QStringLiteral("an object holds the key \"id\" twice, at offset 21"));
    // An escaped key is named as the parser reads it; a long one is cut short.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused")));
    const QByteArray longKey(1000, 'k');
    TwJson::parse("{\"\\u006b" + longKey.mid(1) + "\":1,\"" + longKey + "\":2}", &error);
    QVERIFY2(error.startsWith(QStringLiteral("an object holds the key \"") + QString(40, QLatin1Char('k')) + "\" twice"),
             qPrintable(error));
}

// JSON allows control characters in strings only escaped; between tokens they are blanks.
void TestTwJson::rawControlCharacterIsRefused()
{
    QString error;
    for (const QByteArray &text : {QByteArray("{\"\0a\":[{}],\"\0}\":false}", 22), QByteArray("{\"a\":\"b\tc\"}"),
                                   QByteArray("[\"\x1f\"]")}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused: .*raw control character")));
        QVERIFY(!TwJson::parse(text, &error).isValid());
    }
    QCOMPARE(error, QStringLiteral("a raw control character (31) in a string, at offset 2"));
    QVERIFY(TwJson::parse("{\n\t\"a\" :\r\n\"b\\tc\"}", &error).isValid());
}

void TestTwJson::distinctKeysAreRead_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("same key in other objects")
        << QByteArray(R"({"a":{"a":{"a":1}},"b":[{"a":1},{"a":2}],"c":{"a":[{"a":3}]}})");
    QTest::newRow("braces and quotes in values")
        << QByteArray(R"({"t":"}{\"a\":1,\"a\":2}","a":"[\"a\",{\"a\":","u":"\\","v":"\\\""})");
    QTest::newRow("braces and quotes in keys") << QByteArray(R"({"{":1,"}":2,"[":3,"]":4,",":5,"\"":6,"\\":7,":":8})");
    QTest::newRow("values that look like keys") << QByteArray(R"({"a":["a","a",{"b":"a"}],"b":"a"})");
    QTest::newRow("backslash ends a key") << QByteArray(R"({"a\\":1,"a":2})");
    QTest::newRow("escape for another letter") << QByteArray(R"({"\u0062":1,"a":2,"\u0061b":3})");
    QTest::newRow("accent and letter") << QByteArray("{\"\\u00e9\":1,\"e\":2,\"\xc3\xa8\":3}");
    QTest::newRow("different lone surrogates") << QByteArray(R"({"\ud800":1,"\udc00":2,"\ud800\udc01":3})");
    QTest::newRow("different pairs") << QByteArray(R"({"\ud83d\ude00":1,"\ud83d\ude01":2})");
    QTest::newRow("prefixes") << QByteArray(R"({"a":1,"ab":2,"abc":3,"":4,"b":5})");
    QTest::newRow("many keys") << objectOfKeys(300);
    QTest::newRow("array at the top") << QByteArray(R"([1,"a",{"a":1},[{"a":2}],null,true,-1.5e3])");
    QTest::newRow("empty ones") << QByteArray(R"({"a":{},"b":[],"c":[{}]})");
    QTest::newRow("empty object, nothing before") << QByteArray("{}");
    QTest::newRow("empty object in an array") << QByteArray("[{},{}]");
}

void TestTwJson::distinctKeysAreRead()
{
    QFETCH(QByteArray, text);
    QString error;
    const QVariant body = TwJson::parse(text, &error);
    QVERIFY2(body.isValid(), qPrintable(error));
    QVERIFY(error.isEmpty());
    QCOMPARE(body, qtReading(text));
}

void TestTwJson::malformedTextsKeepQtsError_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("string without end") << QByteArray(R"({"a":"b)");
    QTest::newRow("backslash at the end") << QByteArray(R"({"a\)");
    QTest::newRow("object without end") << QByteArray(R"({"a":{"b":1})");
    QTest::newRow("closed by the wrong bracket") << QByteArray(R"({"a":1])");
    QTest::newRow("stray closings") << QByteArray(R"(}]}{"a":1})");
    QTest::newRow("object closed as an array, no keys") << QByteArray("{]");
    QTest::newRow("a scalar") << QByteArray("\"a\"");
    QTest::newRow("broken escape") << QByteArray(R"({"\u00":1})");
    QTest::newRow("bad UTF-8") << QByteArray("{\"\xff\":1}");
}

void TestTwJson::malformedTextsKeepQtsError()
{
    QFETCH(QByteArray, text);
    QJsonParseError qtError;
    QJsonDocument::fromJson(text, &qtError);
    QString error;
    QVERIFY(!TwJson::parse(text, &error).isValid());
    QVERIFY(!error.isEmpty());
    if (qtError.error != QJsonParseError::NoError)
        QCOMPARE(error, qtError.errorString() + QStringLiteral(" at offset ") + QString::number(qtError.offset));
}

void TestTwJson::fixturesReadAsQtReadsThem()
{
    const QDir fixtures(QStringLiteral(FIXTURES_DIR));
    const QStringList names = fixtures.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 12);
    for (const QString &name : names) {
        QFile file(fixtures.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QString error;
        const QVariant body = TwJson::parse(text, &error);
        QVERIFY2(body.isValid(), qPrintable(name + QStringLiteral(": ") + error));
        QCOMPARE(body, qtReading(text));
    }
}

QTEST_GUILESS_MAIN(TestTwJson)
#include "tst_twjson.moc"
