// MPEG audio decoding of a whole file held in memory through libmpg123.
#include <mpg123.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/audio/bass.h"
#include "platform/audio/pcm.h"

namespace {

struct MemorySource {
    const unsigned char* data;
    size_t length;
    size_t position;
};

ssize_t source_read(void* handle, void* buffer, size_t count) {
    auto* src = static_cast<MemorySource*>(handle);
    size_t left = src->length - src->position;
    if (count > left) count = left;
    memcpy(buffer, src->data + src->position, count);
    src->position += count;
    return static_cast<ssize_t>(count);
}

off_t source_seek(void* handle, off_t offset, int whence) {
    auto* src = static_cast<MemorySource*>(handle);
    long long base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<long long>(src->position);
    else if (whence == SEEK_END)
        base = static_cast<long long>(src->length);
    else if (whence != SEEK_SET)
        return -1;
    long long target = base + static_cast<long long>(offset);
    if (target < 0 || static_cast<unsigned long long>(target) > src->length) return -1;
    src->position = static_cast<size_t>(target);
    return static_cast<off_t>(target);
}

struct Handle {
    mpg123_handle* mh = nullptr;
    ~Handle() {
        if (mh) {
            mpg123_close(mh);
            mpg123_delete(mh);
        }
    }
};

bool library_ready() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = mpg123_init() == MPG123_OK; });
    return ok;
}

// Bytes of audio scanned in search of the first frame: enough for junk or a damaged start, small
// enough that data of another kind is refused rather than mined for chance sync words.
constexpr long kResyncLimit = 4096;

}  // namespace

namespace {

int decode_now(const void* data, size_t length, AudioPcm* out);

// The decode ahead. Its worker writes `bytes`, `pcm` and `code` before it ends and never takes the lock;
// they are read only under the lock after joining it, and it is joined under the lock, so a second caller
// cannot read them while the first is still waiting for the worker.
struct Ahead {
    std::mutex mutex;
    std::thread worker;
    std::vector<unsigned char> bytes;
    AudioPcm pcm;
    int code = 0;

    void finish() {
        if (worker.joinable()) worker.join();
    }
    void clear() {
        bytes = std::vector<unsigned char>();
        pcm = AudioPcm();
        code = 0;
    }
    ~Ahead() {
        if (worker.joinable()) worker.join();
    }
};

Ahead& ahead() {
    static Ahead a;
    return a;
}

}  // namespace

void audio_decode_ahead(std::function<std::vector<unsigned char>()> load) {
    Ahead& a = ahead();
    std::lock_guard<std::mutex> lock(a.mutex);
    a.finish();
    a.clear();
    try {
        a.worker = std::thread([&a, load = std::move(load)] {
            std::vector<unsigned char> bytes = load();
            AudioPcm pcm;
            const int code =
                bytes.empty() ? BASS_ERROR_ILLPARAM : decode_now(bytes.data(), bytes.size(), &pcm);
            a.bytes = std::move(bytes);
            a.pcm = std::move(pcm);
            a.code = code;
        });
    } catch (const std::system_error&) {
        // No threads here: decode when asked.
    }
}

void audio_decode_ahead_drop() {
    Ahead& a = ahead();
    std::lock_guard<std::mutex> lock(a.mutex);
    a.finish();
    a.clear();
}

int audio_decode_mp3(const void* data, size_t length, AudioPcm* out) {
    Ahead& a = ahead();
    {
        std::lock_guard<std::mutex> lock(a.mutex);
        a.finish();
        if (data && length && a.bytes.size() == length && std::memcmp(a.bytes.data(), data, length) == 0) {
            *out = std::move(a.pcm);
            const int code = a.code;
            a.clear();
            return code;
        }
    }
    return decode_now(data, length, out);
}

namespace {

int decode_now(const void* data, size_t length, AudioPcm* out) {
    out->samples.clear();
    out->rate = 0;
    out->channels = 0;
    if (length == 0) return BASS_ERROR_ILLPARAM;
    if (!data) return BASS_ERROR_ILLPARAM;
    if (!library_ready()) return BASS_ERROR_MEM;

    Handle h;
    int err = MPG123_OK;
    h.mh = mpg123_new(nullptr, &err);
    if (!h.mh) return BASS_ERROR_MEM;
    mpg123_param(h.mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(h.mh, MPG123_RESYNC_LIMIT, kResyncLimit, 0);
    mpg123_format_none(h.mh);
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; ++i)
        mpg123_format(h.mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    MemorySource src{static_cast<const unsigned char*>(data), length, 0};
    if (mpg123_replace_reader_handle(h.mh, source_read, source_seek, nullptr) != MPG123_OK ||
        mpg123_open_handle(h.mh, &src) != MPG123_OK)
        return BASS_ERROR_FILEFORM;

    try {
        unsigned char chunk[16384];
        for (;;) {
            size_t done = 0;
            int ret = mpg123_read(h.mh, chunk, sizeof chunk, &done);
            if (ret == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0, encoding = 0;
                mpg123_getformat(h.mh, &rate, &channels, &encoding);
                if (out->channels == 0) {
                    out->rate = static_cast<int>(rate);
                    out->channels = channels;
                } else if (rate != out->rate || channels != out->channels) {
                    break;
                }
                continue;
            }
            if (done > 0 && out->channels > 0) {
                const size_t n = done / sizeof(int16_t);
                const size_t at = out->samples.size();
                out->samples.resize(at + n);
                memcpy(out->samples.data() + at, chunk, n * sizeof(int16_t));
            }
            if (ret == MPG123_OK) continue;
            break;  // MPG123_DONE, or an error: keep what was decoded before it
        }
    } catch (const std::bad_alloc&) {
        out->samples.clear();
        out->samples.shrink_to_fit();
        out->rate = out->channels = 0;
        return BASS_ERROR_MEM;
    }
    // Whole frames only.
    if (out->channels > 0) out->samples.resize(out->frames() * static_cast<size_t>(out->channels));
    if (out->frames() == 0) {
        out->samples.clear();
        out->rate = out->channels = 0;
        return BASS_ERROR_FILEFORM;
    }
    return BASS_OK;
}

}  // namespace
