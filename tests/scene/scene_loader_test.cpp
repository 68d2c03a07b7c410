// Scene files: pre-order, transforms, pivots, lights, and the failure texts through the nested caches.
#include "scene/scene_loader.h"

#include <gtest/gtest.h>

#include "data_dir.h"
#include "mesh/mesh.h"
#include "scene/scene_cache.h"

namespace {

class SceneFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.write("plain.xml", std::string("<material/>"));
        dir_.writeMesh("quad.mesh", quadMesh("plain.xml"));
    }
    Scene* parse(const std::string& xml) {
        scene_.reset(parseScene(xml.c_str(), meshes_));
        return scene_.get();
    }
    std::string failure(const std::string& xml) {
        try {
            std::unique_ptr<Scene> s(parseScene(xml.c_str(), meshes_));
        } catch (const std::string& e) {
            return e;
        }
        return "(no failure)";
    }

    DataDir dir_;
    MeshCache meshes_;
    std::unique_ptr<Scene> scene_;
};

TEST_F(SceneFileTest, RootOnlyGivesAnEmptySceneWithDefaults) {
    Scene* s = parse("<scene/>");
    EXPECT_TRUE(s->objects.empty());
    EXPECT_TRUE(s->lights.empty());
    EXPECT_TRUE(s->cameras.empty());
    EXPECT_FLOAT_EQ(s->ambient.r, 0.1f);
    EXPECT_FLOAT_EQ(s->ambient.a, 1.0f);
    EXPECT_FALSE(s->fogEnabled);
    EXPECT_EQ(s->fogEnd, 1000.0f);
}

TEST_F(SceneFileTest, ExampleSceneBuildsTheHierarchyInPreOrder) {
    Scene* s = parse(R"(<scene>
        <ambient r="0.2" g="0.2" b="0.3"/>
        <position x="9"/>
        <light><diffuse r="0.5"/><position y="100"/></light>
        <object mesh="quad.mesh">
          <rotation y="0.7071" w="0.7071"/>
          <pivot><position y="-1"/></pivot>
          <ambient r="0"/>
          <object mesh=""><position x="10"/><object name="B"/></object>
        </object>
        <object><light><ambient r="0.5" g="0.25" b="0"/><specular/></light></object>
      </scene>)");
    EXPECT_FLOAT_EQ(s->ambient.b, 0.3f);
    EXPECT_FLOAT_EQ(s->ambient.a, 1.0f);  // absent attribute, nested "ambient" ignored
    ASSERT_EQ(s->objects.size(), 4u);
    ASSERT_EQ(s->lights.size(), 2u);

    Light* top = s->lights[0];
    EXPECT_EQ(top->parent, nullptr);
    EXPECT_FLOAT_EQ(top->transform.position.y, 100.0f);
    EXPECT_FLOAT_EQ(top->diffuse.r, 0.5f);
    EXPECT_FLOAT_EQ(top->diffuse.g, 1.0f);
    EXPECT_FLOAT_EQ(top->ambient.r, 0.05f);
    EXPECT_FLOAT_EQ(top->specular.r, 0.0f);

    MeshObject* a = s->objects[0];
    EXPECT_NE(a->mesh, nullptr);
    EXPECT_EQ(a->parent, nullptr);
    EXPECT_FLOAT_EQ(a->transform.rotation.y, 0.7071f);
    EXPECT_FLOAT_EQ(a->pivot.m[3][1], -1.0f);
    MeshObject* b = s->objects[1];
    EXPECT_EQ(b->mesh, nullptr);
    EXPECT_EQ(b->parent, a);
    EXPECT_FLOAT_EQ(b->pivot.m[3][1], 0.0f);
    EXPECT_EQ(s->objects[2]->parent, b);
    EXPECT_EQ(s->objects[3]->parent, nullptr);

    // The nested object inherits the parent's quarter turn about y: x = 10 lands near z = -10.
    Vec3 p = transformPoint({0, 0, 0}, b->worldMatrix());
    EXPECT_NEAR(p.z, -10.0f, 1e-2f);
    // A light nested in an object moves with it and reads its own colours.
    Light* nested = s->lights[1];
    EXPECT_EQ(nested->parent, s->objects[3]);
    EXPECT_FLOAT_EQ(nested->ambient.g, 0.25f);
    EXPECT_FLOAT_EQ(nested->specular.r, 1.0f);
}

TEST_F(SceneFileTest, TransformElementsOverwriteWholeParts) {
    Scene* s = parse(R"(<s><object>
        <position x="3" y="4" z="5"/><position y="5"/>
        <rotation w="-1"/>
        <scale x="2"/>
      </object>
      <object><rotation x="1"/><scale y="3"/><scale z="4"/><pivot><scale x="2"/></pivot><pivot/></object>
      <light><object/><rotation y="-0.5" w="-0.5"/></light></s>)");
    const Transform& t = s->objects[0]->transform;
    EXPECT_EQ(t.position.x, 0.0f);
    EXPECT_EQ(t.position.y, 5.0f);
    EXPECT_EQ(t.position.z, 0.0f);
    EXPECT_EQ(t.rotation.w, 1.0f);
    EXPECT_EQ(t.rotation.x, 0.0f);
    EXPECT_EQ(t.scale.x, 2.0f);
    EXPECT_EQ(t.scale.y, 1.0f);

    const Transform& u = s->objects[1]->transform;
    EXPECT_EQ(u.rotation.x, 1.0f);  // not normalised
    EXPECT_EQ(u.rotation.w, 1.0f);
    EXPECT_EQ(u.scale.y, 1.0f);
    EXPECT_EQ(u.scale.z, 4.0f);
    EXPECT_EQ(s->objects[1]->pivot.m[0][0], 1.0f);  // the last pivot wins

    EXPECT_EQ(s->lights[0]->transform.rotation.y, 0.5f);
    EXPECT_EQ(s->lights[0]->transform.rotation.w, 0.5f);
    EXPECT_EQ(s->objects[2]->parent, s->lights[0]);
}

TEST_F(SceneFileTest, FailureTexts) {
    EXPECT_EQ(failure("<scene>\n<object>\n</scene>"), "line 3: Error reading end tag.");
    EXPECT_EQ(failure("<scene><object mesh='nope.mesh'/></scene>"),
              "Failed to load nope.mesh\nFile not found");
}

TEST(SceneCacheTest, NestedFailureTextsAndSharing) {
    DataDir dir;
    dir.write("tex.xml", std::string("<m><texture file='missing.png'/></m>"));
    dir.writeMesh("textured.mesh", quadMesh("tex.xml"));
    dir.write("broken.scene", std::string("<s><object mesh='textured.mesh'/></s>"));
    dir.write("plain.xml", std::string("<material/>"));
    dir.writeMesh("quad.mesh", quadMesh("plain.xml"));
    dir.write("a.scene", std::string("<s><object mesh='quad.mesh'/><object mesh='quad.mesh'/></s>"));

    SceneCache scenes;
    try {
        scenes.get("broken.scene");
        FAIL();
    } catch (const std::string& e) {
        EXPECT_EQ(e,
                  "Failed to load broken.scene\nFailed to load textured.mesh\nFailed to load tex.xml\n"
                  "Failed to load missing.png\nfile not found: missing.png");
    }
    try {
        scenes.get("absent.scene");
        FAIL();
    } catch (const std::string& e) {
        EXPECT_EQ(e, "Failed to load absent.scene\nFile not found");
    }

    Scene* s = scenes.get("a.scene");
    EXPECT_EQ(s->objects[0]->mesh, s->objects[1]->mesh);
    EXPECT_EQ(MeshCache::sharedCount(s->objects[0]->mesh), 2);
    EXPECT_EQ(scenes.get("a.scene"), s);
}

}  // namespace
