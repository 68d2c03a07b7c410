// The walk that guards TinyXML: texts without a root element and texts nested past the limit fail with a
// line and a reason, whatever quoted values, comments, CDATA or other markup hide; and the nesting the
// walk sees is the nesting the parser builds.
#include "resources/xml_text.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "data_dir.h"
#include "mesh/mesh_cache.h"
#include "resources/material.h"
#include "resources/material_cache.h"
#include "scene/scene_cache.h"
#include "scene/scene_loader.h"
#include "xml_tree_depth.h"

namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * size_t(n));
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

template <class Cache>
std::string loadFailure(Cache& cache, const std::string& name) {
    try {
        cache.get(name);
    } catch (const std::string& e) {
        return e;
    }
    return "(no failure)";
}

}  // namespace

TEST(XmlWithoutRoot, MaterialAndSceneFilesFailNamingTheFileAndTheReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"<", "line 1: unterminated markup"},
        {"<?xml version=\"1.0\"?>\n", "line 2: no root element"},
        {"<?xml version=\"1.0\"?>\n<!-- the colours:\n<material><diffuse r=\"1\"/></material>\n",
         "line 2: unterminated comment"},
        // The open quote swallows the root's tag; the parser would take <diffuse> for the root.
        {"<?xml version=\"1.0?>\n<material>\n<diffuse r=\"1\" g=\"0\"/>\n</material>\n",
         "line 1: unterminated quote"},
        {"<!-- only a comment -->\n", "line 2: no root element"},
        {"<material><diffuse r=\"1/></material>", "line 1: unterminated quote"},
        {"<material><diffuse r=\"1\"", "line 1: unterminated markup"},
        {"<material><![CDATA[ x </material>", "line 1: unterminated CDATA section"},
    };
    DataDir dir;
    for (const auto& [text, reason] : cases) {
        dir.write("broken.mat", text);
        dir.write("broken.scene", text);
        MaterialCache materials;
        SceneCache scenes;
        EXPECT_EQ(loadFailure(materials, "broken.mat"), "Failed to load broken.mat\n" + reason) << text;
        EXPECT_EQ(loadFailure(scenes, "broken.scene"), "Failed to load broken.scene\n" + reason) << text;
    }
    // Stored files keep loading: a declaration, comments holding markup, and any root name.
    dir.write("fine.mat",
              "<?xml version=\"1.0\" encoding='UTF-8'?>\n<!-- <diffuse r=\"0\"/> -->\n"
              "<anything><diffuse r=\"0.5\" note=\"a > b /> c\"/></anything>\n");
    MaterialCache materials;
    EXPECT_FLOAT_EQ(materials.get("fine.mat")->diffuse.r, 0.5f);
}

TEST(XmlNesting, CraftedTextsCannotPassTheLimit) {
    const std::string deep[] = {
        repeat("<diffuse x=\"/>\">", 100000),
        repeat("<diffuse>/>", 100000),
        repeat("<diffuse x='>'>", 100000),
        repeat("<diffuse><!-- /> -->", 100000),
        repeat("<diffuse><![CDATA[/>]]>", 100000),
        repeat("<diffuse><?pi /?>", 100000),
        repeat("<diffuse><!DOCTYPE x/>", 100000),
        // An unknown attribute of a declaration ends at its first '>', so the tags after it are real.
        "<m>" + repeat("<?xml foo=\"a>b<e>", 100000),
    };
    TextureCache textures;
    MeshCache meshes;
    for (const std::string& text : deep) {
        try {
            delete parseMaterial(text.c_str(), textures);
            ADD_FAILURE() << "accepted " << text.substr(0, 40);
        } catch (const std::string& e) {
            EXPECT_EQ(e, "line 1: nesting too deep") << text.substr(0, 40);
        }
        try {
            delete parseScene(text.c_str(), meshes);
            ADD_FAILURE() << "accepted " << text.substr(0, 40);
        } catch (const std::string& e) {
            EXPECT_EQ(e, "line 1: nesting too deep") << text.substr(0, 40);
        }
    }
    // Read as UTF-8 (a declaration without an encoding), a lead byte takes the '<' of "<!--" with it, so
    // the tags in what looks like a comment are real: such broken sequences are refused.
    const std::string swallowed = "<?xml version=\"1.0\"?>\n<m>" + repeat("\xce<!-- <e> -->", 100000);
    try {
        delete parseMaterial(swallowed.c_str(), textures);
        ADD_FAILURE() << "accepted a text with broken UTF-8";
    } catch (const std::string& e) {
        EXPECT_EQ(e, "line 2: invalid UTF-8");
    }

    // The limit itself: 256 levels load, 257 do not.
    auto nested = [](int levels) {
        return "<s>" + repeat("<object>", levels - 2) + "<object/>" + repeat("</object>", levels - 2) +
               "</s>";
    };
    std::unique_ptr<Scene> scene(parseScene(nested(256).c_str(), meshes));
    EXPECT_EQ(scene->objects.size(), 255u);
    EXPECT_EQ(xmlCheckText(nested(256).c_str(), kMaxXmlNesting).depth, 256);
    try {
        delete parseScene(nested(257).c_str(), meshes);
        ADD_FAILURE() << "257 levels accepted";
    } catch (const std::string& e) {
        EXPECT_EQ(e, "line 1: nesting too deep");
    }
}

// Random documents built from markup that hides tags and "/>" in every place the parser skips: the walk
// accepts the well-formed ones and finds exactly the parser's nesting; on damaged ones (a byte dropped,
// doubled or replaced) it never sees less nesting than the parser builds.
TEST(XmlNesting, TheWalkSeesTheNestingTheParserBuilds) {
    std::mt19937 rng(18);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const char* const content[] = {
        "text /> here",  "<!-- <e> /> </e> -->", "<![CDATA[<e>/></e>]]>",   "<?pi <e ?>",
        "&#x41;&amp;/>", "<!DOCTYPE x>",         "<?xml version=\"a>b\"?>", "\n",
        "<e a=\"/>\"/>", "<e\nb='>'\n/>",
    };
    const char* const attributes[] = {"", " a=\"/>\"", " b='>'", " c=\"&gt;/e>\"", " d=plain", " e = \"x\""};
    std::function<std::string(int)> element = [&](int depth) {
        std::string s = "<e";
        s += attributes[pick(6)];
        if (depth > 12 || pick(4) == 0) return s + "/>";
        s += ">";
        for (int n = pick(5); n > 0; --n) s += pick(2) ? element(depth + 1) : content[pick(10)];
        return s + "</e>";
    };
    const char damage[] = {'<', '>', '/', '"', '\'', '-', '?', '!', 'e', '\xce'};
    int exact = 0, checked = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = (pick(2) ? "<?xml version=\"1.0\"?>\n" : "") + element(0);
        const bool damaged = round % 2 == 1;
        if (damaged) {
            size_t at = size_t(pick(int(text.size())));
            switch (pick(3)) {
                case 0:
                    text.erase(at, 1);
                    break;
                case 1:
                    text.insert(at, 1, text[at]);
                    break;
                default:
                    text[at] = damage[pick(10)];
            }
        }
        const XmlTextCheck check = xmlCheckText(text.c_str(), kMaxXmlNesting);
        TiXmlDocument doc;
        doc.Parse(text.c_str());
        const int built = qvtest::xmlTreeDepth(&doc);
        if (!damaged) {
            ASSERT_EQ(check.problem, nullptr) << text;
            ASSERT_FALSE(doc.Error()) << text << "\n" << doc.ErrorDesc();
            ASSERT_EQ(check.depth, built) << text;
            ++exact;
        } else if (!check.problem) {
            ASSERT_GE(check.depth, built) << text;
            ++checked;
        }
    }
    EXPECT_EQ(exact, 1500);
    EXPECT_GT(checked, 500);  // most damage leaves a text the walk follows
}
