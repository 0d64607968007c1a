// SPDX-License-Identifier: BSD-3-Clause
// The event feed misbehaving under the running daemon: refusing with -1, answering
// errors, answering late. (A feed gone from the bus is in tst_eventfeedclient: without
// it nothing here could ask for a refresh.) Whatever the feed did not take is offered again
// at the next refresh, and nothing it took is posted twice.

#include "SessionTestCase.h"

#include <QSet>
#include <QTest>

class TestE2eFeedFaults : public SessionTestCase
{
    Q_OBJECT

public:
    TestE2eFeedFaults()
        : SessionTestCase(LoggedInDaemon)
    {
    }

private Q_SLOTS:
    void refusedItemsAreOfferedAgain_data();
    void refusedItemsAreOfferedAgain();
    void lateAnswersPublishEachTweetOnce();

private:
    void verifyEachTweetOnce(int items);
};

void TestE2eFeedFaults::verifyEachTweetOnce(int items)
{
    const QStringList ids = mSession->itemTweetIds();
    QCOMPARE(ids.size(), items);
    QCOMPARE(QSet<QString>(ids.cbegin(), ids.cend()).size(), items);
    QCOMPARE(mSession->cachedItemIds().size(), items);
}

void TestE2eFeedFaults::refusedItemsAreOfferedAgain_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("-1") << "minus-one";
    QTest::newRow("error") << "error";
}

void TestE2eFeedFaults::refusedItemsAreOfferedAgain()
{
    QFETCH(QString, fault);
    PlatformSession &session = *mSession;
    session.feed().control().setAddItemAnswer(fault).waitForFinished();
    QVERIFY(session.refresh());
    const auto addItemCalls = [&] {
        int calls = 0;
        for (const QJsonValue &call : session.feed().calls())
            calls += call[QStringLiteral("method")] == QLatin1String("addItem") ? 1 : 0;
        return calls;
    };
    QTRY_COMPARE_WITH_TIMEOUT(addItemCalls(), 20, 15000);
    QCOMPARE(mSession->cachedItemIds().size(), 0);
    QCOMPARE(session.feed().items().size(), 0);

    session.feed().control().setAddItemAnswer(QStringLiteral("id")).waitForFinished();
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    verifyEachTweetOnce(20);

    // Another refresh posts nothing more.
    QVERIFY(session.refresh());
    verifyEachTweetOnce(20);
}

void TestE2eFeedFaults::lateAnswersPublishEachTweetOnce()
{
    PlatformSession &session = *mSession;
    session.feed().control().setReplyDelay(200).waitForFinished();
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(mSession->cachedItemIds().size(), 20, 15000);
    verifyEachTweetOnce(20);

    session.feed().control().setReplyDelay(0).waitForFinished();
    QVERIFY(session.refresh());
    verifyEachTweetOnce(20);
}

QTEST_GUILESS_MAIN(TestE2eFeedFaults)
#include "tst_e2efeedfaults.moc"
