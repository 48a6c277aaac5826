// A board link that answers from a script, for the procedures and the command runner without a
// port or a socket.
#pragma once

#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>

#include "board/boardlink.h"

// A board that answers every line from a script: for a line's keyword (the text before "=", ""
// for the wake line) "OK" is the default answer, "NG" a refusal and "-" silence; a query gets
// its value from the script, "-" for silence (a setting line takes any other value as OK).
class ScriptedLink : public TBoardLink {
  public:
    ScriptedLink(bool telnet, QStringList* log, QMap<QString, QString> script)
        : telnet_(telnet), log_(log), script_(std::move(script)) {}

    const TLinkStyle& Style() const override { return telnet_ ? kTelnetStyle : kSerialStyle; }
    const TCommandLook& Look() const override { return telnet_ ? kTelnetLook : kSerialLook; }
    void ClearReceived() override {}
    void SendText(const QByteArray& line) override {
        EXPECT_TRUE(line.endsWith("\r\n"));
        last_ = QString::fromLatin1(line.left(line.size() - 2));
        events << last_;
    }
    void Pause(int ms) override {
        if (ms > 0)
            events << QStringLiteral("(pause %1)").arg(ms);
    }
    bool WaitPrompt() override { return Answer(); }
    bool WaitOk(int lineLength) override {
        EXPECT_EQ(lineLength, last_.size() + 2);
        return Answer();
    }
    bool ReadReplyLine() override {
        const QString v = script_.value(last_, QStringLiteral("-"));
        if (v == "-") {
            log_->append(QString::fromUtf8(kTimeoutLine));
            return false;
        }
        reply_ = v;
        return true;
    }
    bool ReadMacReplyLine(int lineLength) override {
        EXPECT_EQ(lineLength, 6);
        events << QStringLiteral("(mac read)");
        // Over telnet the reply must begin with "0"; otherwise the read runs out.
        if (telnet_ && !script_.value(last_).startsWith('0')) {
            log_->append(QString::fromUtf8(kTimeoutLine));
            return false;
        }
        return ReadReplyLine();
    }
    QString ReplyLine() const override { return reply_; }
    void LogLine(const QString& text) override { log_->append(text); }

    QStringList events;

  private:
    bool Answer() {
        QString a = script_.value(last_.section('=', 0, 0), QStringLiteral("OK"));
        // A setting line's keyword may also carry its query's value: only "NG" and "-" refuse.
        if (last_.contains('=') && a != "NG" && a != "-")
            a = QStringLiteral("OK");
        if (a == "-")
            log_->append(QString::fromUtf8(kTimeoutLine));
        return a == "OK";
    }

    bool telnet_;
    QStringList* log_;
    QMap<QString, QString> script_;
    QString last_;
    QString reply_;
};
