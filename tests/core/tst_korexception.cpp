#include <Kor/KorCore.h>

#include <QTest>

#include <memory>
#include <stdexcept>

using namespace Kor::NS;

class tst_KorException : public QObject
{
    Q_OBJECT

private slots:
    void nullRules()
    {
        KorException none;
        QCOMPARE(none.what(), "");
        QVERIFY(none.isNull());

        KorException empty("");
        QCOMPARE(empty.what(), "");
        QVERIFY(empty.isNull());

        KorException nullText(static_cast<const char*>(nullptr));
        QCOMPARE(nullText.what(), "Unknown exception");
        QVERIFY(!nullText.isNull());

        KorException emptyBytes(QByteArray(""));
        QCOMPARE(emptyBytes.what(), "");
        QVERIFY(!emptyBytes.isNull());
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

    void fileBranch()
    {
        QCOMPARE(DirNotFoundException("x").error(), QFileDevice::NoError);
        QCOMPARE(FileOpenException(QFileDevice::OpenError, "x").error(), QFileDevice::OpenError);

        int caught = 0;
        try { throw FileOpenException(QFileDevice::OpenError, "x"); } catch (const FileException& e) { caught += e.error() == QFileDevice::OpenError; }
        try { throw FileOpenException(QFileDevice::OpenError, "x"); } catch (const KorException&) { ++caught; }
        try { throw FileOpenException(QFileDevice::OpenError, "x"); } catch (const std::exception& e) { caught += QByteArray(e.what()) == "x"; }
        QCOMPARE(caught, 3);

        // A std::exception that is not of the family stays out of KorException handlers.
        bool foreign = false;
        try {
            try { throw std::runtime_error("r"); } catch (const KorException&) { QFAIL("caught a foreign exception"); }
        } catch (const std::exception&) { foreign = true; }
        QVERIFY(foreign);
    }

    void copiesOwnTheirText()
    {
        auto original = std::make_unique<MachineIdException>("Failed to read MachineID from registry");
        MachineIdException copy(*original);
        MachineIdException assigned;
        assigned = *original;
        original.reset();
        QCOMPARE(copy.what(), "Failed to read MachineID from registry");
        QCOMPARE(assigned.what(), "Failed to read MachineID from registry");

        assigned = assigned;
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
};


QTEST_APPLESS_MAIN(tst_KorException)
#include "tst_korexception.moc"
