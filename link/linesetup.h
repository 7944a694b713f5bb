#pragma once

#include <QString>
#include <QtGlobal>

// The computer's side of one line: the port and the rows of the line-settings tables
// (LineSettings) it is opened with, and the device or server the port leads to. The one type
// for a line's settings: the left panel, the settings file, profiles, the search, the bus
// window and the command line all hold one. Its defaults are what a first start offers (COM2,
// 9600 baud, no parity, one stop bit); the adapter keeps defaults of its own until it is opened.
struct LineSetup
{
    quint8 portNumber = 1;
    quint8 speedNumber = 3;
    quint8 parity = 0;
    quint8 stopBits = 0;
    quint16 timeOut = 0;
    QString portName; // a device path or tcp://HOST:PORT; empty: the platform's name of portNumber
};
