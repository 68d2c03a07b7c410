#pragma once
// Wavefront OBJ to MESH1, for people who bring meshes in from a modelling tool.
#include <string>

#include "mesh/mesh_file.h"

// Converts the OBJ text: polygons triangulated; one group per `usemtl` name (taken as a material
// file name), faces before any `usemtl` in a group named `defaultMaterial`; normals and texture
// coordinates carried over, flat face normals where a face has none. The right-handed OBJ is turned
// into the left-handed convention (z negated, winding reversed, v = 1 - v) so that front faces stay
// front faces. Throws a std::string for text it cannot read or more than 65536 vertices.
Mesh1File importObj(const std::string& objText, const std::string& defaultMaterial);
