// src/app/WindowInstance.h: one window per data folder; a later start brings the open one to the front.
#pragma once
#include <QObject>
#include <QString>
#include <memory>
#include <string>

class QLocalServer;
class QWidget;

namespace zeloro {

class WindowInstanceLock;

inline constexpr const char* kAlreadyOpenMessage = "Zeloro ist bereits geöffnet";

// The claim of one user's window on one data folder. The first start holds it and listens on a local
// socket; a later start on the same folder finds it held, asks the holder to come to the front and opens
// no window of its own. Nothing here waits on the holder's side, so its window never stalls.
class WindowInstance : public QObject {
    Q_OBJECT
public:
    // dataFolder as resolved at start-up; instanceFolder where the lock and the socket lie (the user's
    // runtime folder in the program, a test's own folder in tests).
    WindowInstance(const std::string& dataFolder, const std::string& instanceFolder,
                   QObject* parent = nullptr);
    ~WindowInstance() override;
    WindowInstance(const WindowInstance&) = delete;
    WindowInstance& operator=(const WindowInstance&) = delete;

    // True when this process may open its window: from now on it holds the data folder's window, and each
    // later start emits FrontRequested here. A socket a killed holder left is removed first. Where no lock
    // of the user's own can be had, nothing is guarded and the answer is true as well. False when another
    // process holds the window: it has been asked to come to the front, and the caller opens none.
    [[nodiscard]] bool Claim();

signals:
    // A later start on the same data folder asked for the window.
    void FrontRequested();

private:
    void TakeConnection();
    [[nodiscard]] bool AskHolderToFront() const;

    std::string dataFolder_;
    std::string instanceFolder_;
    std::unique_ptr<WindowInstanceLock> lock_;
    std::unique_ptr<QLocalServer> server_;  // after the lock: it goes first
};

// The folder WindowInstance uses in the program: the user's runtime folder, else the temporary one.
[[nodiscard]] std::string DefaultInstanceFolder();

// Shows the window, not minimised, above the others and with the keyboard focus; a modal dialog open over
// it comes along in front of it.
void BringToFront(QWidget& window);

// "Zeloro ist bereits geöffnet": on the error stream, then in an information box.
void ReportAlreadyOpen();

}  // namespace zeloro
