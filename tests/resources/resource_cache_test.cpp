// Sharing, counting and destruction order of the load-once caches.
#include "resources/resource_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "data_dir.h"
#include "resources/material_cache.h"
#include "resources/texture_cache.h"

namespace {

std::vector<std::string> g_events;

struct Probe {
    explicit Probe(std::string n) : name(std::move(n)) { g_events.push_back("new " + name); }
    ~Probe() { g_events.push_back("delete " + name); }
    std::string name;
};

class ProbeCache : public ResourceCache<Probe> {
public:
    explicit ProbeCache(std::string tag = "") : tag_(std::move(tag)) {}
    ~ProbeCache() override { g_events.push_back("cache " + tag_ + " gone"); }
    int loads = 0;

protected:
    Probe* load(std::string name) override {
        ++loads;
        if (name.rfind("missing", 0) == 0) throw std::string("no such probe");
        if (name == "null") return nullptr;
        if (name == "int") throw 42;
        return new Probe(name);
    }

private:
    std::string tag_;
};

// A cache whose member cache must go first, like the concrete caches.
class OuterCache : public ResourceCache<Probe> {
public:
    ProbeCache inner{"inner"};
    ~OuterCache() override { g_events.push_back("outer body"); }

protected:
    Probe* load(std::string name) override {
        Probe* p = inner.get(name + ".inner");
        (void)p;
        return new Probe(name);
    }
};

class ResourceCacheTest : public ::testing::Test {
protected:
    void SetUp() override { g_events.clear(); }
};

TEST_F(ResourceCacheTest, SharesByExactNameAcrossInstancesAndCounts) {
    Probe* a;
    {
        ProbeCache one, two;
        a = one.get("rock.mesh");
        EXPECT_EQ(one.get("rock.mesh"), a);
        EXPECT_EQ(one.loads, 1);
        EXPECT_EQ(one.ownCount(a), 2);
        EXPECT_EQ(ProbeCache::sharedCount(a), 2);

        // A second instance of the type gets the same object without a load.
        EXPECT_EQ(two.get("rock.mesh"), a);
        EXPECT_EQ(two.loads, 0);
        EXPECT_EQ(two.ownCount(a), 1);
        EXPECT_EQ(ProbeCache::sharedCount(a), 3);

        // Letter case counts: another entry, another load.
        Probe* upper = one.get("Rock.mesh");
        EXPECT_NE(upper, a);
        EXPECT_EQ(one.loads, 2);
    }
    // Both go with the first instance; their order follows the count table's pointer order.
    ASSERT_EQ(g_events.size(), 6u);
    std::sort(g_events.begin() + 4, g_events.end());
    EXPECT_EQ(g_events, (std::vector<std::string>{"new rock.mesh", "new Rock.mesh", "cache  gone",
                                                  "cache  gone", "delete Rock.mesh", "delete rock.mesh"}));
}

TEST_F(ResourceCacheTest, DestroysOnlyWhenTheLastInstanceGoes) {
    auto first = std::make_unique<ProbeCache>("first");
    ProbeCache second("second");
    Probe* p = first->get("shared");
    second.get("shared");
    first.reset();
    EXPECT_EQ(g_events.back(), "cache first gone");  // still held by the second
    EXPECT_EQ(ProbeCache::sharedCount(p), 1);
    EXPECT_EQ(second.get("shared"), p);
    EXPECT_EQ(second.loads, 0);
}

TEST_F(ResourceCacheTest, ReloadsAfterEveryHolderIsGone) {
    {
        ProbeCache a;
        a.get("again");
    }
    ProbeCache b;
    b.get("again");
    EXPECT_EQ(b.loads, 1);
    EXPECT_EQ(g_events, (std::vector<std::string>{"new again", "cache  gone", "delete again", "new again"}));
}

TEST_F(ResourceCacheTest, AddEntersWithoutLoadAndCountsEachName) {
    {
        ProbeCache cache;
        Probe* video = new Probe("video");
        cache.add("bg.jpg", video);
        cache.add("cubetex.png", video);
        cache.add("white.png", video);
        EXPECT_EQ(ProbeCache::sharedCount(video), 3);
        EXPECT_EQ(cache.get("cubetex.png"), video);
        EXPECT_EQ(cache.loads, 0);
        EXPECT_EQ(cache.ownCount(video), 4);

        // Replacing a name's entry keeps the earlier object alive under its count.
        Probe* other = new Probe("other");
        cache.add("white.png", other);
        EXPECT_EQ(cache.get("white.png"), other);
        EXPECT_EQ(cache.get("bg.jpg"), video);
    }
    // Each object is destroyed exactly once.
    EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "delete video"), 1);
    EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "delete other"), 1);
}

TEST_F(ResourceCacheTest, FailuresAreWrappedAndLeaveNothingBehind) {
    ProbeCache cache;
    try {
        cache.get("missing.png");
        FAIL() << "no exception";
    } catch (const std::string& e) {
        EXPECT_EQ(e, "Failed to load missing.png\nno such probe");
    }
    EXPECT_THROW(cache.get("missing.png"), std::string);
    EXPECT_EQ(cache.loads, 2);            // a failed name is tried again
    EXPECT_THROW(cache.get("int"), int);  // other exceptions pass unchanged
    EXPECT_EQ(cache.get("null"), nullptr);
}

TEST_F(ResourceCacheTest, MemberCacheGivesUpItsReferencesFirst) {
    {
        OuterCache outer;
        outer.get("scene");
    }
    EXPECT_EQ(g_events, (std::vector<std::string>{"new scene.inner", "new scene", "outer body",
                                                  "cache inner gone", "delete scene.inner", "delete scene"}));
}

TEST_F(ResourceCacheTest, DestroyedObjectIsNotReturnedForItsOldName) {
    // After "old" is destroyed, a new object may be allocated at the same address; its old name
    // must still load afresh instead of handing out the newcomer.
    {
        ProbeCache a;
        a.get("old");
    }
    ProbeCache b;
    Probe* fresh = b.get("fresh");
    Probe* old = b.get("old");
    EXPECT_NE(old, fresh);
    EXPECT_EQ(old->name, "old");
}

TEST(TextureCacheTest, MissingAndUndecodableFilesGiveTheirTexts) {
    DataDir dir;
    dir.write("junk.png", std::string("definitely not an image"));
    TextureCache cache;
    try {
        cache.get("nothere.png");
        FAIL();
    } catch (const std::string& e) {
        EXPECT_EQ(e, "Failed to load nothere.png\nfile not found: nothere.png");
    }
    try {
        cache.get("junk.png");
        FAIL();
    } catch (const std::string& e) {
        EXPECT_EQ(e, "Failed to load junk.png\nfailed to load junk.png");
    }
}

TEST(TextureCacheTest, AddedSourcesAreSharedWithEveryTextureCache) {
    DataDir dir;
    TextureCache standalone;
    auto* video = new TextureSource;
    standalone.add("bg.jpg", video);
    MaterialCache materials;  // its own texture cache sees the same registry
    dir.write("m.xml", std::string("<material><texture file=\"bg.jpg\"/></material>"));
    Material* m = materials.get("m.xml");
    EXPECT_EQ(m->texture, video);
    EXPECT_EQ(TextureCache::sharedCount(video), 2);
}

}  // namespace
