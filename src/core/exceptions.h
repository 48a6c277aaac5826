// Exceptions of this program. Every command catches them at its top and shows Message() in
// the error box; what() gives the same text in UTF-8.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception {
  public:
    explicit Exception(const QString& message) : message_(message), utf8_(message.toUtf8()) {}
    const QString& Message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

  private:
    QString message_;
    QByteArray utf8_;
};

// A text that is not an integer where one is required.
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// A file that cannot be written.
class EFCreateError : public Exception {
  public:
    using Exception::Exception;
};

// The integer conversion every dialog and reply parser uses: optional leading blanks, an
// optional sign, decimal digits, within the signed 32-bit range. Anything else (an empty text
// included) throws EConvertError "'<text>' は整数ではありません".
int StrToInt(const QString& text);
// The same conversion without the throw.
bool TryStrToInt(const QString& text, int* value);
