#include "app/MidiPage.h"

#include "surfaces/MidiSurface.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Midi;

namespace {

constexpr LearnTarget kTargets[] = {LearnTarget::Fader1, LearnTarget::Fader2,  LearnTarget::Zero1,
                                    LearnTarget::Zero2,  LearnTarget::Stereo1, LearnTarget::Stereo2,
                                    LearnTarget::Lock};

const QString kNone = QStringLiteral("(none)");

QLabel *StateLabel(const char *name, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setFocusPolicy(Qt::TabFocus); // a screen reader's user reaches it with Tab
    return label;
}

QString ModeText(FaderMode mode) {
    switch (mode) {
    case FaderMode::Pickup:
        return QStringLiteral("pickup");
    case FaderMode::Jump:
        return QStringLiteral("jump");
    case FaderMode::Motor:
        return QStringLiteral("motor");
    }
    return {};
}

} // namespace

MidiPage::MidiPage(MidiSurface &surface, QWidget *parent)
    : QWidget(parent), m_surface(surface), m_availability(StateLabel("midiAvailability", this)),
      m_input(new QComboBox(this)), m_output(new QComboBox(this)),
      m_portState(StateLabel("midiPortState", this)), m_learnState(StateLabel("midiLearn", this)),
      m_cancelLearn(new QPushButton(QStringLiteral("&Cancel Learn"), this)),
      m_last(StateLabel("midiLast", this)), m_scenes(StateLabel("midiScenes", this)),
      m_problems(StateLabel("midiProblems", this)) {
    setObjectName(QStringLiteral("midiPage"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_availability);

    auto *ports = new QFormLayout;
    m_input->setObjectName(QStringLiteral("midiInput"));
    m_output->setObjectName(QStringLiteral("midiOutput"));
    m_input->setAccessibleName(QStringLiteral("Input port"));
    m_output->setAccessibleName(QStringLiteral("Output port"));
    ports->addRow(QStringLiteral("&Input port:"), m_input);
    ports->addRow(QStringLiteral("&Output port:"), m_output);
    auto *refresh = new QPushButton(QStringLiteral("&Refresh Ports"), this);
    refresh->setObjectName(QStringLiteral("midiRefresh"));
    ports->addRow(QString(), refresh);
    layout->addLayout(ports);
    layout->addWidget(m_portState);

    auto *bindings = new QGroupBox(QStringLiteral("Bindings"), this);
    auto *grid = new QGridLayout(bindings);
    for (int r = 0; r < kTargets; ++r) {
        const LearnTarget target = ::kTargets[r];
        const QString name = TargetName(target);
        Row &row = m_rows[std::size_t(r)];
        grid->addWidget(new QLabel(name, bindings), r, 0);
        row.binding = StateLabel("", bindings);
        row.binding->setObjectName(QStringLiteral("midiBinding%1").arg(r));
        row.binding->setAccessibleName(name);
        row.binding->setWordWrap(false);
        grid->addWidget(row.binding, r, 1);
        if (IsFaderTarget(target)) {
            const int i = target == LearnTarget::Fader2 ? 1 : 0;
            row.mode = new QComboBox(bindings);
            row.mode->setObjectName(QStringLiteral("midiMode%1").arg(i));
            row.mode->setAccessibleName(QStringLiteral("Mode of %1").arg(name));
            for (FaderMode mode : {FaderMode::Pickup, FaderMode::Jump, FaderMode::Motor})
                row.mode->addItem(ModeText(mode), int(mode));
            connect(row.mode, &QComboBox::activated, this, [this, i, box = row.mode](int index) {
                m_surface.setMode(i, FaderMode(box->itemData(index).toInt()));
            });
            grid->addWidget(row.mode, r, 2);
        }
        row.learn = new QPushButton(QStringLiteral("Learn"), bindings);
        row.learn->setObjectName(QStringLiteral("midiLearn%1").arg(r));
        row.learn->setAccessibleName(QStringLiteral("Learn %1").arg(name));
        connect(row.learn, &QPushButton::clicked, this,
                [this, target] { m_surface.learn(target); });
        grid->addWidget(row.learn, r, 3);
        row.remove = new QPushButton(QStringLiteral("Remove"), bindings);
        row.remove->setObjectName(QStringLiteral("midiRemove%1").arg(r));
        row.remove->setAccessibleName(QStringLiteral("Remove %1").arg(name));
        connect(row.remove, &QPushButton::clicked, this,
                [this, target] { m_surface.remove(target); });
        grid->addWidget(row.remove, r, 4);
    }
    layout->addWidget(bindings);

    auto *learnRow = new QHBoxLayout;
    learnRow->addWidget(m_learnState, 1);
    m_cancelLearn->setObjectName(QStringLiteral("midiCancelLearn"));
    learnRow->addWidget(m_cancelLearn);
    layout->addLayout(learnRow);
    layout->addWidget(m_last);

    // A button that recalls a scene: its name, then Learn and the button.
    auto *sceneRow = new QHBoxLayout;
    auto *sceneName = new QLineEdit(this);
    sceneName->setObjectName(QStringLiteral("midiSceneName"));
    auto *sceneLabel = new QLabel(QStringLiteral("Sce&ne to recall:"), this);
    sceneLabel->setBuddy(sceneName);
    sceneName->setAccessibleName(QStringLiteral("Scene to recall"));
    auto *learnScene = new QPushButton(QStringLiteral("Learn &Scene Button"), this);
    learnScene->setObjectName(QStringLiteral("midiLearnScene"));
    connect(learnScene, &QPushButton::clicked, this,
            [this, sceneName] { m_surface.learnScene(sceneName->text()); });
    sceneRow->addWidget(sceneLabel);
    sceneRow->addWidget(sceneName, 1);
    sceneRow->addWidget(learnScene);
    layout->addLayout(sceneRow);
    layout->addWidget(m_scenes);
    layout->addWidget(m_problems);
    layout->addStretch();

    connect(refresh, &QPushButton::clicked, this, &MidiPage::listPorts);
    connect(m_input, &QComboBox::activated, this,
            [this](int index) { m_surface.setInputPort(m_input->itemData(index).toString()); });
    connect(m_output, &QComboBox::activated, this,
            [this](int index) { m_surface.setOutputPort(m_output->itemData(index).toString()); });
    connect(m_cancelLearn, &QPushButton::clicked, &m_surface, &MidiSurface::cancelLearn);
    connect(&m_surface, &MidiSurface::stateChanged, this, &MidiPage::showState);
    connect(&m_surface, &MidiSurface::messageHandled, this, &MidiPage::showLast);
    showState();
    showLast();
}

void MidiPage::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    listPorts();
}

void MidiPage::listPorts() {
    m_inputNames = m_surface.inputPortNames();
    m_outputNames = m_surface.outputPortNames();
    showState();
}

void MidiPage::fillPorts(QComboBox *box, const QStringList &names, const QString &chosen) {
    QStringList shown = names;
    if (!chosen.isEmpty() && !shown.contains(chosen))
        shown.append(chosen);
    box->clear();
    box->addItem(kNone, QString());
    for (const QString &name : shown)
        box->addItem(names.contains(name) ? name : QStringLiteral("%1 (missing)").arg(name), name);
    box->setCurrentIndex(std::max(0, int(box->findData(chosen))));
}

void MidiPage::showState() {
    const MidiSetup &setup = m_surface.setup();
    m_availability->setText(m_surface.availability());
    fillPorts(m_input, m_inputNames, setup.input);
    fillPorts(m_output, m_outputNames, setup.output);
    QStringList state;
    if (!setup.input.isEmpty())
        state << QStringLiteral("Input \"%1\": %2")
                     .arg(setup.input, m_surface.inputOpen() ? QStringLiteral("open")
                                                             : QStringLiteral("not open"));
    if (!setup.output.isEmpty())
        state << QStringLiteral("Output \"%1\": %2")
                     .arg(setup.output, m_surface.outputOpen() ? QStringLiteral("open")
                                                               : QStringLiteral("not open"));
    if (!m_surface.portState().isEmpty())
        state << QStringLiteral("Last change: %1").arg(m_surface.portState());
    m_portState->setText(state.join(QLatin1Char('\n')));
    m_portState->setVisible(!state.isEmpty());

    for (int r = 0; r < kTargets; ++r) {
        const LearnTarget target = ::kTargets[r];
        Row &row = m_rows[std::size_t(r)];
        QString text;
        bool bound = false;
        if (IsFaderTarget(target)) {
            const auto &binding = setup.faders[target == LearnTarget::Fader2 ? 1 : 0];
            bound = binding.has_value();
            if (binding) {
                text = ToText(*binding);
                row.mode->setCurrentIndex(row.mode->findData(int(binding->mode)));
            }
            row.mode->setEnabled(bound);
        } else {
            const std::optional<ButtonBinding> *binding = nullptr;
            switch (target) {
            case LearnTarget::Zero1:
                binding = &setup.zero[0];
                break;
            case LearnTarget::Zero2:
                binding = &setup.zero[1];
                break;
            case LearnTarget::Stereo1:
                binding = &setup.stereo[0];
                break;
            case LearnTarget::Stereo2:
                binding = &setup.stereo[1];
                break;
            default:
                binding = &setup.lock;
                break;
            }
            bound = binding->has_value();
            if (bound)
                text = ToText(**binding);
        }
        row.binding->setText(bound ? text : QStringLiteral("not bound"));
        // Heard as the target and what binds it, as both are seen on the row.
        row.binding->setAccessibleName(TargetName(::kTargets[r]) + QStringLiteral(": ") +
                                       row.binding->text());
        row.remove->setEnabled(bound);
    }

    if (const auto target = m_surface.learning()) {
        m_learnState->setText(
            setup.input.isEmpty() ? QStringLiteral("Learning %1: choose an input port first.")
                                        .arg(TargetName(*target))
            : *target == LearnTarget::Scene
                ? QStringLiteral("Learning the scene button: press a button or a key…")
                : QStringLiteral("Learning %1: move a control…").arg(TargetName(*target)));
        m_cancelLearn->setEnabled(true);
    } else {
        m_learnState->setText(QStringLiteral("Not learning."));
        m_cancelLearn->setEnabled(false);
    }

    QStringList scenes;
    for (const auto &scene : m_surface.scenes())
        if (scene)
            scenes << QStringLiteral("%1 recalls \"%2\"").arg(ToText(scene->button), scene->scene);
    m_scenes->setText(scenes.isEmpty()
                          ? QString()
                          : QStringLiteral("Scenes: ") + scenes.join(QStringLiteral("; ")));
    m_scenes->setVisible(!scenes.isEmpty());

    QStringList lines;
    if (!m_surface.saveProblem().isEmpty())
        lines << m_surface.saveProblem();
    if (const QStringList problems = m_surface.problems(); !problems.isEmpty())
        lines << QStringLiteral("Ignored settings lines:") << problems;
    m_problems->setText(lines.join(QLatin1Char('\n')));
    m_problems->setVisible(!lines.isEmpty());
}

void MidiPage::showLast() {
    const QString arrived = m_surface.lastArrived();
    m_last->setText(
        arrived.isEmpty()
            ? QStringLiteral("Nothing arrived yet.")
            : QStringLiteral("Last message: %1: %2").arg(arrived, m_surface.lastOutcome()));
}
