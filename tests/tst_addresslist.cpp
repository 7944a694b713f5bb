// The lists of addresses that the bus window, the clone window, indicator-cli and indicator-sim
// read: the lists a person types, and the ones refused with the words that say why.
#include "addresslist.h"

#include <QTest>

class TestAddressList : public QObject
{
    Q_OBJECT

private slots:
    void listsAreReadStrictly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("addresses"); // empty: refused
        QTest::addColumn<QString>("error");
        QTest::newRow("one") << "7" << QList<int>{7} << "";
        QTest::newRow("a range") << "1-5" << QList<int>{1, 2, 3, 4, 5} << "";
        QTest::newRow("single ones") << "3,8,21" << QList<int>{3, 8, 21} << "";
        QTest::newRow("ranges and single") << "1-3,7" << QList<int>{1, 2, 3, 7} << "";
        QTest::newRow("blanks") << " 5 ,  9 - 10 " << QList<int>{5, 9, 10} << "";
        QTest::newRow("the order given, each once") << "7, 1-3, 2" << QList<int>{7, 1, 2, 3} << "";
        QTest::newRow("the bounds") << "1,247" << QList<int>{1, 247} << "";
        QTest::newRow("broadcast") << "0" << QList<int>{} << "адрес 0 вне 1..247";
        QTest::newRow("beyond 247") << "246-248" << QList<int>{} << "адрес 248 вне 1..247";
        QTest::newRow("beyond an int") << "99999999999" << QList<int>{} << "адрес 99999999999 вне 1..247";
        QTest::newRow("backwards") << "5-3" << QList<int>{} << "в диапазоне 5-3 первый адрес больше последнего";
        QTest::newRow("letters") << "1, a" << QList<int>{} << "«a» — не адрес и не диапазон адресов, например 1-5, 7";
        QTest::newRow("a sign") << "-3" << QList<int>{} << "«-3» — не адрес и не диапазон адресов, например 1-5, 7";
        QTest::newRow("two dashes") << "1-2-3" << QList<int>{} << "«1-2-3» — не адрес и не диапазон адресов, например 1-5, 7";
        QTest::newRow("a gap between commas") << "1,,2" << QList<int>{} << "между запятыми нет адреса";
        QTest::newRow("nothing") << " " << QList<int>{} << "адреса не заданы, например 1-5, 7";
    }

    void listsAreReadStrictly()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, addresses);
        QFETCH(QString, error);
        QString why;
        const QList<quint8> parsed = AddressList::parse(text, &why);
        QCOMPARE(QList<int>(parsed.begin(), parsed.end()), addresses);
        QCOMPARE(why, error);
    }
};

QTEST_GUILESS_MAIN(TestAddressList)
#include "tst_addresslist.moc"
