// Scene drawing on a real device, read back and checked against the fixed-function formulas.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "authoring/obj_import.h"
#include "data_dir.h"
#include "device_scope.h"
#include "mesh/mesh.h"
#include "resources/material.h"
#include "scene/scene_cache.h"

namespace {

std::string solidPng(unsigned char r, unsigned char g, unsigned char b) {
    std::vector<unsigned char> px;
    for (int i = 0; i < 16; ++i) px.insert(px.end(), {r, g, b, 255});
    std::string out;
    stbi_write_png_to_func(
        [](void* ctx, void* data, int size) {
            static_cast<std::string*>(ctx)->append(static_cast<char*>(data), size);
        },
        &out, 4, 4, 4, px.data(), 16);
    return out;
}

DWORD renderState(D3DRENDERSTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    g_device->GetRenderState(s, &v);
    return v;
}

// A quad of half-size 50 at the origin facing a camera 200 units down -z, looking at the origin.
class SceneDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DEVICE(device_);
        dir_.write("tex.png", solidPng(200, 100, 50));
        dir_.write("env.png", solidPng(0, 40, 80));
        camera_.transform.position = {0, 0, -200};
    }
    Scene* load(const std::string& name, const std::string& materialXml, const std::string& sceneBody) {
        dir_.write(name + ".xml", materialXml);
        dir_.writeMesh(name + ".mesh", quadMesh(name + ".xml", -50, -50, 50, 50, 0));
        dir_.write(name + ".scene", "<scene>" + sceneBody + "<object mesh='" + name + ".mesh'/></scene>");
        Scene* scene = scenes_.get(name + ".scene");
        scene->addCamera(&camera_);
        return scene;
    }
    std::vector<uint32_t> draw(Scene* scene) {
        g_device->BeginScene();
        scene->draw(0, true);
        g_device->EndScene();
        return device_.readBackBuffer();
    }
    static uint32_t at(const std::vector<uint32_t>& px, int x, int y) {
        return px[size_t(y) * DeviceScope::kWidth + x];
    }

    DeviceScope device_;
    DataDir dir_;
    SceneCache scenes_;
    Camera camera_{nullptr};
};

TEST_F(SceneDrawTest, LitFoggedTexturedEnvmappedQuadMatchesTheFormulas) {
    Scene* scene = load("lit",
                        "<m><diffuse r='0.8' g='0.6' b='0.4' a='1'/><ambient r='0.5' g='0.5' b='0.5'/>"
                        "<texture file='tex.png'/><envmap file='env.png'/></m>",
                        "<ambient r='0.2' g='0.2' b='0.2'/>"
                        "<light><diffuse r='0.9' g='0.8' b='0.7'/><ambient r='0.1' g='0.1' b='0.1'/>"
                        "<position z='-100000'/></light>");
    scene->fogEnabled = true;
    scene->fogColor = {0.2f, 0.4f, 0.6f, 1.0f};
    scene->fogStart = 60;
    scene->fogEnd = 400;
    std::vector<uint32_t> px = draw(scene);

    // Vertex lighting (the light straight ahead, N.L = 1), the texture modulated, the environment map
    // added, then linear fog at eye depth 200.
    const float ga = 51 / 255.0f;  // D3DRS_AMBIENT from 0.2
    const float matDiffuse[3] = {0.8f, 0.6f, 0.4f}, lightDiffuse[3] = {0.9f, 0.8f, 0.7f};
    const float tex[3] = {200 / 255.0f, 100 / 255.0f, 50 / 255.0f}, env[3] = {0, 40 / 255.0f, 80 / 255.0f};
    const float fogColor[3] = {0.2f, 0.4f, 0.6f};
    const float f = (400.0f - 200.0f) / (400.0f - 60.0f);
    int expected[3];
    for (int c = 0; c < 3; ++c) {
        float lit = std::min(1.0f, 0.5f * (ga + 0.1f) + matDiffuse[c] * lightDiffuse[c]);
        float stage = std::min(1.0f, tex[c] * lit + env[c]);
        expected[c] = int(std::lround((f * stage + (1 - f) * fogColor[c]) * 255));
    }
    for (auto [x, y] : {std::pair{320, 240}, {230, 150}, {410, 330}}) {
        uint32_t c = at(px, x, y);
        EXPECT_NEAR(red(c), expected[0], 3) << x << "," << y;
        EXPECT_NEAR(green(c), expected[1], 3) << x << "," << y;
        EXPECT_NEAR(blue(c), expected[2], 3) << x << "," << y;
    }
    // The quad spans 50 / (200 tan 30deg) of the half-height: about 104 pixels each way of the centre.
    EXPECT_NE(at(px, 320 + 95, 240) & 0xFFFFFF, 0u);
    EXPECT_EQ(at(px, 320 + 115, 240) & 0xFFFFFF, 0u);
    EXPECT_NE(at(px, 320, 240 - 95) & 0xFFFFFF, 0u);
    EXPECT_EQ(at(px, 320, 240 - 115) & 0xFFFFFF, 0u);

    EXPECT_EQ(renderState(D3DRS_FOGENABLE), FALSE);  // off again after every draw
    EXPECT_EQ(renderState(D3DRS_FOGCOLOR), toD3DColor(scene->fogColor));
    EXPECT_EQ(renderState(D3DRS_FOGTABLEMODE), DWORD(D3DFOG_LINEAR));
    float end;
    DWORD bits = renderState(D3DRS_FOGEND);
    std::memcpy(&end, &bits, 4);
    EXPECT_EQ(end, 400.0f);
}

TEST_F(SceneDrawTest, WithoutLightsVertexColoursShowUnlit) {
    Scene* scene = load("unlit", "<m><diffuse r='0.1' g='0.1' b='0.1'/><texture file='tex.png'/></m>",
                        "<ambient r='0.3' g='0.2' b='0.1'/>");
    std::vector<uint32_t> px = draw(scene);
    // White vertices times the texture; the material's colours play no part without lighting.
    uint32_t c = at(px, 320, 240);
    EXPECT_NEAR(red(c), 200, 1);
    EXPECT_NEAR(green(c), 100, 1);
    EXPECT_NEAR(blue(c), 50, 1);
    EXPECT_EQ(renderState(D3DRS_LIGHTING), FALSE);
    EXPECT_EQ(renderState(D3DRS_AMBIENT), 0xFF4C3319u);
}

TEST_F(SceneDrawTest, DiffuseAlphaIsLiveButCullModeIsRecordedOnce) {
    Scene* scene = load("fade",
                        "<m><diffuse r='1' g='1' b='1' a='1'/><ambient r='0' g='0' b='0'/>"
                        "<blend srcblend='srcalpha' dstblend='invsrcalpha'/></m>",
                        "<light><position z='-100000'/></light>");
    EXPECT_NEAR(red(at(draw(scene), 320, 240)), 255, 2);

    Material* material = scene->objects[0]->mesh->groups[0].material;
    material->diffuse.a = 0.25f;
    material->cullMode = D3DCULL_CW;  // would cull the quad if it were applied
    uint32_t c = at(draw(scene), 320, 240);
    EXPECT_NEAR(red(c), 64, 2);
    EXPECT_NEAR(blue(c), 64, 2);
}

TEST_F(SceneDrawTest, LightsCameraAndObjectsWithoutMeshes) {
    Scene* scene = load("many", "<m/>",
                        "<light/><light><position x='5'/><object><position x='9'/><light/></object></light>");
    ASSERT_EQ(scene->lights.size(), 3u);
    for (DWORD i = 0; i < 8; ++i) g_device->LightEnable(i, TRUE);
    draw(scene);
    for (DWORD i = 0; i < 8; ++i) {
        BOOL on = 2;
        g_device->GetLightEnable(i, &on);
        EXPECT_EQ(on, i < 3 ? TRUE : FALSE) << i;
    }
    D3DLIGHT9 light;
    g_device->GetLight(2, &light);
    EXPECT_EQ(light.Type, D3DLIGHT_POINT);
    EXPECT_EQ(light.Position.x, 14.0f);  // inherited through the mesh-less object
    EXPECT_EQ(light.Diffuse.a, 0.0f);
    EXPECT_EQ(light.Specular.r, 0.0f);
    EXPECT_EQ(light.Attenuation0, 1.0f);
    EXPECT_FLOAT_EQ(light.Range, std::sqrt(3.4028235e38f));

    D3DMATRIX world, view, projection;
    g_device->GetTransform(D3DTS_WORLD, &world);
    g_device->GetTransform(D3DTS_VIEW, &view);
    g_device->GetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_EQ(view.m[3][2], 200.0f);
    EXPECT_EQ(projection.m[2][3], 1.0f);
    EXPECT_EQ(world.m[3][0], 0.0f);  // the quad's, drawn last

    // A camera index past the end keeps the previous view and projection.
    camera_.transform.position = {0, 0, -50};
    g_device->BeginScene();
    scene->draw(7, false);
    g_device->EndScene();
    g_device->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view.m[3][2], 200.0f);
}

TEST_F(SceneDrawTest, ImportedObjFrontFacesStayVisible) {
    // A square facing a right-handed viewer on +z, counter-clockwise; after import the left-handed
    // camera on -z sees its front, so counter-clockwise culling keeps it.
    Mesh1File mesh = importObj("v -50 -50 0\nv 50 -50 0\nv 50 50 0\nv -50 50 0\nf 1 2 3 4\n", "white.xml");
    dir_.write("white.xml", std::string("<m/>"));
    dir_.writeMesh("obj.mesh", mesh);
    dir_.write("obj.scene", std::string("<scene><object mesh='obj.mesh'/></scene>"));
    Scene* scene = scenes_.get("obj.scene");
    scene->addCamera(&camera_);
    std::vector<uint32_t> px = draw(scene);
    EXPECT_EQ(at(px, 320, 240) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(at(px, 10, 10) & 0xFFFFFF, 0u);
}

}  // namespace
