// Moving values between fields and members: what each kind of field takes,
// the message and focus of the first field that fails, and the name dialog,
// whose one field is plain text.

#include "EditorRig.h"
#include "editor/DataExchange.h"

#include <QDialog>
#include <QTest>

using tonvero::CInstrumentNameDlg;
using tonvero::DataExchange;
using tonvero::ScriptedPrompter;

class DataExchangeTest : public QObject {
    Q_OBJECT
private slots:
    void integersTakeDigitsWithASignAndSpacesAround() {
        QCOMPARE(DataExchange::parseInteger("42"), std::optional<int64_t>(42));
        QCOMPARE(DataExchange::parseInteger(" -7 "), std::optional<int64_t>(-7));
        QCOMPARE(DataExchange::parseInteger("+3"), std::optional<int64_t>(3));
        QCOMPARE(DataExchange::parseInteger(""), std::nullopt);
        QCOMPARE(DataExchange::parseInteger("-"), std::nullopt);
        QCOMPARE(DataExchange::parseInteger("1.5"), std::nullopt);
        QCOMPARE(DataExchange::parseInteger("12a"), std::nullopt);
        QCOMPARE(DataExchange::parseInteger("0x10"), std::nullopt);
    }

    void numbersTakePlainDecimalFormsOnly() {
        QCOMPARE(DataExchange::parseNumber("0.3"), std::optional<double>(0.3));
        QCOMPARE(DataExchange::parseNumber(".5"), std::optional<double>(0.5));
        QCOMPARE(DataExchange::parseNumber("5."), std::optional<double>(5.0));
        QCOMPARE(DataExchange::parseNumber("-0.5"), std::optional<double>(-0.5));
        QCOMPARE(DataExchange::parseNumber("1e3"), std::optional<double>(1000.0));
        QCOMPARE(DataExchange::parseNumber(""), std::nullopt);
        QCOMPARE(DataExchange::parseNumber("."), std::nullopt);
        QCOMPARE(DataExchange::parseNumber("1e"), std::nullopt);
        // Words a number parser might know are no numbers here: they would
        // pass a range check and make nonsense of the stored value.
        QCOMPARE(DataExchange::parseNumber("inf"), std::nullopt);
        QCOMPARE(DataExchange::parseNumber("nan"), std::nullopt);
        QCOMPARE(DataExchange::parseNumber("0x1p3"), std::nullopt);
        QCOMPARE(DataExchange::parseNumber("1,5"), std::nullopt);
    }

    void numbersShowWithUpToSixSignificantDigits() {
        QCOMPARE(DataExchange::formatNumber(0.25f), QString("0.25"));
        QCOMPARE(DataExchange::formatNumber(0.5f), QString("0.5"));
        QCOMPARE(DataExchange::formatNumber(0.0f), QString("0"));
        QCOMPARE(DataExchange::formatNumber(19660.0f / 65536.0f), QString("0.299988"));
        QCOMPARE(DataExchange::formatNumber(1000.0f), QString("1000"));
    }

    void saveStopsAtTheFirstFailingFieldWithItsMessageAndFocus() {
        ScriptedPrompter prompter;
        tonvero::setPrompter(&prompter);
        QDialog dialog;
        auto* a = new QLineEdit("12", &dialog);
        auto* b = new QLineEdit("-1", &dialog);
        auto* c = new QLineEdit("7", &dialog);
        dialog.show();
        int32_t first = 0;
        uint32_t second = 5;
        int32_t third = 0;
        DataExchange dx(&dialog, DataExchange::Save);
        dx.signedInteger(a, first);
        dx.unsignedInteger(b, second);
        dx.signedInteger(c, third);
        QVERIFY(dx.failed());
        QCOMPARE(first, 12);   // before the failure: the new value
        QCOMPARE(second, 5u);  // the failing field keeps its old value
        QCOMPARE(third, 0);    // after it: not read
        QCOMPARE(prompter.notices(), QStringList{DataExchange::kEnterUnsigned});
        QCOMPARE(dialog.focusWidget(), b);
        QCOMPARE(b->selectedText(), QString("-1"));
        tonvero::setPrompter(nullptr);
    }

    void outOfRangeIntegersAndNumbersFail() {
        ScriptedPrompter prompter;
        tonvero::setPrompter(&prompter);
        QLineEdit edit;
        int32_t i = 0;
        uint32_t u = 0;
        float f = 2.0f;
        const auto save = [&](const QString& text, auto field) {
            edit.setText(text);
            DataExchange dx(nullptr, DataExchange::Save);
            field(dx);
            return !dx.failed();
        };
        QVERIFY(save("2147483647", [&](DataExchange& dx) { dx.signedInteger(&edit, i); }));
        QVERIFY(!save("2147483648", [&](DataExchange& dx) { dx.signedInteger(&edit, i); }));
        QVERIFY(!save("x", [&](DataExchange& dx) { dx.signedInteger(&edit, i); }));
        QVERIFY(save("4294967295", [&](DataExchange& dx) { dx.unsignedInteger(&edit, u); }));
        QVERIFY(!save("4294967296", [&](DataExchange& dx) { dx.unsignedInteger(&edit, u); }));
        QVERIFY(!save("-0", [&](DataExchange& dx) { dx.unsignedInteger(&edit, u); }));
        QVERIFY(save("1000", [&](DataExchange& dx) { dx.number(&edit, f, 0.0f, 1000.0f); }));
        QCOMPARE(f, 1000.0f);
        QVERIFY(!save("1000.001", [&](DataExchange& dx) { dx.number(&edit, f, 0.0f, 1000.0f); }));
        QVERIFY(!save("-0.5", [&](DataExchange& dx) { dx.number(&edit, f, 0.0f, 1000.0f); }));
        QVERIFY(!save("1e999", [&](DataExchange& dx) { dx.number(&edit, f, 0.0f, 1000.0f); }));
        QVERIFY(!save("", [&](DataExchange& dx) { dx.number(&edit, f, 0.0f, 1000.0f); }));
        QCOMPARE(f, 1000.0f);
        QCOMPARE(prompter.notices(),
                 (QStringList{DataExchange::kEnterIntegerInRange, DataExchange::kEnterInteger,
                              DataExchange::kEnterUnsigned, DataExchange::kEnterUnsigned,
                              "Please enter a number between 0 and 1000.", "Please enter a number between 0 and 1000.",
                              "Please enter a number between 0 and 1000.", DataExchange::kEnterNumber}));
        tonvero::setPrompter(nullptr);
    }

    void nameDialogOkWithAnEmptyEditGivesAnEmptyName() {
        CInstrumentNameDlg dialog;
        QCOMPARE(dialog.windowTitle(), QString("Enter New Instrument Name"));
        dialog.show();
        static_cast<QAbstractButton*>(dialog.findChild<QWidget*>("control1"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_name, QString());
    }

    void nameDialogTakesTheNameExactlyAsTypedOnEnter() {
        CInstrumentNameDlg dialog;
        dialog.show();
        QTest::keyClicks(dialog.nameEdit(), "  Grand  ");
        QTest::keyClick(dialog.nameEdit(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_name, QString("  Grand  "));
    }

    void nameDialogEscapeCancelsAndKeepsTheNameEmpty() {
        CInstrumentNameDlg dialog;
        dialog.show();
        QTest::keyClicks(dialog.nameEdit(), "Organ");
        QTest::keyClick(dialog.nameEdit(), Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.m_name, QString());
    }
};

QTEST_MAIN(DataExchangeTest)
#include "DataExchange_test.moc"
