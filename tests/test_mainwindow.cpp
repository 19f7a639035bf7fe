// Start-up, the counters panel, shutdown and the About box.

#include "app/LinkIndicator.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "support/Controls.h"
#include "support/SettingsFile.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>
#include <memory>

using TestSupport::Find;

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

    void init() { TestSupport::removeSettingsFile(); }
    void cleanup() { TestSupport::removeSettingsFile(); }

    // The window as Form_Load leaves it, shaped by the file (the read rules are the settings
    // tests' business), then the first refresh showing what the switcher has reported so far:
    // nothing.
    void startUp() {
        auto window = startPanel(settingsFor("Type=10\nChan 1=5\nChan 2=1024\n"));
        QCOMPARE(window->windowTitle(), QString("Gain Change"));
        QCOMPARE(Find<QLabel>(window.get(), "lblChan", 0)->text(), QString("Ch. 5"));
        QCOMPARE(Find<QLabel>(window.get(), "lblChan", 1)->text(), QString("Ch. 1024"));
        QVERIFY(!Find<QCheckBox>(window.get(), "chkLock")->isVisibleTo(window.get()));
        const auto caption = [&](int i) { return Find<QLabel>(window.get(), "lblGain", i); };
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(Find<QSlider>(window.get(), "sliGain", i)->value(), -1024);
            QCOMPARE(caption(i)->text(), QString("Gain (0db)"));
        }
        auto *tmrGain = Find<QTimer>(window.get(), "tmrGain");
        QVERIFY(tmrGain->isActive() && Find<QTimer>(window.get(), "tmrDecode")->isActive());
        QCOMPARE(tmrGain->interval(), 50);
        QTRY_COMPARE_WITH_TIMEOUT(caption(0)->text(), QString("Gain (Off)"), 1000);
        QCOMPARE(caption(1)->text(), QString("Gain (Off)"));
    }

    // Five rows of two counters, each box right of its caption, below the faders; Clear
    // empties them and the history.
    void countersPanel() {
        frmMain window;
        SwitcherTables &tables = window.link().tables();
        const auto box = [&](int k) { return Find<QLineEdit>(&window, "txtCount", k); };
        const char *captions[] = {"65->65", "66->65", "67->65", "68->65", "65->66",
                                  "66->66", "67->66", "68->66", "In ",    "Out"};
        for (int k = 0; k < 10; ++k) {
            QCOMPARE(Find<QLabel>(&window, "lblMessage", k)->text(), QString(captions[k]));
            QCOMPARE(box(k)->text(), QString("0"));
            // Counter k: row k div 2, left cell for even k.
            const QRect at = box(k)->geometry();
            QVERIFY(Find<QLabel>(&window, "lblMessage", k)->geometry().right() < at.left());
            if (k >= 2)
                QVERIFY(at.top() > box(k - 2)->geometry().top());
            if (k % 2)
                QCOMPARE(at.top(), box(k - 1)->geometry().top());
            tables.iMsgCount[k] = qint16(k + 3);
            emit window.link().counterChanged(k);
        }
        auto *lock = Find<QCheckBox>(&window, "chkLock");
        QVERIFY(box(0)->geometry().top() > lock->mapTo(window.centralWidget(), QPoint()).y());
        tables.iHistoryCount = 40;
        QCOMPARE(box(9)->text(), QString("12"));
        QTest::mouseClick(Find<QPushButton>(&window, "cmdClear"), Qt::LeftButton);
        for (int k = 0; k < 10; ++k) {
            QCOMPARE(tables.iMsgCount[k], qint16(0));
            QCOMPARE(box(k)->text(), QString("0"));
        }
        QCOMPARE(tables.iHistoryCount, qint16(0));
    }

    void menusAndAccessKeys() {
        frmMain window;
        const QList<QAction *> top = window.menuBar()->actions();
        // File, Edit, Scenes, Help and the link indicator after them
        QStringList menus;
        for (QAction *action : top)
            menus << action->text();
        QCOMPARE(menus.mid(0, 4), QStringList({"&File", "&Edit", "S&cenes", "&Help"}));
        QCOMPARE(top.size(), 5);
        // A menu's entries as shown, "-" for a separator.
        const auto entries = [&window](const char *menu) {
            QStringList shown;
            for (QAction *action : Find<QMenu>(&window, menu)->actions())
                shown << (action->isSeparator() ? QString("-") : action->text());
            return shown;
        };
        QCOMPARE(entries("mnuFile"),
                 QStringList({"&Setup", "Control S&urfaces...", "-", "&Connect", "-", "E&xit"}));
        QCOMPARE(Find<QAction>(&window, "mnuAbout")->text(), QString("&About"));
        QCOMPARE(entries("mnuEdit"), QStringList({"&Undo", "&Redo", "-", "Ceiling of Fader &1...",
                                                  "Ceiling of Fader &2..."}));
        QCOMPARE(entries("mnuScenes"),
                 QStringList({"&Store Scene...", "Store &Whole Switcher...", "&Recall",
                              "Recall with &Fade...", "-", "Re&name Scene...", "&Delete Scene...",
                              "-", "&Import Scenes...", "&Export Scene..."}));
        QVERIFY(!Find<QAction>(&window, "mnuUndo")->isEnabled());
        QCOMPARE(Find<QAction>(&window, "mnuUndo")->shortcut(), QKeySequence("Ctrl+Z"));
        QCOMPARE(Find<QAction>(&window, "mnuRedo")->shortcut(), QKeySequence("Ctrl+Shift+Z"));
    }

    void fixedClientSize() {
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // 3135 x 9420 twips at 15 twips a pixel.
        QCOMPARE(window.centralWidget()->size(), QSize(209, 628));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        auto *frame0 = Find<QFrame>(&window, "frmSlider", 0);
        QCOMPARE(frame0->size(), QSize(89, 377));
        QVERIFY(frame0->geometry().right() < Find<QFrame>(&window, "frmSlider", 1)->x());
        QCOMPARE(Find<QSlider>(&window, "sliGain", 0)->size(), QSize(42, 265));
        // The longest captions fit their labels whole.
        const QList<QPair<QLabel *, const char *>> longest{
            {Find<QLabel>(&window, "lblGain", 0), "Gain (-99.9db)"},
            {Find<QLabel>(&window, "lblGain", 1), "Gain (+100db)"},
            {Find<QLabel>(&window, "lblChan", 0), "Ch. 1024"}};
        for (const auto &[label, text] : longest) {
            label->setText(text);
            QVERIFY2(label->sizeHint().width() <= label->width(), text);
        }
        // The menu bar holds its menus and the indicator, with its longest title, without
        // folding any away.
        QAction *indicator = Find<QAction>(&window, "mnuLinkState");
        indicator->setText(LinkIndicator::Title(LinkState::Connecting));
        QApplication::processEvents();
        QVERIFY(window.menuBar()->actionGeometry(indicator).right() < window.width());
    }

    void shutdownDisconnectsThenWritesSettings() {
        auto window = startPanel(settingsFor("Type=3\nChan 1=7\n"));
        QTRY_VERIFY_WITH_TIMEOUT(m_switcher.hasPendingConnections(), 2000);
        std::unique_ptr<QTcpSocket> peer(m_switcher.nextPendingConnection());
        QTRY_VERIFY_WITH_TIMEOUT(window->link().bConnected(), 2000);
        // A change made while running (as the Setup dialog does) is what gets saved.
        Settings changed = window->settings();
        changed.iChan[1] = 41;
        window->ApplySetup(changed);
        TestSupport::writeSettingsFile("[CONFIGURATION]\n");
        // When the settings are written, the link must already be down.
        QByteArray fileAtDisconnect = "unset";
        connect(Find<QTcpSocket>(window.get(), "scktServer"), &QAbstractSocket::stateChanged, this,
                [&](QAbstractSocket::SocketState state) {
                    if (state == QAbstractSocket::UnconnectedState)
                        fileAtDisconnect = TestSupport::readSettingsFile();
                });
        window->close();
        QVERIFY(!window->link().bConnected());
        QCOMPARE(Find<QAction>(window.get(), "mnuConnect")->text(), QString("&Connect"));
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
                auto *box = window.findChild<frmAbout *>();
                QVERIFY(box);
                QCOMPARE(box->windowTitle(), QString("Tamric Server Module Information"));
                QVERIFY(box->isVisible());
                QVERIFY(box->isModal());
                const QString shown = Find<QLabel>(box, "lblVersionInfo")->text();
                QCOMPARE(shown.split(QChar::LineSeparator),
                         QStringList({"Tamric Dual Slider", "1.02 - 04/15/03"}));
                // The one added line: which settings file is in use.
                QCOMPARE(Find<QLabel>(box, "lblSettingsFile")->text(),
                         "Settings: " + QDir::toNativeSeparators(window.settingsPath()));
                auto *ok = Find<QPushButton>(box, "cmdAboutquit");
                QCOMPARE(ok->text(), QString("&Ok"));
                ok->click();
            });
            Find<QAction>(&window, "mnuAbout")->trigger();
            auto *box = window.findChild<frmAbout *>();
            QVERIFY(!box->isVisible());
            if (!first)
                first = box;
            // Hidden, not destroyed.
            QCOMPARE(box, first);
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
