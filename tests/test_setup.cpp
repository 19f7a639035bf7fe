// The Setup dialog, driven through its controls with real key and mouse events.

#include "app/Twips.h"
#include "app/Variables.h"
#include "app/frmMain.h"
#include "config/frmSetup.h"
#include "protocol/Seams.h"
#include "support/SettingsFile.h"
#include "transport/TcpLink.h"

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
#include <memory>

using namespace Variables;
using Twips::px;

class SetupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmSetup> m_dialog;
    int m_connectFailures = 0;

    frmSetup &open() {
        m_dialog = std::make_unique<frmSetup>(m_main.get());
        m_dialog->show();
        return *m_dialog;
    }

    template <typename T> T *control(const QString &name) {
        auto *widget = m_dialog->findChild<T *>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }

    // Replaces a field's text the way a user would: select everything, delete, then type.
    static void retype(QLineEdit *box, const QString &text) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

  private slots:
    void init() {
        ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        TestSupport::removeSettingsFile();
        m_main = std::make_unique<frmMain>();
        m_connectFailures = 0;
        TCPComm::seams().reportConnectFailure = [this] { ++m_connectFailures; };
    }

    void cleanup() {
        m_dialog.reset();
        m_main.reset();
        TestSupport::removeSettingsFile();
    }

    // Every control of the form, in tab order: caption, position in twips (options inside
    // frmType), an accessible name, and its place in the focus chain.
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
        iType = 2; // no option selected: the captions stay as drawn
        frmSetup &d = open();
        QCOMPARE(d.windowTitle(), QString("Setup"));
        QCOMPARE(d.size(), QSize(px(4455), px(5085)));
        QWidget *inChain = d.lblChan[0];
        for (const Row &row : table) {
            auto *widget = control<QWidget>(row.name);
            QCOMPARE(widget->geometry(), QRect(px(row.x), px(row.y), px(row.w), px(row.h)));
            QVERIFY2(!widget->accessibleName().isEmpty(), row.name);
            if (!qobject_cast<QLineEdit *>(widget)) // labels' and buttons' text; none elsewhere
                QCOMPARE(widget->property("text").toString(), QString(row.caption));
            const bool option = qobject_cast<QRadioButton *>(widget);
            if (option || qobject_cast<QLabel *>(widget)) // no caption is cut off
                QVERIFY2(widget->sizeHint().width() <= widget->width(), row.name);
            QCOMPARE(widget->parentWidget(), option ? d.frmType : static_cast<QWidget *>(&d));
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
        iType = static_cast<qint16>(type);
        iChan = {4, 1023};
        iOutChan = -4;
        sIPAddress = QStringLiteral("10.1.2.3");
        lIPPort = 70000;
        frmSetup &d = open();
        for (const char *name : {"optInput", "optOutput", "OptDSP"})
            QCOMPARE(control<QRadioButton>(name)->isChecked(), selected == name);
        const QStringList rows = captions.split('|');
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(d.lblChan[row]->text(), rows[row]);
            QVERIFY(d.lblChan[row]->sizeHint().width() <= d.lblChan[row]->width());
        }
        QCOMPARE(d.lblChan[2]->isEnabled(), rows[2] != "Unused");
        QCOMPARE(d.txtChan[2]->isEnabled(), rows[2] != "Unused");
        const QStringList shown{d.txtChan[0]->text(), d.txtChan[1]->text(), d.txtChan[2]->text(),
                                d.txtIPPort->text(), d.txtIPAddr->text()};
        QCOMPARE(shown, QStringList({"5", "1024", "-3", "70000", "10.1.2.3"}));

        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QCOMPARE(iType, qint16(type));
        QCOMPARE(iOutChan, qint16(-4));
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
        QTest::newRow("port typed") << "txtIPPort" << 0 << "12.5-0x" << 5 << "112505";
        QTest::newRow("address typed") << "txtIPAddr" << 0 << "10.0.-0.a1 " << 9 << "110.0.0.15";
        QTest::newRow("non-latin digits pasted")
            << "txtChan_1" << 1 << QString::fromUtf8("a2-b.\u0662\uff13") << 2 << "125";
        QTest::newRow("address pasted")
            << "txtIPAddr" << 1 << " 192.168.x1.-2" << 12 << "1192.168.1.25";
        QTest::newRow("port dropped") << "txtIPPort" << 2 << "80-80.x" << 4 << "808015";
    }

    void enteredTextIsFiltered() {
        QFETCH(QString, field);
        QFETCH(int, how);
        QFETCH(QString, entered);
        QFETCH(int, cursor);
        QFETCH(QString, shown);
        iType = 10;
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
        const auto row = [](const char *name, int before, const char *option, const char *entry,
                            const char *leave, int after, int stored) {
            QTest::newRow(name) << before << QString(option) << QString(entry) << QString(leave)
                                << after << stored;
        };
        row("OK: input to DSP hides, 1 is 0", 1, "OptDSP", "1", "cmdOk", 10, 0);
        row("Enter: DSP to output shows, 1024 is 1023", 10, "optOutput", "1024", "Enter", 3, 1023);
        row("OK: DSP to input shows", 10, "optInput", "9", "cmdOk", 1, 8);
        row("OK: 0 ignored", 10, "optInput", "0", "cmdOk", 1, -1);
        row("OK: 1025 ignored", 1, "optOutput", "1025", "cmdOk", 3, -1);
        row("OK: too large for 16 bits ignored", 3, "OptDSP", "99999", "cmdOk", 10, -1);
        row("Cancel", 10, "optInput", "9", "cmdCancel", 10, -1);
        row("close box", 10, "optInput", "9", "", 10, -1);
    }

    void closing() {
        QFETCH(int, before);
        QFETCH(QString, option);
        QFETCH(QString, entry);
        QFETCH(QString, leave);
        QFETCH(int, after);
        QFETCH(int, stored);
        iType = static_cast<qint16>(before);
        iChan = {10, 11};
        iOutChan = 12;
        m_main->ShowChannelCaptions();
        m_main->ShowStereoAndLock();
        m_main->chkLock->setChecked(true);
        m_main->tmrGain->stop();
        m_main->tmrGain->setInterval(10);
        frmSetup &d = open();
        QTest::mouseClick(control<QRadioButton>(option), Qt::LeftButton);
        const bool thirdEnabled = d.txtChan[2]->isEnabled();
        for (auto *box : d.txtChan) {
            box->setEnabled(true); // a disabled box takes no keys
            retype(box, entry);
        }
        d.txtChan[2]->setEnabled(thirdEnabled);
        if (leave == "Enter")
            QTest::keyClick(d.txtChan[0], Qt::Key_Return);
        else if (leave.isEmpty())
            d.close();
        else
            QTest::mouseClick(control<QPushButton>(leave), Qt::LeftButton);
        const bool ok = leave == "cmdOk" || leave == "Enter";
        QCOMPARE(d.result(), int(ok ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(iType, qint16(after));
        const auto expect = [stored](int before) { return qint16(stored < 0 ? before : stored); };
        QCOMPARE(iChan, (std::array{expect(10), expect(11)}));
        QCOMPARE(iOutChan, expect(12));
        QCOMPARE(m_main->lblChan[0]->text(), QString("Ch. %1").arg(expect(10) + 1));
        QCOMPARE(m_main->lblChan[1]->text(), QString("Ch. %1").arg(expect(11) + 1));
        const bool shown = after != 10;
        QCOMPARE(m_main->chkLock->isVisibleTo(m_main.get()), shown);
        for (auto *box : m_main->chkStereo)
            QCOMPARE(box->isVisibleTo(m_main.get()), shown);
        QVERIFY(m_main->chkLock->isChecked()); // hidden boxes keep their state
        QCOMPARE(m_main->tmrGain->isActive(), ok);
        QCOMPARE(m_main->tmrGain->interval(), 10);
        const QString file = QString::asprintf(
            "[CONFIGURATION]\nType=%d\nChan 1=%d\nChan 2=%d\nOut Chan=%d\nIP Address=127.0.0.1\n"
            "IP Port=1250\n",
            after, expect(10) + 1, expect(11) + 1, expect(12) + 1);
        QCOMPARE(TestSupport::readSettingsFile(), ok ? file.toLatin1() : QByteArray());
    }

    // Already counting: OK enables the timer without restarting its interval.
    void okLeavesARunningGainTimerAlone() {
        open();
        m_main->tmrGain->start(1000);
        QTest::qWait(300);
        m_dialog->cmdOk->click();
        QVERIFY(m_main->tmrGain->isActive());
        QVERIFY(m_main->tmrGain->remainingTime() <= 800);
    }

    void okReconnectsOnlyOnAChange_data() {
        QTest::addColumn<QString>("port"); // typed; %1 is the port of the listener expected
        QTest::addColumn<bool>("changed");
        QTest::newRow("as loaded") << "%1" << false;
        QTest::newRow("leading zero") << "0%1" << false;
        QTest::newRow("too large for 32 bits") << "4294967296%1" << false;
        QTest::newRow("changed") << "%1" << true;
    }

    // Against real loopback listeners: the panel starts connected to the first.
    void okReconnectsOnlyOnAChange() {
        QFETCH(QString, port);
        QFETCH(bool, changed);
        QTcpServer first, second;
        QVERIFY(first.listen(QHostAddress::LocalHost) && second.listen(QHostAddress::LocalHost));
        lIPPort = first.serverPort();
        TCPComm::ConnectSwitcher();
        QVERIFY(first.waitForNewConnection(2000));
        QTRY_VERIFY_WITH_TIMEOUT(bConnected, 2000);
        QSignalSpy firstClosed(first.nextPendingConnection(), &QTcpSocket::disconnected);

        frmSetup &d = open();
        QTcpServer &expected = changed ? second : first;
        retype(d.txtIPPort, port.arg(expected.serverPort()));
        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QCOMPARE(lIPPort, qint32(expected.serverPort()));
        if (changed) {
            QVERIFY(second.waitForNewConnection(2000));
            QTRY_COMPARE_WITH_TIMEOUT(firstClosed.count(), 1, 2000);
        } else {
            QTest::qWait(100);
            QVERIFY(!first.hasPendingConnections() && !second.hasPendingConnections());
            QCOMPARE(firstClosed.count(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(bConnected, 2000);
        QCOMPARE(m_connectFailures, 0);
    }

    // Port 0 is stored as typed; connecting to it then fails and says so.
    void okStoresPortZero() {
        frmSetup &d = open();
        retype(d.txtIPAddr, "127.0.0.2");
        retype(d.txtIPPort, "0");
        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QCOMPARE(lIPPort, 0);
        QCOMPARE(sIPAddress, QString("127.0.0.2"));
        QCOMPARE(m_connectFailures, 1);
        QVERIFY(TestSupport::readSettingsFile().endsWith("IP Address=127.0.0.2\nIP Port=0\n"));
    }
};

QTEST_MAIN(SetupTest)
#include "test_setup.moc"
