// Start-up, the counters panel, shutdown and the About box.

#include "app/Variables.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "protocol/Seams.h"
#include "support/SettingsFile.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>
#include <memory>

using namespace Variables;

class MainWindowTest : public QObject {
    Q_OBJECT

    QTcpServer m_switcher;

    // A settings file that points the panel at the test's own listening socket, so that
    // start-up never reaches for whatever else may listen on the default port.
    QByteArray settingsFor(const QByteArray &extra = {}) {
        return "[CONFIGURATION]\nIP Address=127.0.0.1\nIP Port=" +
               QByteArray::number(m_switcher.serverPort()) + "\n" + extra;
    }

    std::unique_ptr<frmMain> startPanel(const QByteArray &settings) {
        TestSupport::writeSettingsFile(settings);
        auto window = std::make_unique<frmMain>();
        window->Form_Load();
        return window;
    }

  private slots:
    void initTestCase() { QVERIFY(m_switcher.listen(QHostAddress::LocalHost)); }

    void init() {
        ResetAll();
        TestSupport::removeSettingsFile();
    }
    void cleanup() { TestSupport::removeSettingsFile(); }

    // The window as Form_Load leaves it (the values read are the settings tests' business),
    // then the first refresh showing what the switcher has reported so far: nothing.
    void startUp() {
        auto window = startPanel(settingsFor());
        QCOMPARE(window->windowTitle(), QString("Gain Change"));
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(window->sliGain[i]->value(), -1024);
            QCOMPARE(window->lblGain[i]->text(), QString("Gain (0db)"));
        }
        QVERIFY(window->tmrGain->isActive() && window->tmrDecode->isActive());
        QCOMPARE(window->tmrGain->interval(), 50);
        QTRY_COMPARE_WITH_TIMEOUT(window->lblGain[0]->text(), QString("Gain (Off)"), 1000);
        QCOMPARE(window->lblGain[1]->text(), QString("Gain (Off)"));
    }

    void settingsShapeTheWindow_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("boxesVisible");
        QTest::addColumn<QString>("captions"); // of the two faders' channels
        QTest::newRow("channels 5 and 6") << "Chan 1=5\nChan 2=6\n" << true << "Ch. 5|Ch. 6";
        QTest::newRow("DSP hides Stereo and Lock") << "Type=10\n" << false << "Ch. 1|Ch. 2";
        QTest::newRow("output gain") << "Type=3\nChan 1=1024\n" << true << "Ch. 1024|Ch. 2";
        QTest::newRow("unknown type shows them") << "Type=7\n" << true << "Ch. 1|Ch. 2";
    }
    void settingsShapeTheWindow() {
        QFETCH(QString, keys);
        QFETCH(bool, boxesVisible);
        QFETCH(QString, captions);
        auto window = startPanel(settingsFor(keys.toLatin1()));
        QCOMPARE(window->lblChan[0]->text() + '|' + window->lblChan[1]->text(), captions);
        for (QCheckBox *box : {window->chkLock, window->chkStereo[0], window->chkStereo[1]})
            QCOMPARE(box->isVisibleTo(window.get()), boxesVisible);
    }

    // Five rows of two counters, each box right of its caption, below the faders; Clear
    // empties them and the history.
    void countersPanel() {
        frmMain window;
        const char *captions[] = {"65->65", "66->65", "67->65", "68->65", "65->66",
                                  "66->66", "67->66", "68->66", "In ",    "Out"};
        for (int k = 0; k < 10; ++k) {
            QCOMPARE(window.lblMessage[k]->text(), QString(captions[k]));
            QCOMPARE(window.txtCount[k]->text(), QString("0"));
            // Counter k: row k div 2, left cell for even k.
            const QRect box = window.txtCount[k]->geometry();
            QVERIFY(window.lblMessage[k]->geometry().right() < box.left());
            if (k >= 2)
                QVERIFY(box.top() > window.txtCount[k - 2]->geometry().top());
            if (k % 2)
                QCOMPARE(box.top(), window.txtCount[k - 1]->geometry().top());
            iMsgCount[k] = qint16(k + 3);
            TCPComm::seams().showCount(k);
        }
        QVERIFY(window.txtCount[0]->geometry().top() > window.chkLock->geometry().bottom());
        iHistoryCount = 40;
        QCOMPARE(window.txtCount[9]->text(), QString("12"));
        QTest::mouseClick(window.cmdClear, Qt::LeftButton);
        for (int k = 0; k < 10; ++k) {
            QCOMPARE(iMsgCount[k], qint16(0));
            QCOMPARE(window.txtCount[k]->text(), QString("0"));
        }
        QCOMPARE(iHistoryCount, qint16(0));
    }

    void menusAndAccessKeys() {
        frmMain window;
        const QList<QAction *> top = window.menuBar()->actions();
        QCOMPARE(top.size(), 2);
        QCOMPARE(top[0]->text(), QString("&File"));
        QCOMPARE(top[1]->text(), QString("&Help"));
        QStringList file;
        for (QAction *action : window.mnuFile->actions())
            file << (action->isSeparator() ? QString("-") : action->text());
        QCOMPARE(file, QStringList({"&Setup", "-", "&Connect", "-", "E&xit"}));
        QCOMPARE(window.mnuAbout->text(), QString("&About"));
    }

    void fixedClientSize() {
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // 3135 x 9420 twips at 15 twips a pixel.
        QCOMPARE(window.centralWidget()->size(), QSize(209, 628));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.frmSlider[0]->size(), QSize(89, 377));
        QVERIFY(window.frmSlider[0]->geometry().right() < window.frmSlider[1]->geometry().left());
        QCOMPARE(window.sliGain[0]->size(), QSize(42, 265));
        // The longest captions fit their labels whole.
        window.lblGain[0]->setText("Gain (-99.9db)");
        window.lblGain[1]->setText("Gain (+100db)");
        window.lblChan[0]->setText("Ch. 1024");
        for (QLabel *label : {window.lblGain[0], window.lblGain[1], window.lblChan[0]})
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
    }

    void everyControlHasAnAccessibleName() {
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (QWidget *w : window.findChildren<QWidget *>()) {
            if (!w->isVisibleTo(&window) || w->objectName().isEmpty() ||
                w->objectName().startsWith("qt_"))
                continue;
            if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QAbstractSlider *>(w) &&
                !qobject_cast<QLineEdit *>(w) && !qobject_cast<QLabel *>(w))
                continue;
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(iface && !iface->text(QAccessible::Name).isEmpty(),
                     qPrintable(w->objectName()));
        }
    }

    void shutdownDisconnectsThenWritesSettings() {
        auto window = startPanel(settingsFor("Type=3\nChan 1=7\n"));
        QTRY_VERIFY_WITH_TIMEOUT(m_switcher.hasPendingConnections(), 2000);
        std::unique_ptr<QTcpSocket> peer(m_switcher.nextPendingConnection());
        QTRY_VERIFY_WITH_TIMEOUT(bConnected, 2000);
        // A change made while running (as the Setup dialog would) is what gets saved.
        iChan[1] = 41;
        // When the settings are written, the link must already be down.
        QByteArray fileAtDisconnect = "unset";
        connect(window->scktServer, &QAbstractSocket::stateChanged, this,
                [&](QAbstractSocket::SocketState state) {
                    if (state == QAbstractSocket::UnconnectedState)
                        fileAtDisconnect = TestSupport::readSettingsFile();
                });
        window->close();
        QVERIFY(!bConnected);
        QCOMPARE(window->mnuConnect->text(), QString("&Connect"));
        QVERIFY2(!fileAtDisconnect.contains("Chan 2 = 42") &&
                     !fileAtDisconnect.contains("Chan 2=42"),
                 "settings were written before the link was closed");
        const QByteArray saved = TestSupport::readSettingsFile();
        QVERIFY2(saved.contains("Type") && saved.contains("42"), saved.constData());
        QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 2000);
    }

    void aboutShowsTwoLinesEachTime() {
        frmMain window;
        QCOMPARE(frmAbout::versionText(), QString("Tamric Dual Slider\r1.02 - 04/15/03"));
        frmAbout *first = nullptr;
        for (int round = 0; round < 2; ++round) {
            QTimer::singleShot(0, &window, [&] {
                QVERIFY(window.aboutBox);
                QCOMPARE(window.aboutBox->windowTitle(),
                         QString("Tamric Server Module Information"));
                QVERIFY(window.aboutBox->isVisible());
                QVERIFY(window.aboutBox->isModal());
                const QString shown = window.aboutBox->lblVersionInfo->text();
                QCOMPARE(shown.split(QChar::LineSeparator),
                         QStringList({"Tamric Dual Slider", "1.02 - 04/15/03"}));
                QCOMPARE(window.aboutBox->cmdAboutquit->text(), QString("&Ok"));
                window.aboutBox->cmdAboutquit->click();
            });
            window.mnuAbout->trigger();
            QVERIFY(!window.aboutBox->isVisible());
            if (!first)
                first = window.aboutBox;
            QCOMPARE(window.aboutBox, first);
        }
        // Hidden, not destroyed.
        QVERIFY(window.findChild<frmAbout *>() == window.aboutBox);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
