#pragma once
// Decoded sound and its spectrum, usable without a sound device: the stream calls in bass.h play
// from this, and a clock that is not the device (rendering to files frame by frame) can compute the
// same spectrum at any sample position.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/audio/bass.h"

// Interleaved signed 16-bit samples in the file's own rate and channel count.
struct AudioPcm {
    std::vector<int16_t> samples;
    int rate = 0;
    int channels = 0;

    uint64_t frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// Decodes a whole MPEG audio file held in memory. Returns 0, or the audio library's error code:
// 20 for no data, 41 when the bytes are not MPEG audio, 1 when memory runs out. Decoding stops at the
// first frame whose rate or channel count differs from the first one, and keeps what came before
// a damaged tail.
int audio_decode_mp3(const void* data, size_t length, AudioPcm* out);

// Decoding ahead of need: `load` runs on a thread of its own and its bytes are decoded there; a later
// audio_decode_mp3 of the same bytes (compared in full) waits for that decode and takes its result
// instead of decoding again, so a loading phase can decode its music while it does other work. One at a
// time: a new one drops the previous. Where no thread can be started it does nothing (the decode then
// happens when asked for).
void audio_decode_ahead(std::function<std::vector<unsigned char>()> load);
// Waits for the decode ahead, if any, and drops its result.
void audio_decode_ahead_drop();

constexpr int AUDIO_FFT_SIZE = 512;
constexpr int AUDIO_SPECTRUM_BINS = AUDIO_FFT_SIZE / 2;

// The magnitudes of bins 0..255 of a 512-point FFT of the frames [position, position + 512), channels
// averaged to mono, Hann window; frames past the end count as silence. Scaled so that a full-scale
// sine centred on a bin reads 0.5 there and full-scale DC reads 1.0 in bin 0; bin k is at
// k * rate / 512 Hz. Thread-safe; the live spectrum of a playing stream is this at its position.
void audio_spectrum_at(const int16_t* pcm, uint64_t frames, int channels, uint64_t position,
                       float out[AUDIO_SPECTRUM_BINS]);

// The decoded sound of a stream made by BASS_StreamCreateFile, valid until BASS_StreamFree or
// BASS_Free; null for an unknown handle. Frame f of it is byte position f * channels * 2.
const AudioPcm* audio_stream_pcm(HSTREAM handle);

// How long, in seconds, until the sound at a stream's position is first heard. After BASS_StreamPlay or a
// seek the output still plays what it was handed before (its buffering, silence at the start), and the
// position stands at where the stream was sent until that sound is heard: this says how far off it is,
// so that a picture can be timed to it. 0 while the stream's sound is being heard (or it was sent there
// paused); negative when that is not known: the output has not said yet what it plays, the request has not
// reached the output, or the handle is unknown.
double audio_stream_seconds_until_heard(HSTREAM handle);

// BASS_ChannelGetPosition, with audio_stream_seconds_until_heard of the same moment in `*until_heard`
// (when not null): one reading of what the output plays, for a clock that needs both.
QWORD audio_stream_position(HSTREAM handle, double* until_heard);

// Where the sound of the playing streams goes: nowhere (not initialised, or the no-sound device), a live
// output whose position is what the listener hears, or an output that was lost mid-play (its server went
// away, its stream failed or was killed, the browser would not start it): the position then runs on the
// monotonic clock from the last sound heard, in silence, and the loss has been said once on standard error.
// A loss is noticed when it is asked for here or when a position is read.
enum AudioOutputState { AUDIO_OUTPUT_NONE, AUDIO_OUTPUT_LIVE, AUDIO_OUTPUT_LOST };
AudioOutputState audio_output_state(void);
