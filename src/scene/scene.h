#pragma once
// Scenes: flat lists of mesh objects, cameras and lights over a node hierarchy expressed by parent
// pointers. Every node has a local transform; its world matrix is its local matrix times those of
// all its ancestors. Nothing caches a matrix, so a changed position shows in the next draw.
#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "resources/color.h"
#include "scene/matrix.h"

class Mesh;

struct Transform {
    Vec3 position = {0, 0, 0};
    Quaternion rotation = {0, 0, 0, 1};
    Vec3 scale = {1, 1, 1};
};

// Scaling, then rotation, then translation.
Matrix transformMatrix(const Transform& t);

D3DMATRIX toD3DMatrix(const Matrix& m);

class SceneNode {
public:
    explicit SceneNode(SceneNode* parent) : parent(parent) {}
    SceneNode(const SceneNode&) = delete;
    SceneNode& operator=(const SceneNode&) = delete;
    virtual ~SceneNode() = default;

    virtual Matrix localMatrix() const { return transformMatrix(transform); }
    // Local matrix times each ancestor's local matrix, parent first.
    Matrix worldMatrix() const;

    Transform transform;
    SceneNode* parent;  // not owned; none for a top-level node
};

class MeshObject : public SceneNode {
public:
    MeshObject(Mesh* mesh, SceneNode* parent) : SceneNode(parent), mesh(mesh) {}

    // World transform pivot * worldMatrix, then the mesh's draw; nothing without a mesh.
    void draw();

    Mesh* mesh;                       // not owned (mesh cache); may be none
    Matrix pivot = matrixIdentity();  // applied to the mesh only, not to children
};

// An unattenuated point light of unlimited range at the node's world position.
class Light : public SceneNode {
public:
    explicit Light(SceneNode* parent) : SceneNode(parent) {}

    // Fills d3dLight and enables it as device light `index`.
    void apply(unsigned index);

    ColorRGBA ambient = {0.05f, 0.05f, 0.05f, 1.0f};
    ColorRGBA diffuse = {1, 1, 1, 1};
    ColorRGBA specular = {0, 0, 0, 1};
    D3DLIGHT9 d3dLight = {};
};

// Looks from its position at the target node's world position (the origin without a target).
class Camera : public SceneNode {
public:
    explicit Camera(SceneNode* parent) : SceneNode(parent) {}

    // The view matrix: LookAtLH(position, target, up 0 1 0) * RotationZ(roll).
    Matrix localMatrix() const override;
    Matrix projectionMatrix() const;  // fixed 4:3 aspect
    // Sets the device's projection and view (the camera's world matrix).
    virtual void apply();

    float fov = 60.0f;  // vertical, degrees
    float nearPlane = 1.0f;
    float farPlane = 2000.0f;
    SceneNode* target = nullptr;  // not owned
    float roll = 0.0f;            // radians
};

class Scene {
public:
    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    void addObject(MeshObject* object) { objects.push_back(object); }
    void addCamera(Camera* camera) { cameras.push_back(camera); }
    void addLight(Light* light) { lights.push_back(light); }
    // Nodes made by the loader: released with the scene. Nodes added by code stay their owner's.
    void own(std::unique_ptr<SceneNode> node) { owned_.push_back(std::move(node)); }

    // Clears when asked, sets ambient, lighting and fog, the camera (when the index names one) and
    // the lights, draws every object in list order, and turns fog off again.
    void draw(unsigned cameraIndex, bool clear);
    // Exchanges everything with `other` (a reload moves a new version into the object the production
    // holds; the cameras and lights added by code go with the old version and are added again).
    void swap(Scene& other);

    std::vector<MeshObject*> objects;
    std::vector<Camera*> cameras;
    std::vector<Light*> lights;
    ColorRGBA ambient = {0.1f, 0.1f, 0.1f, 1.0f};
    bool fogEnabled = false;
    ColorRGBA fogColor = {0, 0, 0, 1};
    float fogStart = 0.0f;
    float fogEnd = 1000.0f;

private:
    std::vector<std::unique_ptr<SceneNode>> owned_;
};
