// The Setup dialog, driven through its controls with real key and mouse events.

#include "app/frmMain.h"
#include "app/frmSetup.h"
#include "faders/Twips.h"
#include "support/Controls.h"
#include "support/Rows.h"
#include "support/SettingsFile.h"
#include "transport/SwitcherLink.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

using TestSupport::Find;
using TestSupport::Row;
using Twips::px;

class SetupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmSetup> m_dialog;
    Settings m_settings; // what the dialog opens with

    frmSetup &open() {
        m_dialog = std::make_unique<frmSetup>(m_settings);
        m_dialog->show();
        return *m_dialog;
    }

    template <typename T> T *control(const QString &name) { return Find<T>(m_dialog.get(), name); }
    QLineEdit *chanBox(int row) { return control<QLineEdit>(ControlName("txtChan", row)); }
    QLabel *chanLabel(int row) { return control<QLabel>(ControlName("lblChan", row)); }

    // Opens Setup from the main window's menu, runs `use` on the dialog once it shows, and
    // returns when the dialog has closed and what it confirmed has been applied.
    void openFromMenu(const std::function<void(frmSetup &)> &use) {
        QTimer::singleShot(0, m_main.get(), [&] {
            auto *dialog = m_main->findChild<frmSetup *>();
            QVERIFY(dialog && dialog->isModal());
            m_dialog.reset();
            use(*dialog);
        });
        Find<QAction>(m_main.get(), "mnuSetup")->trigger();
    }

    // Replaces a field's text the way a user would: select everything, delete, then type.
    static void retype(QLineEdit *box, const QString &text) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

  private slots:
    void init() {
        TestSupport::removeSettingsFile();
        m_settings = Settings{};
        m_main = std::make_unique<frmMain>();
    }

    void cleanup() {
        m_dialog.reset();
        m_main.reset();
        TestSupport::removeSettingsFile();
    }

    // Every control of the form, in tab order: caption, position in twips (options inside
    // frmType) and its place in the focus chain (the accessible names are test_accessibility's).
    void controlTableAndTabOrder() {
        struct Row {
            const char *name, *caption;
            int x, y, w, h; // twips
        };
        const Row table[] = {
            {"lblChan_0", "Slider 1 Channel ", 240, 120, 2100, 255},
            {"txtChan_0", "", 2400, 120, 1815, 375},
            {"lblChan_1", "Slider 2 Channel ", 240, 720, 2100, 255},
            {"txtChan_1", "", 2400, 720, 1815, 375},
            {"frmType", "", 240, 1920, 3495, 1095},
            {"optInput", "Input Gain", 120, 240, 1500, 255},
            {"optOutput", "Output Gain", 1680, 240, 1755, 255},
            {"cmdOk", "&Ok", 240, 4440, 1335, 495},
            {"cmdCancel", "&Cancel", 2400, 4440, 1335, 495},
            {"lblIPPort", "IP Port", 360, 3360, 1980, 255},
            {"txtIPPort", "", 2400, 3240, 1815, 375},
            {"txtIPAddr", "", 2400, 3840, 1815, 375},
            {"lblAddress", "IP Address", 360, 3840, 1980, 255},
            {"txtChan_2", "", 2400, 1320, 1815, 375},
            {"lblChan_2", "Slider 3 Channel ", 240, 1320, 2100, 255},
            {"OptDSP", "DSP Gain", 120, 600, 1500, 255},
        };
        m_settings.iType = 2; // no option selected: the captions stay as drawn
        frmSetup &d = open();
        QCOMPARE(d.windowTitle(), QString("Setup"));
        QCOMPARE(d.size(), QSize(px(4455), px(5085)));
        QWidget *inChain = chanLabel(0);
        auto *frmType = control<QGroupBox>("frmType");
        for (const Row &row : table) {
            auto *widget = control<QWidget>(row.name);
            QCOMPARE(widget->geometry(), QRect(px(row.x), px(row.y), px(row.w), px(row.h)));
            if (!qobject_cast<QLineEdit *>(widget)) // labels' and buttons' text; none elsewhere
                QCOMPARE(widget->property("text").toString(), QString(row.caption));
            const bool option = qobject_cast<QRadioButton *>(widget);
            if (option || qobject_cast<QLabel *>(widget)) // no caption is cut off
                QVERIFY2(widget->sizeHint().width() <= widget->width(), row.name);
            QCOMPARE(widget->parentWidget(), option ? frmType : static_cast<QWidget *>(&d));
            QCOMPARE(inChain, widget);
            inChain = inChain->nextInFocusChain();
        }
    }

    // Loading, the relabelling by type, and OK without edits changing nothing (a negative
    // channel from a hand-edited file is shown with its sign and never taken).
    void opening_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("captions"); // the three rows, '|' between
        QTest::newRow("input") << 1 << "First Input Channel|Second Input Channel|Unused";
        QTest::newRow("output") << 3 << "First Output Channel|Second Output Channel|Unused";
        QTest::newRow("dsp") << 10 << "First Input Channel|Second Input Channel|Output Channel";
        QTest::newRow("type 2") << 2 << "Slider 1 Channel |Slider 2 Channel |Slider 3 Channel ";
    }

    void opening() {
        QFETCH(int, type);
        QFETCH(QString, captions);
        const QString selected =
            QMap<int, QString>{{1, "optInput"}, {3, "optOutput"}, {10, "OptDSP"}}[type];
        m_settings = {qint16(type), {4, 1023}, -4, QStringLiteral("10.1.2.3"), 70000};
        frmSetup &d = open();
        for (const char *name : {"optInput", "optOutput", "OptDSP"})
            QCOMPARE(control<QRadioButton>(name)->isChecked(), selected == name);
        const QStringList rows = captions.split('|');
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(chanLabel(row)->text(), rows[row]);
            QVERIFY(chanLabel(row)->sizeHint().width() <= chanLabel(row)->width());
        }
        QCOMPARE(chanLabel(2)->isEnabled(), rows[2] != "Unused");
        QCOMPARE(chanBox(2)->isEnabled(), rows[2] != "Unused");
        const QStringList shown{chanBox(0)->text(), chanBox(1)->text(), chanBox(2)->text(),
                                control<QLineEdit>("txtIPPort")->text(),
                                control<QLineEdit>("txtIPAddr")->text()};
        QCOMPARE(shown, QStringList({"5", "1024", "-3", "70000", "10.1.2.3"}));

        QTest::mouseClick(control<QPushButton>("cmdOk"), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.chosen() == m_settings);
    }

    // Each field starts as "15" with the cursor after the 1; what enters goes there (a drop at
    // the field's left edge goes in front). Only digits are taken, and full stops in the address.
    void enteredTextIsFiltered_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("how"); // 0 typed, 1 pasted, 2 dropped
        QTest::addColumn<QString>("entered");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("shown");
        QTest::newRow("channel typed") << "txtChan_0" << 0 << "1a-2.Z 3" << 4 << "11235";
        QTest::newRow("address typed") << "txtIPAddr" << 0 << "10.0.-0.a1 " << 9 << "110.0.0.15";
        QTest::newRow("non-latin digits pasted")
            << "txtChan_1" << 1 << QString::fromUtf8("a2-b.\u0662\uff13") << 2 << "125";
        QTest::newRow("port dropped") << "txtIPPort" << 2 << "80-80.x" << 4 << "808015";
    }

    void enteredTextIsFiltered() {
        QFETCH(QString, field);
        QFETCH(int, how);
        QFETCH(QString, entered);
        QFETCH(int, cursor);
        QFETCH(QString, shown);
        m_settings.iType = 10;
        open();
        auto *box = control<QLineEdit>(field);
        box->setText("15");
        box->setCursorPosition(1);
        if (how == 0) {
            QTest::keyClicks(box, entered);
        } else if (how == 1) {
            QGuiApplication::clipboard()->setText(entered);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        } else {
            QMimeData mime;
            mime.setText(entered);
            QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, {});
            QCoreApplication::sendEvent(box, &enter);
            QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, {});
            QCoreApplication::sendEvent(box, &drop);
        }
        QCOMPARE(box->text(), shown);
        QCOMPARE(box->cursorPosition(), cursor);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), QString(shown).remove(cursor - 1, 1));
    }

    // Switching the option, one entry typed into all three channel fields (the disabled one
    // too), then leaving. OK and Enter apply the type, channels 1..1024 stored 0-based (other
    // entries ignored), the main window's captions, boxes and timer and the settings file;
    // Cancel and the close box change nothing.
    void closing_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("leave"); // a button, Enter, or none: the close box
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("stored"); // 0-based; -1: unchanged
        Row("OK: input to DSP hides, 1 is 0", 1, "OptDSP", "1", "cmdOk", 10, 0);
        Row("Enter: DSP to output shows, 1024 is 1023", 10, "optOutput", "1024", "Enter", 3, 1023);
        Row("OK: 0 ignored", 10, "optInput", "0", "cmdOk", 1, -1);
        Row("OK: 1025 ignored", 1, "optOutput", "1025", "cmdOk", 3, -1);
        Row("OK: too large for 16 bits ignored", 3, "OptDSP", "99999", "cmdOk", 10, -1);
        Row("Cancel", 10, "optInput", "9", "cmdCancel", 10, -1);
        Row("close box", 10, "optInput", "9", "", 10, -1);
    }

    void closing() {
        QFETCH(int, before);
        QFETCH(QString, option);
        QFETCH(QString, entry);
        QFETCH(QString, leave);
        QFETCH(int, after);
        QFETCH(int, stored);
        m_main->ApplySetup({qint16(before), {10, 11}, 12, QStringLiteral("127.0.0.1"), 1250});
        TestSupport::removeSettingsFile();
        auto *lock = Find<QCheckBox>(m_main.get(), "chkLock");
        lock->setChecked(true);
        auto *tmrGain = Find<QTimer>(m_main.get(), "tmrGain");
        tmrGain->stop();
        tmrGain->setInterval(10);
        int result = -1;
        openFromMenu([&](frmSetup &d) {
            QTest::mouseClick(Find<QRadioButton>(&d, option), Qt::LeftButton);
            QLineEdit *third = Find<QLineEdit>(&d, "txtChan", 2);
            const bool thirdEnabled = third->isEnabled();
            for (int row = 0; row < 3; ++row) {
                QLineEdit *box = Find<QLineEdit>(&d, "txtChan", row);
                box->setEnabled(true); // a disabled box takes no keys
                retype(box, entry);
            }
            third->setEnabled(thirdEnabled);
            connect(&d, &QDialog::finished, this, [&result](int r) { result = r; });
            if (leave == "Enter")
                QTest::keyClick(Find<QLineEdit>(&d, "txtChan", 0), Qt::Key_Return);
            else if (leave.isEmpty())
                d.close();
            else
                QTest::mouseClick(Find<QPushButton>(&d, leave), Qt::LeftButton);
        });
        const bool ok = leave == "cmdOk" || leave == "Enter";
        QCOMPARE(result, int(ok ? QDialog::Accepted : QDialog::Rejected));
        const Settings &now = m_main->settings();
        QCOMPARE(now.iType, qint16(after));
        const auto expect = [stored](int before) { return qint16(stored < 0 ? before : stored); };
        QCOMPARE(now.iChan, (std::array{expect(10), expect(11)}));
        QCOMPARE(now.iOutChan, expect(12));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(Find<QLabel>(m_main.get(), "lblChan", i)->text(),
                     QString("Ch. %1").arg(expect(10 + i) + 1));
        const bool shown = after != 10;
        for (const char *box : {"chkLock", "chkStereo_0", "chkStereo_1"})
            QCOMPARE(Find<QCheckBox>(m_main.get(), box)->isVisibleTo(m_main.get()), shown);
        QVERIFY(lock->isChecked()); // hidden boxes keep their state
        QCOMPARE(tmrGain->isActive(), ok);
        QCOMPARE(tmrGain->interval(), 10);
        const QString file = QString::asprintf(
            "[CONFIGURATION]\nType=%d\nChan 1=%d\nChan 2=%d\nOut Chan=%d\nIP Address=127.0.0.1\n"
            "IP Port=1250\n",
            after, expect(10) + 1, expect(11) + 1, expect(12) + 1);
        QCOMPARE(TestSupport::readSettingsFile(), ok ? file.toLatin1() : QByteArray());
    }

    // Already counting: OK enables the timer without restarting its interval.
    void okLeavesARunningGainTimerAlone() {
        auto *tmrGain = Find<QTimer>(m_main.get(), "tmrGain");
        tmrGain->start(1000);
        QTest::qWait(300);
        openFromMenu([](frmSetup &d) { Find<QPushButton>(&d, "cmdOk")->click(); });
        QVERIFY(tmrGain->isActive());
        QVERIFY(tmrGain->remainingTime() <= 800);
    }

    void okReconnectsOnlyOnAChange_data() {
        QTest::addColumn<QString>("port"); // typed; %1 is the port of the listener expected
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("retrying"); // the first switcher went before Setup opened
        QTest::newRow("as loaded") << "%1" << false << false;
        QTest::newRow("leading zero") << "0%1" << false << false;
        QTest::newRow("too large for 32 bits") << "4294967296%1" << false << false;
        QTest::newRow("changed") << "%1" << true << false;
        QTest::newRow("changed while retrying the old one") << "%1" << true << true;
    }

    // Against real loopback listeners: the panel starts connected to the first.
    void okReconnectsOnlyOnAChange() {
        QFETCH(QString, port);
        QFETCH(bool, changed);
        QFETCH(bool, retrying);
        TestSupport::BoxDismisser boxes;
        QTcpServer first, second;
        QVERIFY(first.listen(QHostAddress::LocalHost) && second.listen(QHostAddress::LocalHost));
        Settings start = m_main->settings();
        start.lIPPort = first.serverPort();
        m_main->ApplySetup(start); // a new port: connects there
        SwitcherLink &link = m_main->link();
        QVERIFY(first.waitForNewConnection(2000));
        QTRY_VERIFY_WITH_TIMEOUT(link.bConnected(), 2000);
        QTcpSocket *firstPeer = first.nextPendingConnection();
        QSignalSpy firstClosed(firstPeer, &QTcpSocket::disconnected);
        if (retrying) {
            firstPeer->close();
            QTRY_COMPARE_WITH_TIMEOUT(link.state(), LinkState::Connecting, 2000);
        }

        QTcpServer &expected = changed ? second : first;
        openFromMenu([&](frmSetup &d) {
            retype(Find<QLineEdit>(&d, "txtIPPort"), port.arg(expected.serverPort()));
            QTest::mouseClick(Find<QPushButton>(&d, "cmdOk"), Qt::LeftButton);
        });
        QCOMPARE(m_main->settings().lIPPort, qint32(expected.serverPort()));
        if (changed) {
            QVERIFY(second.waitForNewConnection(2000));
            QTRY_COMPARE_WITH_TIMEOUT(firstClosed.count(), 1, 2000);
            if (retrying) // the old switcher's retries stopped
                QVERIFY(!first.waitForNewConnection(1500));
        } else {
            QTest::qWait(100);
            QVERIFY(!first.hasPendingConnections() && !second.hasPendingConnections());
            QCOMPARE(firstClosed.count(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(link.bConnected(), 2000);
        QVERIFY(boxes.shown().isEmpty());
    }

    // Port 0 is stored as typed; connecting to it then fails and says so.
    void okStoresPortZero() {
        TestSupport::BoxDismisser boxes;
        openFromMenu([](frmSetup &d) {
            retype(Find<QLineEdit>(&d, "txtIPAddr"), "127.0.0.2");
            retype(Find<QLineEdit>(&d, "txtIPPort"), "0");
            QTest::mouseClick(Find<QPushButton>(&d, "cmdOk"), Qt::LeftButton);
        });
        QCOMPARE(m_main->settings().lIPPort, 0);
        QCOMPARE(m_main->settings().sIPAddress, QString("127.0.0.2"));
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(TestSupport::readSettingsFile().endsWith("IP Address=127.0.0.2\nIP Port=0\n"));
    }
};

QTEST_MAIN(SetupTest)
#include "test_setup.moc"
