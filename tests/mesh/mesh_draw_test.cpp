// Mesh buffers on a real device: made once at the first draw, index ranges, skipped groups.
#include <gtest/gtest.h>

#include <cstring>

#include "data_dir.h"
#include "device_scope.h"
#include "mesh/mesh.h"
#include "mesh/mesh_cache.h"
#include "platform/d3d9/readback.h"

namespace {

unsigned long long draws() {
    d3d9_stats s = {};
    d3d9_get_stats(g_device, &s);
    return s.draws + s.refusedDraws;
}

TEST(MeshDrawTest, BuffersAreMadeOnceAndGroupsKeepTheirIndexRange) {
    DeviceScope device;
    REQUIRE_DEVICE(device);
    DataDir dir;
    dir.write("plain.xml", std::string("<material/>"));
    Mesh1File file;
    for (int i = 0; i < 10; ++i) file.vertices.push_back(vertex(float(i), 0, 0));
    file.groups = {{"plain.xml", {5, 9, 7}}, {"plain.xml", {}}, {"plain.xml", {0, 1, 2, 2, 1, 3}}};
    dir.writeMesh("m.mesh", file);

    MeshCache cache;
    Mesh* mesh = cache.get("m.mesh");
    g_device->BeginScene();
    unsigned long long before = draws();
    mesh->draw();
    EXPECT_EQ(draws() - before, 2u);  // the empty group is skipped
    ASSERT_NE(mesh->vertexBuffer, nullptr);
    IDirect3DVertexBuffer9* vb = mesh->vertexBuffer;
    IDirect3DIndexBuffer9* ib = mesh->groups[0].indexBuffer;
    EXPECT_EQ(mesh->groups[0].lowestIndex, 5);
    EXPECT_EQ(mesh->groups[0].indexEnd, 10u);
    EXPECT_EQ(mesh->groups[1].indexBuffer, nullptr);
    EXPECT_EQ(mesh->groups[2].lowestIndex, 0);
    EXPECT_EQ(mesh->groups[2].indexEnd, 4u);

    D3DVERTEXBUFFER_DESC vdesc;
    vb->GetDesc(&vdesc);
    EXPECT_EQ(vdesc.Size, 10u * 36);
    EXPECT_EQ(vdesc.FVF, 0x152u);
    EXPECT_EQ(vdesc.Pool, D3DPOOL_MANAGED);
    D3DINDEXBUFFER_DESC idesc;
    ib->GetDesc(&idesc);
    EXPECT_EQ(idesc.Size, 6u);
    EXPECT_EQ(idesc.Format, D3DFMT_INDEX16);

    // The buffer holds the vertices as loaded: white, 36 bytes each.
    void* p = nullptr;
    ASSERT_GE(vb->Lock(0, 0, &p, D3DLOCK_READONLY), 0);
    MeshVertex v9;
    std::memcpy(&v9, static_cast<char*>(p) + 9 * 36, 36);
    vb->Unlock();
    EXPECT_EQ(v9.x, 9.0f);
    EXPECT_EQ(v9.color, 0xFFFFFFFFu);

    mesh->draw();
    EXPECT_EQ(mesh->vertexBuffer, vb);
    EXPECT_EQ(mesh->groups[0].indexBuffer, ib);
    DWORD fvf = 0;
    g_device->GetFVF(&fvf);
    EXPECT_EQ(fvf, 0x152u);
    g_device->EndScene();
}

TEST(MeshDrawTest, IndexEndHoldsTheLastSixteenBitIndex) {
    DeviceScope device;
    REQUIRE_DEVICE(device);
    auto mesh = std::make_unique<Mesh>();
    mesh->vertices.resize(65536, vertex(0, 0, 0));
    mesh->groups.resize(1);
    mesh->groups[0].indices = {65535, 65534, 65533};
    g_device->BeginScene();
    mesh->draw();
    g_device->EndScene();
    EXPECT_EQ(mesh->groups[0].lowestIndex, 65533);
    EXPECT_EQ(mesh->groups[0].indexEnd, 65536u);
}

}  // namespace
