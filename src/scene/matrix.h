#pragma once
// The system's own matrix arithmetic. Matrices are 4x4 floats stored row by row and used with row
// vectors (p' = p * M, translation in the fourth row); A * B applies A first.

struct Vec3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

// Rotation quaternion (x, y, z, w); used as stored, never normalised.
struct Quaternion {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;
};

struct Matrix {
    float m[4][4];
};

Matrix operator*(const Matrix& a, const Matrix& b);
Vec3 transformPoint(const Vec3& p, const Matrix& m);  // p * m, with w = 1

Matrix matrixIdentity();
Matrix matrixTranslation(float x, float y, float z);
Matrix matrixScaling(float x, float y, float z);
Matrix matrixRotationZ(float radians);
Matrix matrixRotationQuaternion(const Quaternion& q);

// Left-handed look-at view. When the target is at the eye, or straight above or below it (the up
// vector is parallel to the viewing direction), a substitute axis keeps the matrix finite.
Matrix matrixLookAtLH(const Vec3& eye, const Vec3& target, const Vec3& up);

// Left-handed perspective projection, fovY in radians; maps depth near..far to 0..1 and puts the
// view-space z into w.
Matrix matrixPerspectiveFovLH(float fovY, float aspect, float nearPlane, float farPlane);
