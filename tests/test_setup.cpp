// The Setup dialog, driven through its controls with real key and mouse events.

#include "app/Twips.h"
#include "app/Variables.h"
#include "app/frmMain.h"
#include "config/frmSetup.h"
#include "protocol/Seams.h"
#include "support/SettingsFile.h"
#include "transport/TcpLink.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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

    template <typename T> T *control(const char *name) {
        auto *widget = m_dialog->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }

    // Types text key by key; characters outside Latin-1 (which QTest cannot type) arrive as
    // the key events an input method would send.
    static void type(QLineEdit *box, const QString &text) {
        for (const QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClick(box, c.toLatin1());
                continue;
            }
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(box, &press);
            QCoreApplication::sendEvent(box, &release);
        }
    }

    // Replaces a field's text the way a user would: select everything, delete, then type.
    static void retype(QLineEdit *box, const QString &text) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        type(box, text);
    }

    // The panel connects to a listening socket of the test and waits until it is through.
    static void connectTo(QTcpServer &server) {
        sIPAddress = QStringLiteral("127.0.0.1");
        lIPPort = server.serverPort();
        TCPComm::ConnectSwitcher();
        QVERIFY(server.waitForNewConnection(2000));
        QTRY_VERIFY_WITH_TIMEOUT(bConnected, 2000);
    }

    static QMap<QString, QString> settingsKeys(const QByteArray &file) {
        QMap<QString, QString> keys;
        for (const QByteArray &line : file.split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                keys.insert(QString::fromLatin1(line.left(eq)).trimmed(),
                            QString::fromLatin1(line.mid(eq + 1)).trimmed());
        }
        return keys;
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
            QRect twips;
        };
        const Row table[] = {
            {"lblChan_0", "Slider 1 Channel ", {240, 120, 1935, 255}},
            {"txtChan_0", "", {2400, 120, 1815, 375}},
            {"lblChan_1", "Slider 2 Channel ", {240, 720, 1815, 255}},
            {"txtChan_1", "", {2400, 720, 1815, 375}},
            {"frmType", "", {240, 1920, 3495, 1095}},
            {"optInput", "Input Gain", {120, 240, 1095, 255}},
            {"optOutput", "Output Gain", {1680, 240, 1215, 255}},
            {"cmdOk", "&Ok", {240, 4440, 1335, 495}},
            {"cmdCancel", "&Cancel", {2400, 4440, 1335, 495}},
            {"lblIPPort", "IP Port", {360, 3360, 975, 255}},
            {"txtIPPort", "", {2400, 3240, 1815, 375}},
            {"txtIPAddr", "", {2400, 3840, 1815, 375}},
            {"lblAddress", "IP Address", {360, 3840, 1215, 255}},
            {"txtChan_2", "", {2400, 1320, 1815, 375}},
            {"lblChan_2", "Slider 3 Channel ", {240, 1320, 1815, 255}},
            {"OptDSP", "DSP Gain", {120, 600, 1095, 255}},
        };
        iType = 2; // no option selected: the captions stay as drawn
        open();
        QCOMPARE(m_dialog->windowTitle(), QString("Setup"));
        QCOMPARE(m_dialog->size(), QSize(px(4455), px(5085)));
        QWidget *inChain = m_dialog->lblChan[0];
        for (const Row &row : table) {
            auto *widget = control<QWidget>(row.name);
            const QRect &t = row.twips;
            QCOMPARE(widget->geometry(),
                     QRect(px(t.x()), px(t.y()), px(t.width()), px(t.height())));
            QVERIFY2(!widget->accessibleName().isEmpty(), row.name);
            if (auto *label = qobject_cast<QLabel *>(widget))
                QCOMPARE(label->text(), QString(row.caption));
            if (auto *button = qobject_cast<QAbstractButton *>(widget))
                QCOMPARE(button->text(), QString(row.caption));
            if (qobject_cast<QRadioButton *>(widget))
                QCOMPARE(widget->parentWidget(), control<QWidget>("frmType"));
            QCOMPARE(inChain, widget);
            inChain = inChain->nextInFocusChain();
        }
    }

    void opening_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<bool>("thirdRowEnabled");
        QTest::newRow("input") << 1 << "optInput"
                               << QStringList{"First Input Channel", "Second Input Channel",
                                              "Unused"}
                               << false;
        QTest::newRow("output") << 3 << "optOutput"
                                << QStringList{"First Output Channel", "Second Output Channel",
                                               "Unused"}
                                << false;
        QTest::newRow("dsp") << 10 << "OptDSP"
                             << QStringList{"First Input Channel", "Second Input Channel",
                                            "Output Channel"}
                             << true;
        QTest::newRow("hand-edited 2")
            << 2 << "" << QStringList{"Slider 1 Channel ", "Slider 2 Channel ", "Slider 3 Channel "}
            << true;
    }

    void opening() {
        QFETCH(int, type);
        QFETCH(QString, selected);
        QFETCH(QStringList, captions);
        QFETCH(bool, thirdRowEnabled);
        iType = static_cast<qint16>(type);
        iChan = {4, 1023};
        iOutChan = -4; // from a hand-edited file: shown with its minus sign
        sIPAddress = QStringLiteral("10.1.2.3");
        lIPPort = 70000;
        frmSetup &d = open();
        for (const char *name : {"optInput", "optOutput", "OptDSP"})
            QCOMPARE(control<QRadioButton>(name)->isChecked(), selected == name);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(d.lblChan[row]->text(), captions[row]);
        QCOMPARE(d.lblChan[2]->isEnabled(), thirdRowEnabled);
        QCOMPARE(d.txtChan[2]->isEnabled(), thirdRowEnabled);
        QCOMPARE(d.txtChan[0]->text(), QString("5"));
        QCOMPARE(d.txtChan[1]->text(), QString("1024"));
        QCOMPARE(d.txtChan[2]->text(), QString("-3"));
        QCOMPARE(d.txtIPPort->text(), QString("70000"));
        QCOMPARE(d.txtIPAddr->text(), QString("10.1.2.3"));
    }

    void channelEntries_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("stored"); // 0-based; -1: unchanged
        QTest::newRow("1") << "1" << 0;
        QTest::newRow("1024") << "1024" << 1023;
        QTest::newRow("leading zeros") << "007" << 6;
        QTest::newRow("0") << "0" << -1;
        QTest::newRow("1025") << "1025" << -1;
        QTest::newRow("too large for 16 bits") << "99999" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void channelEntries() {
        QFETCH(QString, entry);
        QFETCH(int, stored);
        iType = 3; // third row disabled: OK still applies its text
        iChan = {10, 11};
        iOutChan = 12;
        frmSetup &d = open();
        for (auto *box : d.txtChan) {
            box->setEnabled(true); // a disabled box takes no keys; its text still counts
            retype(box, entry);
        }
        d.txtChan[2]->setEnabled(false);
        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        const auto expect = [stored](qint16 before) {
            return stored < 0 ? before : static_cast<qint16>(stored);
        };
        QCOMPARE(iChan[0], expect(10));
        QCOMPARE(iChan[1], expect(11));
        QCOMPARE(iOutChan, expect(12));
        QCOMPARE(m_main->lblChan[0]->text(), QString("Ch. %1").arg(iChan[0] + 1));
        QCOMPARE(m_main->lblChan[1]->text(), QString("Ch. %1").arg(iChan[1] + 1));
    }

    void editedNegativeChannelStaysUnchanged() {
        iChan = {-4, 1};
        frmSetup &d = open();
        QCOMPARE(d.txtChan[0]->text(), QString("-3"));
        d.txtChan[0]->end(false);
        QTest::keyClicks(d.txtChan[0], "5");
        QCOMPARE(d.txtChan[0]->text(), QString("-35")); // only typed characters are filtered
        d.cmdOk->click();
        QCOMPARE(iChan[0], qint16(-4));
    }

    void typedCharacters_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("channel 0") << "txtChan_0"
                                   << "1a-2.Z 3"
                                   << "123";
        QTest::newRow("channel 1") << "txtChan_1"
                                   << "-x9"
                                   << "9";
        QTest::newRow("channel 2") << "txtChan_2"
                                   << "4+e5"
                                   << "45";
        QTest::newRow("port") << "txtIPPort"
                              << "12.5-0x"
                              << "1250";
        QTest::newRow("address") << "txtIPAddr"
                                 << "10.0.-0.a1 "
                                 << "10.0.0.1";
        QTest::newRow("non-latin digits")
            << "txtIPPort" << QString::fromUtf8("1\u0662\uff133") << "13";
    }

    void typedCharacters() {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        iType = 10;
        open();
        auto *box = control<QLineEdit>(field.toLatin1().constData());
        retype(box, typed);
        QCOMPARE(box->text(), shown);
        QCOMPARE(box->cursorPosition(), shown.size());
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), shown.chopped(1));
    }

    void pastedAndDroppedTextIsFiltered() {
        frmSetup &d = open();
        QLineEdit *chan = d.txtChan[0];
        chan->setText("15");
        chan->setCursorPosition(1);
        QGuiApplication::clipboard()->setText("a2-b.");
        QTest::keyClick(chan, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(chan->text(), QString("125"));
        QCOMPARE(chan->cursorPosition(), 2); // after the pasted digit

        QGuiApplication::clipboard()->setText(" 192.168.x1.-2");
        d.txtIPAddr->selectAll();
        QTest::keyClick(d.txtIPAddr, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(d.txtIPAddr->text(), QString("192.168.1.2"));

        auto *mime = new QMimeData;
        mime->setText("80-80.x");
        d.txtIPPort->clear();
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(d.txtIPPort, &enter);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(d.txtIPPort, &drop);
        delete mime;
        QCOMPARE(d.txtIPPort->text(), QString("8080"));
    }

    void cancelAndCloseBoxChangeNothing_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("cancel") << false;
        QTest::newRow("close box") << true;
    }

    void cancelAndCloseBoxChangeNothing() {
        QFETCH(bool, closeBox);
        iType = 10;
        iChan = {2, 3};
        frmSetup &d = open();
        QTest::mouseClick(d.optInput, Qt::LeftButton);
        QCOMPARE(d.lblChan[2]->text(), QString("Unused"));
        QVERIFY(!d.txtChan[2]->isEnabled());
        retype(d.txtChan[0], "9");
        retype(d.txtIPPort, "1");
        m_main->tmrGain->stop();
        if (closeBox)
            d.close();
        else
            QTest::mouseClick(d.cmdCancel, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(iType, qint16(10));
        QCOMPARE(iChan[0], qint16(2));
        QCOMPARE(lIPPort, 1250);
        QVERIFY(!m_main->tmrGain->isActive());
        QVERIFY(TestSupport::readSettingsFile().isEmpty());
    }

    void okAppliesTypeAndBoxes_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<int>("after");
        QTest::newRow("input to DSP hides") << 1 << "OptDSP" << 10;
        QTest::newRow("DSP to output shows") << 10 << "optOutput" << 3;
        QTest::newRow("DSP to input shows") << 10 << "optInput" << 1;
        QTest::newRow("hand-edited 2 kept, shows") << 2 << "" << 2;
        QTest::newRow("DSP kept, hides") << 10 << "" << 10;
    }

    void okAppliesTypeAndBoxes() {
        QFETCH(int, before);
        QFETCH(QString, clicked);
        QFETCH(int, after);
        iType = static_cast<qint16>(before);
        m_main->ShowStereoAndLock();
        m_main->chkLock->setChecked(true);
        open();
        if (!clicked.isEmpty())
            QTest::mouseClick(control<QRadioButton>(clicked.toLatin1().constData()),
                              Qt::LeftButton);
        QTest::mouseClick(m_dialog->cmdOk, Qt::LeftButton);
        QCOMPARE(iType, qint16(after));
        const bool shown = after != 10;
        QCOMPARE(m_main->chkLock->isVisibleTo(m_main.get()), shown);
        for (auto *box : m_main->chkStereo)
            QCOMPARE(box->isVisibleTo(m_main.get()), shown);
        QVERIFY(m_main->chkLock->isChecked()); // hidden boxes keep their state
    }

    void okKeepsLinkWhenAddressAndPortUnchanged_data() {
        QTest::addColumn<QString>("port"); // typed; %1 is the server's port
        QTest::newRow("as loaded") << "%1";
        QTest::newRow("leading zero") << "0%1";
        QTest::newRow("too large for 32 bits") << "4294967296%1";
    }

    void okKeepsLinkWhenAddressAndPortUnchanged() {
        QFETCH(QString, port);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connectTo(server);
        QTcpSocket *peer = server.nextPendingConnection();
        QSignalSpy peerClosed(peer, &QTcpSocket::disconnected);

        frmSetup &d = open();
        retype(d.txtIPPort, port.arg(server.serverPort()));
        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(lIPPort, qint32(server.serverPort()));
        QVERIFY(!server.hasPendingConnections());
        QCOMPARE(peerClosed.count(), 0);
        QVERIFY(bConnected);
        QCOMPARE(m_main->mnuConnect->text(), QString("&Disconnect"));
    }

    void okReconnectsWhenPortChanged() {
        QTcpServer oldServer, newServer;
        QVERIFY(oldServer.listen(QHostAddress::LocalHost));
        QVERIFY(newServer.listen(QHostAddress::LocalHost));
        connectTo(oldServer);
        QTcpSocket *oldPeer = oldServer.nextPendingConnection();
        QSignalSpy oldClosed(oldPeer, &QTcpSocket::disconnected);

        frmSetup &d = open();
        retype(d.txtIPPort, QString::number(newServer.serverPort()));
        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QCOMPARE(lIPPort, qint32(newServer.serverPort()));
        QCOMPARE(sIPAddress, QString("127.0.0.1"));
        QVERIFY(newServer.waitForNewConnection(2000));
        QTRY_COMPARE_WITH_TIMEOUT(oldClosed.count(), 1, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(bConnected, 2000);
        QCOMPARE(m_connectFailures, 0);
    }

    void okWritesSettingsFile() {
        iType = 3;
        frmSetup &d = open();
        QTest::mouseClick(d.OptDSP, Qt::LeftButton);
        retype(d.txtChan[0], "17");
        retype(d.txtChan[1], "18");
        retype(d.txtChan[2], "19");
        retype(d.txtIPAddr, "127.0.0.1");
        retype(d.txtIPPort, "0"); // stored as typed; the link reports it cannot connect
        QTest::mouseClick(d.cmdOk, Qt::LeftButton);
        QCOMPARE(m_connectFailures, 1);
        const QByteArray file = TestSupport::readSettingsFile();
        QVERIFY(file.contains("[CONFIGURATION]"));
        const QMap<QString, QString> expected = {{"Type", "10"},
                                                 {"Chan 1", "17"},
                                                 {"Chan 2", "18"},
                                                 {"Out Chan", "19"},
                                                 {"IP Address", "127.0.0.1"},
                                                 {"IP Port", "0"}};
        QCOMPARE(settingsKeys(file), expected);
    }

    void enterConfirmsAndEscapeCancels() {
        frmSetup &d = open();
        retype(d.txtChan[0], "7");
        QTest::keyClick(d.txtChan[0], Qt::Key_Escape);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(iChan[0], qint16(0));

        frmSetup &again = open();
        retype(again.txtChan[0], "7");
        QTest::keyClick(again.txtChan[0], Qt::Key_Return);
        QCOMPARE(again.result(), int(QDialog::Accepted));
        QCOMPARE(iChan[0], qint16(6));
    }

    void okEnablesGainTimerWithoutRestartingIt() {
        open();
        m_main->tmrGain->stop();
        m_main->tmrGain->setInterval(10);
        m_dialog->cmdOk->click();
        QVERIFY(m_main->tmrGain->isActive());
        QCOMPARE(m_main->tmrGain->interval(), 10);

        // Already counting: OK leaves the running interval alone.
        open();
        m_main->tmrGain->start(1000);
        QTest::qWait(300);
        m_dialog->cmdOk->click();
        QVERIFY(m_main->tmrGain->isActive());
        QVERIFY(m_main->tmrGain->remainingTime() <= 800);
    }
};

QTEST_MAIN(SetupTest)
#include "test_setup.moc"
