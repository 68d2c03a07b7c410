// Material files: defaults, every element and keyword, and the failure texts.
#include "resources/material.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "data_dir.h"
#include "resources/color.h"
#include "resources/diagnostics.h"
#include "resources/material_cache.h"

namespace {

void expectColor(const ColorRGBA& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

class MaterialFileTest : public ::testing::Test {
protected:
    Material* parse(const std::string& xml) {
        material_.reset(parseMaterial(xml.c_str(), textures_));
        return material_.get();
    }
    std::string failure(const std::string& xml) {
        try {
            std::unique_ptr<Material> m(parseMaterial(xml.c_str(), textures_));
        } catch (const std::string& e) {
            return e;
        }
        return "(no failure)";
    }
    TextureCache textures_;
    std::unique_ptr<Material> material_;
};

TEST_F(MaterialFileTest, EmptyRootGivesTheDefaults) {
    Material* m = parse("<material/>");
    expectColor(m->emissive, 0, 0, 0, 0);
    expectColor(m->ambient, 0.1f, 0.1f, 0.1f, 1);
    expectColor(m->diffuse, 1, 1, 1, 1);
    expectColor(m->specular, 0, 0, 0, 0);
    EXPECT_EQ(m->power, 1.0f);
    EXPECT_EQ(m->shinyness, 0.0f);
    EXPECT_EQ(m->texture, nullptr);
    EXPECT_EQ(m->envmap, nullptr);
    EXPECT_EQ(m->zbufferMode, D3DZB_TRUE);
    EXPECT_TRUE(m->zwrite);
    EXPECT_EQ(m->cullMode, D3DCULL_CCW);
    EXPECT_EQ(m->srcBlend, D3DBLEND_ONE);
    EXPECT_EQ(m->dstBlend, D3DBLEND_ZERO);
    EXPECT_EQ(m->stateBlock, nullptr);
}

TEST_F(MaterialFileTest, ColoursAndSpecular) {
    Material* m = parse(
        "<m><diffuse r='1' g='0.5' b='0.5' a='0.4'/><ambient g='0.25'/><emissive r='0.5' g='x'/>"
        "<specular r='1' g='1' b='1' shinyness='0.5' power='16'/><!-- c --><unknown r='3'/>text</m>");
    expectColor(m->diffuse, 1, 0.5f, 0.5f, 0.4f);
    expectColor(m->ambient, 1, 0.25f, 1, 1);  // absent attributes read as 1
    expectColor(m->emissive, 0.5f, 0, 1, 1);  // unreadable numbers are 0
    expectColor(m->specular, 1, 1, 1, 1);
    EXPECT_EQ(m->shinyness, 0.5f);
    EXPECT_EQ(m->power, 16.0f);

    // A bare specular element writes all six fields; the last occurrence wins.
    m = parse("<m><specular r='0.2' shinyness='3' power='8'/><specular/></m>");
    expectColor(m->specular, 1, 1, 1, 1);
    EXPECT_EQ(m->shinyness, 0.0f);
    EXPECT_EQ(m->power, 1.0f);
}

TEST_F(MaterialFileTest, DepthCullAndBlendKeywords) {
    const struct {
        const char* mode;
        D3DZBUFFERTYPE value;
    } zmodes[] = {{"false", D3DZB_FALSE}, {"true", D3DZB_TRUE}, {"usew", D3DZB_USEW}};
    for (const auto& z : zmodes)
        EXPECT_EQ(parse(std::string("<m><zbuffer mode='") + z.mode + "'/></m>")->zbufferMode, z.value);

    Material* m = parse("<m><zbuffer mode='false' test='false'/></m>");
    EXPECT_FALSE(m->zwrite);
    // A later zbuffer without "test" turns depth writes back on and keeps the mode.
    m = parse("<m><zbuffer mode='false' test='false'/><zbuffer/></m>");
    EXPECT_TRUE(m->zwrite);
    EXPECT_EQ(m->zbufferMode, D3DZB_FALSE);
    EXPECT_TRUE(parse("<m><zbuffer test='no'/></m>")->zwrite);

    EXPECT_EQ(parse("<m><cull mode='none'/></m>")->cullMode, D3DCULL_NONE);
    EXPECT_EQ(parse("<m><cull mode='cw'/></m>")->cullMode, D3DCULL_CW);
    EXPECT_EQ(parse("<m><cull mode='cw'/><cull/></m>")->cullMode, D3DCULL_CW);
    // Element names in another letter case are unknown elements.
    EXPECT_EQ(parse("<m><Cull mode='none'/><ZBuffer mode='bogus'/></m>")->cullMode, D3DCULL_CCW);

    const char* blends[] = {
        "zero",        "one",          "srccolor",        "invsrccolor", "srcalpha",
        "invsrcalpha", "destalpha",    "invdestalpha",    "destcolor",   "invdestcolor",
        "srcalphasat", "bothsrcalpha", "bothinvsrcalpha", "blendfactor", "invblendfactor"};
    for (int i = 0; i < 15; ++i) {
        m = parse(std::string("<m><blend srcblend='") + blends[i] + "' dstblend='" + blends[14 - i] +
                  "'/></m>");
        EXPECT_EQ(m->srcBlend, D3DBLEND(i + 1)) << blends[i];
        EXPECT_EQ(m->dstBlend, D3DBLEND(15 - i)) << blends[14 - i];
    }
    m = parse("<m><blend srcblend='srcalpha'/></m>");
    EXPECT_EQ(m->srcBlend, D3DBLEND_SRCALPHA);
    EXPECT_EQ(m->dstBlend, D3DBLEND_ZERO);
}

TEST_F(MaterialFileTest, FailureTexts) {
    // The system's texts first, then the value and the valid ones.
    EXPECT_EQ(failure("<m><zbuffer mode='True'/></m>"),
              "invalid zbuffer mode \"True\" (valid: false, true, usew)");
    EXPECT_EQ(failure("<m><cull mode='CCW'/></m>"), "invalid cull mode \"CCW\" (valid: none, cw, ccw)");
    const std::string blends =
        " (valid: zero, one, srccolor, invsrccolor, srcalpha, invsrcalpha, destalpha, invdestalpha, "
        "destcolor, "
        "invdestcolor, srcalphasat, bothsrcalpha, bothinvsrcalpha, blendfactor, invblendfactor)";
    EXPECT_EQ(failure("<m><blend srcblend='add'/></m>"), "invalid srcblend \"add\"" + blends);
    EXPECT_EQ(failure("<m><blend srcblend='one' dstblend='One'/></m>"), "invalid dstblend \"One\"" + blends);
    EXPECT_EQ(failure("<m>\n<diffuse r='1'>\n</m>"), "line 3: Error reading end tag.");
    EXPECT_EQ(failure(""), "line 1: Error document empty.");
    DataDir dir;  // a data folder without the picture: the texture loader's own text
    EXPECT_EQ(failure("<m><texture file='gone.png'/></m>"),
              "Failed to load gone.png\nfile not found: gone.png");
}

TEST(MaterialCacheTest, LoadsThroughTheDataLookupAndSharesTextures) {
    DataDir dir;
    TextureCache standalone;
    auto* picture = new TextureSource;
    auto* reflection = new TextureSource;
    standalone.add("cubetex.png", picture);
    standalone.add("env.png", reflection);
    dir.write("a.xml", std::string("<m><texture file='cubetex.png'/><envmap file='env.png'/><texture/></m>"));
    dir.write("b.xml", std::string("<m><texture file='cubetex.png'/></m>"));
    dir.write("bad.xml", std::string("<m><blend dstblend='nope'/></m>"));

    MaterialCache cache;
    Material* a = cache.get("a.xml");
    EXPECT_EQ(a->texture, picture);
    EXPECT_EQ(a->envmap, reflection);
    EXPECT_EQ(cache.get("b.xml")->texture, picture);
    EXPECT_EQ(cache.get("a.xml"), a);
    EXPECT_EQ(TextureCache::sharedCount(picture), 3);

    try {
        cache.get("absent.xml");
        FAIL();
    } catch (const std::string& e) {
        EXPECT_EQ(e, "Failed to load absent.xml\nFile not found");
    }
    try {
        cache.get("bad.xml");
        FAIL();
    } catch (const std::string& e) {
        EXPECT_EQ(e.substr(0, e.find(" (valid")), "Failed to load bad.xml\ninvalid dstblend \"nope\"");
    }
}

TEST(ColorTest, ToD3DColorClampsScalesAndTruncates) {
    EXPECT_EQ(toD3DColor({0.1f, 0.1f, 0.1f, 1.0f}), 0xFF191919u);
    EXPECT_EQ(toD3DColor({0.05f, 0.01f, 0.01f, 1.0f}), 0xFF0C0202u);
    EXPECT_EQ(toD3DColor({0.999f, 0, 0, 0}), 0x00FE0000u);
    EXPECT_EQ(toD3DColor({2.0f, -1.0f, NAN, 0.5f}), 0x7FFF00FFu);
    EXPECT_EQ(toD3DColor({INFINITY, -INFINITY, 1.0f, 1.0f}), 0xFFFF00FFu);
}

}  // namespace

namespace {

// The warnings and errors the loader's check finds in a material text, as "line: message".
std::vector<std::string> materialProblems(const std::string& xml) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str());
    DiagnosticList found;
    checkMaterialDocument(doc.RootElement(), "m.mat", found, nullptr);
    std::vector<std::string> out;
    for (const Diagnostic& d : found.list())
        out.push_back(std::string(d.severity == Diagnostic::Severity::error ? "E" : "W") +
                      std::to_string(d.line) + ": " + d.message);
    return out;
}

}  // namespace

// What the loader reads past is reported with its line and the nearest valid name; the load goes on and
// builds the same material as before.
TEST_F(MaterialFileTest, UnknownNamesAndBadNumbersAreWarningsWithTheirLines) {
    const std::string xml =
        "<material>\n"
        "  <difuse r='1'/>\n"
        "  <diffuse r='0,9' gg='1' b='nan' a='1e999'/>\n"
        "  <specular power='inf' shinyness='abc' r=' 0.5 '/>\n"
        "  <Cull mode='none'/>\n"
        "  <zbuffer test='no' mode='usew'/>\n"
        "  <texture/>\n"
        "  <sparkle/>\n"
        "</material>\n";
    EXPECT_EQ(materialProblems(xml),
              (std::vector<std::string>{
                  "W2: unknown element <difuse>, did you mean <diffuse>?",
                  "W3: r=\"0,9\" on <diffuse> is not a finite number (read as 0; decimals take a point)",
                  "W3: unknown attribute gg, did you mean g?",
                  "W3: b=\"nan\" on <diffuse> is not a finite number (read as nan)",
                  "W3: a=\"1e999\" on <diffuse> is not a finite number (read as inf)",
                  "W4: power=\"inf\" on <specular> is not a finite number (read as inf)",
                  "W4: shinyness=\"abc\" on <specular> is not a finite number (read as 0)",
                  "W5: unknown element <Cull>, did you mean <cull>?",
                  "W6: test=\"no\" on <zbuffer> is read as true (valid: true, false)",
                  "W7: <texture> without a file attribute sets no texture",
                  "W8: unknown element <sparkle> in <material> (valid: emissive, ambient, diffuse, specular, "
                  "zbuffer, cull, blend, texture, envmap)",
              }));
    // The load itself is unchanged: the numbers as atof reads them, the unknown names passed over.
    Material* m = parse(xml);
    EXPECT_EQ(m->diffuse.r, 0.0f);
    EXPECT_TRUE(std::isnan(m->diffuse.b));
    EXPECT_EQ(m->specular.r, 0.5f);
    EXPECT_EQ(m->cullMode, D3DCULL_CCW);
    EXPECT_TRUE(m->zwrite);

    // Values that fail the load are errors in the check, with the text the loader throws.
    EXPECT_EQ(materialProblems("<m>\n<cull mode='CW'/><blend srcblend='one' dstblend='add'/></m>"),
              (std::vector<std::string>{"E2: " + failure("<m><cull mode='CW'/></m>"),
                                        "E2: " + failure("<m><blend dstblend='add'/></m>")}));

    // Every material of the default data set is clean.
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QV_SOURCE_DIR) + "/assets/data")) {
        if (entry.path().extension() != ".mat") continue;
        std::ifstream in(entry.path());
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(materialProblems(text), std::vector<std::string>{}) << entry.path();
    }
}
