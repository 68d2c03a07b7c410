#include "production/data_set.h"

#include <cstdio>

#include "mesh/mesh.h"
#include "scene/scene.h"

const DataSetFile kDataSetFiles[] = {
    {"load.png", "the loading picture"},
    {"test.vpg", "the video clip"},
    {"ferrowake.mp3", "the music"},
    {"black.png", "the black of the blackouts and the fade"},
    {"text0.png", "a picture that must load"},
    {"plinthar.scene", "the scene"},
    {nullptr, nullptr},
};

const char* const kVideoTextureNames[] = {"bg.jpg", "cubetex.png", "white.png", nullptr};

std::string musicLengthProblem(const AudioPcm& pcm) {
    const double seconds = pcm.rate > 0 ? double(pcm.frames()) / pcm.rate : 0.0;
    if (seconds >= kShowSeconds) return "";
    char text[160];
    std::snprintf(text, sizeof text,
                  "the music lasts %.1f s, shorter than the %.0f s show: the rest plays in silence", seconds,
                  kShowSeconds);
    return text;
}

std::string pulseProblem(size_t objectCount, bool objectHasMesh, bool meshHasGroup) {
    const std::string which = "object " + std::to_string(kPulseObject) + " (the " +
                              std::to_string(kPulseObject + 1) + "th in document order)";
    if (objectCount <= kPulseObject)
        return std::to_string(objectCount) + " mesh object" + (objectCount == 1 ? "" : "s") +
               ", the production needs at least " + std::to_string(kPulseObject + 1) + ": " + which +
               " pulses, so nothing pulses";
    if (!objectHasMesh) return which + ", which pulses, has no mesh, so nothing pulses";
    if (!meshHasGroup) return which + ", which pulses, has a mesh without groups, so nothing pulses";
    return "";
}

std::string pulseProblem(const Scene& scene) {
    const size_t n = scene.objects.size();
    const Mesh* mesh =
        n > kPulseObject && scene.objects[kPulseObject] ? scene.objects[kPulseObject]->mesh : nullptr;
    return pulseProblem(n, mesh != nullptr, mesh && !mesh->groups.empty());
}
