#include "studio/reload.h"

#include <tinyxml.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "data/memfile.h"
#include "production/timeline.h"
#include "resources/material.h"
#include "resources/xml_text.h"
#include "scene/scene_loader.h"

namespace {

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The picture held under `name` when it is a decoded picture (not a render target or the clip).
Texture* heldPicture(const std::string& name) {
    Texture* found = nullptr;
    ResourceCache<TextureSource>::forEachHeld([&](const std::string& held, TextureSource* source) {
        if (held == name) found = dynamic_cast<Texture*>(source);
    });
    return found;
}

std::string usedScene(const ReloadTargets&, const std::string& file) {
    return ResourceCache<Scene>::heldName(file);
}

void reloadScene(const ReloadTargets& targets, const std::string& name) {
    if (targets.scenes.reload(name)) targets.production.sceneReloaded();
}

std::string usedMesh(const ReloadTargets&, const std::string& file) {
    return ResourceCache<Mesh>::heldName(file);
}

void reloadMesh(const ReloadTargets& targets, const std::string& name) {
    if (targets.scenes.meshes.reload(name)) targets.production.meshesReloaded();
}

std::string usedMaterial(const ReloadTargets&, const std::string& file) {
    return ResourceCache<Material>::heldName(file);
}

void reloadMaterial(const ReloadTargets& targets, const std::string& name) {
    targets.scenes.meshes.materials.reload(name);
}

std::string usedPicture(const ReloadTargets&, const std::string& file) {
    std::string name = ResourceCache<TextureSource>::heldName(file);
    return !name.empty() && heldPicture(name) ? name : std::string();
}

void reloadPicture(const ReloadTargets& targets, const std::string& name) {
    Texture* picture = heldPicture(name);
    if (!picture || !targets.textures.reload(name)) return;
    // The materials' recorded states name the picture's old texture.
    ResourceCache<Material>::forEachHeld([&](const std::string&, Material* material) {
        if (material->texture == picture || material->envmap == picture) material->recordStates();
    });
}

std::string usedClip(const ReloadTargets&, const std::string& file) {
    return sameName(file, "test.vpg") ? std::string("test.vpg") : std::string();
}

void reloadClip(const ReloadTargets& targets, const std::string&) {
    targets.production.reloadClip(targets.textures);
}

// The timeline file, also when the data set had none before (the built-in timings until then).
std::string usedTimeline(const ReloadTargets&, const std::string& file) {
    return sameName(file, kTimelineFile) ? std::string(kTimelineFile) : std::string();
}

void reloadTimeline(const ReloadTargets& targets, const std::string& name) {
    targets.production.setTimeline(loadTimelineFile(name));
}

std::string usedMusic(const ReloadTargets&, const std::string& file) {
    return sameName(file, kProductionMusic) ? std::string(kProductionMusic) : std::string();
}

void reloadMusic(const ReloadTargets& targets, const std::string& name) {
    targets.production.soundtrack().reload(name);
}

// The first error the loaders' checks find in an XML data file, as "file:line: message"; empty when they
// find none (the failure lies elsewhere, a texture the material names, say).
std::string checkedXmlError(const std::string& name, bool scene) {
    std::unique_ptr<MemoryFile, int (*)(MemoryFile*)> file(nullptr, memfile_close);
    try {
        file.reset(memfile_open(name.c_str()));
    } catch (const std::string&) {
        return {};
    }
    if (!file) return {};
    const std::string text(reinterpret_cast<const char*>(file->data), file->length);
    TiXmlDocument doc;
    try {
        xmlParseDocument(doc, text.c_str());
    } catch (const std::string&) {
        return {};  // a syntax error: the thrown text has its line already
    }
    const TiXmlElement* root = doc.RootElement();
    if (!root) return {};
    DiagnosticList found;
    if (scene)
        checkSceneDocument(root, name, found, nullptr);
    else
        checkMaterialDocument(root, name, found, nullptr);
    for (const Diagnostic& d : found.list())
        if (d.severity == Diagnostic::Severity::error && d.line > 0) return d.text();
    return {};
}

bool endsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && sameName(s.substr(s.size() - t.size()), t);
}

}  // namespace

const std::vector<ReloadKind>& reloadKinds() {
    static const std::vector<ReloadKind> kinds = {
        {"scene", usedScene, reloadScene},
        {"mesh", usedMesh, reloadMesh},
        {"material", usedMaterial, reloadMaterial},
        {"texture", usedPicture, reloadPicture},
        {"clip", usedClip, reloadClip},
        {"music", usedMusic, reloadMusic},
        {"timeline", usedTimeline, reloadTimeline},
    };
    return kinds;
}

std::string reloadError(const std::string& name, const std::string& text) {
    if (endsWith(name, ".mat") || endsWith(name, ".scene")) {
        const std::string checked = checkedXmlError(name, endsWith(name, ".scene"));
        if (!checked.empty()) return checked;
    }
    // The reason: the text without its "Failed to load NAME" line, the rest on one line.
    std::string reason;
    const std::string heading = "Failed to load " + name + "\n";
    size_t at = text.compare(0, heading.size(), heading) == 0 ? heading.size() : 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty()) reason += (reason.empty() ? "" : ": ") + line;
    }
    if (reason.compare(0, name.size() + 1, name + ":") == 0)
        return reason;  // names its file and line already
    if (reason.compare(0, 5, "line ") == 0) {
        char* end = nullptr;
        const long line = std::strtol(reason.c_str() + 5, &end, 10);
        if (end && end[0] == ':' && line > 0) return name + ":" + std::to_string(line) + end;
    }
    return name + ": " + reason;
}

ReloadOutcome reloadFile(const ReloadTargets& targets, const std::string& file) {
    ReloadOutcome outcome;
    for (const ReloadKind& kind : reloadKinds()) {
        std::string name = kind.usedAs(targets, file);
        if (name.empty()) continue;
        outcome.kind = kind.kind;
        outcome.name = name;
        try {
            kind.reload(targets, name);
        } catch (const std::string& text) {
            outcome.error = reloadError(name, text);
        }
        return outcome;
    }
    return outcome;
}
