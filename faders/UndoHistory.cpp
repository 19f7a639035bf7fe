#include "faders/UndoHistory.h"

#include <algorithm>

UndoHistory::UndoHistory(int depth) : m_depth(std::max(1, depth)) {}

void UndoHistory::push(const UndoStep &step) {
    const bool changes = std::any_of(step.changes.begin(), step.changes.end(),
                                     [](const UndoChange &c) { return c.before != c.after; });
    if (!changes)
        return;
    m_steps.resize(m_done);
    m_steps.append(step);
    if (m_steps.size() > m_depth)
        m_steps.remove(0, m_steps.size() - m_depth);
    m_done = m_steps.size();
}

std::optional<UndoStep> UndoHistory::undo() {
    if (!canUndo())
        return std::nullopt;
    return m_steps[--m_done];
}

std::optional<UndoStep> UndoHistory::redo() {
    if (!canRedo())
        return std::nullopt;
    return m_steps[m_done++];
}

QString UndoHistory::undoLabel() const {
    return canUndo() ? m_steps[m_done - 1].label : QString();
}

QString UndoHistory::redoLabel() const {
    return canRedo() ? m_steps[m_done].label : QString();
}

void UndoHistory::clear() {
    m_steps.clear();
    m_done = 0;
}
