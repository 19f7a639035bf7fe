// The safety net in the running panel against the switcher simulator: the ceiling on every way
// of moving a fader (the bytes that go out), scenes through the Scenes menu's code, a paced
// whole-switcher recall, timed fades, undo and redo, and one panel per settings file.

#include "app/CeilingMenu.h"
#include "app/ScenesMenu.h"
#include "app/SingleInstance.h"
#include "faders/FaderController.h"
#include "support/SimPanel.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using TestSupport::Find;
using TestSupport::spinUntil;

namespace {

// Set-gain commands of input channels 1 and 2 (0-based 0 and 1), one entry each.
const QString k0at0db = "E3 02 01 01 00 00 00 00 08 0C FF";
const QString k0atPlus3 = "E3 02 01 01 00 00 00 1E 08 2A FF";   // +3 dB
const QString k0atPlus10 = "E3 02 01 01 00 00 00 64 08 70 FF";  // +10 dB
const QString k0atMinus6 = "E3 02 01 01 00 00 00 44 07 4F FF";  // -6 dB
const QString k0atMinus10 = "E3 02 01 01 00 00 00 1C 07 27 FF"; // -10 dB
const QString k1atMinus3 = "E3 02 01 01 00 01 00 62 07 6E FF";  // -3 dB
const QString k1atMinus6 = "E3 02 01 01 00 01 00 44 07 50 FF";  // -6 dB

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void pause(int ms) {
    TestSupport::spinUntil([] { return false; }, ms);
}

} // namespace

class SafetyNetEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TestSupport::SimPanel m_panel;
    frmMain *m_form = nullptr;
    QStringList m_sent;     // set-gain commands the panel wrote, as hex
    QList<qint64> m_sentAt; // when, on m_clock
    QList<int> m_sentBytes;
    QElapsedTimer m_clock;

    QSlider *fader(int i) const { return m_panel.fader(i); }
    FaderController &faders() { return m_form->faders(); }
    ScenesMenu &scenes() { return m_form->scenes(); }
    QString settingsPath(const QString &name = "panel.ini") const { return m_dir.filePath(name); }

    // A panel on its own settings file connected to the simulator, showing input 1 at 0 dB and
    // input 2 at -6 dB, as the simulator starts.
    void startPanel(const QStringList &simOptions = {}) {
        QVERIFY(m_panel.start({}, simOptions + QStringList{"--quiet"}, settingsPath()));
        m_form = m_panel.form.get();
        connect(&m_form->link(), &SwitcherLink::messageSent, this, [this](const QByteArray &m) {
            if (m.startsWith('\xE3')) {
                m_sent << hex(m);
                m_sentAt << m_clock.elapsed();
                m_sentBytes << int(m.size());
            }
        });
        QVERIFY(spinUntil([this] {
            return faders().reportedSinceConnect(0) && faders().reportedGain(0) == 1024 &&
                   faders().reportedGain(1) == 964 && m_panel.settled();
        }));
        m_sent.clear();
        m_clock.start();
    }

    // What went out after the last settle, once nothing is pending any more.
    QStringList sentWhenSettled() {
        pause(50);
        spinUntil(
            [this] { return m_panel.settled() && !faders().fading(0) && !faders().fading(1); });
        return m_sent;
    }

    void settle() {
        sentWhenSettled();
        m_sent.clear();
    }

    void setCeilings(std::optional<qint16> c0, std::optional<qint16> c1) {
        QCOMPARE(m_form->ceilings().apply(0, c0), QString());
        QCOMPARE(m_form->ceilings().apply(1, c1), QString());
    }

  private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void cleanup() {
        m_panel.reset();
        m_sent.clear();
        m_sentAt.clear();
        m_sentBytes.clear();
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    // Fader 1 may go to +3 dB, fader 2 to -3 dB: every way of moving them sends the held gain.
    void ceilingHoldsEveryMove_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("drag") << "drag" << QStringList{k0atPlus3};
        QTest::newRow("0db") << "0db" << QStringList{k1atMinus3};
        QTest::newRow("typed") << "typed" << QStringList{k0atPlus3};
        QTest::newRow("Lock partner") << "lock" << QStringList{k0atPlus3, k1atMinus3};
        QTest::newRow("recall") << "recall" << QStringList{k0atPlus3, k1atMinus3};
        QTest::newRow("fade, last step") << "fade" << QStringList{k0atPlus3};
        QTest::newRow("redo") << "redo" << QStringList{k0atPlus3};
    }
    void ceilingHoldsEveryMove() {
        QFETCH(QString, how);
        QFETCH(QStringList, sent);
        startPanel();
        if (how == "redo") { // -10 dB, +10 dB, a ceiling, then undo and redo
            faders().moveAsUser(0, 924);
            settle();
            faders().moveAsUser(0, 1124);
            settle();
        }
        if (how == "recall") {
            QCOMPARE(scenes().storeScene("Loud", false), QString());
            Scene loud = scenes().store().scenes().at(0);
            loud.gains = {{0, 1200}, {1, 1100}};
            QVERIFY(SceneFile::Write(scenes().store().path(), {loud}).ok);
            scenes().load(settingsPath());
        }
        setCeilings(1054, 994);
        QSignalSpy held(&faders(), &FaderController::heldAtCeiling);
        if (how == "drag")
            fader(0)->setSliderPosition(-1200);
        else if (how == "0db")
            Find<QPushButton>(m_form, "cmdZerodb", 1)->click();
        else if (how == "typed") {
            QTest::keyClick(fader(0), Qt::Key_Return);
            auto *editor = Find<QLineEdit>(m_form, "txtGainEntry", 0);
            editor->setText("+12");
            QTest::keyClick(editor, Qt::Key_Return);
        } else if (how == "lock") {
            Find<QCheckBox>(m_form, "chkLock")->click();
            QTest::keyClick(fader(0), Qt::Key_Home);
        } else if (how == "recall")
            QCOMPARE(scenes().recall("Loud"), QString());
        else if (how == "fade")
            faders().fadeTo(0, 1264, 200);
        else if (how == "redo") {
            faders().undo(); // back to the -10 dB the switcher had: below the ceiling
            QCOMPARE(sentWhenSettled(), QStringList{k0atMinus10});
            m_sent.clear();
            faders().redo(); // +10 dB asked, held at +3 dB
        }
        QStringList wire = sentWhenSettled();
        // A fade sends its steps below the ceiling first, as many as its timer found time for.
        if (how == "fade")
            wire = wire.mid(wire.size() - 1);
        QCOMPARE(wire, sent);
        QVERIFY(held.count() >= 1);
        const auto shownHeld = [this](int i) {
            return fader(i)->accessibleDescription().startsWith("Held at the ceiling");
        };
        QVERIFY(shownHeld(0) || shownHeld(1));
    }

    // Input 1 stands at 0 dB, above a ceiling of -3 dB: shown as it is, nothing pulls it down,
    // and a move up sends nothing either.
    void reportedAboveCeilingSendsNothing() {
        startPanel();
        setCeilings(994, std::nullopt);
        pause(200);
        QTest::keyClick(fader(0), Qt::Key_Home);
        faders().fadeTo(0, 1100, 100);
        QCOMPARE(sentWhenSettled(), QStringList());
        QCOMPARE(fader(0)->value(), -1024);
        QCOMPARE(DiskWork::ReadLimits(settingsPath()).limits.ceiling[0],
                 std::optional<qint16>(994));
    }

    // Store, change, recall (only what differs), rename, export, delete, import.
    void scenesRoundTrip() {
        startPanel();
        QCOMPARE(scenes().storeScene("Show", false), QString());
        faders().moveAsUser(0, 1124);
        settle();
        QCOMPARE(scenes().recall("Show"), QString());
        QCOMPARE(sentWhenSettled(), QStringList{k0at0db}); // input 2 is where the scene has it
        QCOMPARE(m_form->accessibleDescription(), QString("Recalled scene Show"));
        settle();
        QCOMPARE(scenes().renameScene("Show", "Late Show"), QString());
        const QString exported = m_dir.filePath("late.json");
        QCOMPARE(scenes().exportScene("Late Show", exported), QString());
        QCOMPARE(scenes().deleteScene("Late Show"), QString());
        QVERIFY(scenes().store().scenes().isEmpty());
        QCOMPARE(scenes().importFile(exported), QString());
        QCOMPARE(scenes().importFile(exported), QString());
        QCOMPARE(scenes().store().scenes().size(), 2);
        QCOMPARE(scenes().store().scenes().at(1).name, QString("Late Show (2)"));
        QCOMPARE(scenes().recall("Nothing"), QString("There is no scene called \"Nothing\"."));
        // (A recall as one undo step, undone and redone: undoRedoBytes.)
    }

    void corruptSceneFileRefusedAndKept() {
        startPanel();
        const QString path = scenes().store().path();
        const QByteArray junk =
            "{\"format\": \"dual-slider-scenes\", \"version\": 1, \"scenes\": [";
        TestSupport::writeFile(path, junk);
        scenes().load(settingsPath());
        auto *box = m_form->findChild<QMessageBox *>("scenesProblem");
        QVERIFY(box);
        QVERIFY2(box->text().contains("left as it is"), qPrintable(box->text()));
        QVERIFY(!scenes().storeScene("Show", false).isEmpty());
        QCOMPARE(TestSupport::FileBytes(path), junk);
    }

    void panelsOnDifferentFilesKeepTheirScenes() {
        startPanel();
        QCOMPARE(scenes().storeScene("A only", false), QString());
        QVERIFY(QFile::copy(settingsPath(), settingsPath("other.ini")));
        frmMain other(settingsPath("other.ini"));
        other.Form_Load();
        QVERIFY(other.scenes().store().scenes().isEmpty());
        QVERIFY(spinUntil([&] { return other.faders().reportedSinceConnect(1); }));
        QCOMPARE(other.scenes().storeScene("B only", false), QString());
        QCOMPARE(other.scenes().store().path(), settingsPath("other.scenes.json"));
        QCOMPARE(SceneFile::Read(settingsPath("other.scenes.json")).scenes.at(0).name,
                 QString("B only"));
        const auto mine = SceneFile::Read(scenes().store().path()).scenes;
        QCOMPARE(mine.size(), 1);
        QCOMPARE(mine.at(0).name, QString("A only"));
    }

    // 1025 inputs, every one but the faders' changed: paced at no more than 4 commands of 11
    // bytes in any 10 ms, with progress, and a second recall cancelled part way.
    void wholeSwitcherRecallIsPaced() {
        startPanel({"--inputs", "1025"});
        QVERIFY(spinUntil([this] { return m_form->link().reportedGain(1, 1024, 0) != 0; }));
        QCOMPARE(scenes().storeScene("All", true), QString());
        Scene all = scenes().store().scenes().at(0);
        QCOMPARE(all.gains.size(), 1025);
        for (int k = 2; k < all.gains.size(); ++k)
            all.gains[k].second = qint16(all.gains[k].second == 700 ? 701 : 700);
        QVERIFY(SceneFile::Write(scenes().store().path(), {all}).ok);
        scenes().load(settingsPath());
        m_sent.clear();
        m_sentAt.clear();
        m_sentBytes.clear();
        QElapsedTimer took;
        took.start();
        QCOMPARE(scenes().recall("All"), QString());
        QVERIFY(m_form->findChild<QProgressDialog *>("recallProgress"));
        QVERIFY(spinUntil([this] { return !scenes().recalling(); }, 10000));
        QCOMPARE(m_sent.size(), 1023);
        int most = 0;
        for (int a = 0, b = 0, bytes = 0; b < m_sentAt.size(); ++b) {
            bytes += m_sentBytes[b];
            while (m_sentAt[b] - m_sentAt[a] >= 10)
                bytes -= m_sentBytes[a++];
            most = std::max(most, bytes);
        }
        QVERIFY2(most <= 4 * 11, qPrintable(QString::number(most)));
        qInfo("1023 gains in %lld ms, at most %d bytes in 10 ms", took.elapsed(), most);
        // Once the switcher has them all, a cancelled recall back stops part way.
        QVERIFY(spinUntil([this] {
            return m_form->link().reportedGain(1, 1024, 0) != 0 &&
                   m_form->link().reportedGain(1, 1024, 0) ==
                       scenes().store().scenes().at(0).gains.last().second;
        }));
        QCOMPARE(scenes().storeScene("All", true, true), QString());
        Scene back = all;
        back.name = "Back";
        for (auto &g : back.gains)
            g.second = 1024;
        QVERIFY(SceneFile::Write(scenes().store().path(), {all, back}).ok);
        scenes().load(settingsPath());
        m_sent.clear();
        QCOMPARE(scenes().recall("Back"), QString());
        pause(100);
        auto *progress = m_form->findChild<QProgressDialog *>("recallProgress");
        QVERIFY(progress);
        QPushButton *cancel = progress->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QString("&Cancel"));
        cancel->click();
        QVERIFY(!scenes().recalling());
        const qsizetype atCancel = m_sent.size();
        pause(50);
        QCOMPARE(m_sent.size(), atCancel);
        QVERIFY(atCancel > 4 && atCancel < 200);
    }

    // A fade of input 1 from 0 dB to +10 dB over 0.5 s: about 25 steps, rising, the last
    // exactly on +10 dB; typed as "+10 0.5s" in the fader's editor.
    void fadeKeepsItsSteps() {
        startPanel();
        QTest::keyClick(fader(0), Qt::Key_Return);
        auto *editor = Find<QLineEdit>(m_form, "txtGainEntry", 0);
        editor->setText("+10 0.5s");
        QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(faders().fading(0));
        const QStringList sent = sentWhenSettled();
        QVERIFY2(sent.size() >= 15 && sent.size() <= 26, qPrintable(QString::number(sent.size())));
        QCOMPARE(sent.last(), k0atPlus10);
        QVERIFY(sent.first() != k0at0db);
        QCOMPARE(QStringList(sent).removeDuplicates(), 0);
        QVERIFY(m_sentAt.last() >= 480 && m_sentAt.last() <= 700);
        QCOMPARE(faders().undoLabel(), QString("Fade Fader 1"));
    }

    void fadeEnds_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("hand on the fader") << "key";
        QTest::newRow("replaced") << "replace";
        QTest::newRow("link lost") << "link";
    }
    void fadeEnds() {
        QFETCH(QString, how);
        startPanel();
        faders().fadeTo(0, 1124, 2000);
        pause(100);
        QVERIFY(faders().fading(0));
        if (how == "key")
            QTest::keyClick(fader(0), Qt::Key_Down);
        else if (how == "replace")
            faders().fadeTo(0, 924, 100);
        else
            m_panel.sim->signal(SIGUSR1);
        if (how == "key")
            QVERIFY(!faders().fading(0));
        QVERIFY(spinUntil([this] { return !faders().fading(0); }, 1000));
        const qsizetype after = m_sent.size();
        pause(300);
        if (how == "replace")
            QCOMPARE(m_sent.last(), k0atMinus10);
        else
            QVERIFY(m_sent.size() == after);
        QVERIFY(!m_sent.contains(k0atPlus10));
    }

    // Undo sends what the switcher had before the step, redo what the step asked for.
    void undoRedoBytes_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("drag") << "drag";
        QTest::newRow("typed") << "typed";
        QTest::newRow("recall") << "recall";
        QTest::newRow("fade") << "fade";
    }
    void undoRedoBytes() {
        QFETCH(QString, how);
        startPanel();
        if (how == "recall") {
            faders().moveAsUser(0, 964);
            settle();
            QCOMPARE(scenes().storeScene("Quiet", false), QString());
            faders().moveAsUser(0, 1024);
            settle();
        }
        if (how == "drag")
            fader(0)->setSliderPosition(-964);
        else if (how == "typed")
            faders().moveAsUser(0, 964);
        else if (how == "recall")
            QCOMPARE(scenes().recall("Quiet"), QString());
        else
            faders().fadeTo(0, 964, 200);
        QCOMPARE(sentWhenSettled().last(), k0atMinus6);
        m_sent.clear();
        QVERIFY(faders().canUndo());
        if (how == "recall") // one undo step for the whole recall
            QCOMPARE(faders().undoLabel(), QString("Recall Quiet"));
        Find<QAction>(m_form, "mnuUndo")->trigger();
        QCOMPARE(sentWhenSettled(), QStringList{k0at0db});
        m_sent.clear();
        QVERIFY(Find<QAction>(m_form, "mnuRedo")->text().startsWith("&Redo "));
        Find<QAction>(m_form, "mnuRedo")->trigger();
        QCOMPARE(sentWhenSettled(), QStringList{k0atMinus6});
    }

    // The steps belong to the channels they were made on; the address is no such thing.
    void historyClearedByNewChannels() {
        startPanel();
        faders().moveAsUser(0, 964);
        settle();
        Settings settings = m_form->settings();
        m_form->ApplySetup(settings); // Setup's OK without changes
        QVERIFY(Find<QAction>(m_form, "mnuUndo")->isEnabled());
        settings.iChan[0] = 4;
        m_form->ApplySetup(settings);
        QVERIFY(!faders().canUndo());
        QVERIFY(!Find<QAction>(m_form, "mnuUndo")->isEnabled());
        QCOMPARE(Find<QAction>(m_form, "mnuUndo")->text(), QString("&Undo"));
    }

    // A second panel on the same settings file leaves at once with status 0; the first goes on
    // with its settings. (A lock left by a dead panel: test_safetynet.)
    void onePanelPerSettingsFile() {
        const QString ini = settingsPath("shared.ini");
        TestSupport::writeFile(ini, "[CONFIGURATION]\nType=3\nChan 1=7\nIP Port=1\n");
        QProcess first;
        first.setProcessEnvironment([] {
            auto env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            return env;
        }());
        first.start(DS_PANEL_PATH, {"--settings", ini});
        QVERIFY(first.waitForStarted());
        SingleInstance probe(ini);
        QVERIFY(spinUntil([&] { return QFile::exists(probe.lockPath()); }));
        pause(100); // the lock is taken just before the first panel listens
        QProcess second;
        second.setProcessEnvironment(first.processEnvironment());
        second.start(DS_PANEL_PATH, {"--settings", ini});
        QVERIFY(second.waitForFinished(TestSupport::kWaitMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(TestSupport::kWaitMs));
        QVERIFY(TestSupport::FileBytes(ini).contains("Chan 1=7"));
    }
};

QTEST_MAIN(SafetyNetEndToEnd)
#include "test_safetynet_e2e.moc"
