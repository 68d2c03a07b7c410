// Per-vertex lighting, W-based fog and generated texture coordinates against Direct3D 9's formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "draw_util.h"
#include "platform/d3d9/readback.h"
#include "test_device.h"

namespace {

DWORD fbits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

class Lighting : public PlainDeviceTest {
protected:
    void SetUp() override {
        PlainDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        // Draw into a render texture with alpha, so the lit alpha can be read too.
        rt = make_target(d, 64, 64, &target);
        ASSERT_NE(rt, nullptr);
        d->SetRenderTarget(0, target);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        // Camera space = world space; z is scaled into 0..1 by an affine projection.
        D3DMATRIX proj = identity();
        proj._33 = 0.05f;
        d->SetTransform(D3DTS_PROJECTION, &proj);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        D3DMATERIAL9 m = {};
        m.Diffuse = {0.8f, 0.6f, 0.4f, 0.5f};
        m.Ambient = {0.2f, 0.4f, 0.6f, 1.0f};
        m.Specular = {0.5f, 0.5f, 0.5f, 1.0f};
        m.Power = 1.0f;
        d->SetMaterial(&m);
        d->SetRenderState(D3DRS_AMBIENT, 0xFF202020);
        d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    }
    void TearDown() override {
        if (target) target->Release();
        if (rt) rt->Release();
    }
    // A quad facing the camera at z = 10 whose four corners are (+-1, +-1): with a light on the axis every
    // vertex is lit alike, so the colour is flat.
    std::vector<LitVertex> facing_quad(float normalLength = 1.0f, DWORD diffuse = 0xFF00FF00) {
        const float n = -normalLength;
        return {{-1, 1, 10, 0, 0, n, diffuse, 0, 0},
                {1, 1, 10, 0, 0, n, diffuse, 0, 0},
                {1, -1, 10, 0, 0, n, diffuse, 0, 0},
                {-1, -1, 10, 0, 0, n, diffuse, 0, 0}};
    }
    uint32_t centre() { return pixel(read_render_target(d), 64, 32, 32); }

    IDirect3DTexture9* rt = nullptr;
    IDirect3DSurface9* target = nullptr;
};

D3DLIGHT9 point_light(float h, float a0, float a1, float a2, float range) {
    D3DLIGHT9 l = {};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {1.0f, 0.9f, 0.8f, 1.0f};
    l.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    l.Ambient = {0.1f, 0.1f, 0.1f, 1.0f};
    l.Position = {0.0f, 0.0f, 10.0f - h};
    l.Range = range;
    l.Attenuation0 = a0;
    l.Attenuation1 = a1;
    l.Attenuation2 = a2;
    return l;
}

}  // namespace

TEST_F(Lighting, OnePointLightAtKnownAnglesAndDistances) {
    struct Case {
        float h, a0, a1, a2, range;
    } cases[] = {
        {1.0f, 1.0f, 0.0f, 0.0f, 100.0f},  // 54.7 degrees off the normal, unattenuated
        {3.0f, 0.0f, 0.5f, 0.0f, 100.0f},  // 25.2 degrees, 1 / (0.5 d)
        {2.0f, 0.5f, 0.0f, 0.1f, 100.0f},  // 35.3 degrees, 1 / (0.5 + 0.1 d^2)
        {1.0f, 1.0f, 0.0f, 0.0f, 1.5f},  // out of range (d = 1.73): the light adds nothing, not even ambient
    };
    const float Ga = 32 / 255.0f;
    for (const Case& c : cases) {
        D3DLIGHT9 l = point_light(c.h, c.a0, c.a1, c.a2, c.range);
        ASSERT_EQ(d->SetLight(0, &l), D3D_OK);
        ASSERT_EQ(d->LightEnable(0, TRUE), D3D_OK);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        ASSERT_EQ(draw_fan(d, facing_quad(), kLitFvf), D3D_OK);
        const float dist = std::sqrt(2.0f + c.h * c.h);
        const float atten = dist > c.range ? 0.0f : 1.0f / (c.a0 + c.a1 * dist + c.a2 * dist * dist);
        const float ndotl = c.h / dist;
        const float Ca[3] = {0.2f, 0.4f, 0.6f}, Cd[3] = {0.8f, 0.6f, 0.4f}, Ld[3] = {1.0f, 0.9f, 0.8f};
        const uint32_t got = centre();
        const int ch[3] = {channel_r(got), channel_g(got), channel_b(got)};
        for (int i = 0; i < 3; ++i) {
            const float want = std::min(1.0f, Ca[i] * (Ga + 0.1f * atten) + Cd[i] * Ld[i] * ndotl * atten);
            EXPECT_NEAR(ch[i], want * 255.0f, 1.01f)
                << "h " << c.h << " range " << c.range << " channel " << i;
        }
        EXPECT_NEAR(channel_a(got), 0.5f * 255.0f, 1.01f);  // alpha is the material's diffuse alpha
    }
}

TEST_F(Lighting, MaterialSourcesNormalsAndSpecular) {
    D3DLIGHT9 l = point_light(1.0f, 1.0f, 0.0f, 0.0f, 100.0f);
    d->SetLight(0, &l);
    d->LightEnable(0, TRUE);
    const float ndotl = 1.0f / std::sqrt(3.0f), Ga = 32 / 255.0f;
    // With the material as diffuse source the vertex colour has no influence...
    ASSERT_EQ(draw_fan(d, facing_quad(1.0f, 0xFF0000FF), kLitFvf), D3D_OK);
    const uint32_t material = centre();
    EXPECT_NEAR(channel_r(material), (0.2f * (Ga + 0.1f) + 0.8f * ndotl) * 255.0f, 1.01f);
    // ...with COLOR1 it replaces the material's diffuse colour and alpha.
    d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
    ASSERT_EQ(draw_fan(d, facing_quad(1.0f, 0x80FF0000), kLitFvf), D3D_OK);
    uint32_t c = centre();
    EXPECT_NEAR(channel_r(c), std::min(1.0f, 0.2f * (Ga + 0.1f) + 1.0f * ndotl) * 255.0f, 1.01f);
    EXPECT_NEAR(channel_b(c), 0.6f * (Ga + 0.1f) * 255.0f, 1.01f);
    EXPECT_NEAR(channel_a(c), 0x80, 1);
    // COLORVERTEX off: the material again.
    d->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    ASSERT_EQ(draw_fan(d, facing_quad(1.0f, 0x80FF0000), kLitFvf), D3D_OK);
    EXPECT_LE(color_distance(centre(), material), 1);
    d->SetRenderState(D3DRS_COLORVERTEX, TRUE);
    d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);

    // A normal of length 2 doubles N.L unless NORMALIZENORMALS is on.
    ASSERT_EQ(draw_fan(d, facing_quad(2.0f), kLitFvf), D3D_OK);
    c = centre();
    EXPECT_NEAR(channel_g(c), std::min(1.0f, 0.4f * (Ga + 0.1f) + 0.6f * 0.9f * 2.0f * ndotl) * 255.0f,
                1.01f);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    ASSERT_EQ(draw_fan(d, facing_quad(2.0f), kLitFvf), D3D_OK);
    EXPECT_LE(color_distance(centre(), material), 1);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);

    // Specular with a local viewer at the origin: Cs * Ls * (N.H)^P, added after the cascade.
    d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    ASSERT_EQ(draw_fan(d, facing_quad(), kLitFvf), D3D_OK);
    c = centre();
    const float P[3] = {1, 1, 10};
    const float pl = std::sqrt(102.0f);
    const float L[3] = {-1 / std::sqrt(3.0f), -1 / std::sqrt(3.0f), -1 / std::sqrt(3.0f)};
    float H[3] = {L[0] - P[0] / pl, L[1] - P[1] / pl, L[2] - P[2] / pl};
    const float hl = std::sqrt(H[0] * H[0] + H[1] * H[1] + H[2] * H[2]);
    const float ndoth = -H[2] / hl;
    EXPECT_NEAR(channel_r(c), std::min(1.0f, (0.2f * (Ga + 0.1f) + 0.8f * ndotl) + 0.5f * ndoth) * 255.0f,
                1.01f);
    EXPECT_NEAR(channel_b(c),
                std::min(1.0f, (0.6f * (Ga + 0.1f) + 0.4f * 0.8f * ndotl) + 0.5f * ndoth) * 255.0f, 1.01f);
}

TEST_F(Lighting, LightsBeyondEightAndDisabledLights) {
    // Eight enabled lights each adding the same diffuse; a ninth is accepted and ignored for lighting.
    D3DMATERIAL9 m = {};
    m.Diffuse = {0.1f, 0.1f, 0.1f, 1.0f};
    d->SetMaterial(&m);
    d->SetRenderState(D3DRS_AMBIENT, 0);
    D3DLIGHT9 l = point_light(1.0f, 1.0f, 0.0f, 0.0f, 100.0f);
    l.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    l.Ambient = {0, 0, 0, 0};
    for (DWORD i = 0; i < 9; ++i) {
        ASSERT_EQ(d->SetLight(i, &l), D3D_OK);
        ASSERT_EQ(d->LightEnable(i, TRUE), D3D_OK);
    }
    ASSERT_EQ(draw_fan(d, facing_quad(), kLitFvf), D3D_OK);
    const float one = 0.1f / std::sqrt(3.0f);
    EXPECT_NEAR(channel_r(centre()), 8 * one * 255.0f, 1.01f);
    for (DWORD i = 3; i < 9; ++i) d->LightEnable(i, FALSE);
    ASSERT_EQ(draw_fan(d, facing_quad(), kLitFvf), D3D_OK);
    EXPECT_NEAR(channel_r(centre()), 3 * one * 255.0f, 1.01f);
    BOOL on = FALSE;
    ASSERT_EQ(d->GetLightEnable(2, &on), D3D_OK);
    EXPECT_TRUE(on);
    ASSERT_EQ(d->GetLightEnable(5, &on), D3D_OK);
    EXPECT_FALSE(on);
    EXPECT_EQ(d->GetLightEnable(100, &on), D3DERR_INVALIDCALL);
    // Lighting off: the vertex colour shows unlit.
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    ASSERT_EQ(draw_fan(d, facing_quad(1.0f, 0xFF336699), kLitFvf), D3D_OK);
    EXPECT_LE(color_distance(centre(), 0xFF336699), 1);
}

namespace {

class Fog : public PlainDeviceTest {
protected:
    void SetUp() override {
        PlainDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        const D3DMATRIX proj = perspective_fov_lh(60.0f * 3.14159265f / 180.0f, 4.0f / 3.0f, 1.0f, 2000.0f);
        d->SetTransform(D3DTS_PROJECTION, &proj);
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
        d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        d->SetRenderState(D3DRS_FOGSTART, fbits(60.0f));
        d->SetRenderState(D3DRS_FOGEND, fbits(400.0f));
    }
    // A white square facing the camera at eye depth z, covering the centre of the screen.
    uint32_t draw_at(float z) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        const float s = 0.2f * z;
        EXPECT_EQ(draw_fan(d, quad(-s, -s, s, s, z, 0xFFFFFFFF), kScreenFvf), D3D_OK);
        return pixel(read_back_buffer(d), 640, 320, 240);
    }
};

}  // namespace

TEST_F(Fog, LinearFogOnEyeDepth) {
    d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
    struct Case {
        float z, f;
    } cases[] = {{30, 1.0f}, {60, 1.0f}, {145, 0.75f}, {230, 0.5f}, {400, 0.0f}, {500, 0.0f}};
    for (const Case& c : cases) {
        const uint32_t px = draw_at(c.z);
        EXPECT_NEAR(channel_r(px), 255.0f * c.f, 1.01f) << "z " << c.z;
        EXPECT_NEAR(channel_b(px), 255.0f * c.f, 1.01f) << "z " << c.z;
    }
    // The fog colour (its alpha ignored) takes the place of the object by 1 - f.
    d->SetRenderState(D3DRS_FOGCOLOR, 0x000C0202);
    const uint32_t px = draw_at(230.0f);
    EXPECT_NEAR(channel_r(px), 0.5f * 255 + 0.5f * 12, 1.01f);
    EXPECT_NEAR(channel_g(px), 0.5f * 255 + 0.5f * 2, 1.01f);
    // Fog off again: full colour at any depth.
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    EXPECT_EQ(draw_at(500.0f), 0xFFFFFFFFu);
}

TEST_F(Fog, AffineProjectionFogsOnDeviceDepth) {
    const D3DMATRIX id = identity();
    d->SetTransform(D3DTS_PROJECTION, &id);
    d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
    d->SetRenderState(D3DRS_FOGSTART, fbits(0.2f));
    d->SetRenderState(D3DRS_FOGEND, fbits(0.8f));
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(draw_fan(d, quad(-1, -1, 1, 1, 0.35f, 0xFFFFFFFF), kScreenFvf), D3D_OK);
    EXPECT_NEAR(channel_r(pixel(read_back_buffer(d), 640, 320, 240)), 0.75f * 255, 1.01f);
}

TEST_F(Fog, CameraSpaceReflectionCoordinates) {
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    // Quadrant texture: top-left red, top-right green, bottom-left blue, bottom-right white.
    IDirect3DTexture9* t = make_texture(d, 2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
    d->SetTexture(0, t);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    // (Rx, Ry, Rz, 1) scaled by a half and moved to the texture centre (translation in row 4).
    D3DMATRIX m = identity();
    m._11 = m._22 = 0.5f;
    m._41 = m._42 = 0.5f;
    d->SetTransform(D3DTS_TEXTURE0, &m);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    // A plane facing the camera at z = 10 with normal -z: R = reflect(normalize(P), N) keeps x and y of the
    // view direction, so the left of the screen reads u < 0.5 and the top (y up) reads v > 0.5.
    const std::vector<LitVertex> plane = {{-8, 6, 10, 0, 0, -1, 0xFFFFFFFF, 0, 0},
                                          {8, 6, 10, 0, 0, -1, 0xFFFFFFFF, 0, 0},
                                          {8, -6, 10, 0, 0, -1, 0xFFFFFFFF, 0, 0},
                                          {-8, -6, 10, 0, 0, -1, 0xFFFFFFFF, 0, 0}};
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(draw_fan(d, plane, kLitFvf), D3D_OK);
    std::vector<uint32_t> px = read_back_buffer(d);
    EXPECT_EQ(pixel(px, 640, 200, 150), 0xFF0000FFu);  // top-left of the screen: bottom-left texel
    EXPECT_EQ(pixel(px, 640, 440, 150), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(px, 640, 200, 330), 0xFFFF0000u);
    EXPECT_EQ(pixel(px, 640, 440, 330), 0xFF00FF00u);
    t->Release();
}
