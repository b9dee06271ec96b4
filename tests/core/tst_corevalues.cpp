// Values of the core library: the exception family and version numbers.
#include <Kor/KorCore.h>

#include <QTest>

#include <memory>

using namespace Kor::NS;

class tst_CoreValues : public QObject
{
    Q_OBJECT

private slots:
    // Null only without any text; a null pointer stands for an unknown one.
    void nullRules()
    {
        KorException none;
        KorException empty("");
        KorException nullText(static_cast<const char*>(nullptr));
        KorException emptyBytes(QByteArray(""));
        QCOMPARE(QList<bool>({ none.isNull(), empty.isNull(), nullText.isNull(), emptyBytes.isNull() }),
                 QList<bool>({ true, true, false, false }));
        QCOMPARE(QByteArrayList({ none.what(), empty.what(), nullText.what(), emptyBytes.what() }),
                 QByteArrayList({ "", "", "Unknown exception", "" }));
    }

    void stringForms()
    {
        KorException fromString(QStringLiteral("abc"));
        QCOMPARE(fromString.what(), "abc");
        QCOMPARE(fromString.byteMessage(), QStringLiteral("abc").toLocal8Bit());

        QByteArray withNul("ab\0cd", 5);
        KorException fromBytes(withNul);
        QCOMPARE(fromBytes.what(), "ab");
        QCOMPARE(fromBytes.byteMessage(), withNul);
    }

    // Whether a handler catches the family is the language's business.
    void fileBranch()
    {
        QCOMPARE(DirNotFoundException("x").error(), QFileDevice::NoError);
        const FileOpenException open(QFileDevice::OpenError, "x");
        QCOMPARE(open.error(), QFileDevice::OpenError);
        QCOMPARE(static_cast<const std::exception&>(open).what(), "x");
    }

    void copiesOwnTheirText()
    {
        auto original = std::make_unique<MachineIdException>("Failed to read MachineID from registry");
        MachineIdException copy(*original);
        MachineIdException assigned;
        assigned = *original;
        original.reset();
        assigned = assigned;
        QCOMPARE(copy.what(), "Failed to read MachineID from registry");
        QCOMPARE(assigned.what(), "Failed to read MachineID from registry");

        FileCopyException fileCopy(QFileDevice::CopyError, QByteArray("copy"));
        FileCopyException fileCopy2 = fileCopy;
        QCOMPARE(fileCopy2.error(), QFileDevice::CopyError);
        QCOMPARE(fileCopy2.what(), "copy");
    }

    void moveKeepsSourceText()
    {
        KorException source(QByteArray("moved"));
        KorException target(std::move(source));
        QCOMPARE(target.what(), "moved");
        QCOMPARE(target.byteMessage(), QByteArray("moved"));
        QCOMPARE(source.what(), "moved"); // NOLINT: the moved-from state is defined
    }

    void text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<unsigned>("high");
        QTest::addColumn<unsigned>("low");
        QTest::addColumn<unsigned>("build");
        QTest::addColumn<bool>("written"); // as toString writes it
        QTest::newRow("one digit") << " 1.02.03" << 1u << 2u << 3u << true;
        QTest::newRow("zero") << " 0.00.00" << 0u << 0u << 0u << true;
        QTest::newRow("two digits") << "10.11.12" << 10u << 11u << 12u << true;
        QTest::newRow("library") << "80.00.00" << 80u << 0u << 0u << true;
        QTest::newRow("wide") << "123.04.567" << 123u << 4u << 567u << true;
        QTest::newRow("two parts") << "8.1" << 8u << 1u << 0u << false;
        QTest::newRow("empty") << "" << 0u << 0u << 0u << false;
        QTest::newRow("four parts") << "1.2.3.4" << 1u << 2u << 3u << false;
        QTest::newRow("letters") << "a.b.c" << 0u << 0u << 0u << false;
        QTest::newRow("empty middle") << "1..3" << 1u << 0u << 3u << false;
        QTest::newRow("negative") << "-1.2.3" << 0xFFFFFFFFu << 2u << 3u << false;
    }

    void text()
    {
        QFETCH(QString, text);
        QFETCH(unsigned, high);
        QFETCH(unsigned, low);
        QFETCH(unsigned, build);
        QFETCH(bool, written);
        const VersionType v = VersionInfo::fromString(text);
        QCOMPARE(QList<unsigned>({ v.high, v.low, v.build }), QList<unsigned>({ high, low, build }));
        if (written) {
            QCOMPARE(VersionInfo::toString(high, low, build), text);
            QCOMPARE(VersionInfo::toString(v), text);
        }
    }
};

QTEST_APPLESS_MAIN(tst_CoreValues)
#include "tst_corevalues.moc"
