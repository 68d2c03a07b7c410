#pragma once
// The production loaded from a folder on the headless device as the capture renders it (the decoded music
// as the clock), with its pictures read back.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/display.h"
#include "app/frame_setup.h"
#include "platform/d3d9/readback.h"
#include "production/production.h"

namespace studiotest {

// The production loaded in `folder` (the working directory while it lives), frames drawn at chosen times.
class LoadedShow {
public:
    explicit LoadedShow(const std::string& folder) {
        if (!getcwd(previous_, sizeof previous_) || chdir(folder.c_str()) != 0)
            throw std::string("cannot enter");
        display_ = std::make_unique<Display>("Quorvane", 640, 480, D3DFMT_X8R8G8B8, false, Direct3DCreate9,
                                             D3DPRESENT_INTERVAL_IMMEDIATE);
        publication_ = std::make_unique<DevicePublication>(display_->device);
        scenes_ = std::make_unique<SceneCache>();
        textures_ = std::make_unique<TextureCache>();
        setLinearSamplers();
        production_ = std::make_unique<Production>(display_->window, *scenes_, *textures_, stage_);
        production_->start();
    }
    ~LoadedShow() {
        production_.reset();
        textures_.reset();
        scenes_.reset();
        publication_.reset();
        display_.reset();
        if (chdir(previous_) != 0) std::perror("chdir");
    }

    // The back buffer after the frame at `t`, as 0xAARRGGBB.
    std::vector<uint32_t> picture(double t) {
        stage_.soundtrack()->setTime(t);
        production_->frame(float(production_->time()));
        std::vector<uint32_t> argb(640 * 480);
        IDirect3DSurface9* back = nullptr;
        g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        if (!back || FAILED(d3d9_read_surface(back, argb.data(), 640 * 4))) argb.clear();
        if (back) back->Release();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return argb;
    }

    Production& production() { return *production_; }
    SceneCache& scenes() { return *scenes_; }
    TextureCache& textures() { return *textures_; }

private:
    char previous_[4096] = {};
    std::unique_ptr<Display> display_;
    std::unique_ptr<DevicePublication> publication_;
    std::unique_ptr<SceneCache> scenes_;
    std::unique_ptr<TextureCache> textures_;
    RenderStage stage_;
    std::unique_ptr<Production> production_;
};

}  // namespace studiotest
