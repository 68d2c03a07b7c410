// The matrix arithmetic, node world matrices and the camera's matrices against hand-computed values.
#include "scene/matrix.h"

#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene.h"

namespace {

void expectMatrix(const Matrix& m, const float (&e)[4][4], float tol = 1e-5f) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(m.m[i][j], e[i][j], tol) << "row " << i << " col " << j;
}

Vec3 origin(const SceneNode& n) {
    return transformPoint(Vec3{0, 0, 0}, n.worldMatrix());
}

const float kHalf = 0.70710678f;

TEST(MatrixTest, ProductsApplyTheLeftOperandFirst) {
    // Scale 2 then move by (1, 0, 0): the point (1, 0, 0) goes to (3, 0, 0); the other order gives 4.
    Matrix sm = matrixScaling(2, 2, 2) * matrixTranslation(1, 0, 0);
    Matrix ms = matrixTranslation(1, 0, 0) * matrixScaling(2, 2, 2);
    EXPECT_FLOAT_EQ(transformPoint({1, 0, 0}, sm).x, 3.0f);
    EXPECT_FLOAT_EQ(transformPoint({1, 0, 0}, ms).x, 4.0f);
    // Rotation about z by 90 degrees takes x to y (row vectors).
    Vec3 p = transformPoint({1, 0, 0}, matrixRotationZ(1.5707964f));
    EXPECT_NEAR(p.x, 0, 1e-6f);
    EXPECT_NEAR(p.y, 1, 1e-6f);
    // Quarter turn about y takes z to x; the quaternion is used unnormalised.
    p = transformPoint({0, 0, 1}, matrixRotationQuaternion({0, kHalf, 0, kHalf}));
    EXPECT_NEAR(p.x, 1, 1e-6f);
    EXPECT_NEAR(p.z, 0, 1e-6f);
    expectMatrix(matrixRotationQuaternion({1, 0, 0, 1}),
                 {{1, 0, 0, 0}, {0, -1, 2, 0}, {0, -2, -1, 0}, {0, 0, 0, 1}});
}

TEST(MatrixTest, WorldMatricesChainParentsAndIgnorePivots) {
    SceneNode lone(nullptr);
    expectMatrix(lone.worldMatrix(), {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}});

    SceneNode parent(nullptr);
    parent.transform.rotation = {0, kHalf, 0, kHalf};
    SceneNode child(&parent);
    child.transform.position = {0, 0, 1};
    Vec3 p = origin(child);
    EXPECT_NEAR(p.x, 1, 1e-5f);
    EXPECT_NEAR(p.y, 0, 1e-5f);
    EXPECT_NEAR(p.z, 0, 1e-5f);

    // Scale before rotation: a stretch along local x lies along world -z after the quarter turn.
    SceneNode stretched(nullptr);
    stretched.transform.scale = {2, 1, 1};
    stretched.transform.rotation = {0, kHalf, 0, kHalf};
    p = transformPoint({1, 0, 0}, stretched.worldMatrix());
    EXPECT_NEAR(p.x, 0, 1e-5f);
    EXPECT_NEAR(p.z, -2, 1e-5f);

    parent.transform.position = {5, 0, 0};
    MeshObject object(nullptr, &parent);
    object.pivot = matrixTranslation(0, -1, 0);
    SceneNode grandchild(&object);
    EXPECT_NEAR(origin(object).x, 5, 1e-5f);
    EXPECT_NEAR(origin(object).y, 0, 1e-5f);
    EXPECT_NEAR(origin(grandchild).y, 0, 1e-5f);
    EXPECT_NEAR(transformPoint({0, 0, 0}, object.pivot * object.worldMatrix()).y, -1, 1e-5f);
}

TEST(CameraTest, ViewAndProjectionMatchHandComputedMatrices) {
    SceneNode target(nullptr);
    target.transform.position = {0, 0, 10};
    Camera camera(nullptr);
    camera.target = &target;
    camera.transform.position = {0, 0, -10};
    // Looking along +z from z = -10: identity axes, eye moved to the origin.
    expectMatrix(camera.localMatrix(), {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 10, 1}});

    // From (10, 0, 0) towards the origin: z = (-1, 0, 0), x = up x z = (0, 0, 1), y = (0, 1, 0).
    camera.target = nullptr;
    camera.transform.position = {10, 0, 0};
    expectMatrix(camera.localMatrix(), {{0, 0, -1, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 10, 1}});

    // A roll of 90 degrees turns the picture: view x becomes -y.
    camera.transform.position = {0, 0, -10};
    camera.roll = 1.5707964f;
    expectMatrix(camera.localMatrix(), {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 10, 1}});

    // 60 degrees, 4:3, near 1, far 2000: f = 1/tan(30 deg) = 1.7320508.
    float f = 1.7320508f;
    expectMatrix(camera.projectionMatrix(), {{f / 1.3333334f, 0, 0, 0},
                                             {0, f, 0, 0},
                                             {0, 0, 2000.0f / 1999.0f, 1},
                                             {0, 0, -2000.0f / 1999.0f, 0}});
    camera.fov = 90;
    EXPECT_NEAR(camera.projectionMatrix().m[1][1], 1.0f, 1e-6f);
}

TEST(CameraTest, DegenerateLookAtStaysFinite) {
    const Vec3 eyes[] = {{0, 0, 0}, {0, -50, 0}, {0, 50, 0}, {0, 1e-30f, 0}, {3, 0, 4}};
    const Vec3 targets[] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {3, 0, 4}};
    for (int c = 0; c < 5; ++c) {
        Matrix v = matrixLookAtLH(eyes[c], targets[c], {0, 1, 0});
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) ASSERT_TRUE(std::isfinite(v.m[i][j])) << "case " << c;
        // Still a rotation: orthonormal rows in the 3x3 part.
        for (int i = 0; i < 3; ++i) {
            float len = v.m[i][0] * v.m[i][0] + v.m[i][1] * v.m[i][1] + v.m[i][2] * v.m[i][2];
            EXPECT_NEAR(len, 1.0f, 1e-5f) << "case " << c;
        }
    }
    // Looking straight down keeps the picture's x axis where a camera approaching from -z had it.
    Matrix down = matrixLookAtLH({0, 10, 0}, {0, 0, 0}, {0, 1, 0});
    Matrix near = matrixLookAtLH({0, 10, -0.001f}, {0, 0, 0}, {0, 1, 0});
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(down.m[i][0], near.m[i][0], 1e-3f);
}

}  // namespace
