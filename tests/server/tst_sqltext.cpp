#include "datetimetext.h"
#include "sqltext.h"

#include <QtTest>

class TestSqlText : public QObject
{
    Q_OBJECT
private slots:
    void fill_data();
    void fill();
    void dateTimeRead_data();
    void dateTimeRead();
};

void TestSqlText::fill_data()
{
    QTest::addColumn<QString>("statementTemplate");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QString>("expected");

    // Strings go in with text(), integers with number().
    QTest::addRow("plain") << "UPDATE machines SET name='%1' WHERE id=%2"
                           << QVariantList{"PC-042", 7}
                           << "UPDATE machines SET name='PC-042' WHERE id=7";
    QTest::addRow("apostrophe doubled")
        << "name='%1'" << QVariantList{"O'Brien's PC"} << "name='O''Brien''s PC'";
    QTest::addRow("quote cannot end literal")
        << "name='%1'" << QVariantList{"x'); DROP TABLE machines; --"}
        << "name='x''); DROP TABLE machines; --'";
    QTest::addRow("backslash kept")
        << "p='%1'" << QVariantList{"C:\\Program Files\\"} << "p='C:\\Program Files\\'";
    QTest::addRow("placeholder inside value not expanded")
        << "a='%1', b='%2'" << QVariantList{"%2", "two"} << "a='%2', b='two'";
    QTest::addRow("repeated placeholder") << "'%1','%1'" << QVariantList{"t"} << "'t','t'";
    QTest::addRow("unfilled placeholder stays") << "a=%1 b=%3" << QVariantList{1} << "a=1 b=%3";
    QTest::addRow("two-digit placeholder")
        << "%10,%1" << QVariantList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"} << "j,a";
    QTest::addRow("percent sign literal")
        << "LIKE '%x%' AND id=%1" << QVariantList{5} << "LIKE '%x%' AND id=5";
    QTest::addRow("negative number") << "status=%1" << QVariantList{-20} << "status=-20";
    QTest::addRow("NUL removed") << "'%1'"
                                 << QVariantList{QString(QStringLiteral("a") + QChar(0) +
                                                         QStringLiteral("b"))}
                                 << "'ab'";
    QTest::addRow("latin-1 kept") << "'%1'"
                                  << QVariantList{QString::fromLatin1("caf\xe9 \xd1o\xf1o")}
                                  << QString::fromLatin1("'caf\xe9 \xd1o\xf1o'");
}

void TestSqlText::fill()
{
    QFETCH(QString, statementTemplate);
    QFETCH(QVariantList, values);
    QFETCH(QString, expected);
    SqlText sql(statementTemplate);
    for (const QVariant &value : qAsConst(values)) {
        if (value.userType() == QMetaType::Int)
            sql.number(value.toInt());
        else
            sql.text(value.toString());
    }
    QCOMPARE(sql.toString(), expected);
}

void TestSqlText::dateTimeRead_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    const QDateTime dt(QDate(2026, 3, 29), QTime(2, 30, 5));
    QTest::addRow("QDateTime") << QVariant(dt) << "2026-03-29T02:30:05";
    QTest::addRow("written text") << QVariant(QStringLiteral("2026-12-11 09:02:03"))
                                  << "2026-12-11T09:02:03";
    QTest::addRow("read text") << QVariant(QStringLiteral("2026-12-11T09:02:03"))
                               << "2026-12-11T09:02:03";
    QTest::addRow("fractions") << QVariant(QStringLiteral("2026-12-11 09:02:03.250"))
                               << "2026-12-11T09:02:03";
    QTest::addRow("date only") << QVariant(QStringLiteral("2026-12-11")) << "2026-12-11T00:00:00";
    QTest::addRow("null") << QVariant(QVariant::String) << "";
    QTest::addRow("garbage") << QVariant(QStringLiteral("yesterday at noon")) << "";
    QTest::addRow("bad month") << QVariant(QStringLiteral("2026-13-11 09:02:03")) << "";
}

void TestSqlText::dateTimeRead()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QCOMPARE(DateTimeText::fromDatabase(value), expected);
    if (!expected.isEmpty())
        QCOMPARE(DateTimeText::parse(value).toString(DateTimeText::readFormat), expected);
}

QTEST_GUILESS_MAIN(TestSqlText)
#include "tst_sqltext.moc"
