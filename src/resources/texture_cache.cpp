#include "resources/texture_cache.h"

#include <memory>
#include <utility>

#include "data/memfile.h"
#include "platform/d3dx/d3dx9.h"
#include "resources/device.h"

TextureSource* TextureCache::load(std::string name) {
    std::unique_ptr<MemoryFile, int (*)(MemoryFile*)> file(memfile_open(name.c_str()), memfile_close);
    if (!file) throw "file not found: " + name;
    auto texture = std::make_unique<Texture>();
    HRESULT hr = D3DXCreateTextureFromFileInMemory(g_device, file->data, file->length, &texture->texture);
    if (hr < 0) throw "failed to load " + name;
    return texture.release();
}

bool TextureCache::replace(TextureSource& held, TextureSource& fresh) {
    if (!dynamic_cast<Texture*>(&held) || !dynamic_cast<Texture*>(&fresh)) return false;
    std::swap(held.texture, fresh.texture);
    return true;
}
