// The metrics give the counters the statistics window shows, each under its kind.
#include "metrics/exposition.h"

#include "decoder/decoder.h"
#include "monitor/mainratesource.h"
#include "monitor/rateplot.h"
#include "monitor/testform.h"

#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

#include <QLabel>

#include <memory>

namespace {

struct Rates : MainRateSource {
    RateHistory history;
    const RateHistory& adapterRateHistory() const override { return history; }
};

TEST(MetricsAndStatisticsWindow, ShowTheSameErrorCounters)
{
    static DecoderState decoder;
    auto packets = std::make_unique<Counter[]>(kPidCount);
    auto selected = std::make_unique<Counter[]>(kPidCount);
    auto sections = std::make_unique<Counter[]>(kPidCount);
    decoder.pidPackets = packets.get();
    decoder.pidSelectedPackets = selected.get();
    decoder.pidMpeSections = sections.get();
    Counter* counters[] = {&decoder.rxContinuityErrors, &decoder.rxScrambledErrors, &decoder.rxPointerErrors,
                           &decoder.rxMemErrors,        &decoder.rxLengthErrors,    &decoder.rxCrcErrors,
                           &decoder.rxDropped};
    uint64_t total = 0;
    for (size_t i = 0; i < std::size(counters); ++i) {
        counters[i]->store(11 * (i + 1));
        total += 11 * (i + 1);
    }
    decoder.rxErrors = total;
    Rates rates;
    TestForm window(nullptr, rates, decoder);
    window.tick();

    MetricsSnapshot snapshot;
    readDecoderCounters(decoder, snapshot);
    const QLabel* labels[] = {window.labelRx_continuity_errors, window.labelRx_scrambled_errors,
                              window.labelRx_pointer_errors,    window.labelRx_mem_errors,
                              window.labelRx_length_errors,     window.labeltRx_crc_errors,
                              window.labelRx_dropped};
    uint64_t sum = 0;
    for (size_t i = 0; i < std::size(labels); ++i) {
        EXPECT_EQ(labels[i]->text().toStdString(), std::to_string(snapshot.errors[i])) << errorKindName(i);
        sum += snapshot.errors[i];
    }
    for (size_t i = std::size(labels); i < MetricsSnapshot::kErrorKinds; ++i)
        sum += snapshot.errors[i];
    EXPECT_EQ(window.labelRx_errors->text().toStdString(), std::to_string(sum)) << "TOTAL is the sum of the kinds";
    decoder.pidPackets = decoder.pidSelectedPackets = decoder.pidMpeSections = nullptr;
}

const auto* const kApplication =
    ::testing::AddGlobalTestEnvironment(new OffscreenApplication("metrics_window_tests"));

} // namespace
