// Scene files: pre-order, transforms, pivots, lights, and the failure texts through the nested caches.
#include "scene/scene_loader.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <memory>
#include <string>
#include <vector>

#include "data_dir.h"
#include "mesh/mesh.h"
#include "resources/diagnostics.h"
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

namespace {

std::vector<std::string> texts(const DiagnosticList& found) {
    std::vector<std::string> out;
    for (const Diagnostic& d : found.list()) out.push_back(d.text());
    return out;
}

}  // namespace

// What the loader reads past is a warning naming the file and line; the scene is built as before, and the
// check's outline lists the objects in the order of Scene::objects, the order the pulse object is
// counted in.
TEST_F(SceneFileTest, UnknownNamesAndBadNumbersAreWarningsWithTheirLines) {
    dir_.write("w.scene", std::string("<scene>\n"
                                      "  <objet mesh='quad.mesh'/>\n"
                                      "  <object mseh='quad.mesh'>\n"
                                      "    <position x='nan' y='1e999' z='0,5'/>\n"
                                      "    <ambient r='1'/>\n"
                                      "    <object mesh='quad.mesh'><pivot><object/></pivot></object>\n"
                                      "  </object>\n"
                                      "  <rotation w='1'/>\n"
                                      "  <light><difuse r='1'/><object mesh='quad.mesh'/></light>\n"
                                      "  <ambient r='0.1' gg='2'/>\n"
                                      "</scene>\n"));
    DiagnosticList found;
    std::unique_ptr<Scene> scene(loadScene("w.scene", meshes_, found));
    EXPECT_EQ(
        texts(found),
        (std::vector<std::string>{
            "w.scene:2: unknown element <objet>, did you mean <object>?",
            "w.scene:3: unknown attribute mseh, did you mean mesh?",
            "w.scene:4: x=\"nan\" on <position> is not a finite number (read as nan)",
            "w.scene:4: y=\"1e999\" on <position> is not a finite number (read as inf)",
            "w.scene:4: z=\"0,5\" on <position> is not a finite number (read as 0; decimals take a point)",
            "w.scene:5: unknown element <ambient> in <object> (valid: position, rotation, scale, object, "
            "light, pivot)",
            "w.scene:6: unknown element <object> in <pivot> (valid: position, rotation, scale)",
            "w.scene:8: <rotation> directly under the root is ignored: only objects and lights are placed",
            "w.scene:9: unknown element <difuse>, did you mean <diffuse>?",
            "w.scene:10: unknown attribute gg, did you mean g?",
        }));
    // Built as before: three objects (the misspelt one and the one in the pivot are not objects), the one
    // with the misspelt attribute without its mesh.
    ASSERT_EQ(scene->objects.size(), 3u);
    EXPECT_EQ(scene->objects[0]->mesh, nullptr);
    EXPECT_NE(scene->objects[1]->mesh, nullptr);
    EXPECT_NE(scene->objects[2]->mesh, nullptr);

    TiXmlDocument doc;
    doc.LoadFile((dir_.path("w.scene")).c_str());
    DiagnosticList again;
    SceneOutline outline;
    checkSceneDocument(doc.RootElement(), "w.scene", again, &outline);
    EXPECT_EQ(texts(again), texts(found));
    ASSERT_EQ(outline.objects.size(), scene->objects.size());
    const int lines[] = {3, 6, 9};
    for (size_t i = 0; i < outline.objects.size(); ++i) {
        EXPECT_EQ(outline.objects[i].name.empty(), scene->objects[i]->mesh == nullptr) << i;
        EXPECT_EQ(outline.objects[i].line, lines[i]) << i;
    }
}
