#include "surfaces/OscSurface.h"

#include "faders/FaderController.h"
#include "faders/GainScale.h"
#include "surfaces/AllowList.h"
#include "transport/SwitcherLink.h"

#include <QMetaMethod>
#include <cmath>
#include <type_traits>
#include <variant>

namespace {

Osc::LinkWord WordOf(LinkState state) {
    switch (state) {
    case LinkState::Live:
        return Osc::LinkWord::Live;
    case LinkState::Connecting:
        return Osc::LinkWord::Connecting;
    case LinkState::Offline:
        break;
    }
    return Osc::LinkWord::Offline;
}

QString Endpoint(const QString &address, quint16 port) {
    return (address.contains(u':') ? u'[' + address + u']' : address) + u':' +
           QString::number(port);
}

} // namespace

QString OscSurface::SurfaceDropText(SurfaceDrop reason) {
    switch (reason) {
    case SurfaceDrop::NotYetReported:
        return QStringLiteral("not yet reported on this connection");
    case SurfaceDrop::NoScenes:
        break;
    }
    return QStringLiteral("no scenes");
}

OscSurface::OscSurface(FaderController &faders, SwitcherLink &link, QObject *parent)
    : QObject(parent), m_faders(faders), m_link(link), m_state(QStringLiteral("Off")) {
    m_server.setObjectName(QStringLiteral("oscServer"));
    connect(&m_server, &Osc::OscServer::commandReceived, this, &OscSurface::onCommand);
    connect(&m_server, &Osc::OscServer::statusChanged, this, &OscSurface::statusChanged);

    // Feedback: what the switcher reported, what the captions show, how the link stands.
    connect(&m_faders, &FaderController::reportedChanged, this,
            [this](int i, qint16 gain) { m_server.publishGain(i, gain); });
    connect(&m_faders, &FaderController::gainShown, this, [this](int i, qint16 gain) {
        m_server.publishCaption(i, GainScale::GainCaption(gain));
    });
    connect(&m_faders, &FaderController::lockChanged, this, [this](bool on) { m_locked = on; });
    connect(&m_link, &SwitcherLink::stateChanged, this, &OscSurface::publishLink);
    publishLink();
    for (int i = 0; i < FaderController::kFaders; ++i)
        if (m_faders.reportedSinceConnect(i))
            m_server.publishGain(i, m_faders.reportedGain(i));
}

OscSurface::~OscSurface() = default;

void OscSurface::publishLink() {
    m_server.publishLink(WordOf(m_link.state()));
}

void OscSurface::apply(const SurfaceSettings &settings) {
    // The same settings again change nothing while they work: the subscribers stay. A port
    // that could not be bound is tried again.
    const bool same = settings.oscEnabled == m_settings.oscEnabled &&
                      settings.oscPort == m_settings.oscPort &&
                      settings.oscAddress == m_settings.oscAddress &&
                      settings.oscAllowed == m_settings.oscAllowed;
    m_settings = settings;
    if (same && m_problem.isEmpty() && (m_server.isListening() || !settings.oscEnabled))
        return;
    QString state, problem;
    if (!settings.oscEnabled) {
        m_server.stop();
        state = QStringLiteral("Off");
    } else if (const auto address = Osc::ParseAddressLiteral(settings.oscAddress); !address) {
        m_server.stop();
        state = QStringLiteral("Not listening: OSC Address \"%1\" is not an IP address")
                    .arg(settings.oscAddress);
        problem =
            QStringLiteral("OSC: address \"%1\" is not an IP address").arg(settings.oscAddress);
    } else {
        const auto allowed = Osc::ParseAllowList(settings.oscAllowed);
        if (const auto *bad = std::get_if<Osc::BadAllowEntry>(&allowed)) {
            m_server.stop();
            state = QStringLiteral("Not listening: OSC Allowed entry \"%1\" is not an address "
                                   "or network")
                        .arg(bad->entry);
            problem = QStringLiteral("OSC: allowed sender \"%1\" is not an address or network")
                          .arg(bad->entry);
        } else {
            const QString error =
                m_server.start(*address, settings.oscPort, std::get<Osc::AllowList>(allowed));
            const QString where = Endpoint(address->toString(), settings.oscPort);
            if (error.isEmpty()) {
                state = QStringLiteral("Listening on %1")
                            .arg(Endpoint(address->toString(), m_server.port()));
            } else {
                state = QStringLiteral("Not listening: ") + error;
                // Qt's words for a port another socket holds (AddressInUseError).
                problem = error.contains(QStringLiteral("in use"))
                              ? QStringLiteral("OSC: port %1 is in use").arg(settings.oscPort)
                              : QStringLiteral("OSC: cannot listen on %1").arg(where);
            }
        }
    }
    if (state != m_state || problem != m_problem) {
        m_state = state;
        m_problem = problem;
        emit stateChanged();
    }
    emit statusChanged();
}

QString OscSurface::lastArrival() const {
    const QString heard = m_server.lastArrival();
    if (!m_verdict.isEmpty() && heard == m_verdictFor)
        return m_verdict;
    return heard;
}

void OscSurface::dropCommand(SurfaceDrop reason) {
    ++m_drops[int(reason)];
    m_verdictFor = m_server.lastArrival();
    m_verdict = m_verdictFor + QStringLiteral(" (dropped, ") + SurfaceDropText(reason) + u')';
}

// A fader may be moved once the switcher has told its gain on this connection; with Lock
// Faders on, a move carries the other fader along, so both must have been told.
bool OscSurface::mayMove(int fader) const {
    if (!m_faders.reportedSinceConnect(fader))
        return false;
    return !m_locked || m_faders.reportedSinceConnect(1 - fader);
}

void OscSurface::onCommand(const Osc::Command &command) {
    m_verdict.clear();
    std::visit(
        [this](const auto &c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, Osc::SetGain>) {
                if (!mayMove(c.fader))
                    return dropCommand(SurfaceDrop::NotYetReported);
                m_faders.moveAsUser(c.fader, c.gain);
            } else if constexpr (std::is_same_v<T, Osc::Zero>) {
                if (!mayMove(c.fader))
                    return dropCommand(SurfaceDrop::NotYetReported);
                m_faders.moveAsUser(c.fader, GainScale::kZeroDbGain);
            } else if constexpr (std::is_same_v<T, Osc::Fade>) {
                if (!mayMove(c.fader))
                    return dropCommand(SurfaceDrop::NotYetReported);
                m_faders.fadeTo(c.fader, c.gain, std::llround(c.seconds * 1000.0));
            } else if constexpr (std::is_same_v<T, Osc::SetStereo>) {
                m_faders.setStereo(c.fader, c.on);
            } else if constexpr (std::is_same_v<T, Osc::SetLock>) {
                m_faders.setLock(c.on);
            } else if constexpr (std::is_same_v<T, Osc::RecallScene>) {
                if (!isSignalConnected(QMetaMethod::fromSignal(&OscSurface::sceneRecallRequested)))
                    return dropCommand(SurfaceDrop::NoScenes);
                if (!m_faders.reportedSinceConnect(0) || !m_faders.reportedSinceConnect(1))
                    return dropCommand(SurfaceDrop::NotYetReported);
                emit sceneRecallRequested(c.name, c.seconds);
            }
            // Subscribe is the listener's own business and never arrives here.
        },
        command);
}

// The meta-object code here rather than in the library's one moc unit (see OscServer.cpp).
#include "moc_OscSurface.cpp"
