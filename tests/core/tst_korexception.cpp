#include <Kor/KorCore.h>

#include <QTest>

#include <memory>

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
