// qvtool check on the default data set and on data sets with planted mistakes: every mistake is named
// with its file and line, and what the production says about the same data set at load time is what the
// tool says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "authoring/rar_writer.h"
#include "data/memfile.h"
#include "run_command.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kAssets = fs::path(QV_SOURCE_DIR) / "assets";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// The 1-based line of the first occurrence of `needle` in the file.
int lineOf(const fs::path& file, const std::string& needle) {
    const std::string text = readFile(file);
    const size_t at = text.find(needle);
    if (at == std::string::npos) return -1;
    return int(std::count(text.begin(), text.begin() + long(at), '\n')) + 1;
}

// Replaces the first occurrence of `from` in a file; false when it is not there.
bool plant(const fs::path& file, const std::string& from, const std::string& to) {
    std::string text = readFile(file);
    const size_t at = text.find(from);
    if (at == std::string::npos) return false;
    writeFile(file, text.replace(at, from.size(), to));
    return true;
}

struct ToolRun {
    int exitCode;
    std::string output;
};

ToolRun qvtoolCheck(const std::string& target) {
    ToolRun r;
    r.exitCode =
        qvtest::runCommand("'" + std::string(QV_BINARY_DIR) + "/qvtool' check '" + target + "'", &r.output);
    return r;
}

// A copy of the default data set as loose files under data/, in a scratch folder.
class DataSet : public qvtest::ScratchDir {
public:
    DataSet() : ScratchDir("qv_check") {
        fs::copy(kAssets / "data", path() / "data", fs::copy_options::recursive);
    }
    fs::path data(const std::string& name) const { return path() / "data" / name; }
};

bool haveDefaultDataSet() {
    return fs::exists(kAssets / "gorvel.yo") && fs::exists(kAssets / "data" / "plinthar.scene");
}

#define REQUIRE_DEFAULT_DATA_SET() \
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent"

TEST(QvtoolCheck, TheDefaultDataSetPasses) {
    REQUIRE_DEFAULT_DATA_SET();
    // The folder that holds the archive and data/, the archive alone, and the data folder itself (the one
    // the studio takes).
    for (const fs::path& target :
         {kAssets, kAssets / "gorvel.yo", kAssets / "data" / "..", kAssets / "data"}) {
        SCOPED_TRACE(target);
        const ToolRun r = qvtoolCheck(target);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output, "no problems found\n");
    }
    // A folder with nothing of a data set in it is not taken for an empty one.
    qvtest::ScratchDir empty("qv_check_empty");
    writeFile(empty.path() / "notes.txt", "ideas\n");
    std::string said;
    EXPECT_EQ(
        qvtest::runCommand(
            "'" + std::string(QV_BINARY_DIR) + "/qvtool' check '" + empty.path().string() + "' 2>&1", &said),
        2);
    EXPECT_NE(said.find("holds no data set: neither gorvel.yo nor a data folder"), std::string::npos) << said;
    // A data file given instead of its folder is not taken for a damaged archive.
    EXPECT_EQ(qvtest::runCommand("'" + std::string(QV_BINARY_DIR) + "/qvtool' check '" +
                                     (kAssets / "data" / "stone.mat").string() + "' 2>&1",
                                 &said),
              2);
    EXPECT_NE(said.find("stone.mat is not an archive"), std::string::npos) << said;
}

// Mistakes the production reads past: the run goes on and warns, the tool names each with its line.
TEST(QvtoolCheck, PlantedMistakesAreNamedWithFileAndLineAndTheRunWarnsAlike) {
    REQUIRE_DEFAULT_DATA_SET();
    if (!qvtest::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
    DataSet set;
    ASSERT_TRUE(plant(set.data("chrome.mat"), "<diffuse", "<difuse"));
    ASSERT_TRUE(plant(set.data("glass.mat"), "<ambient r=\"0.2\"", "<ambient r=\"nan\""));
    // 27 mesh objects over every mesh of the set, one of them with a misspelt attribute: object 27 does not
    // exist, nothing pulses.
    std::vector<std::string> meshes;
    for (const auto& e : fs::directory_iterator(set.path() / "data"))
        if (e.path().extension() == ".mesh") meshes.push_back(e.path().filename().string());
    std::sort(meshes.begin(), meshes.end());
    ASSERT_FALSE(meshes.empty());
    std::string scene = "<?xml version=\"1.0\"?>\n<scene>\n  <light><position y=\"100\"/></light>\n";
    for (size_t i = 0; i < 27; ++i)
        scene += std::string("  <object ") + (i == 5 ? "mseh" : "mesh") + "=\"" + meshes[i % meshes.size()] +
                 "\"/>\n";
    scene += "</scene>\n";
    writeFile(set.data("plinthar.scene"), scene);
    // Twenty seconds of the music, cut without coding it again.
    ASSERT_EQ(
        qvtest::runCommand("ffmpeg -loglevel error -y -i '" + (kAssets / "data/ferrowake.mp3").string() +
                           "' -t 20 -c copy '" + set.data("ferrowake.mp3").string() + "'"),
        0);

    const ToolRun check = qvtoolCheck(set.path());
    EXPECT_EQ(check.exitCode, 1) << check.output;
    const std::vector<std::string> expected = {
        "ferrowake.mp3: the music lasts 20.0 s, shorter than the 32 s show: the rest plays in silence",
        "plinthar.scene:" + std::to_string(lineOf(set.data("plinthar.scene"), "mseh")) +
            ": unknown attribute mseh, did you mean mesh?",
        "plinthar.scene:" + std::to_string(lineOf(set.data("plinthar.scene"), "<scene>")) +
            ": 27 mesh objects, the production needs at least 28: object 27 (the 28th in document order) "
            "pulses, "
            "so nothing pulses",
        "chrome.mat:" + std::to_string(lineOf(set.data("chrome.mat"), "<difuse")) +
            ": unknown element <difuse>, did you mean <diffuse>?",
        "glass.mat:" + std::to_string(lineOf(set.data("glass.mat"), "r=\"nan\"")) +
            ": r=\"nan\" on <ambient> is not a finite number (read as nan)",
        "5 problems found",
    };
    std::vector<std::string> got = lines(check.output);
    EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()),
              std::multiset<std::string>(expected.begin(), expected.end()))
        << check.output;

    // The production, rendering a frame of the same data set: it ends normally and says the same things on
    // standard error, file by file (its scene warning without a line: the scene keeps none).
    std::string err;
    const int rc = qvtest::runCommand("(cd '" + set.path().string() + "' && '" + std::string(QV_BINARY_DIR) +
                                          "/quorvane' --capture out --size 32x24 --times 1 2>&1 >/dev/null)",
                                      &err);
    EXPECT_EQ(rc, 0) << err;
    auto withoutLine = [](const std::string& line) {
        const size_t colon = line.find(':');
        size_t rest = colon + 1;
        while (rest < line.size() && std::isdigit(static_cast<unsigned char>(line[rest]))) ++rest;
        if (rest > colon + 1 && rest < line.size() && line[rest] == ':')
            return line.substr(0, colon) + line.substr(rest);
        return line;
    };
    std::set<std::string> said;
    for (const std::string& line : lines(err))
        if (line.find(": ") != std::string::npos && line.rfind("quorvane:", 0) != 0 && line[0] != '[')
            said.insert(withoutLine(line));
    std::set<std::string> checked;
    for (const std::string& line : expected)
        if (line != expected.back()) checked.insert(withoutLine(line));
    EXPECT_EQ(said, checked) << err;
}

// Mistakes that end the run: each named with its file (and line), all in one go.
TEST(QvtoolCheck, ErrorsAreAllListedWithTheirFiles) {
    REQUIRE_DEFAULT_DATA_SET();
    DataSet set;
    fs::rename(set.data("stone.png"), set.data("Stone.png"));  // found all the same: names match in any case
    ASSERT_TRUE(plant(set.data("glass.mat"), "mode=\"none\"", "mode=\"CW\""));
    writeFile(set.data("black.png"), "not a picture");
    writeFile(set.data("ferrowake.mp3"), "not music at all\n");
    const std::string clip = readFile(set.data("test.vpg"));
    writeFile(set.data("test.vpg"), clip.substr(0, clip.size() / 2));  // fewer records than the header counts
    ASSERT_TRUE(plant(set.data("monolith.mesh"), "MESH1", "MESH2"));
    // The pulsing object's mesh cut short: named once, without a second line saying that nothing pulses.
    const std::string aura = readFile(set.data("aura.mesh"));
    writeFile(set.data("aura.mesh"), aura.substr(0, 20));

    const ToolRun check = qvtoolCheck(set.path());
    EXPECT_EQ(check.exitCode, 1) << check.output;
    uint32_t pictures = 0;
    for (int i = 3; i >= 0; --i) pictures = pictures << 8 | uint8_t(clip[size_t(16 + i)]);
    const std::string clipLine = "test.vpg: not a VPG-file: it holds ";
    const size_t clipAt = check.output.find(clipLine);
    ASSERT_NE(clipAt, std::string::npos) << check.output;
    const size_t whole = std::stoul(check.output.substr(clipAt + clipLine.size()));
    EXPECT_LT(whole, pictures);
    EXPECT_NE(check.output.find(clipLine + std::to_string(whole) + " whole pictures of the " +
                                std::to_string(pictures) + " its header counts (cut short?)\n"),
              std::string::npos)
        << check.output;
    const std::vector<std::string> expected = {
        "aura.mesh: Truncated MESH1-file: vertices missing",
        "ferrowake.mp3: The file's format is not recognised/supported.",
        "black.png: does not decode as a picture (PNG, JPEG, BMP, TGA, GIF, PSD, HDR, PIC, PNM)",
        "monolith.mesh: Not a MESH1-file",
        "glass.mat:" + std::to_string(lineOf(set.data("glass.mat"), "mode=\"CW\"")) +
            ": invalid cull mode \"CW\" (valid: none, cw, ccw)",
    };
    for (const std::string& line : expected)
        EXPECT_NE(check.output.find(line + "\n"), std::string::npos) << line;
    EXPECT_EQ(check.output.find("pulses"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("6 problems found\n"), std::string::npos) << check.output;
}

// Files that are not where the production looks, or not what their names say: each named with what was
// probably meant, checked through the data folder itself as the studio takes it.
TEST(QvtoolCheck, MisplacedAndMisnamedFilesSayWhatWasMeant) {
    REQUIRE_DEFAULT_DATA_SET();
    DataSet set;
    ASSERT_TRUE(plant(set.data("plinthar.scene"), "mesh=\"monolith.mesh\"", "mesh=\"monolit.mesh\""));
    fs::create_directory(set.path() / "data" / "textures");
    fs::rename(set.data("stone.png"), set.path() / "data" / "textures" / "stone.png");
    fs::rename(set.data("lattice.png"), set.path() / "lattice.png");  // beside data/, not in it
    // A WAV file under the music's name: 1 s of silence, 8-bit mono.
    std::string wav = "RIFF" +
                      std::string(
                          "\x44\xAC\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xAC\0\0\x44\xAC\0\0\x01\0\x08\0"
                          "data\x44\xAC\0\0",
                          40) +
                      std::string(44100, '\x80');
    writeFile(set.data("ferrowake.mp3"), wav);
    const std::string clip = readFile(set.data("test.vpg"));
    writeFile(set.data("test.vpg"), clip.substr(24));  // the records without the header: a bare stream
    writeFile(set.data("spire.mesh"), "# exported\no spire\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    // A material saved as UTF-16 (little-endian, with its byte order mark).
    std::string utf16 = "\xFF\xFE";
    for (char c : readFile(set.data("glass.mat"))) utf16 += std::string(1, c) + '\0';
    writeFile(set.data("glass.mat"), utf16);
    // A picture cut short (its size read from its PNG header) and an empty one.
    const std::string grid = readFile(set.data("grid.png"));
    ASSERT_EQ(grid.compare(12, 4, "IHDR"), 0);
    auto bigEndian = [&grid](size_t at) {
        return (uint32_t(uint8_t(grid[at])) << 24) | (uint32_t(uint8_t(grid[at + 1])) << 16) |
               (uint32_t(uint8_t(grid[at + 2])) << 8) | uint8_t(grid[at + 3]);
    };
    writeFile(set.data("grid.png"), grid.substr(0, grid.size() / 2));
    writeFile(set.data("text0.png"), "");

    const ToolRun check = qvtoolCheck(set.path() / "data");
    EXPECT_EQ(check.exitCode, 1) << check.output;
    const std::string scene =
        "plinthar.scene:" + std::to_string(lineOf(set.data("plinthar.scene"), "monolit."));
    for (const std::string& line : std::vector<std::string>{
             scene + ": mesh monolit.mesh not found in gorvel.yo or data/ (did you mean monolith.mesh?)",
             "stone.mat:" + std::to_string(lineOf(set.data("stone.mat"), "stone.png")) +
                 ": picture stone.png not found in gorvel.yo or data/ (there is data/textures/stone.png: the "
                 "files go in data/ itself, not in folders below it)",
             "spire.mesh: Not a MESH1-file (it is a Wavefront OBJ file: qvtool mesh from-obj makes a MESH1 "
             "mesh "
             "of it; plinthar.scene:" +
                 std::to_string(lineOf(set.data("plinthar.scene"), "spire.mesh")) + " names it as a mesh)",
             "glass.mat:1: invalid UTF-8 (the file is UTF-16: save it as UTF-8 or ASCII)",
             "grid.png: does not decode: its header reads as a " + std::to_string(bigEndian(16)) + " by " +
                 std::to_string(bigEndian(20)) + " picture, its data is damaged or cut short",
             "text0.png: does not decode as a picture (PNG, JPEG, BMP, TGA, GIF, PSD, HDR, PIC, PNM): the "
             "file is "
             "empty",
             "ferrowake.mp3: The file's format is not recognised/supported. (it is a WAV file, not MP3: "
             "convert "
             "it, e.g. lame IN.wav ferrowake.mp3 or ffmpeg -i IN ferrowake.mp3)",
         })
        EXPECT_NE(check.output.find(line + "\n"), std::string::npos) << line << "\n" << check.output;
    // The clip's header gone: the records start with a length, not the MPEG-4 start code.
    EXPECT_NE(check.output.find("test.vpg: not a VPG-file: it does not start with VOTRAMPG\n"),
              std::string::npos)
        << check.output;

    // Muxing what is not an MPEG-4 Part 2 stream says what mux takes and how to make it.
    std::string muxed;
    EXPECT_EQ(qvtest::runCommand("'" + std::string(QV_BINARY_DIR) + "/qvtool' vpg mux '" +
                                     set.data("spire.mesh").string() + "' '" +
                                     (set.path() / "x.vpg").string() + "' --fps 25",
                                 &muxed),
              1);
    EXPECT_NE(muxed.find("no VOP in the stream\nmux takes an MPEG-4 Part 2 elementary stream"),
              std::string::npos)
        << muxed;
    EXPECT_FALSE(fs::exists(set.path() / "x.vpg"));

    // Checked from the folder above, the picture beside data/ is named as such.
    const ToolRun above = qvtoolCheck(set.path());
    EXPECT_NE(above.output.find(": picture lattice.png not found in gorvel.yo or data/ (there is one beside "
                                "data/, not in it: move it into data/)\n"),
              std::string::npos)
        << above.output;
    EXPECT_EQ(above.output.find("lattice.png not found in gorvel.yo or data/\n"), std::string::npos);
}

// qvtool mesh from-obj tells the maker which material files the mesh will ask for, and makes no empty
// mesh of a file that holds no model.
TEST(QvtoolMesh, FromObjNamesTheMaterialFilesAndRefusesAFileWithoutFaces) {
    qvtest::ScratchDir dir("qv_mesh_obj");
    const std::string tool = "'" + std::string(QV_BINARY_DIR) + "/qvtool' mesh from-obj ";
    writeFile(dir.path() / "two.obj",
              "# exported\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nusemtl Material.001\nf 2 4 3\n"
              "usemtl glass.mat\nf 1 3 4\nusemtl Material.001\nf 1 4 2\n");
    std::string said;
    ASSERT_EQ(qvtest::runCommand("cd '" + dir.path().string() + "' && " + tool + "two.obj two.mesh", &said),
              0)
        << said;
    // Vertices are split where the faces' flat normals differ: their count is the importer's business.
    const std::vector<std::string> printed = lines(said);
    ASSERT_EQ(printed.size(), 2u) << said;
    EXPECT_NE(printed[0].find(" vertices, 4 triangles in 3 groups"), std::string::npos) << said;
    EXPECT_EQ(printed[1],
              "material files it names (each one goes in data/): default.xml, Material.001, glass.mat");

    writeFile(dir.path() / "picture.png", "\x89PNG\r\n\x1a\n not a model");
    EXPECT_EQ(qvtest::runCommand("cd '" + dir.path().string() + "' && " + tool + "picture.png p.mesh", &said),
              1);
    EXPECT_NE(said.find("picture.png: no faces (f lines) in it: not a Wavefront OBJ model"),
              std::string::npos)
        << said;
    EXPECT_FALSE(fs::exists(dir.path() / "p.mesh"));
}

// The maker packs the data set as it lies, data/ and all: the members are stored under their names
// alone, and the archive on its own is the whole data set. An archive whose members have folders in
// their names (made by another packer) is named as the reason its files are not found.
TEST(QvtoolCheck, AnArchivePackedFromTheDataFolderHoldsTheDataSet) {
    REQUIRE_DEFAULT_DATA_SET();
    DataSet set;
    const std::string tool = "'" + std::string(QV_BINARY_DIR) + "/qvtool'";
    ASSERT_EQ(qvtest::runCommand("cd '" + set.path().string() + "' && " + tool +
                                 " archive create gorvel.yo data/*"),
              0);
    std::string listed;
    ASSERT_EQ(
        qvtest::runCommand(tool + " archive list '" + (set.path() / "gorvel.yo").string() + "'", &listed), 0);
    EXPECT_NE(listed.find("  plinthar.scene\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("data"), std::string::npos) << listed;
    fs::remove_all(set.path() / "data");
    ToolRun check = qvtoolCheck(set.path());
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(check.output, "no problems found\n");

    // Two files of one name in different folders cannot both be members.
    qvtest::ScratchDir twice("qv_check_twice");
    fs::create_directories(twice.path() / "a");
    fs::create_directories(twice.path() / "b");
    writeFile(twice.path() / "a" / "x.png", "1");
    writeFile(twice.path() / "b" / "X.png", "2");
    std::string said;
    EXPECT_EQ(qvtest::runCommand(
                  "cd '" + twice.path().string() + "' && " + tool + " archive create t.yo a b 2>&1", &said),
              1);
    EXPECT_NE(said.find("two files named X.png"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(twice.path() / "t.yo"));

    // Members stored with their folder, as another packer may.
    rar::ArchiveOptions options;
    options.password = kArchivePassword;
    const std::vector<uint8_t> bytes =
        rar::buildArchive({{"data\\load.png", {'x'}, 0}, {"data\\plinthar.scene", {'<'}, 0}}, options);
    writeFile(set.path() / "gorvel.yo", std::string(bytes.begin(), bytes.end()));
    check = qvtoolCheck(set.path());
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(
        check.output.find("load.png: picture load.png not found in gorvel.yo or data/ (gorvel.yo holds it as "
                          "data\\load.png: members are found by their names alone; qvtool archive "
                          "create stores them so)\n"),
        std::string::npos)
        << check.output;
}

// An archive packed under another password: every member is named, as the production could read none.
TEST(QvtoolCheck, AnArchiveUnderAnotherPasswordIsNamed) {
    REQUIRE_DEFAULT_DATA_SET();
    qvtest::ScratchDir dir("qv_check_archive");
    const std::string archive = (dir.path() / "gorvel.yo").string();
    ASSERT_EQ(
        qvtest::runCommand("cd '" + (kAssets / "data").string() + "' && '" + std::string(QV_BINARY_DIR) +
                           "/qvtool' archive create '" + archive + "' -p wrong load.png test.vpg"),
        0);
    const ToolRun check = qvtoolCheck(archive);
    EXPECT_EQ(check.exitCode, 1) << check.output;
    for (const char* member : {"load.png", "test.vpg"})
        EXPECT_NE(
            check.output.find(std::string("gorvel.yo: member ") + member +
                              " does not open with the production's password: cannot decrypt gorvel.yo: "
                              "wrong password (packed under another password: qvtool archive create "
                              "without -p packs under the production's)\n"),
            std::string::npos)
            << check.output;
    EXPECT_NE(check.output.find("load.png: picture load.png: cannot decrypt gorvel.yo: wrong password"),
              std::string::npos)
        << check.output;

    writeFile(archive, "Rar! but not really");
    const ToolRun damaged = qvtoolCheck(archive);
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.output.find("gorvel.yo: does not open: "), std::string::npos) << damaged.output;
}

// qvtool timeline writes the built-in timeline, which check passes; mistakes planted in it are listed with
// their lines, and the run stops at the first of them with the same text.
TEST(QvtoolCheck, TheTimelineFileIsWrittenCheckedAndReadAlike) {
    REQUIRE_DEFAULT_DATA_SET();
    DataSet set;
    const std::string tool = "'" + std::string(QV_BINARY_DIR) + "/qvtool' timeline";
    const fs::path file = set.data("timeline.txt");
    std::string printed;
    ASSERT_EQ(qvtest::runCommand(tool, &printed), 0);
    ASSERT_EQ(qvtest::runCommand(tool + " '" + file.string() + "'"), 0);
    EXPECT_EQ(readFile(file), printed);
    // An existing file is kept unless asked.
    writeFile(file, "cuts 3\n");
    std::string refused;
    EXPECT_EQ(qvtest::runCommand(tool + " '" + file.string() + "' 2>&1", &refused), 1);
    EXPECT_NE(refused.find("exists; --force replaces it"), std::string::npos) << refused;
    EXPECT_EQ(readFile(file), "cuts 3\n");
    ASSERT_EQ(qvtest::runCommand(tool + " --force '" + file.string() + "'"), 0);
    EXPECT_EQ(readFile(file), printed);

    ToolRun check = qvtoolCheck(set.path());
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(check.output, "no problems found\n");

    ASSERT_TRUE(plant(file, "cuts 0 1 5 6", "cuts 0 5 1 6"));
    ASSERT_TRUE(plant(file, "fade 31 0.25", "fade 31 0"));
    ASSERT_TRUE(plant(file, "flashes 16", "flahses 16"));
    check = qvtoolCheck(set.path());
    EXPECT_EQ(check.exitCode, 1) << check.output;
    const std::string cutsLine = "timeline.txt:" + std::to_string(lineOf(file, "cuts 0 5 1")) +
                                 ": cuts: 1 does not come after 5 (the cuts must be strictly ascending)";
    EXPECT_EQ(lines(check.output),
              (std::vector<std::string>{
                  cutsLine,
                  "timeline.txt:" + std::to_string(lineOf(file, "flahses")) +
                      ": unknown setting 'flahses' (did you mean 'flashes'?); the settings are cuts, pulse, "
                      "flashes, blackout, fade",
                  "timeline.txt:" + std::to_string(lineOf(file, "fade 31 0")) +
                      ": fade: the length 0 s is not positive",
                  "3 problems found",
              }));

    std::string err;
    const int rc = qvtest::runCommand("(cd '" + set.path().string() + "' && '" + std::string(QV_BINARY_DIR) +
                                          "/quorvane' --capture out --size 32x24 --times 1 2>&1 >/dev/null)",
                                      &err);
    EXPECT_NE(rc, 0);
    EXPECT_NE(err.find("Failed to load timeline.txt\n" + cutsLine + "\n"), std::string::npos) << err;
}

}  // namespace
