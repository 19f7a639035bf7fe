#pragma once

// Undo and redo of the operator's gestures. One step is one finished gesture (a drag, a burst
// of key presses, a typed gain, a recall, a fade) with the gains the switcher had reported
// before it and the gains it asked for; undoing sends the former, redoing the latter.

#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

struct UndoChange {
    int target = 0; // a fader index or a channel, as the caller keeps them
    qint16 before = 0;
    qint16 after = 0;

    bool operator==(const UndoChange &) const = default;
};

struct UndoStep {
    QString label; // "Move Fader 1", "Recall Show", for the Edit menu
    QList<UndoChange> changes;

    bool operator==(const UndoStep &) const = default;
};

class UndoHistory {
  public:
    static constexpr int kDefaultDepth = 100;

    explicit UndoHistory(int depth = kDefaultDepth);

    // Records a finished gesture. The steps undone before it can no longer be redone; beyond
    // the depth the oldest step is dropped. A step that changes nothing (no change, or every
    // change back to where it began) is not recorded.
    void push(const UndoStep &step);

    bool canUndo() const { return m_done > 0; }
    bool canRedo() const { return m_done < m_steps.size(); }
    // The step to undo (send each change's `before`) or to redo (send each `after`), and the
    // cursor moved past it; nothing when there is none.
    std::optional<UndoStep> undo();
    std::optional<UndoStep> redo();
    QString undoLabel() const; // empty when there is nothing to undo
    QString redoLabel() const;

    // Forgets every step: the gain type or the channels changed, and the recorded gains no
    // longer belong to the faders.
    void clear();
    qsizetype size() const { return m_steps.size(); }

  private:
    int m_depth;
    QList<UndoStep> m_steps;
    qsizetype m_done = 0; // steps[0, done) can be undone, steps[done, size) redone
};
