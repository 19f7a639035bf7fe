// The protocol's hot paths on a host that does nothing: no window, no socket, so only the
// dispatcher and the decoders are timed.

#include "BenchMessages.h"
#include "protocol/Dispatcher.h"
#include "protocol/GainRequest.h"
#include "protocol/ProtocolHost.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

// A fresh buffer and tables, and a host that only counts, so a refresh costs nothing.
struct FakeHooks final : ProtocolHost {
    ReceiveBuffer sBuffer;
    std::unique_ptr<SwitcherTables> tables = std::make_unique<SwitcherTables>();
    int updates = 0;

    void SendToSwitcher(const QByteArray &) override {}
    void noteFailure(const char *) override {}
    void gainsApplied(const StoredGains &) override { ++updates; }
    void crosspointMapDecoded(int, int) override {}
    void counterIncremented(int) override {}
    void frontCut(const FrameCutter::Front &, const QByteArray &) override {}
    bool step() { return TCPComm::ProcessCommand(sBuffer, *tables, *this); }
};

// One dispatcher step that cuts and decodes the message appended just before it.
void StepOver(benchmark::State &state, FakeHooks &hooks, const QByteArray &message) {
    for (auto _ : state) {
        hooks.sBuffer.append(message);
        hooks.step();
    }
    if (!hooks.sBuffer.isEmpty())
        state.SkipWithError("the message was not consumed");
    state.SetBytesProcessed(state.iterations() * message.size());
}

void BM_StepGainReport(benchmark::State &state) {
    FakeHooks hooks;
    StepOver(state, hooks, BenchMessages::GainReport(WireFormat::kKindInput, 5, {1000}));
}
BENCHMARK(BM_StepGainReport);

// Kind 10 onto output 64, whose map lists the source, so the gain is applied and counted.
void BM_StepCrosspointReport(benchmark::State &state) {
    FakeHooks hooks;
    hooks.sBuffer.append(BenchMessages::CrosspointMap(64, 1, 64, 8, 1000));
    hooks.step();
    if (hooks.tables->udtXpt[64].bCount != 8) {
        state.SkipWithError("the crosspoint map was not applied");
        return;
    }
    StepOver(state, hooks, BenchMessages::CrosspointReport(64, {{1000, 65}}));
}
BENCHMARK(BM_StepCrosspointReport);

// A map of outputs x sources; 16 x 8 is one message of the simulator's information dump.
void BM_StepCrosspointMap(benchmark::State &state) {
    FakeHooks hooks;
    const auto outputs = int(state.range(0));
    const auto sources = int(state.range(1));
    StepOver(state, hooks, BenchMessages::CrosspointMap(0, outputs, 0, sources, 1000));
    if (hooks.tables->udtXpt[std::size_t(outputs - 1)].bCount != sources)
        state.SkipWithError("the crosspoint map was not applied");
}
BENCHMARK(BM_StepCrosspointMap)->ArgNames({"outputs", "sources"})->Args({1, 2})->Args({16, 8});

// One gain-report step with n further reports queued behind the front one. Each iteration
// appends one report and cuts one, so the backlog stays at n throughout.
void BM_StepWithBacklog(benchmark::State &state) {
    FakeHooks hooks;
    const QByteArray report = BenchMessages::GainReport(WireFormat::kKindInput, 5, {1000});
    const auto backlog = state.range(0);
    QByteArray queued;
    queued.reserve(report.size() * backlog);
    for (qint64 k = 0; k < backlog; ++k)
        queued.append(report);
    hooks.sBuffer.append(queued);
    for (auto _ : state) {
        hooks.sBuffer.append(report);
        hooks.step();
    }
    if (hooks.sBuffer.size() != report.size() * backlog)
        state.SkipWithError("the backlog did not stay constant");
    state.counters["backlog_bytes"] = double(report.size() * backlog);
}
BENCHMARK(BM_StepWithBacklog)->ArgName("queued")->Arg(1)->Arg(1000)->Arg(100000);

void BM_BuildSetGain(benchmark::State &state) {
    const auto kind = int(state.range(0));
    const auto entries = int(state.range(1));
    int gain = 1024;
    for (auto _ : state) {
        auto command = GainRequestCodec::Encode({kind, 4, 64, gain, entries});
        benchmark::DoNotOptimize(command);
        gain = gain == 1024 ? 1025 : 1024;
    }
}
BENCHMARK(BM_BuildSetGain)->ArgNames({"kind", "entries"})->Args({1, 1})->Args({10, 2});

} // namespace
