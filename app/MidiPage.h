#pragma once

// The "MIDI" page of the Control Surfaces window: the ports by name (a remembered one that is
// not there now stays listed, marked missing), the bindings with their mode, Learn and Remove,
// what learn is waiting for, whether MIDI is available and why not, the ports' state, what
// arrived last and the settings lines that did not parse. A view of MidiSurface, which runs
// whether this page exists or not.

#include "surfaces/MidiLearn.h"

#include <QWidget>
#include <array>

class MidiSurface;
class QComboBox;
class QLabel;
class QPushButton;

class MidiPage : public QWidget {
    Q_OBJECT

  public:
    explicit MidiPage(MidiSurface &surface, QWidget *parent = nullptr);

  protected:
    // The ports are listed when the page is shown, not when the window is made: opening the
    // window on another page contacts no MIDI system.
    void showEvent(QShowEvent *event) override;

  private:
    static constexpr int kTargets = 7;
    struct Row {
        QLabel *binding = nullptr;
        QComboBox *mode = nullptr; // faders only
        QPushButton *learn = nullptr;
        QPushButton *remove = nullptr;
    };

    void listPorts();
    void fillPorts(QComboBox *box, const QStringList &names, const QString &chosen);
    void showState();
    void showLast();

    MidiSurface &m_surface;
    QLabel *m_availability;
    QComboBox *m_input;
    QComboBox *m_output;
    QLabel *m_portState;
    std::array<Row, kTargets> m_rows;
    QLabel *m_learnState;
    QPushButton *m_cancelLearn;
    QLabel *m_last;
    QLabel *m_scenes;
    QLabel *m_problems;
    QStringList m_inputNames;
    QStringList m_outputNames;
};
