// qvtool check: reads a data set the way the production will and lists every problem with its file and
// line. The checks are the loaders' own (xml_vocabulary, checkMaterialDocument, checkSceneDocument,
// parseMesh1, the texture decoder, the video texture, the music decoder, checkTimeline, data_set.h), so the
// tool and the run never disagree.
#include <dirent.h>
#include <stb_image.h>
#include <strings.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
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
    "lists every problem as FILE:LINE: MESSAGE. A DIR that holds the data files themselves (the folder\n"
    "given to quorvane --studio) is checked as the data folder. The optional timeline.txt is checked when\n"
    "present. Exit status 0 when there is no problem, 1 when there are, 2 when the data set cannot be\n"
    "read at all.\n";

struct FileCloser {
    void operator()(MemoryFile* f) const { memfile_close(f); }
};
using File = std::unique_ptr<MemoryFile, FileCloser>;

bool isVideoName(const std::string& name) {
    for (const char* const* n = kVideoTextureNames; *n; ++n)
        if (name == *n) return true;
    return false;
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The last part of a member name, after its folders ("/" or "\\").
std::string baseName(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

// What a file that is not an MP3 is, from its first bytes; "" when it is none of the usual others.
std::string soundFormat(const MemoryFile& file) {
    const auto* b = reinterpret_cast<const char*>(file.data);
    const size_t n = file.length;
    if (n >= 12 && !std::memcmp(b, "RIFF", 4) && !std::memcmp(b + 8, "WAVE", 4)) return "a WAV file";
    if (n >= 4 && !std::memcmp(b, "OggS", 4)) return "an Ogg (Vorbis or Opus) file";
    if (n >= 4 && !std::memcmp(b, "fLaC", 4)) return "a FLAC file";
    if (n >= 12 && !std::memcmp(b + 4, "ftyp", 4)) return "an MP4 (AAC) file";
    if (n >= 12 && !std::memcmp(b, "FORM", 4) && !std::memcmp(b + 8, "AIF", 3)) return "an AIFF file";
    return "";
}

// What a file that is not a mesh is, from its first bytes; "" when it is none of the usual others.
std::string otherKind(const MemoryFile& file) {
    const auto* b = reinterpret_cast<const char*>(file.data);
    const size_t n = file.length;
    if (n == 0) return "an empty file";
    if (n >= 8 && !std::memcmp(b, "\x89PNG", 4)) return "a PNG picture";
    if (n >= 3 && !std::memcmp(b, "\xFF\xD8\xFF", 3)) return "a JPEG picture";
    size_t at = 0;
    while (at < n && std::isspace(static_cast<unsigned char>(b[at]))) ++at;
    if (at < n && b[at] == '<') return "XML text";
    // OBJ: vertex lines ("v X Y Z"), after comments and object names or not.
    const std::string head(b, std::min<size_t>(n, 1 << 16));
    if ((at < head.size() && head.compare(at, 2, "v ") == 0) || head.find("\nv ") != std::string::npos)
        return "a Wavefront OBJ file: qvtool mesh from-obj makes a MESH1 mesh of it";
    return "";
}

// Why a picture does not load: not a picture at all, too large, or a picture whose data is damaged.
std::string pictureProblem(const MemoryFile& file) {
    const std::string kinds = "does not decode as a picture (PNG, JPEG, BMP, TGA, GIF, PSD, HDR, PIC, PNM)";
    if (file.length == 0) return kinds + ": the file is empty";
    int w = 0, h = 0, channels = 0;
    if (file.length > 0x7fffffffu || !stbi_info_from_memory(file.data, int(file.length), &w, &h, &channels))
        return kinds;
    if (w > 8192 || h > 8192)
        return "is " + std::to_string(w) + " by " + std::to_string(h) +
               " pixels: a picture may be at most 8192 on a side";
    return "does not decode: its header reads as a " + std::to_string(w) + " by " + std::to_string(h) +
           " picture, its data is damaged or cut short";
}

uint32_t readU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Why a file is not a VPG clip the production plays, for the loader's bare "not a VPG-file.".
std::string vpgProblem(const MemoryFile& file) {
    const unsigned char* b = file.data;
    const size_t n = file.length;
    if (n == 0) return "the file is empty";
    if (n >= 3 && b[0] == 0 && b[1] == 0 && b[2] == 1)
        return "it is a bare MPEG-4 stream: wrap it with qvtool vpg mux IN.m4v test.vpg --fps RATE";
    if (n < 24 || std::memcmp(b, "VOTRAMPG", 8) != 0)
        return n < 8 || std::memcmp(b, "VOTRAMPG", 8) != 0 ? "it does not start with VOTRAMPG"
                                                           : "its header is cut short";
    const uint32_t count = readU32(b + 16);
    float rate;
    std::memcpy(&rate, b + 20, 4);
    if (count == 0) return "its header counts no pictures";
    if (!(rate > 0) || !std::isfinite(rate)) return "its frame rate is not above 0";
    uint32_t whole = 0;
    for (size_t at = 24; whole < count && at + 4 <= n; ++whole) {
        const uint32_t length = readU32(b + at);
        if (length > n - at - 4) break;
        at += 4 + size_t(length);
    }
    if (whole < count)
        return "it holds " + std::to_string(whole) + " whole pictures of the " + std::to_string(count) +
               " its header counts (cut short?)";
    return "";
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
        if (!checkArchive()) return;  // the production reads nothing past an archive that does not open
        listLooseFiles("data");
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
    std::vector<std::string> members_;  // the archive's member names
    std::vector<std::string> loose_;    // the loose files under data/, with their folders below it

    void listLooseFiles(const fs::path& dir) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec))
            if (it->is_regular_file(ec))
                loose_.push_back(it->path().lexically_relative(dir).generic_string());
    }

    // What may have been meant by a name that is found nowhere: a member or a loose file of that name in a
    // folder, the same file beside data/ rather than in it, or a name one slip away. "" when nothing fits.
    std::string whereElse(const std::string& name) const {
        const std::string lower = lowerCase(name);
        for (const std::string& m : members_)
            if (m != baseName(m) && lowerCase(baseName(m)) == lower)
                return " (" + std::string(kArchiveName) + " holds it as " + m +
                       ": members are found by their names alone; qvtool archive create stores them so)";
        for (const std::string& f : loose_)
            if (f != baseName(f) && lowerCase(baseName(f)) == lower)
                return " (there is data/" + f + ": the files go in data/ itself, not in folders below it)";
        std::error_code ec;
        if (fs::is_regular_file(name, ec))
            return " (there is one beside data/, not in it: move it into data/)";
        std::vector<const char*> names;
        for (const std::string& m : members_) names.push_back(m.c_str());
        for (const std::string& f : loose_) names.push_back(f.c_str());
        names.push_back(nullptr);
        if (const char* near = nearestName(name, names.data()))
            return std::string(" (did you mean ") + near + "?)";
        return "";
    }

    // Opens a data file; a missing one is reported on the file that names it (or on itself, with its role,
    // for the production's own names).
    File open(const std::string& name, const std::string& what, const std::string& by, int line) {
        std::string message;
        try {
            File file(memfile_open(name.c_str()));
            if (file) return file;
            message = what + " " + name + " not found in " + kArchiveName + " or data/" + whereElse(name);
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
    // False when the archive is there but does not open at all.
    bool checkArchive() {
        struct stat st;
        if (stat(kArchiveName, &st) != 0) return true;
        rar::ArchiveIndex index;
        try {
            index = rar::listArchive(kArchiveName);
        } catch (const std::string& e) {
            out_.error(kArchiveName, 0, "does not open: " + e);
            return false;
        }
        for (const rar::ArchiveEntry& e : index.entries)
            if (!e.name.empty() && (e.flags & 0xE0) != 0xE0) members_.push_back(e.name);
        if (index.truncated) out_.error(kArchiveName, 0, "the archive is cut short");
        const fs::path archive = fs::absolute(kArchiveName);
        const fs::path here = fs::current_path();
        char scratchTemplate[] = "/tmp/qvtool-check-XXXXXX";
        if (!mkdtemp(scratchTemplate)) return true;
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
                if (reason.find("wrong password") != std::string::npos)
                    reason +=
                        " (packed under another password: qvtool archive create without -p packs under the "
                        "production's)";
                out_.error(kArchiveName, 0,
                           "member " + e.name + " does not open with the production's password: " + reason);
            }
            fs::current_path(here);
        }
        fs::remove_all(scratch, ec);
        return true;
    }

    void checkTexture(const std::string& name, const std::string& by, int line) {
        if (isVideoName(name) || !firstTime(name)) return;
        File file = open(name, "picture", by, line);
        if (!file) return;
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(D3DXCreateTextureFromFileInMemory(g_device, file->data, file->length, &texture)))
            out_.error(name, 0, pictureProblem(*file));
        if (texture) texture->Release();
    }

    void checkClip(const std::string& name) {
        if (!firstTime(name)) return;
        File file = open(name, "video clip", "", 0);
        if (!file) return;
        const std::string why = vpgProblem(*file);
        if (!why.empty()) {
            out_.error(name, 0, "not a VPG-file: " + why);
            return;
        }
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
        File file = open(name, "music", "", 0);
        if (!file) return;
        try {
            CaptureSoundtrack music(name, out_);
        } catch (const std::string& e) {
            // The loader's "Failed to load NAME\nreason": the reason is what the maker needs, and what the
            // file is when it is not MP3 at all.
            const size_t nl = e.find('\n');
            std::string reason = nl == std::string::npos ? e : e.substr(nl + 1);
            const std::string format = soundFormat(*file);
            if (!format.empty())
                reason += " (it is " + format + ", not MP3: convert it, e.g. lame IN.wav " + name +
                          " or ffmpeg -i IN " + name + ")";
            out_.error(name, 0, reason);
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
            const bool utf16 =
                text.size() >= 2 && (!text.compare(0, 2, "\xFF\xFE") || !text.compare(0, 2, "\xFE\xFF"));
            reportXmlError(name, utf16 ? e + " (the file is UTF-16: save it as UTF-8 or ASCII)" : e, out_);
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
        std::map<std::string, MeshState> meshes;
        for (const XmlReference& object : outline.objects)
            if (!object.name.empty() && !meshes.count(object.name))
                meshes[object.name] = checkMesh(object.name, name, object.line);
        const size_t n = outline.objects.size();
        const bool hasMesh = n > kPulseObject && !outline.objects[kPulseObject].name.empty();
        const MeshState pulsing =
            hasMesh ? meshes[outline.objects[kPulseObject].name] : MeshState::kWithoutGroups;
        // A pulse mesh that does not load is reported as such; that nothing pulses then says nothing more.
        if (pulsing == MeshState::kBroken) return;
        const std::string problem = pulseProblem(n, hasMesh, pulsing == MeshState::kWithGroups);
        if (!problem.empty())
            out_.warning(name,
                         n > kPulseObject ? outline.objects[kPulseObject].line : doc->RootElement()->Row(),
                         problem);
    }

    enum class MeshState { kBroken, kWithoutGroups, kWithGroups };

    // Missing or unreadable meshes are reported here and come back as kBroken.
    MeshState checkMesh(const std::string& name, const std::string& by, int line) {
        File file = open(name, "mesh", by, line);
        if (!file) return MeshState::kBroken;
        Mesh1File mesh;
        try {
            mesh = parseMesh1(file->data, file->length);
        } catch (const std::string& e) {
            const std::string kind = otherKind(*file);
            out_.error(name, 0,
                       kind.empty() ? e
                                    : e + " (it is " + kind + "; " + by + ":" + std::to_string(line) +
                                          " names it as a mesh)");
            return MeshState::kBroken;
        }
        for (const Mesh1Group& g : mesh.groups) checkMaterial(g.material, name);
        return mesh.groups.empty() ? MeshState::kWithoutGroups : MeshState::kWithGroups;
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

namespace {

// A scratch folder that holds `target` alone, under the name `as` (a symbolic link); empty, with the reason
// printed, when it cannot be made.
fs::path scratchHolding(const std::string& target, const char* as) {
    char scratchTemplate[] = "/tmp/qvtool-check-XXXXXX";
    if (!mkdtemp(scratchTemplate)) {
        std::perror("qvtool check");
        return {};
    }
    const fs::path scratch = scratchTemplate;
    std::error_code ec;
    fs::create_symlink(fs::absolute(target), scratch / as, ec);
    if (ec) {
        std::fprintf(stderr, "qvtool check: %s: %s\n", target.c_str(), ec.message().c_str());
        fs::remove_all(scratch, ec);
        return {};
    }
    return scratch;
}

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
        // A file of another name that is no archive at all is a data file given by mistake, not a damaged
        // archive.
        if (fs::path(target).filename() != kArchiveName) {
            try {
                rar::listArchive(target);
            } catch (const std::string& e) {
                std::fprintf(
                    stderr,
                    "qvtool check: %s is not an archive (%s); give the folder that holds the data set or "
                    "its data files\n",
                    target.c_str(), e.c_str());
                return 2;
            }
        }
        // An archive on its own: checked in a folder that holds it alone, under the name the production
        // opens.
        scratch = work = scratchHolding(target, kArchiveName);
        if (scratch.empty()) return 2;
        if (fs::path(target).filename() != kArchiveName)
            std::printf("note: the production opens the archive under the name %s\n", kArchiveName);
    } else if (!fs::is_directory(target, ec)) {
        std::fprintf(stderr, "qvtool check: %s is neither a folder nor a file\n%s", target.c_str(), kUsage);
        return 2;
    } else if (!fs::exists(fs::path(target) / kArchiveName, ec) &&
               !fs::is_directory(fs::path(target) / "data", ec)) {
        // No archive and no data/ in it: the data folder itself (as the studio takes it), when it holds any
        // of the files the production asks for by name; checked as the data/ of a folder of its own.
        bool holdsData = false;
        for (const DataSetFile* f = kDataSetFiles; f->name && !holdsData; ++f)
            for (const auto& e : fs::directory_iterator(target, ec))
                if (strcasecmp(e.path().filename().c_str(), f->name) == 0) holdsData = true;
        if (!holdsData) {
            std::fprintf(stderr,
                         "qvtool check: %s holds no data set: neither %s nor a data folder, nor any of the "
                         "files the production asks for (plinthar.scene, load.png, ...)\n",
                         target.c_str(), kArchiveName);
            return 2;
        }
        scratch = work = scratchHolding(target, "data");
        if (scratch.empty()) return 2;
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
