#pragma once
// Reloading a data file of the running show, by kind of file. Each kind says whether the show uses a file
// (and under which name) and loads it afresh through its cache or the production; a new version is built
// whole before it replaces the old, so a file that fails to load leaves the old version on screen.
#include <string>
#include <vector>

#include "production/production.h"
#include "resources/texture_cache.h"
#include "scene/scene_cache.h"

// What a reload reaches: the entry's caches and the production.
struct ReloadTargets {
    SceneCache& scenes;      // with its meshes, their materials and the materials' textures
    TextureCache& textures;  // the production's own pictures and the clip's picture names
    Production& production;
};

struct ReloadKind {
    const char* kind;
    // The name under which the show uses `file` (a name in the data folder, any letter case), or an empty
    // text when the file is not of this kind or not in use.
    std::string (*usedAs)(const ReloadTargets& targets, const std::string& file);
    // Loads `name` afresh; the next frame shows it. Throws the loader's text, the old version staying.
    void (*reload)(const ReloadTargets& targets, const std::string& name);
};

// Every kind, tried in this order.
const std::vector<ReloadKind>& reloadKinds();

struct ReloadOutcome {
    const char* kind = nullptr;  // null when no kind uses the file
    std::string name;            // as the show uses it
    std::string error;           // empty after a successful reload: "file:line: reason" or "file: reason"
};

// Reloads `file` through the first kind that uses it. Never throws: a failure is the outcome's error.
ReloadOutcome reloadFile(const ReloadTargets& targets, const std::string& file);

// One line for a load failure of `name` from the texts the loaders throw ("Failed to load NAME", then the
// reason, possibly "line N: ..."): "name:N: reason", or "name: reason" where no line is known. The XML
// files are read again through the loaders' own checks, which know the line of a value they refuse.
std::string reloadError(const std::string& name, const std::string& text);
