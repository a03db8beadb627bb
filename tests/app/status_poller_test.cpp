// The status poll against fake signal queries and a fake adapter counter, on
// a form with the main window's object names.
#include "app/status_poller.h"
#include "app/trayicon.h"
#include "monitor/ledmeter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include <qwt_plot.h>
#include <qwt_scale_div.h>

#include <string>
#include <vector>

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "status_poller_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(argc, argv);
    return application;
}

// A tuner and adapter whose answers the test sets.
struct FakeReceiver {
    int32_t strength = 0, quality = 0, locked = 0;
    bool strengthOk = true, qualityOk = true, lockedOk = true;
    uint32_t counter = 0;
    std::vector<std::string> queries;

    StatusSources sources()
    {
        StatusSources s;
        auto answer = [this](const char* name, const int32_t& value, const bool& ok) {
            return [this, name, &value, &ok](int32_t* out) {
                queries.push_back(name);
                if (!ok)
                    return 0;
                *out = value;
                return 1;
            };
        };
        s.signalStrength = answer("strength", strength, strengthOk);
        s.signalQuality = answer("quality", quality, qualityOk);
        s.demodLocked = answer("locked", locked, lockedOk);
        s.byteCount = [this] { return counter; };
        return s;
    }
};

struct Form {
    explicit Form(bool withCounter = true)
    {
        auto* layout = new QVBoxLayout(&widget);
        auto add = [&](auto* w, const char* name) {
            w->setObjectName(name);
            layout->addWidget(w);
            return w;
        };
        level = add(new LedMeter, "ledMeterAGC");
        quality = add(new LedMeter, "ledMeterSNR");
        levelText = add(new QLabel, "textLabelAGC");
        qualityText = add(new QLabel, "textLabelSNR");
        received = add(new QLabel, "labelReceived");
        plot = add(new QwtPlot, "statusPlot");
        tray = new TrayIcon(QPixmap(), "Kest Ip Data\nNo Locked", nullptr, &widget);

        StatusHooks hooks;
        hooks.setIndStatus = [this](int s) { indicator.push_back(s); };
        hooks.refreshActivePids = [this] { ++refreshes; };
        hooks.reapplyTuning = [this] { ++retunes; };
        hooks.tuningBusy = [this] { return busy; };
        hooks.tuningRejected = [this] { return rejected; };
        hooks.lnbPowerOn = [this] { return power; };
        StatusSources sources = fake.sources();
        if (!withCounter)
            sources.byteCount = nullptr;
        poller = new StatusPoller(&widget, sources, hooks);
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

    QApplication& application = app();
    QWidget widget;
    FakeReceiver fake;
    LedMeter *level, *quality;
    QLabel *levelText, *qualityText, *received;
    QwtPlot* plot;
    TrayIcon* tray;
    StatusPoller* poller;
    std::vector<int> indicator;
    int refreshes = 0, retunes = 0;
    bool busy = false, rejected = false, power = true;
};

} // namespace

TEST(StatusPollerTest, QualityOnlyWhileLockedAndFailedQueriesShowZero)
{
    Form f;
    f.fake.strength = 40;
    f.fake.quality = 55;
    f.poller->poll();
    EXPECT_EQ(f.fake.queries, (std::vector<std::string>{"strength", "locked"}));
    EXPECT_EQ(f.qualityText->text(), "<p align=\"center\">0</p>");
    EXPECT_EQ(f.levelText->text(), "<p align=\"center\">40</p>");
    EXPECT_EQ(f.level->value(), 40);
    EXPECT_EQ(f.indicator, std::vector<int>{0});

    f.fake.queries.clear();
    f.fake.locked = 1;
    f.poller->poll();
    EXPECT_EQ(f.fake.queries, (std::vector<std::string>{"strength", "locked", "quality"}));
    EXPECT_EQ(f.quality->value(), 55);
    EXPECT_EQ(f.refreshes, 1);

    f.fake.strengthOk = false;
    f.fake.lockedOk = false;
    f.poller->poll();
    EXPECT_EQ(f.level->value(), 0) << "last poll's value is not kept";
    EXPECT_EQ(f.quality->value(), 0);
    EXPECT_EQ(f.indicator.back(), 0) << "a failed lock query is no lock";
    EXPECT_EQ(f.refreshes, 1);
}

TEST(StatusPollerTest, SteadyStreamRateAxisAndTooltip)
{
    Form f;
    f.fake.locked = 1;
    f.poller->readInitialByteCount();
    f.fake.counter = 1048576;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 8192u);
    EXPECT_EQ(f.indicator, (std::vector<int>{1, 2}));
    EXPECT_EQ(f.axisTop(), 32) << "the new sample counts from the next poll";

    f.fake.counter = 2 * 1048576;
    f.poller->poll();
    const RateHistory& h = f.poller->rateHistory();
    EXPECT_EQ(h.minimum, 8192u);
    EXPECT_EQ(h.average, 8192u);
    EXPECT_EQ(f.axisTop(), 16384);
    EXPECT_EQ(f.plot->axisStepSize(QwtPlot::yLeft), 2048);
    EXPECT_EQ(f.received->text(), "2.000");
    EXPECT_EQ(f.tray->toolTip(), "Kest Ip Data\nStatus: Locked\nIN: 2.000 MB\nAR: 8192 kbit/s");

    f.fake.locked = 0;
    f.fake.counter = 99999999; // not taken while unlocked
    f.poller->poll();
    EXPECT_EQ(f.tray->toolTip(), "Kest Ip Data\nStatus: Unlocked\nIN: 2.000 MB\nAR: 8192 kbit/s");
}

TEST(StatusPollerTest, CounterEdges)
{
    Form f;
    f.fake.locked = 1;
    f.fake.counter = 0x7FFFFF80u;
    f.poller->readInitialByteCount();
    f.poller->poll();
    EXPECT_EQ(f.indicator, (std::vector<int>{1})) << "no new data: the indicator stays at 1";
    f.fake.counter = 0x80000080u;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 2u) << "256 bytes across the sign bit of 32 bits";
    f.fake.counter = 0xFFFFF000u;
    f.poller->poll();
    EXPECT_EQ(f.received->text(), "4095.996");

    // Wrapped (or the driver restarted): no rate, but the data is new.
    f.indicator.clear();
    f.fake.counter = 0x100;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 0u);
    EXPECT_EQ(f.indicator, (std::vector<int>{1, 2}));
    f.fake.counter = 0x100 + 1280;
    f.poller->poll();
    EXPECT_EQ(f.poller->lastRate(), 10u) << "counting goes on from the new value";

    Form none(false);
    none.fake.locked = 1;
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
    f.fake.locked = 1;
    f.poller->poll();
    f.fake.locked = 0;
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
