// The window's start-up around the window itself: one window per data folder, Qt's own texts in German,
// the desktop entry's window class, and what the command line answers without a display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QLocalSocket>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QtTestApp.h"
#include "app/MainForm.h"
#include "app/StartOptions.h"
#include "app/WindowInstance.h"
#include "support/TestSupport.h"
#include "tagging/WindowInstanceLock.h"

namespace zeloro::test {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 5000;

class WindowStart : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        (void)TestApplication();
        InitApplication();
    }

    void SetUp() override {
        dataFolder_ = data_.path().string() + "/";
        fs::copy_file(BuildDir() / "zeloro.sqlite", data_ / "zeloro.sqlite");
    }

    std::unique_ptr<Tmain> MakeWindow() {
        MainOptions options;
        options.resolveDataFolder = [this] { return dataFolder_; };
        options.endApplication = [] {};
        return std::make_unique<Tmain>(std::move(options));
    }

    [[nodiscard]] std::string InstanceFolder() const { return instances_.path().string(); }

    TempDir data_;
    TempDir instances_;  // where the claims lie, instead of the user's runtime folder
    std::string dataFolder_;
};

TEST_F(WindowStart, SecondStartIsRefusedAndBringsTheFirstToTheFront) {
    WindowInstance first(dataFolder_, InstanceFolder());
    ASSERT_TRUE(first.Claim());
    auto window = MakeWindow();
    QObject::connect(&first, &WindowInstance::FrontRequested, window.get(),
                     [&window] { BringToFront(*window); });
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->showMinimized();
    QTRY_VERIFY(window->isMinimized());

    QSignalSpy front(&first, &WindowInstance::FrontRequested);
    // The same folder spelt another way is the same folder.
    const std::string sameFolder = (data_.path() / "." / "").string();
    WindowInstance second(sameFolder, InstanceFolder());
    EXPECT_FALSE(second.Claim());
    ASSERT_TRUE(front.wait(kWaitMs));
    EXPECT_EQ(front.count(), 1);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), kWaitMs);

    // What the refused start tells its user, and where.
    MessageRecorder boxes;
    ::testing::internal::CaptureStderr();
    ReportAlreadyOpen();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(kAlreadyOpenMessage) + "\n");
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), "Zeloro ist bereits geöffnet");
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "Informationen");
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Information);

    // Another data folder has a window of its own.
    const TempDir otherData;
    WindowInstance other(otherData.path().string() + "/", InstanceFolder());
    EXPECT_TRUE(other.Claim());
    QTest::qWait(50);
    EXPECT_EQ(front.count(), 1);
}

TEST_F(WindowStart, SocketOfAKilledWindowIsTakenOver) {
    // A window that was killed leaves its lock file, unlocked, and its socket file, with nobody listening.
    std::string socketPath;
    {
        const WindowInstanceLock killed(InstanceFolder(), WindowInstanceKey(dataFolder_, ::geteuid()));
        ASSERT_EQ(killed.state(), WindowInstanceLock::State::held);
        socketPath = killed.SocketPath();
    }
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
        ::close(fd);
    }
    ASSERT_TRUE(fs::is_socket(socketPath));
    QLocalSocket probe;
    probe.connectToServer(QString::fromStdString(socketPath));
    EXPECT_FALSE(probe.waitForConnected(100)) << "the left socket still answers";

    WindowInstance first(dataFolder_, InstanceFolder());
    ASSERT_TRUE(first.Claim());
    QSignalSpy front(&first, &WindowInstance::FrontRequested);
    WindowInstance second(dataFolder_, InstanceFolder());
    EXPECT_FALSE(second.Claim());
    EXPECT_TRUE(front.wait(kWaitMs));
}

// Only the request itself brings the window forward; anything else on the socket is dropped.
TEST_F(WindowStart, OtherTalkOnTheSocketIsDropped) {
    WindowInstance first(dataFolder_, InstanceFolder());
    ASSERT_TRUE(first.Claim());
    QSignalSpy front(&first, &WindowInstance::FrontRequested);
    const WindowInstanceLock probe(InstanceFolder(), WindowInstanceKey(dataFolder_, ::geteuid()));
    ASSERT_EQ(probe.state(), WindowInstanceLock::State::heldElsewhere);
    for (const QByteArray& talk : {QByteArray("hello\n"), QByteArray("front"), QByteArray(100, 'x')}) {
        QLocalSocket client;
        client.connectToServer(QString::fromStdString(probe.SocketPath()));
        ASSERT_TRUE(client.waitForConnected(kWaitMs));
        client.write(talk);
        ASSERT_TRUE(client.waitForBytesWritten(kWaitMs));
        if (talk.endsWith('\n') || talk.size() > 64) {
            QSignalSpy gone(&client, &QLocalSocket::disconnected);
            EXPECT_TRUE(gone.wait(kWaitMs)) << talk.toStdString();
        } else {
            QTest::qWait(100);
        }
    }
    EXPECT_EQ(front.count(), 0);
}

TEST_F(WindowStart, QtTextsAreGerman) {
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Close | QDialogButtonBox::Discard);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')).toStdString(),
              "Abbrechen");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Close)->text().remove(QLatin1Char('&')).toStdString(),
              "Schließen");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Discard)->text().remove(QLatin1Char('&')).toStdString(),
              "Verwerfen");

    // The log panel's context menu is Qt's own, with the window's commands added.
    auto window = MakeWindow();
    auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
    ASSERT_NE(memo, nullptr);
    const std::unique_ptr<QMenu> menu(memo->createStandardContextMenu());
    std::vector<std::string> texts;
    for (const QAction* action : menu->actions()) {
        texts.push_back(
            action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0).toStdString());
    }
    for (const char* german : {"Kopieren", "Einfügen", "Alles auswählen"}) {
        EXPECT_THAT(texts, ::testing::Contains(german));
    }
}

// The desktop finds the entry of the running window by its window class (X11) or the entry's name (Wayland).
TEST_F(WindowStart, DesktopEntryNamesTheRunningWindow) {
    const fs::path entry =
        SourceDir() / "data" / (QGuiApplication::desktopFileName().toStdString() + ".desktop");
    ASSERT_TRUE(fs::is_regular_file(entry)) << entry;
    const std::string text = ReadFileText(entry);
    const std::string key = "\nStartupWMClass=";
    const std::size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos);
    const std::size_t start = at + key.size();
    EXPECT_EQ(text.substr(start, text.find('\n', start) - start),
              QCoreApplication::applicationName().toStdString());
}

struct RequestCase {
    std::string_view name;
    std::vector<const char*> args;  // after the program's name
    StartRequest want;
};
void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class StartRequests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(StartRequests, MatchTable) {
    const RequestCase& c = GetParam();
    std::vector<const char*> argv{"zeloro"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(StartRequestOf(static_cast<int>(argv.size()), argv.data()), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    WindowStart, StartRequests,
    ::testing::Values(RequestCase{"None", {}, StartRequest::window},
                      RequestCase{"Help", {"--help"}, StartRequest::help},
                      RequestCase{"ShortHelp", {"-h"}, StartRequest::help},
                      RequestCase{"Version", {"--version"}, StartRequest::version},
                      RequestCase{
                          "AfterQtOptions", {"-platform", "offscreen", "--version"}, StartRequest::version},
                      RequestCase{"FirstWins", {"--help", "--version"}, StartRequest::help},
                      RequestCase{"NoPrefixMatch", {"--versions", "--helpme"}, StartRequest::window}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeloro::test
