#pragma once
// Textures by file name: decoded from the data file's bytes. Objects entered with add() (render
// targets, the video texture) are handed out like loaded textures.
#include "resources/resource_cache.h"
#include "resources/texture_source.h"

class TextureCache : public ResourceCache<TextureSource> {
protected:
    // Throws "file not found: " + name, or "failed to load " + name for undecodable data.
    TextureSource* load(std::string name) override;
    // Only a decoded picture takes a new one in place; render targets and the clip are not files of theirs.
    bool replace(TextureSource& held, TextureSource& fresh) override;
};
