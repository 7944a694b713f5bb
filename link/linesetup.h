#pragma once

#include <QString>
#include <QtGlobal>

// The computer's side of one line: the port and the rows of the line-settings tables
// (LineSettings) it is opened with, and the device or server the port leads to.
struct LineSetup
{
    quint8 portNumber = 0;
    quint8 speedNumber = 0;
    quint8 parity = 0;
    quint8 stopBits = 0;
    quint16 timeOut = 0;
    QString portName; // a device path or tcp://HOST:PORT; empty: the platform's name of portNumber
};
