#include "app/WindowObserver.h"

#include <QMetaObject>
#include <QThread>

#include "app/MessageBoxes.h"

namespace zeloro {

WindowObserver::WindowObserver(const std::atomic<bool>& stop, QObject* parent)
    : QObject(parent), stop_(stop) {}

void WindowObserver::AppendLine(const std::string& line) { emit LineAppended(QString::fromStdString(line)); }

void WindowObserver::Notice(const std::string& text) { LogLine(*this, " - " + text); }

void WindowObserver::ImportFailed(const std::string& reason) { LogLine(*this, " - " + reason); }

void WindowObserver::SetProgressMax(int maximum) { emit ProgressMaxChanged(maximum); }

void WindowObserver::SetProgressPosition(int position) { emit ProgressPositionChanged(position); }

void WindowObserver::ShowError(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        ShowErrorBox(message);
        return;
    }
    // The run must not go on before the user has closed the box, as with a box on its own thread.
    QMetaObject::invokeMethod(
        this, [message] { ShowErrorBox(message); }, Qt::BlockingQueuedConnection);
}

bool WindowObserver::StopRequested() { return stop_.load(); }

void WindowObserver::PhotoHandled(const PhotoReport& report) { emit PhotoReported(report); }

}  // namespace zeloro
