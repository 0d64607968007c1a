<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name></name>
    <message id="qtn_twit_tittle_events_feed">
        <source>%1</source>
        <extracomment>Title of a tweet&apos;s item in the home event feed: the author&apos;s display name (%1).</extracomment>
        <translation>%1</translation>
    </message>
    <message id="qtn_twit_tweet_retweet">
        <source>Retweeted by %1</source>
        <extracomment>Footer of a retweet&apos;s item in the home event feed; %1 is the display name of the person who retweeted it.</extracomment>
        <translation>Retweeted by %1</translation>
    </message>
    <message id="qtn_twit_new_mention_banner">
        <source>%1 new mentions</source>
        <extracomment>Banner of the notification shown when several new mentions arrive at once; %1 is their number, always 2 or more.</extracomment>
        <translation>%1 new mentions</translation>
    </message>
    <message id="qtn_twit_new_mention" numerus="yes">
        <source>%n new mention(s)</source>
        <extracomment>Summary of the new-mentions notification in the notification area; %n is the number of unread mentions.</extracomment>
        <translation>
            <numerusform>%n new mention</numerusform>
            <numerusform>%n new mentions</numerusform>
        </translation>
    </message>
    <message id="qtn_twit_new_message_banner">
        <source>%1 new messages</source>
        <extracomment>Banner of the notification shown when several new direct messages arrive at once; %1 is their number, always 2 or more.</extracomment>
        <translation>%1 new messages</translation>
    </message>
    <message id="qtn_twit_new_message" numerus="yes">
        <source>%n new message(s)</source>
        <extracomment>Summary of the new-messages notification in the notification area; %n is the number of unread direct messages.</extracomment>
        <translation>
            <numerusform>%n new message</numerusform>
            <numerusform>%n new messages</numerusform>
        </translation>
    </message>
</context>
</TS>
