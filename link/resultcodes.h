#pragma once

#include <QtGlobal>

// Outcome of one exchange with the device. Zero is success, every negative value a failure;
// the main window turns each into its message (TfrmMain::ResultText).
enum TResultCode : qint16 {
    lrOk = 0,
    lrNotConnected = -1,    // the adapter is not Connected; nothing was sent
    lrWriteFailed = -2,     // the request did not leave completely (also: the port has gone away)
    lrBadCrc = -3,          // a reply arrived whole but its CRC does not verify
    lrDeviceError = -4,     // the device answered with a Modbus exception
    lrIncomplete = -5,      // the reply stopped after its header
    lrNoAnswer = -6,        // not even the reply's header arrived
    lrWrongReply = -7,      // a whole reply, its CRC verified, that does not answer the request
    lrGatewayNoPath = -8,   // a Modbus TCP gateway has no path to the unit (exception 0x0A)
    lrGatewayNoAnswer = -9, // the unit did not answer the gateway in its time (exception 0x0B)
    lrBadParameters = -100  // a page refused to send its input
};
