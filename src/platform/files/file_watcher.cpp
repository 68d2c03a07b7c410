#include "platform/files/file_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

FileWatcher::FileWatcher(const std::string& folder) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        problem_ = std::string("cannot watch files: ") + std::strerror(errno);
        return;
    }
    const uint32_t mask =
        IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;
    if (inotify_add_watch(fd_, folder.c_str(), mask) < 0) {
        problem_ = "cannot watch " + folder + ": " + std::strerror(errno);
        close(fd_);
        fd_ = -1;
    }
}

FileWatcher::~FileWatcher() {
    if (fd_ >= 0) close(fd_);
}

void FileWatcher::readEvents(double now) {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) return;  // EAGAIN: nothing more for now
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->len == 0 || (event->mask & IN_ISDIR))
                continue;  // the folder itself, or a folder in it
            const std::string name(event->name, strnlen(event->name, event->len));
            if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                pending_.erase(name);  // gone (or a temporary file renamed over another): nothing to load
                continue;
            }
            auto inserted = pending_.emplace(name, Pending{});
            Pending& p = inserted.first->second;
            if (inserted.second) p.firstSeen = now;
            p.last = now;
            p.closed = (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0;
        }
    }
}

std::vector<FileWatcher::Change> FileWatcher::poll() {
    std::vector<Change> ready;
    if (fd_ < 0) return ready;
    const double now = fileWatcherNow();
    readEvents(now);
    for (auto it = pending_.begin(); it != pending_.end();) {
        const double quiet = it->second.closed ? kSettleSeconds : kOpenSettleSeconds;
        if (now - it->second.last >= quiet) {
            ready.push_back(Change{it->first, it->second.firstSeen});
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    return ready;
}

}  // namespace platform
