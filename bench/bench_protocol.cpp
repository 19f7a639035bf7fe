// The protocol's hot paths on fake hooks: no window, no socket, so only the dispatcher and the
// decoders are timed.

#include "BenchMessages.h"
#include "app/Variables.h"
#include "faders/SetGainCommand.h"
#include "protocol/Dispatcher.h"
#include "protocol/Seams.h"

#include <benchmark/benchmark.h>

namespace {

// Fresh program state and hooks that do nothing but count, so a refresh costs nothing.
struct FakeHooks {
    int updates = 0;
    FakeHooks() {
        Variables::ResetAll();
        auto &s = TCPComm::seams();
        s = TCPComm::Seams{};
        s.updateGain = [this] { ++updates; };
        s.gainTimerActive = [] { return false; };
    }
    ~FakeHooks() {
        TCPComm::seams() = TCPComm::Seams{};
        Variables::ResetAll();
    }
};

// One dispatcher step that cuts and decodes the message appended just before it.
void StepOver(benchmark::State &state, const QByteArray &message) {
    for (auto _ : state) {
        Variables::sBuffer.append(message);
        TCPComm::ProcessCommand();
    }
    if (!Variables::sBuffer.isEmpty())
        state.SkipWithError("the message was not consumed");
    state.SetBytesProcessed(state.iterations() * message.size());
}

void BM_StepGainReport(benchmark::State &state) {
    const FakeHooks hooks;
    StepOver(state, BenchMessages::GainReport(WireFormat::kKindInput, 5, {1000}));
}
BENCHMARK(BM_StepGainReport);

// Kind 10 onto output 64, whose map lists the source, so the gain is applied and counted.
void BM_StepCrosspointReport(benchmark::State &state) {
    const FakeHooks hooks;
    Variables::sBuffer.append(BenchMessages::CrosspointMap(64, 1, 64, 8, 1000));
    TCPComm::ProcessCommand();
    if (Variables::udtXpt[64].bCount != 8) {
        state.SkipWithError("the crosspoint map was not applied");
        return;
    }
    StepOver(state, BenchMessages::CrosspointReport(64, {{1000, 65}}));
}
BENCHMARK(BM_StepCrosspointReport);

// A map of outputs x sources; 16 x 8 is one message of the simulator's information dump.
void BM_StepCrosspointMap(benchmark::State &state) {
    const FakeHooks hooks;
    const auto outputs = int(state.range(0));
    const auto sources = int(state.range(1));
    StepOver(state, BenchMessages::CrosspointMap(0, outputs, 0, sources, 1000));
    if (Variables::udtXpt[std::size_t(outputs - 1)].bCount != sources)
        state.SkipWithError("the crosspoint map was not applied");
}
BENCHMARK(BM_StepCrosspointMap)->ArgNames({"outputs", "sources"})->Args({1, 2})->Args({16, 8});

// One gain-report step with n further reports queued behind the front one. Each iteration
// appends one report and cuts one, so the backlog stays at n throughout.
void BM_StepWithBacklog(benchmark::State &state) {
    const FakeHooks hooks;
    const QByteArray report = BenchMessages::GainReport(WireFormat::kKindInput, 5, {1000});
    const auto backlog = state.range(0);
    QByteArray queued;
    queued.reserve(report.size() * backlog);
    for (qint64 k = 0; k < backlog; ++k)
        queued.append(report);
    Variables::sBuffer.append(queued);
    for (auto _ : state) {
        Variables::sBuffer.append(report);
        TCPComm::ProcessCommand();
    }
    if (Variables::sBuffer.size() != report.size() * backlog)
        state.SkipWithError("the backlog did not stay constant");
    state.counters["backlog_bytes"] = double(report.size() * backlog);
}
BENCHMARK(BM_StepWithBacklog)->ArgName("queued")->Arg(1)->Arg(1000)->Arg(100000);

void BM_BuildSetGain(benchmark::State &state) {
    const auto kind = int(state.range(0));
    const auto entries = int(state.range(1));
    int gain = 1024;
    for (auto _ : state) {
        auto command = SetGainCommand::Build(kind, 4, 64, gain, entries);
        benchmark::DoNotOptimize(command);
        gain = gain == 1024 ? 1025 : 1024;
    }
}
BENCHMARK(BM_BuildSetGain)->ArgNames({"kind", "entries"})->Args({1, 1})->Args({10, 2});

} // namespace
