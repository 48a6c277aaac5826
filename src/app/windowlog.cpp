#include "app/windowlog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

int TWindowLog::LineCount() const {
    const QTextDocument* doc = memo_->document();
    const int blocks = doc->blockCount();
    // A text that ends with a line break has an empty last block that is not a line.
    return doc->lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

QStringList TWindowLog::Lines() const {
    QStringList lines = memo_->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TWindowLog::Clear() {
    memo_->clear();
}

void TWindowLog::Append(const QString& text) {
    QTextCursor c(memo_->document());
    c.movePosition(QTextCursor::End);
    // A text typed by the operator may lack its final line break; the new line starts afresh.
    if (memo_->document()->lastBlock().length() > 1)
        c.insertText(QStringLiteral("\n"));
    c.insertText(text + QLatin1Char('\n'));
    memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
}
