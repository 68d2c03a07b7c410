// The production's own data set (assets/data, made by the asset build): its scene loads through the
// caches with every mesh, material and texture, and draws.
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "device_scope.h"
#include "mesh/mesh.h"
#include "resources/material.h"
#include "resources/texture_cache.h"
#include "scene/scene_cache.h"
#include "scratch_dir.h"

namespace {

TEST(DefaultDataTest, PlintharSceneLoadsAndDraws) {
    const std::filesystem::path data = std::filesystem::path(QV_SOURCE_DIR) / "assets" / "data";
    if (!std::filesystem::exists(data / "plinthar.scene")) GTEST_SKIP() << "no default data set in " << data;
    DeviceScope device;
    REQUIRE_DEVICE(device);

    // Loose files only: a working directory whose "data" is the asset folder and which has no archive.
    qvtest::ScratchDir work("qv-assets");
    std::filesystem::create_directory_symlink(data, work.path() / "data");
    ASSERT_TRUE(work.enter());
    {
        // The production enters its video texture under three picture names; a grey stand-in here.
        TextureCache pictures;
        auto* video = new TextureSource;
        ASSERT_GE(
            g_device->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &video->texture, nullptr),
            0);
        D3DLOCKED_RECT r;
        ASSERT_GE(video->texture->LockRect(0, &r, nullptr, 0), 0);
        for (int y = 0; y < 2; ++y) std::memset(static_cast<char*>(r.pBits) + y * r.Pitch, 0x80, 8);
        video->texture->UnlockRect(0);
        for (const char* name : {"bg.jpg", "cubetex.png", "white.png"}) pictures.add(name, video);

        SceneCache scenes;
        Scene* scene = nullptr;
        try {
            scene = scenes.get("plinthar.scene");
        } catch (const std::string& e) {
            ADD_FAILURE() << e;
        }
        if (scene) {
            // The frame sequence pulses the first group's material of object 27.
            ASSERT_GE(scene->objects.size(), 28u);
            ASSERT_NE(scene->objects[27]->mesh, nullptr);
            ASSERT_FALSE(scene->objects[27]->mesh->groups.empty());
            EXPECT_NE(scene->objects[27]->mesh->groups[0].material, nullptr);

            Camera camera(nullptr);
            camera.transform.position = {0, 40, -180};
            scene->addCamera(&camera);
            g_device->BeginScene();
            EXPECT_NO_THROW(scene->draw(0, true));
            g_device->EndScene();
            std::vector<uint32_t> px = device.readBackBuffer();
            if (const char* out = std::getenv("QV_SAVE_PICTURE"))
                stbi_write_png(out, 640, 480, 4, to_rgba(px).data(), 640 * 4);
            size_t lit = 0;
            for (uint32_t c : px) lit += (c & 0xFFFFFF) != 0;
            EXPECT_GT(lit, px.size() / 20) << "the scene should cover part of the picture";
        }
    }
}

}  // namespace
