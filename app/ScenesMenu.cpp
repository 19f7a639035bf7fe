#include "app/ScenesMenu.h"

#include "app/ProgramInfo.h"
#include "config/Limits.h"
#include "faders/FaderController.h"
#include "faders/FaderView.h"
#include "faders/RecallPlan.h"
#include "faders/SceneCapture.h"
#include "transport/SwitcherLink.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <cmath>

namespace {

// Fewer paced gains than this go out in well under a second: no dialog flashes up.
constexpr int kProgressFrom = 64;
const QString kFilter = QStringLiteral("Scene files (*.json);;All files (*)");

// A name as a menu shows it: '&' is shown, not an access key.
QString menuText(QString name) {
    return name.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

ScenesMenu::ScenesMenu(FaderController &faders, FaderView &view, SwitcherLink &link, QMenu *menu,
                       QWidget *window)
    : QObject(window), m_faders(faders), m_view(view), m_link(link), m_window(window),
      m_store(std::make_unique<SceneStore>(QString())),
      // As the faders would send a gain of a channel under no fader: one entry.
      m_pacer([this](const ChannelGain &item) {
          m_link.request(GainRequest{m_pacing.type, item.first, m_pacing.outChan, item.second, 1});
      }) {
    const auto add = [&](const QString &text, const char *name, auto slot) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(QStringLiteral("&Store Scene..."), "mnuStoreScene", [this] { askStore(false); });
    add(QStringLiteral("Store &Whole Switcher..."), "mnuStoreWhole", [this] { askStore(true); });
    m_recallMenu = menu->addMenu(QStringLiteral("&Recall"));
    m_recallMenu->setObjectName(QStringLiteral("mnuRecall"));
    add(QStringLiteral("Recall with &Fade..."), "mnuRecallFade", [this] { askRecallWithFade(); });
    menu->addSeparator();
    add(QStringLiteral("Re&name Scene..."), "mnuRenameScene", [this] { askRename(); });
    add(QStringLiteral("&Delete Scene..."), "mnuDeleteScene", [this] { askDelete(); });
    menu->addSeparator();
    add(QStringLiteral("&Import Scenes..."), "mnuImportScenes", [this] { askImport(); });
    add(QStringLiteral("&Export Scene..."), "mnuExportScene", [this] { askExport(); });

    connect(&m_pacer, &Pacer::progress, this, &ScenesMenu::paced);
    connect(&m_pacer, &Pacer::finished, this, &ScenesMenu::pacedEnd);
    connect(&link, &SwitcherLink::connectionLost, this, &ScenesMenu::cancelRecall);
    connect(&link, &SwitcherLink::connectedChanged, this, [this](bool connected) {
        if (!connected)
            cancelRecall();
    });
    connect(this, &ScenesMenu::scenesChanged, this, &ScenesMenu::rebuildRecallMenu);
    rebuildRecallMenu();
}

void ScenesMenu::load(const QString &settingsPath) {
    m_store = std::make_unique<SceneStore>(SceneFile::PathBeside(settingsPath));
    const SceneFile::ReadResult read = m_store->load();
    emit scenesChanged();
    if (!read.ok())
        tell(QStringLiteral("The scenes in %1 cannot be used, and the file is left as it is: %2")
                 .arg(QDir::toNativeSeparators(m_store->path()), read.reason));
}

void ScenesMenu::rebuildRecallMenu() {
    m_recallMenu->clear();
    for (const Scene &scene : m_store->scenes()) {
        QAction *action = m_recallMenu->addAction(menuText(scene.name));
        const QString name = scene.name;
        connect(action, &QAction::triggered, this, [this, name] { tell(recall(name)); });
    }
    m_recallMenu->setEnabled(!m_store->scenes().isEmpty());
}

QString ScenesMenu::storeScene(const QString &name, bool wholeSwitcher, bool replace) {
    if (const QString problem = SceneFile::NameProblem(name); !problem.isEmpty())
        return problem;
    const auto reported = [this](qint16 type, qint16 channel,
                                 qint16 outChan) -> std::optional<qint16> {
        // A gain the switcher never reported reads 0, which no report of a fader carries.
        const qint16 gain = m_link.reportedGain(type, channel, outChan);
        return gain != 0 ? std::optional(gain) : std::nullopt;
    };
    const Scene scene = SceneCapture::Capture(
        name, m_faders.settings(), {m_view.stereo(0), m_view.stereo(1)}, wholeSwitcher, reported);
    if (scene.gains.isEmpty())
        return QStringLiteral("The switcher has reported no gain to store yet.");
    const SceneFile::WriteResult written = m_store->store(scene, replace);
    emit scenesChanged();
    if (written.ok)
        announce(QStringLiteral("Stored scene %1").arg(name));
    return written.ok ? QString() : written.reason;
}

QString ScenesMenu::renameScene(const QString &from, const QString &to) {
    const SceneFile::WriteResult written = m_store->rename(from, to);
    emit scenesChanged();
    return written.ok ? QString() : written.reason;
}

QString ScenesMenu::deleteScene(const QString &name) {
    const SceneFile::WriteResult written = m_store->remove(name);
    emit scenesChanged();
    return written.ok ? QString() : written.reason;
}

QString ScenesMenu::importFile(const QString &file) {
    const SceneFile::WriteResult written = m_store->importFrom(file);
    emit scenesChanged();
    return written.ok ? QString() : written.reason;
}

QString ScenesMenu::exportScene(const QString &name, const QString &file) {
    const SceneFile::WriteResult written = m_store->exportTo(name, file);
    return written.ok ? QString() : written.reason;
}

QString ScenesMenu::recall(const QString &name, std::optional<double> seconds) {
    const qsizetype at = SceneFile::IndexOf(m_store->scenes(), name);
    if (at < 0)
        return QStringLiteral("There is no scene called \"%1\".").arg(name);
    if (seconds && !(*seconds >= 0 && *seconds * 1000 <= FadePlan::kMaxDurationMs))
        return QStringLiteral("A fade takes from 0 to 60 seconds.");
    if (m_link.state() != LinkState::Live)
        return QStringLiteral("The switcher is not connected: scene \"%1\" was not recalled.")
            .arg(name);
    const Scene scene = m_store->scenes().at(at);
    const Settings &settings = m_faders.settings();
    const bool faderType = scene.type == settings.iType &&
                           (scene.type != kTypeDsp || scene.outChan == settings.iOutChan);
    // Which fader shows a channel now; the channel after a Stereo fader's moves with it and is
    // held by its ceiling too.
    const auto faderOf = [&](qint16 channel) -> int {
        for (int i = 0; faderType && i < FaderController::kFaders; ++i)
            if (settings.iChan[static_cast<std::size_t>(i)] == channel)
                return i;
        return -1;
    };
    const auto ceilingOf = [&](qint16 channel) -> std::optional<qint16> {
        for (int i = 0; faderType && i < FaderController::kFaders; ++i) {
            const qint16 own = settings.iChan[static_cast<std::size_t>(i)];
            if (own == channel ||
                (scene.type != kTypeDsp && m_view.stereo(i) && own + 1 == channel))
                return m_faders.ceiling(i);
        }
        return std::nullopt;
    };
    const auto reported = [this](qint16 type, qint16 channel,
                                 qint16 outChan) -> std::optional<qint16> {
        const qint16 gain = m_link.reportedGain(type, channel, outChan);
        return gain != 0 ? std::optional(gain) : std::nullopt;
    };
    // The faders' own channels are held by the controller, which also says so; the plan holds
    // the rest.
    const QList<ChannelGain> held = RecallPlan::Differences(scene, reported, ceilingOf);
    const QList<ChannelGain> asked = RecallPlan::Differences(scene, reported);
    QList<ChannelGain> others;
    m_pacer.cancel();
    m_faders.beginGesture(QStringLiteral("Recall %1").arg(name));
    for (const ChannelGain &item : asked) {
        const int i = faderOf(item.first);
        if (i < 0)
            continue;
        if (seconds)
            m_faders.fadeTo(i, item.second, qRound64(*seconds * 1000), true);
        else
            m_faders.moveAsUser(i, item.second, true);
    }
    for (const ChannelGain &item : held)
        if (faderOf(item.first) < 0)
            others.append(item);
    m_faders.endGesture();
    m_pacing = scene;
    m_pacer.start(others);
    announce(seconds && *seconds > 0
                 ? QStringLiteral("Recalling scene %1 over %2 s").arg(name).arg(*seconds)
                 : QStringLiteral("Recalled scene %1").arg(name));
    return {};
}

void ScenesMenu::recallByName(const QString &name, std::optional<double> seconds) {
    tell(recall(name, seconds));
}

void ScenesMenu::cancelRecall() {
    m_pacer.cancel();
}

void ScenesMenu::paced(int done, int total) {
    if (total < kProgressFrom)
        return;
    if (!m_progress) {
        m_progress = new QProgressDialog(QStringLiteral("Recalling scene %1...").arg(m_pacing.name),
                                         QStringLiteral("&Cancel"), 0, total, m_window);
        m_progress->setObjectName(QStringLiteral("recallProgress"));
        m_progress->setWindowTitle(ProgramInfo::kDisplayName);
        m_progress->setAttribute(Qt::WA_DeleteOnClose);
        m_progress->setMinimumDuration(0);
        connect(m_progress, &QProgressDialog::canceled, &m_pacer, &Pacer::cancel);
    }
    m_progress->setMaximum(total);
    m_progress->setValue(done);
}

void ScenesMenu::pacedEnd(bool cancelled) {
    if (m_progress) {
        // Closing it must not count as the user's cancel.
        m_progress->disconnect(&m_pacer);
        m_progress->close();
    }
    if (cancelled)
        announce(QStringLiteral("Recall of scene %1 cancelled").arg(m_pacing.name));
}

void ScenesMenu::tell(const QString &problem) {
    if (problem.isEmpty())
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, ProgramInfo::kDisplayName, problem,
                                QMessageBox::Ok, m_window);
    box->setObjectName(QStringLiteral("scenesProblem"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// The window's accessible description changes, which screen readers are told of; nothing on
// screen moves.
void ScenesMenu::announce(const QString &text) {
    m_window->setAccessibleDescription(text);
}

// --- The menu's questions ------------------------------------------------------------------

void ScenesMenu::askStore(bool wholeSwitcher) {
    bool ok = false;
    const QString name = QInputDialog::getText(
        m_window,
        wholeSwitcher ? QStringLiteral("Store Whole Switcher") : QStringLiteral("Store Scene"),
        QStringLiteral("Scene &name:"), QLineEdit::Normal,
        SceneFile::UniqueName(m_store->scenes(), QStringLiteral("Scene")), &ok);
    if (!ok)
        return;
    bool replace = false;
    if (SceneFile::IndexOf(m_store->scenes(), name.trimmed()) >= 0) {
        if (QMessageBox::question(m_window, ProgramInfo::kDisplayName,
                                  QStringLiteral("Replace scene \"%1\"?").arg(name.trimmed())) !=
            QMessageBox::Yes)
            return;
        replace = true;
    }
    tell(storeScene(name.trimmed(), wholeSwitcher, replace));
}

std::optional<QString> ScenesMenu::askWhich(const QString &title, const QString &label) {
    QStringList names;
    for (const Scene &scene : m_store->scenes())
        names.append(scene.name);
    if (names.isEmpty()) {
        tell(m_store->lockReason().isEmpty() ? QStringLiteral("There are no scenes yet.")
                                             : m_store->lockReason());
        return std::nullopt;
    }
    bool ok = false;
    const QString name = QInputDialog::getItem(m_window, title, label, names, 0, false, &ok);
    return ok ? std::optional(name) : std::nullopt;
}

void ScenesMenu::askRecallWithFade() {
    const auto name = askWhich(QStringLiteral("Recall with Fade"), QStringLiteral("&Scene:"));
    if (!name)
        return;
    bool ok = false;
    const double seconds = QInputDialog::getDouble(
        m_window, QStringLiteral("Recall with Fade"),
        QStringLiteral("Fade &time in seconds (0 to 60):"), 3.0, 0.0, 60.0, 1, &ok);
    if (ok)
        tell(recall(*name, seconds));
}

void ScenesMenu::askRename() {
    const auto from = askWhich(QStringLiteral("Rename Scene"), QStringLiteral("&Scene:"));
    if (!from)
        return;
    bool ok = false;
    const QString to =
        QInputDialog::getText(m_window, QStringLiteral("Rename Scene"),
                              QStringLiteral("New &name:"), QLineEdit::Normal, *from, &ok);
    if (ok && to.trimmed() != *from)
        tell(renameScene(*from, to.trimmed()));
}

void ScenesMenu::askDelete() {
    const auto name = askWhich(QStringLiteral("Delete Scene"), QStringLiteral("&Scene:"));
    if (name && QMessageBox::question(m_window, ProgramInfo::kDisplayName,
                                      QStringLiteral("Delete scene \"%1\"?").arg(*name)) ==
                    QMessageBox::Yes)
        tell(deleteScene(*name));
}

void ScenesMenu::askImport() {
    const QString file =
        QFileDialog::getOpenFileName(m_window, QStringLiteral("Import Scenes"), m_lastDir, kFilter);
    if (file.isEmpty())
        return;
    m_lastDir = QFileInfo(file).absolutePath();
    tell(importFile(file));
}

void ScenesMenu::askExport() {
    const auto name = askWhich(QStringLiteral("Export Scene"), QStringLiteral("&Scene:"));
    if (!name)
        return;
    const QString file = QFileDialog::getSaveFileName(
        m_window, QStringLiteral("Export Scene"),
        QDir(m_lastDir).filePath(*name + QStringLiteral(".json")), kFilter);
    if (file.isEmpty())
        return;
    m_lastDir = QFileInfo(file).absolutePath();
    tell(exportScene(*name, file));
}
