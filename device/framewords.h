#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// Frames of the line in the words of the window and the command line: what a request asks for,
// by the catalogue's captions where its registers are a parameter, and the exceptions a device
// answers with.
namespace FrameWords {

// "01 03 0A 06"
QString hexBytes(QByteArrayView bytes);
// "0x0A06" for digits 4
QString hexNumber(uint value, int digits);

// "чтение: верхняя граница (0x0A06, 2 рег.)" for a parameter of the catalogue, "чтение 0x0A00,
// 19 рег." for any other run of registers, "функция 0x06" for another function; empty for
// fewer bytes than a request's header.
QString requestInWords(QByteArrayView request);

// A device's texts come from the line: as one line of plain characters, so that none of them
// acts on a terminal or breaks a row of a table. A line feed, a carriage return and a tab as \n,
// \r and \t, other control characters as \xNN, and the backslash doubled, so that "\n" typed
// into a device's name stays apart from a line feed.
QString escapedControls(const QString &text);

// The name of a Modbus exception code.
QString exceptionName(quint8 code);

} // namespace FrameWords
