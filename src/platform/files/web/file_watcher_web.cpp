#include "platform/files/file_watcher.h"

// The browser's data set is the page's archive: there is no folder to watch.
namespace platform {

FileWatcher::FileWatcher(const std::string&) : problem_("files are not watched in the browser") {}

FileWatcher::~FileWatcher() = default;

void FileWatcher::readEvents(double) {}

std::vector<FileWatcher::Change> FileWatcher::poll() {
    return {};
}

}  // namespace platform
