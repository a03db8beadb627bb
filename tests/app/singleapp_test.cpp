#include "../platform/winmsg/childprocess.h"
#include "../platform/winmsg/runtimedir.h"

#include "app/qtsingleapplication.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

namespace {

const std::string helper = std::string(KEST_BIN_DIR) + "/singleapp_test_helper";

// One application object per test program, listening as the running instance.
class AppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "singleapp_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QtSingleApplication>("KestIPData", argc, argv);
    }
    void TearDown() override { app.reset(); }
    std::unique_ptr<QtSingleApplication> app;
};
AppEnvironment* const environment = static_cast<AppEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new AppEnvironment));

// Collects what messageReceived carries.
struct Received {
    explicit Received(QtSingleApplication& app)
    {
        connection = QObject::connect(&app, &QtSingleApplication::messageReceived,
                                      [this](const QString& message) { messages << message; });
    }
    ~Received() { QObject::disconnect(connection); }
    QStringList messages;
    QMetaObject::Connection connection;
};

// Runs the event loop while the second instance talks to us; its two answers.
std::pair<std::string, std::string> startSecondInstance(const std::string& id, const std::string& message)
{
    kesttest::ChildProcess child({helper, id, message});
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && !child.hasOutput(0))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const std::string sent = child.readLine();
    const std::string listening = child.readLine();
    child.wait();
    QCoreApplication::processEvents();
    return {sent, listening};
}

TEST(QtSingleApplication, SecondInstanceReachesTheRunningOneAndBringsItsWindowToTheFront)
{
    QtSingleApplication& app = *environment->app;
    EXPECT_EQ(app.applicationId(), "KestIPData");
    EXPECT_EQ(app.listenerWindow(), nullptr);
    EXPECT_FALSE(app.sendMessage("Are you there?", 5000)) << "no instance runs yet";
    app.activateMainWidget(); // no main widget yet: nothing happens
    ASSERT_TRUE(app.startListening(true));
    ASSERT_TRUE(app.startListening(true)); // once only; no second connection either
    ASSERT_NE(app.listenerWindow(), nullptr);
    EXPECT_EQ(app.listenerWindow()->windowTitle(), "KestIPData");
    EXPECT_FALSE(app.listenerWindow()->isVisible());

    QWidget mainWindow;
    mainWindow.resize(200, 100);
    app.setMainWidget(&mainWindow);
    Received received(app);

    auto answers = startSecondInstance("KestIPData", "Are you there?");
    EXPECT_EQ(answers.first, "sent 1");
    EXPECT_EQ(answers.second, "listening 0");
    ASSERT_EQ(received.messages.size(), 1);
    EXPECT_EQ(received.messages.at(0), "Are you there?");
    EXPECT_TRUE(mainWindow.isVisible());

    mainWindow.showMinimized();
    QCoreApplication::processEvents();
    answers = startSecondInstance("KestIPData", "\xD0\x92\xD1\x8B \xD0\xB7\xD0\xB4\xD0\xB5\xD1\x81\xD1\x8C?");
    EXPECT_EQ(answers.first, "sent 1");
    ASSERT_EQ(received.messages.size(), 2);
    EXPECT_EQ(received.messages.at(1), QString::fromUtf8("Вы здесь?"));
    EXPECT_FALSE(mainWindow.isMinimized());
    EXPECT_TRUE(mainWindow.isVisible());

    // Our own message loops back through the same window.
    EXPECT_TRUE(app.sendMessage("self"));
    ASSERT_EQ(received.messages.size(), 3);
    EXPECT_EQ(received.messages.at(2), "self");

    // Another id: no instance runs under it, and the second start may listen.
    answers = startSecondInstance("KestIPData-other", "Are you there?");
    EXPECT_EQ(answers.first, "sent 0");
    EXPECT_EQ(answers.second, "listening 1");
    EXPECT_EQ(received.messages.size(), 3);
}

TEST(QtSingleApplication, MalformedCopyDataIsConsumedWithoutReadingPastItsSize)
{
    QtSingleApplication& app = *environment->app;
    ASSERT_TRUE(app.startListening(false));
    Received received(app);
    HWND listener = FindWindowA(nullptr, "KestIPData");
    ASSERT_NE(listener, nullptr);

    auto send = [&](const void* data, DWORD size) {
        COPYDATASTRUCT copy{0, size, const_cast<void*>(data)};
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(listener, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG,
                                   1000, &result);
    };
    const char16_t terminated[] = u"abc\0def";
    EXPECT_NE(send(terminated, sizeof terminated), 0);
    const char16_t unterminated[] = {u'x', u'y', u'z', u'!'};
    EXPECT_NE(send(unterminated, 6), 0); // the '!' lies beyond cbData
    EXPECT_NE(send(terminated, 5), 0);   // odd size
    EXPECT_NE(send(terminated, 0), 0);
    EXPECT_NE(send(nullptr, 8), 0);
    ASSERT_EQ(received.messages.size(), 2);
    EXPECT_EQ(received.messages.at(0), "abc");
    EXPECT_EQ(received.messages.at(1), "xyz");

    // Messages other than WM_COPYDATA are not the listener's business.
    EXPECT_EQ(SendMessageA(listener, WM_USER, 1, 2), 0);
    EXPECT_EQ(received.messages.size(), 2);
}

} // namespace
