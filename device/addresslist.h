#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Lists of slave addresses as a person types them: "1-5", "3,8,21", "1-3, 7". The windows, the
// command line and the simulator read them here, so that each takes the same lists and refuses
// the same ones with the same words.
namespace AddressList {

// The addresses in the order given, each once, all within a slave's 1..247 (0 is broadcast, to
// which no unit answers). Empty items between commas are passed over. Empty, with error set to
// what is wrong in the window's words, when the text is no such list.
QList<quint8> parse(const QString &text, QString *error);

} // namespace AddressList
