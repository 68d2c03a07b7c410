#pragma once
// What the production needs of a data set beyond what each loader checks: the files it asks for by name,
// the music's length and the object that pulses. The loading phase warns about these and goes on;
// `qvtool check` reports them with everything else.
#include <cstddef>
#include <string>

#include "platform/audio/pcm.h"

class Scene;

// The run ends after the first frame past this time.
constexpr double kShowSeconds = 32.0;

// Scene object (zero-based, in document order) whose mesh's first material has its diffuse alpha
// follow the pulse track.
constexpr size_t kPulseObject = 27;

// The files the production asks for by name, with their roles; null-terminated. The scene names the
// rest (meshes, which name materials, which name textures).
struct DataSetFile {
    const char* name;
    const char* role;
};
extern const DataSetFile kDataSetFiles[];

// The names the video stands in for: never read from the data set.
extern const char* const kVideoTextureNames[];

// Why the music does not carry the whole show, or "" when it does: "lasts 2.0 s, shorter than the 32 s
// show: the rest plays in silence".
std::string musicLengthProblem(const AudioPcm& pcm);

// Why nothing would pulse, or "" when object 27 exists, has a mesh and the mesh a group. From the
// object count, whether object 27 has a mesh, and whether that mesh has a group.
std::string pulseProblem(size_t objectCount, bool objectHasMesh, bool meshHasGroup);
std::string pulseProblem(const Scene& scene);
