// Answers modal dialogs and message boxes from a timer, as an operator would, while the code
// under test sits in the dialog's own event loop.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// When a modal widget other than the one active now appears (polled every 10 ms for up to
// `timeoutMs`), runs `action` on it once.
void OnNextModal(std::function<void(QWidget*)> action, int timeoutMs = 10000);

// Stops every watcher that is still waiting (call at the end of a test, so that a watcher
// whose dialog never came cannot answer the next test's dialog).
void CancelModalWatchers();

// Until CancelModalWatchers(), closes every message box that comes up with its default (or only)
// button, appending its text to `texts` when given.
void DismissEveryMessageBox(QStringList* texts = nullptr);

// Closes the next message box with its default (or only) button, storing its text and window
// title when asked.
void AcceptNextMessageBox(QString* text = nullptr, QString* title = nullptr, int timeoutMs = 10000);
