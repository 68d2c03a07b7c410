#include "scene/scene.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "mesh/mesh.h"
#include "resources/device.h"

namespace {

DWORD floatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

Vec3 translationOf(const Matrix& m) {
    return {m.m[3][0], m.m[3][1], m.m[3][2]};
}

}  // namespace

Matrix transformMatrix(const Transform& t) {
    return matrixScaling(t.scale.x, t.scale.y, t.scale.z) * matrixRotationQuaternion(t.rotation) *
           matrixTranslation(t.position.x, t.position.y, t.position.z);
}

D3DMATRIX toD3DMatrix(const Matrix& m) {
    D3DMATRIX d;
    static_assert(sizeof d == sizeof m.m, "both are 16 floats row by row");
    std::memcpy(&d, m.m, sizeof d);
    return d;
}

Matrix SceneNode::worldMatrix() const {
    Matrix m = localMatrix();
    for (const SceneNode* a = parent; a; a = a->parent) m = m * a->localMatrix();
    return m;
}

void MeshObject::draw() {
    if (!mesh) return;
    D3DMATRIX world = toD3DMatrix(pivot * worldMatrix());
    g_device->SetTransform(D3DTS_WORLD, &world);
    mesh->draw();
}

void Light::apply(unsigned index) {
    Vec3 p = translationOf(worldMatrix());
    std::memset(&d3dLight, 0, sizeof d3dLight);
    d3dLight.Type = D3DLIGHT_POINT;
    d3dLight.Diffuse.r = diffuse.r, d3dLight.Diffuse.g = diffuse.g, d3dLight.Diffuse.b = diffuse.b;
    d3dLight.Ambient.r = ambient.r, d3dLight.Ambient.g = ambient.g, d3dLight.Ambient.b = ambient.b;
    d3dLight.Position.x = p.x, d3dLight.Position.y = p.y, d3dLight.Position.z = p.z;
    d3dLight.Range = std::sqrt(3.4028235e38f);
    d3dLight.Attenuation0 = 1.0f;
    g_device->SetLight(index, &d3dLight);
    g_device->LightEnable(index, TRUE);
}

Matrix Camera::localMatrix() const {
    Vec3 at = target ? translationOf(target->worldMatrix()) : Vec3{0, 0, 0};
    return matrixLookAtLH(transform.position, at, Vec3{0, 1, 0}) * matrixRotationZ(roll);
}

Matrix Camera::projectionMatrix() const {
    return matrixPerspectiveFovLH(fov * 3.14159265358979f / 180.0f, 1.3333334f, nearPlane, farPlane);
}

void Camera::apply() {
    D3DMATRIX projection = toD3DMatrix(projectionMatrix());
    g_device->SetTransform(D3DTS_PROJECTION, &projection);
    D3DMATRIX view = toD3DMatrix(worldMatrix());
    g_device->SetTransform(D3DTS_VIEW, &view);
}

void Scene::swap(Scene& other) {
    std::swap(objects, other.objects);
    std::swap(cameras, other.cameras);
    std::swap(lights, other.lights);
    std::swap(ambient, other.ambient);
    std::swap(fogEnabled, other.fogEnabled);
    std::swap(fogColor, other.fogColor);
    std::swap(fogStart, other.fogStart);
    std::swap(fogEnd, other.fogEnd);
    std::swap(owned_, other.owned_);
}

void Scene::draw(unsigned cameraIndex, bool clear) {
    IDirect3DDevice9* dev = g_device;
    if (clear)
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);
    dev->SetRenderState(D3DRS_AMBIENT, toD3DColor(ambient));
    dev->SetRenderState(D3DRS_LIGHTING, lights.empty() ? FALSE : TRUE);
    dev->SetRenderState(D3DRS_FOGENABLE, fogEnabled ? TRUE : FALSE);
    if (fogEnabled) {
        dev->SetRenderState(D3DRS_FOGCOLOR, toD3DColor(fogColor));
        dev->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        dev->SetRenderState(D3DRS_FOGSTART, floatBits(fogStart));
        dev->SetRenderState(D3DRS_FOGEND, floatBits(fogEnd));
    }
    if (cameraIndex < cameras.size()) cameras[cameraIndex]->apply();
    unsigned i = 0;
    for (; i < lights.size(); ++i) lights[i]->apply(i);
    for (; i < 8; ++i) dev->LightEnable(i, FALSE);
    for (MeshObject* object : objects) object->draw();
    dev->SetRenderState(D3DRS_FOGENABLE, FALSE);
}
