// src/app/WindowInstance.cpp: one window per data folder; a later start brings the open one to the front.
#include "app/WindowInstance.h"

#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "app/MessageBoxes.h"
#include "tagging/WindowInstanceLock.h"

namespace zeloro {
namespace {

constexpr const char* kFrontRequest = "front\n";
constexpr qint64 kLongestRequest = 64;
// The holder takes its lock a moment before it listens; a start in that moment tries again.
constexpr int kConnectAttempts = 20;
constexpr int kConnectWaitMs = 100;

}  // namespace

WindowInstance::WindowInstance(const std::string& dataFolder, const std::string& instanceFolder,
                               QObject* parent)
    : QObject(parent), dataFolder_(dataFolder), instanceFolder_(instanceFolder) {}

// The server goes first (declared after the lock): its socket file is removed while the lock still says
// it is ours, never after a later start has put its own in its place.
WindowInstance::~WindowInstance() = default;

bool WindowInstance::Claim() {
    if (dataFolder_.empty()) {
        return true;  // without a data folder the window connects to nothing another one could share
    }
    lock_ =
        std::make_unique<WindowInstanceLock>(instanceFolder_, WindowInstanceKey(dataFolder_, ::geteuid()));
    switch (lock_->state()) {
        case WindowInstanceLock::State::heldElsewhere:
            static_cast<void>(AskHolderToFront());
            return false;
        case WindowInstanceLock::State::unavailable:
            return true;
        case WindowInstanceLock::State::held:
            break;
    }
    const QString name = QString::fromStdString(lock_->SocketPath());
    // Whoever listened here before has ended: the lock would not be ours otherwise.
    QLocalServer::removeServer(name);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &WindowInstance::TakeConnection);
    if (!server_->listen(name)) {
        // The window opens all the same; a later start still finds it held, but cannot bring it forward.
        server_.reset();
    }
    return true;
}

void WindowInstance::TakeConnection() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (client->canReadLine()) {
                const bool front = client->readLine(kLongestRequest) == kFrontRequest;
                client->disconnectFromServer();
                if (front) {
                    emit FrontRequested();
                }
            } else if (client->bytesAvailable() > kLongestRequest) {
                client->abort();
                client->deleteLater();
            }
        });
    }
}

bool WindowInstance::AskHolderToFront() const {
    QLocalSocket socket;
    const QString name = QString::fromStdString(lock_->SocketPath());
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        socket.connectToServer(name);
        if (socket.waitForConnected(kConnectWaitMs)) {
            socket.write(kFrontRequest);
            const bool sent = socket.waitForBytesWritten(kConnectWaitMs * kConnectAttempts);
            socket.disconnectFromServer();
            return sent;
        }
        socket.abort();
        QThread::msleep(kConnectWaitMs);
    }
    return false;
}

std::string DefaultInstanceFolder() { return WindowInstanceFolder(std::getenv("XDG_RUNTIME_DIR")); }

void BringToFront(QWidget& window) {
    if (window.isMinimized()) {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    }
    window.show();
    window.raise();
    window.activateWindow();
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != &window) {
        modal->raise();
        modal->activateWindow();
    }
}

void ReportAlreadyOpen() {
    std::fprintf(stderr, "%s\n", kAlreadyOpenMessage);
    ShowInformationBox(QString::fromUtf8(kAlreadyOpenMessage));
}

}  // namespace zeloro
