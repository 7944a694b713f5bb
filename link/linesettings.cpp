#include "linesettings.h"

#include <QString>

#include <algorithm>

namespace LineSettings {

namespace {
template <typename Table>
std::optional<typename Table::value_type> entry(const Table &table, quint8 index)
{
    if (index >= table.size())
        return std::nullopt;
    return table[index];
}
} // namespace

std::optional<quint32> baudRate(quint8 index) { return entry(BaudRates, index); }
std::optional<quint8> speedNumber(quint32 baud)
{
    const auto row = std::find(BaudRates.begin(), BaudRates.end(), baud);
    if (row == BaudRates.end())
        return std::nullopt;
    return quint8(row - BaudRates.begin());
}

std::optional<ParityCode> parity(quint8 index) { return entry(Parities, index); }
std::optional<StopBitsCode> stopBits(quint8 index) { return entry(StopBits, index); }

std::optional<quint8> parityRow(QStringView name)
{
    const auto row = std::find_if(ParityNames.begin(), ParityNames.end(),
                                  [name](const char *known) { return name == QLatin1StringView(known); });
    if (row == ParityNames.end())
        return std::nullopt;
    return quint8(row - ParityNames.begin());
}

std::optional<quint8> stopBitsRow(double count)
{
    const auto row = std::find(StopBitCounts.begin(), StopBitCounts.end(), count);
    if (row == StopBitCounts.end())
        return std::nullopt;
    return quint8(row - StopBitCounts.begin());
}

int characterTimeMs(quint32 baud)
{
    return int((quint32(bitsPerCharacter) * 1000 + baud - 1) / baud);
}

} // namespace LineSettings
