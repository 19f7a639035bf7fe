#include "surfaces/MidiLearn.h"

namespace Midi {

namespace {

constexpr int kPressThreshold = 64;

bool MayPair(int number) {
    return number <= kLastPairedController + kPairOffset;
}

} // namespace

bool IsFaderTarget(LearnTarget target) {
    return target == LearnTarget::Fader1 || target == LearnTarget::Fader2;
}

void MidiLearn::arm(LearnTarget target, FaderMode mode) {
    target_ = target;
    mode_ = mode;
    waiting_.reset();
}

void MidiLearn::cancel() {
    target_.reset();
    waiting_.reset();
}

std::optional<Learned> MidiLearn::finish(FaderBinding binding) {
    binding.mode = mode_;
    Learned learned{*target_, binding};
    cancel();
    return learned;
}

std::optional<Learned> MidiLearn::feed(const Event &event, qint64 now) {
    if (!target_)
        return std::nullopt;
    if (!IsFaderTarget(*target_)) {
        if (const auto *on = std::get_if<NoteOn>(&event)) {
            Learned learned{*target_, ButtonBinding{ButtonKind::Note, on->channel, on->note}};
            cancel();
            return learned;
        }
        if (const auto *cc = std::get_if<ControlChange>(&event);
            cc && cc->value >= kPressThreshold) {
            Learned learned{*target_,
                            ButtonBinding{ButtonKind::ControlChange, cc->channel, cc->number}};
            cancel();
            return learned;
        }
        return std::nullopt;
    }

    if (const auto *bend = std::get_if<PitchBend>(&event))
        return finish(FaderBinding{FaderKind::PitchBend, bend->channel, 0, mode_});
    const auto *cc = std::get_if<ControlChange>(&event);
    if (!cc)
        return std::nullopt;
    // A controller whose window has run out is a 7-bit one, whatever comes now.
    if (auto expired = poll(now))
        return expired;
    if (waiting_ && waiting_->channel == cc->channel) {
        const int low = std::min(waiting_->number, cc->number);
        const int high = std::max(waiting_->number, cc->number);
        if (low <= kLastPairedController && high == low + kPairOffset)
            return finish(FaderBinding{FaderKind::ControlChange14, cc->channel, low, mode_});
        if (waiting_->number == cc->number)
            return std::nullopt; // the same controller moving on: its pair may still come
    }
    if (waiting_) // another controller: the first one had no pair
        return finish(
            FaderBinding{FaderKind::ControlChange, waiting_->channel, waiting_->number, mode_});
    if (!MayPair(cc->number))
        return finish(FaderBinding{FaderKind::ControlChange, cc->channel, cc->number, mode_});
    waiting_ = *cc;
    waitingSince_ = now;
    return std::nullopt;
}

std::optional<Learned> MidiLearn::poll(qint64 now) {
    if (!target_ || !waiting_ || now - waitingSince_ < kPairWindowMs)
        return std::nullopt;
    return finish(
        FaderBinding{FaderKind::ControlChange, waiting_->channel, waiting_->number, mode_});
}

std::optional<qint64> MidiLearn::nextCheck() const {
    if (!target_ || !waiting_)
        return std::nullopt;
    return waitingSince_ + kPairWindowMs;
}

} // namespace Midi
