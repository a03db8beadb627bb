#include "platform/qt/messagebox.h"
#include "platform/win32/messagebox.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTextCodec>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "qt_messagebox_tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        platform::qt::installMessageBoxHandler();
    }
    void TearDown() override
    {
        platform::setMessageBoxHandler({});
        delete app;
    }
    QApplication* app = nullptr;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// What the call wrote to stderr.
std::string stderrOf(const std::function<void()>& call)
{
    std::fflush(stderr);
    char path[] = "/tmp/kest-stderr-XXXXXX";
    const int file = ::mkstemp(path);
    const int saved = ::dup(2);
    ::dup2(file, 2);
    call();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string text;
    char buffer[256];
    ::lseek(file, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(file, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(file);
    ::unlink(path);
    return text;
}

class HeadlessBoxes : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("KEST_MESSAGEBOX", "stderr", 1); }
    void TearDown() override { ::unsetenv("KEST_MESSAGEBOX"); }
};

TEST_F(HeadlessBoxes, EveryBoxIsOneStderrLineAnsweredWithItsDefault)
{
    int answer = 0;
    EXPECT_EQ(stderrOf([&] { answer = MessageBoxA(nullptr, "No card found\n", "Error", MB_OK | MB_ICONERROR); }),
              "Error: No card found\n");
    EXPECT_EQ(answer, IDOK);

    QMessageBox::StandardButton button = QMessageBox::NoButton;
    EXPECT_EQ(stderrOf([&] {
                  button = platform::qt::messageBox(nullptr, QMessageBox::Warning, "Error",
                                                    "Frequency out of range", QMessageBox::Ok);
              }),
              "Error: Frequency out of range\n");
    EXPECT_EQ(button, QMessageBox::Ok);
    stderrOf([&] {
        button = platform::qt::messageBox(nullptr, QMessageBox::Question, "Providers", "Delete?",
                                          QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    });
    EXPECT_EQ(button, QMessageBox::No);
    stderrOf([&] {
        button = platform::qt::messageBox(nullptr, QMessageBox::Question, "Providers", "Save?",
                                          QMessageBox::Cancel | QMessageBox::Yes);
    });
    EXPECT_EQ(button, QMessageBox::Yes) << "without a default the first button answers";

    // Line breaks inside do not split the line; the text is UTF-8 whatever the locale's codec.
    EXPECT_EQ(stderrOf([&] { MessageBoxA(nullptr, "Build Graph\r\nerror\n", "Fatal\nerror", MB_OK); }),
              "Fatal error: Build Graph error\n");
    QTextCodec* const localeCodec = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("CP1251"));
    EXPECT_EQ(stderrOf([&] {
                  platform::qt::messageBox(nullptr, QMessageBox::Warning, QString::fromUtf8("Ошибка"),
                                           QString::fromUtf8("Частота должна быть\n(950 МГц - 2150 МГц)"));
              }),
              "Ошибка: Частота должна быть (950 МГц - 2150 МГц)\n");
    QTextCodec::setCodecForLocale(localeCodec);
}

TEST_F(HeadlessBoxes, QMessageBoxOwnFunctionsAreAnsweredToo)
{
    // Should a box stay open, close it rather than hang the test.
    bool leftOpen = false;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            leftOpen = true;
            box->close();
        }
    });
    watchdog.start(3000);
    QMessageBox::StandardButton button = QMessageBox::NoButton;
    const std::string written = stderrOf([&] { button = QMessageBox::warning(nullptr, "Error", "Static box"); });
    EXPECT_EQ(written.substr(0, written.find('\n') + 1), "Error: Static box\n"); // Qt may add its own notes

    EXPECT_EQ(button, QMessageBox::Ok);
    stderrOf([&] {
        button = QMessageBox::question(nullptr, "Providers", "Overwrite?", QMessageBox::Yes | QMessageBox::No,
                                       QMessageBox::No);
    });
    EXPECT_EQ(button, QMessageBox::No);
    EXPECT_FALSE(leftOpen);
}

// Runs `call` while a timer inspects and answers the box it opens.
template <typename Call>
void withBox(Call call, const std::function<void(QMessageBox*)>& inspect)
{
    bool seen = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer.stop();
            seen = true;
            inspect(box);
        }
    });
    timer.start(10);
    call();
    EXPECT_TRUE(seen);
}

TEST(QtBoxes, MessageBoxAShowsAQMessageBoxWithItsCaptionIconAndButton)
{
    ::unsetenv("KEST_MESSAGEBOX");
    int answer = 0;
    withBox([&] { answer = MessageBoxA(nullptr, "Cannot run graph\n", "Error", MB_OK | MB_ICONERROR); },
            [](QMessageBox* box) {
                EXPECT_EQ(box->windowTitle(), "Error");
                EXPECT_EQ(box->text(), "Cannot run graph\n");
                EXPECT_EQ(box->icon(), QMessageBox::Critical);
                box->defaultButton()->click();
            });
    EXPECT_EQ(answer, IDOK);

    withBox([&] { answer = MessageBoxA(nullptr, "Driver missing", "Warning", MB_OK | MB_ICONWARNING); },
            [](QMessageBox* box) {
                EXPECT_EQ(box->icon(), QMessageBox::Warning);
                EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
                box->defaultButton()->click();
            });
    EXPECT_EQ(answer, IDOK);
}

// MessageBoxA(GetActiveWindow(), ...), as the card's error boxes are opened:
// the box belongs to the window that was active, and none from another thread.
TEST(QtBoxes, ABoxForTheActiveWindowIsOwnedByIt)
{
    ::unsetenv("KEST_MESSAGEBOX");
    QWidget window;
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_EQ(QApplication::activeWindow(), &window);
    ASSERT_EQ(GetActiveWindow(), static_cast<HWND>(&window));
    withBox([] { MessageBoxA(GetActiveWindow(), "Build Graph error", "Error", MB_OK | MB_ICONERROR); },
            [&](QMessageBox* box) {
                EXPECT_EQ(box->parentWidget(), &window);
                box->defaultButton()->click();
            });
    HWND fromWorker = &window;
    std::thread([&] { fromWorker = GetActiveWindow(); }).join();
    EXPECT_EQ(fromWorker, nullptr);
}

TEST(QtBoxes, ABoxAskedForOnAnotherThreadOpensOnTheGuiThread)
{
    ::unsetenv("KEST_MESSAGEBOX");
    std::atomic<int> answer{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = MessageBoxA(nullptr, "Graph failed", "Error", MB_OK | MB_ICONERROR);
        done = true;
    });
    withBox(
        [&] {
            while (!done)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        },
        [](QMessageBox* box) {
            EXPECT_EQ(box->thread(), QCoreApplication::instance()->thread());
            box->button(QMessageBox::Ok)->click();
        });
    worker.join();
    EXPECT_EQ(answer, IDOK);
}

} // namespace
