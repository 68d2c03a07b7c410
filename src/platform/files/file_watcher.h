#pragma once
// Watches the files directly inside one folder and tells which of them changed, once each change has come
// to rest: editors save by writing in place, by truncating and writing, or by writing a temporary file
// and renaming it over the old one, and a burst of writes to one file must read as one change, never as a
// half-written file. A change is ready once its file has been closed after writing (or renamed into
// place) and nothing more happened to it for a short settling time; a file written without being closed
// yet is ready after a longer quiet time. Deleted files and files renamed away are not changes.
//
// Polled from the frame loop: poll() never blocks. Platform code: it never throws.
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace platform {

class FileWatcher {
public:
    // Quiet time after the file was closed or renamed into place, and after a write with no close yet.
    static constexpr double kSettleSeconds = 0.05;
    static constexpr double kOpenSettleSeconds = 0.4;

    explicit FileWatcher(const std::string& folder);
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // False when the folder cannot be watched; problem() then says why.
    bool watching() const { return fd_ >= 0; }
    const std::string& problem() const { return problem_; }

    struct Change {
        std::string name;  // the file's name in the folder
        double firstSeen;  // when the first event of its burst arrived, on the steady clock (seconds)
    };
    // The changes that have come to rest since the last call, in the order they came to rest.
    std::vector<Change> poll();

private:
    struct Pending {
        double firstSeen = 0;
        double last = 0;      // the latest event
        bool closed = false;  // closed after writing or renamed into place since the latest write
    };
    void readEvents(double now);

    int fd_ = -1;
    std::string problem_;
    std::map<std::string, Pending> pending_;
};

// The steady clock in seconds, as FileWatcher::Change::firstSeen counts it.
inline double fileWatcherNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace platform
