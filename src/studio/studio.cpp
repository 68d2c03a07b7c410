#include "studio/studio.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>

#include "app/frame_loop.h"
#include "app/frame_setup.h"
#include "platform/files/file_watcher.h"
#include "platform/win32/window_mode.h"
#include "resources/device.h"
#include "studio/overlay.h"
#include "studio/reload.h"
#include "studio/studio_clock.h"

namespace {

// The data lookup reads the archive in the working directory first and then "data/": the studio works in
// a private folder that holds no archive, only "data" pointing at the maker's folder, so that every file
// comes loose from there. Left, and removed, when the studio ends.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& folder) {
        char resolved[PATH_MAX];
        struct stat st;
        if (!realpath(folder.c_str(), resolved) || stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
            problem_ = "--studio: " + folder + " is not a folder";
            return;
        }
        data_ = resolved;
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) {
            problem_ = "--studio: cannot tell the working directory";
            return;
        }
        previous_ = cwd;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvane-studio-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            problem_ = "--studio: cannot make a working folder in " + std::string(tmp && *tmp ? tmp : "/tmp");
            return;
        }
        work_ = pattern;
        if (symlink(data_.c_str(), (work_ + "/data").c_str()) != 0 || chdir(work_.c_str()) != 0) {
            problem_ = "--studio: cannot prepare the working folder " + work_;
            return;
        }
        entered_ = true;
    }
    ~WorkingFolder() {
        if (entered_ && chdir(previous_.c_str()) != 0) std::fprintf(stderr, "quorvane: cannot go back\n");
        if (!work_.empty()) {
            unlink((work_ + "/data").c_str());
            rmdir(work_.c_str());
        }
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    const std::string& problem() const { return problem_; }
    const std::string& data() const { return data_; }

private:
    std::string problem_;
    std::string data_;  // the maker's folder, resolved
    std::string previous_;
    std::string work_;
    bool entered_ = false;
};

// The production's sound and cuts, as the transport moves and reads them.
class ProductionTransport : public Transport {
public:
    explicit ProductionTransport(Production& production) : production_(production) {}
    void hold() override { production_.soundtrack().hold(); }
    void playFrom(double seconds) override { production_.soundtrack().playFrom(seconds); }
    std::vector<float> cuts() override { return production_.timeline().cuts; }

private:
    Production& production_;
};

// What the studio shows and says besides the production.
struct StudioState {
    bool overlay = true;
    bool fullScreen = false;
    std::string lastReload = "none yet";
    std::map<std::string, std::string> errors;  // by file, until it loads
    struct Shown {
        std::string name;
        const char* kind;
        double firstSeen;
    };
    std::vector<Shown> awaitingScreen;  // reloaded, to be reported once presented
    std::deque<double> presents;        // when the frames of the last second were presented
};

constexpr const char* kFrameError = "the frame";

// The production with the watcher in front of it: before each frame, the files that changed are reloaded.
class StudioShow : public Show {
public:
    StudioShow(ProductionShow& show, const ReloadTargets& targets, const std::string& folder,
               StudioState& state)
        : show_(show), targets_(targets), watcher_(folder), state_(state) {
        if (!watcher_.watching())
            std::fprintf(stderr, "quorvane: %s; edits will not show\n", watcher_.problem().c_str());
    }
    void setClock(StudioClock* clock) { clock_ = clock; }

    void start() override { show_.start(); }
    double time() override { return show_.time(); }
    double untilHeard() override { return show_.untilHeard(); }
    void frame(float t) override {
        for (const platform::FileWatcher::Change& change : watcher_.poll()) reload(change);
        try {
            show_.frame(t);
            state_.errors.erase(kFrameError);
        } catch (const std::string& text) {
            // A clip whose pictures do not decode, say: the show goes on with what it could draw.
            g_device->EndScene();
            if (!state_.errors.count(kFrameError)) std::printf("error while drawing: %s\n", text.c_str());
            std::fflush(stdout);
            state_.errors[kFrameError] = text;
        }
    }

private:
    void reload(const platform::FileWatcher::Change& change) {
        const ReloadOutcome outcome = reloadFile(targets_, change.name);
        if (!outcome.kind) return;  // not a file the show uses
        if (!outcome.error.empty()) {
            std::printf("reload failed: %s\n", outcome.error.c_str());
            std::fflush(stdout);
            state_.errors[outcome.name] = outcome.error;
            return;
        }
        state_.errors.erase(outcome.name);
        state_.awaitingScreen.push_back({outcome.name, outcome.kind, change.firstSeen});
        // New music starts held: it plays on from the studio's time unless paused.
        if (std::string(outcome.kind) == "music" && clock_) clock_->seek(clock_->time());
    }

    ProductionShow& show_;
    ReloadTargets targets_;
    platform::FileWatcher watcher_;
    StudioState& state_;
    StudioClock* clock_ = nullptr;
};

// The studio's clock with the keys of the window itself: O the overlay, F full screen.
class StudioKeysClock : public StudioClock {
public:
    StudioKeysClock(PlayingClock playing, Transport& transport, StudioState& state, HWND window)
        : StudioClock(std::move(playing), transport, kRunLength), state_(state), window_(window) {}
    void key(unsigned virtualKey) override {
        if (virtualKey == 'O') {
            state_.overlay = !state_.overlay;
        } else if (virtualKey == 'F') {
            if (win32_set_fullscreen(window_, !state_.fullScreen)) state_.fullScreen = !state_.fullScreen;
        } else {
            transportKey(virtualKey);
        }
    }

private:
    StudioState& state_;
    HWND window_;
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// The overlay before each present; the reload lines and the frame rate after it.
class StudioSink : public PictureSink {
public:
    StudioSink(const StudioClock& clock, StudioState& state) : clock_(clock), state_(state) {}

    void take(size_t frame, float t) override {
        std::vector<OverlayLine> lines;
        if (state_.overlay) {
            const std::vector<double> cuts = clock_.cuts();
            size_t passed = 0;
            double next = -1.0;
            for (double c : cuts) {
                if (c <= t) ++passed;
                if (c > t && next < 0) next = c;
            }
            const std::string nextText = next < 0 ? "no next cut" : format("next in %.3f s", next - t);
            lines.push_back({format("%.3f s  cut %zu of %zu, %s  frame %zu  %.1f fps", double(t), passed,
                                    cuts.size(), nextText.c_str(), frame, fps()),
                             0xFFFFFFFF});
            lines.push_back(
                {format("%s  loop %.3f-%.3f %s  last reload: %s", clock_.paused() ? "paused" : "playing",
                        clock_.loopStart(), clock_.loopEnd(), clock_.looping() ? "on" : "off",
                        state_.lastReload.c_str()),
                 0xFFC8C8C8});
        }
        // Errors show with the overlay off too: the picture is not what the files say.
        for (const auto& [file, error] : state_.errors)
            for (const std::string& line : wrapText("error: " + error, 104))
                lines.push_back({line, 0xFFFF6060});
        overlay_.draw(lines);
    }

    void shown(size_t, float, bool) override {
        const double now = platform::fileWatcherNow();
        state_.presents.push_back(now);
        while (!state_.presents.empty() && now - state_.presents.front() > 1.0) state_.presents.pop_front();
        for (const StudioState::Shown& s : state_.awaitingScreen) {
            const double ms = (now - s.firstSeen) * 1000.0;
            std::printf("reloaded %s (%s) in %.0f ms\n", s.name.c_str(), s.kind, ms);
            state_.lastReload = format("%s %.0f ms", s.name.c_str(), ms);
        }
        if (!state_.awaitingScreen.empty()) std::fflush(stdout);
        state_.awaitingScreen.clear();
    }

private:
    double fps() const {
        if (state_.presents.size() < 2) return 0.0;
        return double(state_.presents.size() - 1) / (state_.presents.back() - state_.presents.front());
    }

    const StudioClock& clock_;
    StudioState& state_;
    Overlay overlay_;
};

void run(const WorkingFolder& folder, const EntryOptions& options) {
    FrameSetup setup(kProductionMusic, false, options.direct3DCreate, D3DPRESENT_INTERVAL_DEFAULT);
    ProductionShow show(Stagehand{setup.display, setup.scenes, setup.textures},
                        std::make_unique<LiveStage>());
    Production& production = show.production();
    StudioState state;
    StudioShow studio(show, ReloadTargets{setup.scenes, setup.textures, production}, folder.data(), state);
    ProductionTransport transport(production);
    StudioKeysClock clock([&] { return std::make_unique<LiveClock>(show, options.monotonicSeconds); },
                          transport, state, setup.display.window);
    studio.setClock(&clock);
    StudioSink sink(clock, state);
    std::printf(
        "studio: playing %s; Space pause, Left/Right a second, Page Up/Down cuts, Home start, [ ] L loop, "
        "O overlay, F full screen, Escape ends\n",
        folder.data().c_str());
    std::fflush(stdout);
    runFrames(studio, clock, sink, LoopKeys{true, true});
}

}  // namespace

std::string studioDataFolder(const std::string& folder) {
    const std::string data = folder + "/data";
    struct stat st;
    if (stat(data.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return folder;
    DIR* d = opendir(folder.c_str());
    if (!d) return folder;
    bool loadingPicture = false;
    while (const dirent* e = readdir(d))
        if (strcasecmp(e->d_name, "load.png") == 0) loadingPicture = true;  // loose names match in any case
    closedir(d);
    return loadingPicture ? folder : data;
}

int qv_studio(const std::string& folder, const EntryOptions& options) {
    WorkingFolder work(studioDataFolder(folder));
    if (!work.problem().empty()) {
        std::fprintf(stderr, "quorvane: %s\n", work.problem().c_str());
        return 1;
    }
    try {
        run(work, options);
    } catch (std::string text) {
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK);
        return 1;
    }
    return 0;
}
