#include "scene/matrix.h"

#include <cmath>

namespace {

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
float dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float length(const Vec3& v) {
    return std::sqrt(dot(v, v));
}
Vec3 scaled(const Vec3& v, float s) {
    return {v.x * s, v.y * s, v.z * s};
}

}  // namespace

Matrix operator*(const Matrix& a, const Matrix& b) {
    Matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] =
                a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    return r;
}

Vec3 transformPoint(const Vec3& p, const Matrix& m) {
    return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
            p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
            p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

Matrix matrixIdentity() {
    return Matrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

Matrix matrixTranslation(float x, float y, float z) {
    Matrix r = matrixIdentity();
    r.m[3][0] = x;
    r.m[3][1] = y;
    r.m[3][2] = z;
    return r;
}

Matrix matrixScaling(float x, float y, float z) {
    Matrix r = matrixIdentity();
    r.m[0][0] = x;
    r.m[1][1] = y;
    r.m[2][2] = z;
    return r;
}

Matrix matrixRotationZ(float radians) {
    float c = std::cos(radians), s = std::sin(radians);
    Matrix r = matrixIdentity();
    r.m[0][0] = c;
    r.m[0][1] = s;
    r.m[1][0] = -s;
    r.m[1][1] = c;
    return r;
}

Matrix matrixRotationQuaternion(const Quaternion& q) {
    float x = q.x, y = q.y, z = q.z, w = q.w;
    return Matrix{{{1 - 2 * y * y - 2 * z * z, 2 * x * y + 2 * z * w, 2 * x * z - 2 * y * w, 0},
                   {2 * x * y - 2 * z * w, 1 - 2 * x * x - 2 * z * z, 2 * y * z + 2 * x * w, 0},
                   {2 * x * z + 2 * y * w, 2 * y * z - 2 * x * w, 1 - 2 * x * x - 2 * y * y, 0},
                   {0, 0, 0, 1}}};
}

Matrix matrixLookAtLH(const Vec3& eye, const Vec3& target, const Vec3& up) {
    Vec3 dir = sub(target, eye);
    float len = length(dir);
    // Target at the eye (or unusable numbers): look along +z.
    Vec3 z = (len > 0.0f && std::isfinite(len)) ? scaled(dir, 1.0f / len) : Vec3{0, 0, 1};

    Vec3 x = cross(up, z);
    float xl = length(x);
    float ul = length(up);
    if (!(xl > 1e-6f * ul) || !std::isfinite(xl)) {
        // Up parallel to the viewing direction (looking straight up or down): substitute a horizontal
        // axis, chosen so that the picture matches the limit of approaching the pole from +z.
        Vec3 alt = std::fabs(z.z) < 0.9f ? Vec3{0, 0, z.y > 0.0f ? -1.0f : 1.0f} : Vec3{0, 1, 0};
        x = cross(alt, z);
        xl = length(x);
    }
    x = scaled(x, 1.0f / xl);
    Vec3 y = cross(z, x);

    return Matrix{{{x.x, y.x, z.x, 0},
                   {x.y, y.y, z.y, 0},
                   {x.z, y.z, z.z, 0},
                   {-dot(x, eye), -dot(y, eye), -dot(z, eye), 1}}};
}

Matrix matrixPerspectiveFovLH(float fovY, float aspect, float nearPlane, float farPlane) {
    float f = 1.0f / std::tan(fovY * 0.5f);
    Matrix r{};
    r.m[0][0] = f / aspect;
    r.m[1][1] = f;
    r.m[2][2] = farPlane / (farPlane - nearPlane);
    r.m[2][3] = 1.0f;
    r.m[3][2] = -nearPlane * farPlane / (farPlane - nearPlane);
    return r;
}
