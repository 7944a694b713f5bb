#pragma once

#include <QtGlobal>

#include <array>

// Every device value is a run of consecutive holding registers, addressed in the program by a
// parameter id. Registers and lengths are the device's; the ids are ours.
enum TParamId : qint16 {
    prmDataCur = 0,
    prmDataTxt = 1,
    prmData2 = 2,
    prmClbrData = 3,
    prmSelfDiag = 4,
    prmEEPROMErr = 5,
    prmInformationProgVer = 6,
    prmPortNetAddr = 7,
    prmPortSpeed = 8,
    prmPortStopBit = 9,
    prmPortParity = 10,
    prmClbrBottom = 11,
    prmClbrTop = 12,
    prmModeDeadSpace = 13,
    prmModeRangeSet = 14,
    prmModeBottomRange = 15,
    prmModeTopRange = 16,
    prmModeRElSignalBottomRange = 17,
    prmModeRElSignalTopRange = 18,
    prmModeDecimalPointPos = 19,
    prmModeBrightness = 20,
    prmModeUnit = 21,
    prmModeScaleType = 22,
    prmModeBlink = 23,
    prmInformationDevName = 24,
};

struct TParamInfo
{
    quint16 Register; // first holding register
    quint8 Bytes;     // length in bytes, always even: Bytes / 2 registers
};

// Indexed by TParamId.
inline constexpr std::array<TParamInfo, 25> ParamMap{{
    {0x0000, 4},  // prmDataCur: live reading, register float
    {0x0007, 6},  // prmDataTxt: live reading as display text
    {0x0002, 4},  // prmData2
    {0x0004, 2},  // prmClbrData: calibration value
    {0x0005, 2},  // prmSelfDiag: self-diagnostic flags
    {0x0006, 2},  // prmEEPROMErr: EEPROM error flags
    {0x0100, 20}, // prmInformationProgVer: firmware version, register text
    {0x0800, 2},  // prmPortNetAddr
    {0x0801, 2},  // prmPortSpeed
    {0x0802, 2},  // prmPortStopBit
    {0x0803, 2},  // prmPortParity
    {0x0900, 2},  // prmClbrBottom
    {0x0901, 2},  // prmClbrTop
    {0x0A00, 4},  // prmModeDeadSpace, register float
    {0x0A02, 4},  // prmModeRangeSet, register float
    {0x0A04, 4},  // prmModeBottomRange, register float
    {0x0A06, 4},  // prmModeTopRange, register float
    {0x0A08, 4},  // prmModeRElSignalBottomRange, register float
    {0x0A0A, 4},  // prmModeRElSignalTopRange, register float
    {0x0A0C, 2},  // prmModeDecimalPointPos: code 0..3
    {0x0A0D, 2},  // prmModeBrightness: level 0..2
    {0x0A0E, 6},  // prmModeUnit, register text
    {0x0A11, 2},  // prmModeScaleType: code 0..3
    {0x0A12, 2},  // prmModeBlink: flag
    {0x0B00, 20}, // prmInformationDevName, register text
}};
