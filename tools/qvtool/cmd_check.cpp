// qvtool check: reads a data set the way the production will and lists every problem with its file and
// line. The checks are the loaders' own (xml_vocabulary, checkMaterialDocument, checkSceneDocument,
// parseMesh1, the texture decoder, the video texture, the music decoder, checkTimeline, data_set.h), so the
// tool and the run never disagree.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "data/memfile.h"
#include "data/rar_index.h"
#include "fx/video_texture.h"
#include "mesh/mesh_file.h"
#include "platform/d3dx/d3dx9.h"
#include "production/data_set.h"
#include "production/soundtrack.h"
#include "production/timeline.h"
#include "resources/device.h"
#include "resources/diagnostics.h"
#include "resources/headless_device.h"
#include "resources/material.h"
#include "resources/xml_text.h"
#include "scene/scene_loader.h"

extern const char* const qvtool_check_summary =
    "check a data set (folder or archive) the way the production reads it";

namespace {

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: qvtool check [DIR|ARCHIVE]\n"
    "\n"
    "Reads the data set in DIR (default: the current folder), the archive gorvel.yo there first and the\n"
    "loose files under DIR/data second, or the archive ARCHIVE alone, as the production reads it, and\n"
    "lists every problem as FILE:LINE: MESSAGE. The optional timeline.txt is checked when present. Exit\n"
    "status 0 when there is no problem, 1 when there are, 2 when the data set cannot be read at all.\n";

struct FileCloser {
    void operator()(MemoryFile* f) const { memfile_close(f); }
};
using File = std::unique_ptr<MemoryFile, FileCloser>;

bool isVideoName(const std::string& name) {
    for (const char* const* n = kVideoTextureNames; *n; ++n)
        if (name == *n) return true;
    return false;
}

// "line N: reason" from the XML reader, split into its line and reason.
void reportXmlError(const std::string& file, const std::string& text, Diagnostics& out) {
    int line = 0;
    size_t colon = text.find(": ");
    if (text.compare(0, 5, "line ") == 0 && colon != std::string::npos) {
        line = std::atoi(text.c_str() + 5);
        out.error(file, line, text.substr(colon + 2));
    } else {
        out.error(file, 0, text);
    }
}

class Checker {
public:
    explicit Checker(Diagnostics& out) : out_(out) {}

    void run() {
        checkArchive();
        for (const DataSetFile* f = kDataSetFiles; f->name; ++f) {
            const std::string name = f->name;
            if (name == "test.vpg")
                checkClip(name);
            else if (name == "ferrowake.mp3")
                checkMusic(name);
            else if (name == "plinthar.scene")
                checkScene(name);
            else
                checkTexture(name, "", 0);
        }
        checkTimelineFile();
    }

private:
    Diagnostics& out_;
    std::set<std::string> seen_;

    // Opens a data file; a missing one is reported on the file that names it (or on itself, with its role,
    // for the production's own names).
    File open(const std::string& name, const std::string& what, const std::string& by, int line) {
        std::string message;
        try {
            File file(memfile_open(name.c_str()));
            if (file) return file;
            message = what + " " + name + " not found in " + kArchiveName + " or data/";
        } catch (const std::string& reason) {  // the archive holds it but cannot give it
            message = what + " " + name + ": " + reason;
        }
        if (by.empty())
            out_.error(name, 0, message);
        else
            out_.error(by, line, message);
        return nullptr;
    }

    bool firstTime(const std::string& name) { return seen_.insert(name).second; }

    // Every member of the archive must open with the production's password: read from a folder that holds
    // the archive alone, so that no loose file stands in for a member.
    void checkArchive() {
        struct stat st;
        if (stat(kArchiveName, &st) != 0) return;
        rar::ArchiveIndex index;
        try {
            index = rar::listArchive(kArchiveName);
        } catch (const std::string& e) {
            out_.error(kArchiveName, 0, "does not open: " + e);
            return;
        }
        if (index.truncated) out_.error(kArchiveName, 0, "the archive is cut short");
        const fs::path archive = fs::absolute(kArchiveName);
        const fs::path here = fs::current_path();
        char scratchTemplate[] = "/tmp/qvtool-check-XXXXXX";
        if (!mkdtemp(scratchTemplate)) return;
        const fs::path scratch = scratchTemplate;
        std::error_code ec;
        fs::create_symlink(archive, scratch / kArchiveName, ec);
        if (!ec) {
            fs::current_path(scratch);
            for (const rar::ArchiveEntry& e : index.entries) {
                if (e.name.empty() || (e.flags & 0xE0) == 0xE0) continue;  // directories
                std::string reason = "not found";
                try {
                    if (File(memfile_open(e.name.c_str()))) continue;
                } catch (const std::string& text) {
                    reason = text;
                }
                out_.error(kArchiveName, 0,
                           "member " + e.name + " does not open with the production's password: " + reason);
            }
            fs::current_path(here);
        }
        fs::remove_all(scratch, ec);
    }

    void checkTexture(const std::string& name, const std::string& by, int line) {
        if (isVideoName(name) || !firstTime(name)) return;
        File file = open(name, "picture", by, line);
        if (!file) return;
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(D3DXCreateTextureFromFileInMemory(g_device, file->data, file->length, &texture)))
            out_.error(name, 0,
                       "does not decode as a picture (PNG, JPEG, BMP, TGA, GIF, PSD, HDR, PIC, PNM)");
        if (texture) texture->Release();
    }

    void checkClip(const std::string& name) {
        if (!firstTime(name)) return;
        if (!open(name, "video clip", "", 0)) return;
        try {
            VideoTexture video(name.c_str());
            // Every record once, in order, then back to the first, as the production plays the loop.
            for (uint32_t k = 1; k < video.frameCount; ++k) video.update(float((k + 0.5) / video.frameRate));
            video.update(0.0f);
        } catch (const std::string& e) {
            out_.error(name, 0, e);
        }
    }

    void checkMusic(const std::string& name) {
        if (!firstTime(name)) return;
        if (!open(name, "music", "", 0)) return;
        try {
            CaptureSoundtrack music(name, out_);
        } catch (const std::string& e) {
            // The loader's "Failed to load NAME\nreason": the reason is what the maker needs.
            const size_t nl = e.find('\n');
            out_.error(name, 0, nl == std::string::npos ? e : e.substr(nl + 1));
        }
    }

    // Parses an XML data file; null (and the problem reported) when it does not parse.
    std::unique_ptr<TiXmlDocument> parse(const std::string& name, const std::string& what,
                                         const std::string& by, int line) {
        File file = open(name, what, by, line);
        if (!file) return nullptr;
        std::string text(reinterpret_cast<const char*>(file->data), file->length);
        auto doc = std::make_unique<TiXmlDocument>();
        try {
            xmlParseDocument(*doc, text.c_str());
        } catch (const std::string& e) {
            reportXmlError(name, e, out_);
            return nullptr;
        }
        return doc;
    }

    void checkScene(const std::string& name) {
        if (!firstTime(name)) return;
        std::unique_ptr<TiXmlDocument> doc = parse(name, "scene", "", 0);
        if (!doc) return;
        SceneOutline outline;
        checkSceneDocument(doc->RootElement(), name, out_, &outline);
        std::map<std::string, bool> meshHasGroup;
        for (const XmlReference& object : outline.objects)
            if (!object.name.empty() && !meshHasGroup.count(object.name))
                meshHasGroup[object.name] = checkMesh(object.name, name, object.line);
        const size_t n = outline.objects.size();
        const bool hasMesh = n > kPulseObject && !outline.objects[kPulseObject].name.empty();
        const std::string problem =
            pulseProblem(n, hasMesh, hasMesh && meshHasGroup[outline.objects[kPulseObject].name]);
        if (!problem.empty())
            out_.warning(name,
                         n > kPulseObject ? outline.objects[kPulseObject].line : doc->RootElement()->Row(),
                         problem);
    }

    // True when the mesh has at least one group.
    bool checkMesh(const std::string& name, const std::string& by, int line) {
        File file = open(name, "mesh", by, line);
        if (!file) return false;
        Mesh1File mesh;
        try {
            mesh = parseMesh1(file->data, file->length);
        } catch (const std::string& e) {
            out_.error(name, 0, e);
            return false;
        }
        for (const Mesh1Group& g : mesh.groups) checkMaterial(g.material, name);
        return !mesh.groups.empty();
    }

    // The timeline file is optional: checked when the data set holds one.
    void checkTimelineFile() {
        File file;
        try {
            file.reset(memfile_open(kTimelineFile));
        } catch (const std::string& reason) {
            out_.error(kTimelineFile, 0, reason);
            return;
        }
        if (file)
            checkTimeline(std::string(reinterpret_cast<const char*>(file->data), file->length), kTimelineFile,
                          out_);
    }

    void checkMaterial(const std::string& name, const std::string& mesh) {
        if (!firstTime(name)) return;
        std::unique_ptr<TiXmlDocument> doc = parse(name, "material", mesh, 0);
        if (!doc) return;
        std::vector<XmlReference> textures;
        checkMaterialDocument(doc->RootElement(), name, out_, &textures);
        for (const XmlReference& t : textures) checkTexture(t.name, name, t.line);
    }
};

}  // namespace

int qvtool_check(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")))) {
        std::fputs(kUsage, argc > 2 ? stderr : stdout);
        return argc > 2 ? 2 : 0;
    }
    const std::string target = argc == 2 ? argv[1] : ".";
    std::error_code ec;
    fs::path scratch;
    fs::path work = target;
    if (fs::is_regular_file(target, ec)) {
        // An archive on its own: checked in a folder that holds it alone, under the name the production
        // opens.
        char scratchTemplate[] = "/tmp/qvtool-check-XXXXXX";
        if (!mkdtemp(scratchTemplate)) {
            std::perror("qvtool check");
            return 2;
        }
        scratch = work = scratchTemplate;
        fs::create_symlink(fs::absolute(target), scratch / kArchiveName, ec);
        if (ec) {
            std::fprintf(stderr, "qvtool check: %s: %s\n", target.c_str(), ec.message().c_str());
            fs::remove_all(scratch, ec);
            return 2;
        }
        if (fs::path(target).filename() != kArchiveName)
            std::printf("note: the production opens the archive under the name %s\n", kArchiveName);
    } else if (!fs::is_directory(target, ec)) {
        std::fprintf(stderr, "qvtool check: %s is neither a folder nor a file\n%s", target.c_str(), kUsage);
        return 2;
    }
    const fs::path here = fs::current_path();
    fs::current_path(work, ec);
    if (ec) {
        std::fprintf(stderr, "qvtool check: %s: %s\n", target.c_str(), ec.message().c_str());
        return 2;
    }

    DiagnosticList found;
    int rc = 0;
    try {
        HeadlessDevice device;
        Checker(found).run();
    } catch (const std::string& e) {
        std::fprintf(stderr, "qvtool check: %s\n", e.c_str());
        rc = 2;
    }
    fs::current_path(here, ec);
    if (!scratch.empty()) fs::remove_all(scratch, ec);
    if (rc) return rc;

    for (const Diagnostic& d : found.list()) std::printf("%s\n", d.text().c_str());
    if (found.empty()) {
        std::printf("no problems found\n");
        return 0;
    }
    std::printf("%zu problem%s found\n", found.list().size(), found.list().size() == 1 ? "" : "s");
    return 1;
}
