#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Base64 with the standard alphabet ("A"-"Z", "a"-"z", "0"-"9", "+", "/"), "=" padding and no line
// breaks, as the message encryption puts it on the wire.
namespace pelio::app {

// Four characters for every three bytes; a last group of one byte gives two characters and "==", of
// two bytes three characters and "=".
QString Base64Encode(QByteArrayView bytes);

// The bytes of `text`. The first "=" ends the data and only "=" may follow it; a last group without
// its padding decodes as if it were padded, and a lone last character (too few bits for a byte) is
// dropped. Any other character outside the alphabet (blanks and line breaks included) makes the text
// invalid: no value.
std::optional<QByteArray> Base64Decode(QStringView text);

}  // namespace pelio::app
