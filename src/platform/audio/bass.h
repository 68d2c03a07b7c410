#pragma once
// The calls of the BASS audio library that the system makes, with the library's names, arguments,
// constants and results, over libmpg123 (MPEG audio decoding), an output backend (a PulseAudio server or
// SDL2 on the desktop, Web Audio in the browser: audio_backend.h) and FFTW or KissFFT (the spectrum). Like
// the library, every call sets the calling thread's error code, read back with BASS_ErrorGetCode. No SDL,
// PulseAudio or mpg123 type appears here.
#include <cstdint>

#include "platform/win32/win32.h"

typedef uint64_t QWORD;
typedef DWORD HSTREAM;

// BASS_Init flags.
#define BASS_DEVICE_LATENCY 0x100  // measure the output latency (accepted; the latency is always tracked)

// BASS_StreamCreateFile flags.
#define BASS_STREAM_PRESCAN 0x20000  // exact seeking: streams are always decoded whole, so always exact

// BASS_ChannelGetData: the 512-sample FFT, 256 floats. Any other length is a byte count of the
// 16-bit sample data being heard.
#define BASS_DATA_FFT512 0x80000000

// Error codes.
#define BASS_OK 0
#define BASS_ERROR_MEM 1
#define BASS_ERROR_FILEOPEN 2
#define BASS_ERROR_DRIVER 3
#define BASS_ERROR_HANDLE 5
#define BASS_ERROR_FORMAT 6
#define BASS_ERROR_POSITION 7
#define BASS_ERROR_INIT 8
#define BASS_ERROR_START 9
#define BASS_ERROR_ALREADY 14
#define BASS_ERROR_ILLPARAM 20  // also: no data
#define BASS_ERROR_DEVICE 23
#define BASS_ERROR_NOTAVAIL 37
#define BASS_ERROR_FILEFORM 41
#define BASS_ERROR_UNKNOWN -1

// Opens output device `device` at `freq` Hz, 16-bit stereo: 1 and -1 = the default output (where a
// PulseAudio or PipeWire server runs, its default output, opened so that the user can move the
// stream to another), 2 and up = the outputs in the order the server (or SDL) lists them, 0 = no
// sound: no stream can then be created. The sound server is used unless SDL_AUDIODRIVER names a driver
// of SDL's own; without a server, SDL plays. `win` and `dsguid` are not used. FALSE when the device
// does not exist (23), cannot be opened (3), or BASS_Init was already called without BASS_Free (14).
BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* dsguid);

// Starts or resumes the output.
BOOL BASS_Start(void);

// Creates a stream from a whole MPEG audio file: from memory (`mem` TRUE, `file` points at the
// bytes) or from a file name (`mem` FALSE). `offset` and `length` select the bytes (length 0 = to the
// end). The sound is decoded whole here, so the bytes are not needed afterwards. 0 on failure:
// 8 before BASS_Init, 20 for no data, 41 for data that is not MPEG audio, 2 for a file that cannot
// be read, 1 when memory runs out, 37 on the no-sound device.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);

// Plays the stream: from the start when `flush` is TRUE, else from where it is.
BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags);

// Holds the stream where it is: the position stops once the sound already handed to the output has been
// heard; BASS_StreamPlay without `flush` goes on from there.
BOOL BASS_ChannelPause(DWORD handle);

// Byte position of the sound being heard: frames handed to the device minus those still queued,
// counted as 16-bit samples in the stream's own rate and channel count; it never goes back but for a seek,
// and after a play from the start it stays at 0 until that sound is heard. Once the output is lost (see
// audio_output_state in pcm.h) it runs on at the output's rate on the monotonic clock from the last sound
// heard, as if it were still heard. (QWORD)-1 on failure.
QWORD BASS_ChannelGetPosition(DWORD handle);

// Moves playback to byte `pos` (rounded down to a whole frame). FALSE past the end (7).
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos);

// BASS_DATA_FFT512: writes 256 floats, the spectrum of the 512 frames from the position being heard
// (see audio_spectrum_at), and returns the bytes of sample data it used. Otherwise copies up to
// `length` bytes of the 16-bit sample data from that position and returns how many. (DWORD)-1 on
// failure.
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);

// The error code of the calling thread's last call.
int BASS_ErrorGetCode(void);

BOOL BASS_StreamFree(HSTREAM handle);

// Frees every stream and closes the output.
BOOL BASS_Free(void);
