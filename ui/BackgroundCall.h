// Runs a blocking piece of work (a network exchange, a file conversion) on
// a thread of its own while the calling window thread goes on handling
// events, so that no window freezes while it waits.
#pragma once

#include <QEventLoop>
#include <QMetaObject>
#include <optional>
#include <thread>
#include <utility>

namespace miravo::ui {

// Returns what `work` returned. Windows stay painted and movable meanwhile;
// the caller disables whatever must not be touched while `work` runs.
template <class Work>
auto RunInBackground(Work&& work) -> decltype(work()) {
    std::optional<decltype(work())> result;
    QEventLoop loop;
    std::thread worker([&] {
        result.emplace(work());
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return std::move(*result);
}

}  // namespace miravo::ui
