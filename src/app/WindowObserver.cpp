#include "app/WindowObserver.h"

#include <QMetaObject>
#include <QThread>

#include "app/MessageBoxes.h"

namespace zeloro {

TWindowObserver::TWindowObserver(const std::atomic<bool>& stop, QObject* parent)
    : QObject(parent), stop_(stop) {}

void TWindowObserver::AppendLine(const std::string& line) { emit LineAppended(QString::fromStdString(line)); }

void TWindowObserver::SetProgressMax(int maximum) { emit ProgressMaxChanged(maximum); }

void TWindowObserver::SetProgressPosition(int position) { emit ProgressPositionChanged(position); }

void TWindowObserver::ShowError(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        ShowErrorBox(message);
        return;
    }
    // The run must not go on before the user has closed the box, as with a box on its own thread.
    QMetaObject::invokeMethod(
        this, [message] { ShowErrorBox(message); }, Qt::BlockingQueuedConnection);
}

bool TWindowObserver::StopRequested() { return stop_.load(); }

}  // namespace zeloro
