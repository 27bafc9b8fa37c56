// Finding an entry of the program list by typing its name or its number.

#include "editor/ProgramList.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

using tonvero::enableProgramSearch;
using tonvero::findProgramEntry;
using tonvero::kProgramListEntries;
using tonvero::programListEntry;

class ProgramListTest : public QObject {
    Q_OBJECT
private slots:
    void namesAndNumbersFindTheirEntries() {
        QCOMPARE(findProgramEntry("fid"), 110);
        QCOMPARE(findProgramEntry("FIDDLE"), 110);
        QCOMPARE(findProgramEntry("110"), 110);
        QCOMPARE(findProgramEntry("7"), 7);
        QCOMPARE(findProgramEntry("guitar"), 31);  // "Guitar Harmonics" starts so, before 24 which holds it
        QCOMPARE(findProgramEntry("nylon"), 24);
        QCOMPARE(findProgramEntry("drum"), 128);
        QCOMPARE(findProgramEntry("violin"), 40);
        QCOMPARE(findProgramEntry("129"), -1);
        QCOMPARE(findProgramEntry("zzz"), -1);
        QCOMPARE(findProgramEntry(""), -1);
    }

    void typingIntoTheListChoosesAsTheUserWould() {
        QComboBox list;
        for (int p = 0; p < kProgramListEntries; ++p) list.addItem(programListEntry(p));
        enableProgramSearch(&list);
        QSignalSpy chosen(&list, &QComboBox::activated);
        QTest::keyClicks(&list, "fid");
        QCOMPARE(list.currentIndex(), 110);
        QCOMPARE(chosen.last().at(0).toInt(), 110);
        // Something nothing holds changes nothing; Ctrl keys are not searched.
        QTest::keyClicks(&list, "qq");
        QCOMPARE(list.currentIndex(), 110);
        QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(list.currentIndex(), 110);
    }
};

QTEST_MAIN(ProgramListTest)
#include "ProgramList_test.moc"
