// Material apply on a real device: the recorded states, the colour path, and textures from files.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <initializer_list>

#include "data_dir.h"
#include "device_scope.h"
#include "resources/material.h"
#include "resources/material_cache.h"

namespace {

DWORD renderState(D3DRENDERSTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    g_device->GetRenderState(s, &v);
    return v;
}
DWORD stageState(DWORD stage, D3DTEXTURESTAGESTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    g_device->GetTextureStageState(stage, s, &v);
    return v;
}
DWORD samplerState(DWORD stage, D3DSAMPLERSTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    g_device->GetSamplerState(stage, s, &v);
    return v;
}

// Render and texture stage states as a table expects them; a failure names the state (and stage).
struct RenderStateIs {
    D3DRENDERSTATETYPE state;
    DWORD value;
};
struct StageStateIs {
    DWORD stage;
    D3DTEXTURESTAGESTATETYPE state;
    DWORD value;
};
void expectStates(std::initializer_list<RenderStateIs> expected) {
    for (const RenderStateIs& e : expected)
        EXPECT_EQ(renderState(e.state), e.value) << "render state " << e.state;
}
void expectStates(std::initializer_list<StageStateIs> expected) {
    for (const StageStateIs& e : expected)
        EXPECT_EQ(stageState(e.stage, e.state), e.value) << "stage " << e.stage << ", state " << e.state;
}

IDirect3DBaseTexture9* boundTexture(DWORD stage) {
    IDirect3DBaseTexture9* t = nullptr;
    g_device->GetTexture(stage, &t);
    if (t) t->Release();  // only compared, the device keeps its own reference
    return t;
}

// A solid w x h PNG.
std::string solidPng(unsigned char r, unsigned char g, unsigned char b, unsigned char a = 255, int w = 4,
                     int h = 4) {
    std::vector<unsigned char> px;
    for (int i = 0; i < w * h; ++i) px.insert(px.end(), {r, g, b, a});
    std::string out;
    stbi_write_png_to_func(
        [](void* ctx, void* data, int size) {
            static_cast<std::string*>(ctx)->append(static_cast<char*>(data), size);
        },
        &out, w, h, 4, px.data(), w * 4);
    return out;
}

class MaterialStatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DEVICE(device_);
        dir_.write("tex.png", solidPng(200, 100, 50));
        dir_.write("env.png", solidPng(0, 40, 80));
    }
    Material* parse(const std::string& xml) {
        materials_.push_back(std::unique_ptr<Material>(parseMaterial(xml.c_str(), textures_)));
        return materials_.back().get();
    }

    DeviceScope device_;
    DataDir dir_;
    TextureCache textures_;
    std::vector<std::unique_ptr<Material>> materials_;
};

TEST_F(MaterialStatesTest, DefaultMaterialRecordsPlainOpaqueState) {
    Material* m = parse("<m/>");
    g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    g_device->SetRenderState(D3DRS_LIGHTING, FALSE);
    g_device->SetRenderState(D3DRS_TEXTUREFACTOR, 0x12345678);
    m->apply(true, true);
    ASSERT_NE(m->stateBlock, nullptr);
    expectStates({{D3DRS_ALPHABLENDENABLE, FALSE},
                  {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},  // blending off touches no blend factor
                  {D3DRS_LIGHTING, FALSE},              // lighting is the scene's
                  {D3DRS_CULLMODE, D3DCULL_CCW},
                  {D3DRS_SPECULARENABLE, FALSE},
                  {D3DRS_ZENABLE, D3DZB_TRUE},
                  {D3DRS_ZWRITEENABLE, TRUE},
                  {D3DRS_NORMALIZENORMALS, FALSE},
                  {D3DRS_COLORVERTEX, TRUE},
                  {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
                  {D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu}});
    expectStates({{0, D3DTSS_COLOROP, D3DTOP_DISABLE}, {0, D3DTSS_ALPHAOP, D3DTOP_DISABLE}});
    EXPECT_EQ(boundTexture(0), nullptr);

    // ONE/ZERO means blending off; any other pair records both factors and switches it on.
    Material* blended = parse(
        "<m><blend srcblend='srcalpha' dstblend='one'/><cull mode='none'/>"
        "<zbuffer mode='false' test='false'/><specular r='1' g='1' b='1' shinyness='1'/></m>");
    blended->apply(true, true);
    expectStates({{D3DRS_ALPHABLENDENABLE, TRUE},
                  {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
                  {D3DRS_DESTBLEND, D3DBLEND_ONE},
                  {D3DRS_CULLMODE, D3DCULL_NONE},
                  {D3DRS_ZENABLE, D3DZB_FALSE},
                  {D3DRS_ZWRITEENABLE, FALSE},
                  {D3DRS_SPECULARENABLE, FALSE}});
    m->apply(true, true);
    EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), FALSE);
}

TEST_F(MaterialStatesTest, TextureStagesCloseTheCascade) {
    Material* both = parse("<m><envmap file='env.png'/><texture file='tex.png'/></m>");
    both->apply(true, true);
    ASSERT_NE(both->texture, nullptr);
    EXPECT_EQ(boundTexture(0), both->texture->texture);
    EXPECT_EQ(boundTexture(1), both->envmap->texture);
    expectStates({{0, D3DTSS_TEXCOORDINDEX, 0},
                  {0, D3DTSS_COLOROP, D3DTOP_MODULATE},
                  {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
                  {0, D3DTSS_COLORARG2, D3DTA_CURRENT},
                  {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
                  {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
                  {1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR},
                  {1, D3DTSS_COLOROP, D3DTOP_ADD},
                  {1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
                  {1, D3DTSS_ALPHAARG1, D3DTA_CURRENT},
                  {2, D3DTSS_COLOROP, D3DTOP_DISABLE},
                  {2, D3DTSS_ALPHAOP, D3DTOP_DISABLE}});
    EXPECT_EQ(samplerState(0, D3DSAMP_ADDRESSU), DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(samplerState(1, D3DSAMP_ADDRESSV), DWORD(D3DTADDRESS_WRAP));

    // With only an environment map, the map takes stage 0.
    Material* env = parse("<m><envmap file='env.png'/></m>");
    env->apply(true, true);
    EXPECT_EQ(boundTexture(0), env->envmap->texture);
    EXPECT_EQ(stageState(0, D3DTSS_COLOROP), DWORD(D3DTOP_ADD));
    EXPECT_EQ(stageState(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(boundTexture(1), nullptr);
}

TEST_F(MaterialStatesTest, ColoursStayLiveWhileStatesAreRecordedOnce) {
    Material* m = parse(
        "<m><ambient r='0.2' g='0.3' b='0.4' a='0.9'/><emissive r='0.1' g='0.1' b='0.1'/>"
        "<diffuse r='1' g='0.5' b='0.25' a='0.4'/>"
        "<specular r='1' g='0.5' b='1' a='1' shinyness='0.5' power='16'/></m>");
    m->apply(true, true);
    D3DMATERIAL9 got;
    g_device->GetMaterial(&got);
    EXPECT_FLOAT_EQ(got.Ambient.g, 0.3f);
    EXPECT_EQ(got.Ambient.a, 0.0f);
    EXPECT_FLOAT_EQ(got.Emissive.r, 0.1f);
    EXPECT_EQ(got.Emissive.a, 0.0f);
    EXPECT_FLOAT_EQ(got.Diffuse.a, 0.4f);
    EXPECT_FLOAT_EQ(got.Specular.g, 0.25f);  // specular times shinyness
    EXPECT_EQ(got.Specular.a, 0.0f);
    EXPECT_EQ(got.Power, 16.0f);

    IDirect3DStateBlock9* block = m->stateBlock;
    m->diffuse.a = 0.8f;
    m->cullMode = D3DCULL_NONE;
    m->apply(false, true);
    g_device->GetMaterial(&got);
    EXPECT_FLOAT_EQ(got.Diffuse.a, 0.8f);
    EXPECT_EQ(got.Ambient.g, 0.0f);  // that half was not asked for
    EXPECT_EQ(m->stateBlock, block);
    EXPECT_EQ(renderState(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));  // the recorded block still rules
    m->recordStates();
    m->apply(true, false);
    EXPECT_EQ(renderState(D3DRS_CULLMODE), DWORD(D3DCULL_NONE));
    g_device->GetMaterial(&got);
    EXPECT_EQ(got.Diffuse.a, 0.0f);
}

TEST_F(MaterialStatesTest, TexturesLoadOnceThroughTheCaches) {
    dir_.write("m.xml", std::string("<m><texture file='tex.png'/></m>"));
    dir_.write("n.xml", std::string("<m><texture file='tex.png'/><envmap file='tex.png'/></m>"));
    MaterialCache cache;
    Material* m = cache.get("m.xml");
    Material* n = cache.get("n.xml");
    ASSERT_NE(m->texture, nullptr);
    EXPECT_NE(m->texture->texture, nullptr);
    EXPECT_EQ(n->texture, m->texture);
    EXPECT_EQ(n->envmap, m->texture);
    EXPECT_EQ(TextureCache::sharedCount(m->texture), 3);
    D3DSURFACE_DESC desc;
    m->texture->texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 4u);
}

}  // namespace
