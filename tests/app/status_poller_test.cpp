// The status poll against fake signal queries and a fake adapter counter, on
// the main window's widgets.
#include "app/status_poller.h"
#include "app/trayicon.h"
#include "monitor/ledmeter.h"

#include "tests/form_ui.h"
#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include <qwt_plot.h>
#include <qwt_scale_div.h>

#include <set>
#include <string>
#include <vector>

namespace {

QApplication& app()
{
    return offscreenApplication("status_poller_tests");
}

struct Form : FormUi {
    explicit Form(bool withCounter = true) : FormUi(app())
    {
        tray = new TrayIcon(QPixmap(), "Kest Ip Data\nNo Locked", nullptr, &widget);

        StatusHooks hooks;
        hooks.setIndStatus = [this](int s) { indicator.push_back(s); };
        hooks.refreshActivePids = [this] { ++refreshes; };
        hooks.reapplyTuning = [this] { ++retunes; };
        hooks.tuningBusy = [this] { return busy; };
        hooks.tuningRejected = [this] { return rejected; };
        hooks.lnbPowerOn = [this] { return power; };
        StatusSources sources;
        auto answer = [this](const char* name, const int32_t& value) {
            return [this, name, &value](int32_t* out) {
                queries.push_back(name);
                if (failing.count(name) != 0)
                    return 0;
                *out = value;
                return 1;
            };
        };
        sources.signalStrength = answer("strength", strength);
        sources.signalQuality = answer("quality", qualityValue);
        sources.demodLocked = answer("locked", locked);
        if (withCounter) {
            sources.byteCount = [this] { return counter; };
            sources.lostFrames = [this] { return lost; };
        }
        poller = new StatusPoller(&widget, ui, tray, sources, hooks);
        poller->setupPlot();
    }
    // Polls with the receiver unlocked until the next re-tune; the polls it took.
    int pollsUntilRetune(int limit = 30)
    {
        const int before = retunes;
        for (int n = 1; n <= limit; ++n) {
            poller->poll();
            if (retunes != before)
                return n;
        }
        return 0;
    }
    double axisTop() const { return plot->axisScaleDiv(QwtPlot::yLeft).upperBound(); }

    // The tuner's and the adapter's answers.
    int32_t strength = 0, qualityValue = 0, locked = 0;
    uint32_t counter = 0;
    uint64_t lost = 0;
    std::set<std::string> failing;
    std::vector<std::string> queries;
    LedMeter* level = ui.ledMeterAGC;
    LedMeter* quality = ui.ledMeterSNR;
    QLabel* levelText = ui.textLabelAGC;
    QLabel* qualityText = ui.textLabelSNR;
    QLabel* received = ui.labelReceived;
    QwtPlot* plot = ui.statusPlot;
    TrayIcon* tray = nullptr;
    StatusPoller* poller;
    std::vector<int> indicator;
    int refreshes = 0, retunes = 0;
    bool busy = false, rejected = false, power = true;
};

} // namespace

TEST(StatusPollerTest, QualityOnlyWhileLockedAndFailedQueriesShowZero)
{
    Form f;
    f.strength = 40;
    f.qualityValue = 55;
    f.poller->poll();
    EXPECT_EQ(f.queries, (std::vector<std::string>{"strength", "locked"}));
    EXPECT_EQ(f.qualityText->text(), "<p align=\"center\">0</p>");
    EXPECT_EQ(f.levelText->text(), "<p align=\"center\">40</p>");
    EXPECT_EQ(f.level->value(), 40);
    EXPECT_EQ(f.indicator, std::vector<int>{0});

    f.queries.clear();
    f.locked = 1;
    f.poller->poll();
    EXPECT_EQ(f.queries, (std::vector<std::string>{"strength", "locked", "quality"}));
    EXPECT_EQ(f.quality->value(), 55);
    EXPECT_EQ(f.refreshes, 1);

    f.failing = {"strength", "locked"};
    f.poller->poll();
    EXPECT_EQ(f.level->value(), 0) << "last poll's value is not kept";
    EXPECT_EQ(f.quality->value(), 0);
    EXPECT_EQ(f.indicator.back(), 0) << "a failed lock query is no lock";
    EXPECT_EQ(f.refreshes, 1);
}

TEST(StatusPollerTest, SteadyStreamRateAxisAndTooltip)
{
    Form f;
    f.locked = 1;
    f.poller->readInitialByteCount();
    f.counter = 1048576;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 8192u);
    EXPECT_EQ(f.indicator, (std::vector<int>{1, 2}));
    EXPECT_EQ(f.axisTop(), 32) << "the new sample counts from the next poll";

    f.counter = 2 * 1048576;
    f.poller->poll();
    EXPECT_EQ(f.poller->rateHistory().minimum, 8192u);
    EXPECT_EQ(f.axisTop(), 16384);
    EXPECT_EQ(f.plot->axisStepSize(QwtPlot::yLeft), 2048);
    EXPECT_EQ(f.received->text(), "2.000");
    EXPECT_EQ(f.tray->toolTip(), "Kest Ip Data\nStatus: Locked\nIN: 2.000 MB\nAR: 8192 kbit/s");

    f.locked = 0;
    f.counter = 99999999; // not taken while unlocked
    f.lost = 12;          // the adapter's losses are taken at every poll
    f.poller->poll();
    EXPECT_EQ(f.tray->toolTip(), "Kest Ip Data\nStatus: Unlocked\nIN: 2.000 MB\nAR: 8192 kbit/s");
    EXPECT_EQ(f.poller->adapterLostFrames(), 12u);
}

TEST(StatusPollerTest, CounterEdges)
{
    Form f;
    f.locked = 1;
    f.counter = 0x7FFFFF80u;
    f.poller->readInitialByteCount();
    f.poller->poll();
    EXPECT_EQ(f.indicator, (std::vector<int>{1})) << "no new data: the indicator stays at 1";
    f.counter = 0x80000080u;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 2u) << "256 bytes across the sign bit of 32 bits";
    f.counter = 0xFFFFF000u;
    f.poller->poll();
    EXPECT_EQ(f.received->text(), "4095.996");

    // The 32-bit counter wraps every 4 GiB: volume, rate and tooltip go on from 4096 MB.
    f.indicator.clear();
    f.counter = 0x100;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 0x1100u / 128);
    EXPECT_EQ(f.indicator, (std::vector<int>{1, 2}));
    EXPECT_EQ(f.poller->lastByteCount(), 0x100000100);
    EXPECT_EQ(f.received->text(), "4096.000");
    EXPECT_TRUE(f.tray->toolTip().contains("IN: 4096.000 MB\n")) << f.tray->toolTip().toStdString();
    for (int wrap = 0; wrap < 2; ++wrap) {
        f.counter += 0x80000000u;
        f.poller->poll();
        f.counter += 0x80000000u;
        f.poller->poll();
    }
    EXPECT_EQ(f.received->text(), "12288.000") << "three wraps";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f.poller->rateHistory().samples[i], double(0x80000000u / 128)) << "sample " << i << " after a wrap";

    Form none(false);
    none.locked = 1;
    none.poller->readInitialByteCount();
    none.poller->poll();
    EXPECT_EQ(none.indicator, (std::vector<int>{1})) << "without an adapter no data ever arrives";
}

TEST(StatusPollerTest, RetuneTiming)
{
    Form f;
    EXPECT_EQ(f.pollsUntilRetune(), 12);
    EXPECT_EQ(f.pollsUntilRetune(), 12) << "and every twelve polls after";

    for (int i = 0; i < 6; ++i)
        f.poller->poll();
    f.locked = 1;
    f.poller->poll();
    f.locked = 0;
    EXPECT_EQ(f.pollsUntilRetune(), 12) << "a locked poll restarts the count";
    for (int i = 0; i < 6; ++i)
        f.poller->poll();
    f.poller->tuningCompleted();
    EXPECT_EQ(f.pollsUntilRetune(), 12) << "so does a completed tuning";

    for (bool* blocker : {&f.busy, &f.rejected}) {
        *blocker = true;
        EXPECT_EQ(f.pollsUntilRetune(), 0);
        *blocker = false;
        EXPECT_EQ(f.pollsUntilRetune(), 12) << "the count starts when the gate opens";
    }
    f.power = false;
    EXPECT_EQ(f.pollsUntilRetune(), 0);
    EXPECT_EQ(f.retunes, 6);
}

TEST(StatusPollerTest, ReceiverSourcesWithoutCardOrAdapterFail)
{
    const StatusSources s = StatusSources::receiver([]() -> CBDAManager* { return nullptr; });
    int32_t value = 7;
    EXPECT_EQ(s.signalStrength(&value) + s.signalQuality(&value) + s.demodLocked(&value), 0);
    EXPECT_EQ(value, 7) << "a failed query leaves the value";
    EXPECT_EQ(s.byteCount(), 0u);
    EXPECT_EQ(s.lostFrames(), 0u);
}
