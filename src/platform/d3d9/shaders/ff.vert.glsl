// Fixed-function vertex processing of Direct3D 9: transforms (row vectors), per-vertex lighting, texture
// coordinate generation and transforms, fog distance. The configuration arrives as #defines in front of this
// text (see fixed_function.cpp); values come from uniforms. Matrices are uploaded in Direct3D's memory order,
// so M * v here is Direct3D's v * M.

layout(location = 0) in vec4 a_position;
#if HAS_NORMAL
layout(location = 1) in vec3 a_normal;
#endif
#if HAS_DIFFUSE
layout(location = 2) in vec4 a_diffuse;
#endif
#if HAS_SPECULAR
layout(location = 3) in vec4 a_specular;
#endif
#if TEXSET_USED_0
layout(location = 4) in vec4 a_tex0;
#endif
#if TEXSET_USED_1
layout(location = 5) in vec4 a_tex1;
#endif
#if TEXSET_USED_2
layout(location = 6) in vec4 a_tex2;
#endif
#if TEXSET_USED_3
layout(location = 7) in vec4 a_tex3;
#endif
#if TEXSET_USED_4
layout(location = 8) in vec4 a_tex4;
#endif
#if TEXSET_USED_5
layout(location = 9) in vec4 a_tex5;
#endif
#if TEXSET_USED_6
layout(location = 10) in vec4 a_tex6;
#endif
#if TEXSET_USED_7
layout(location = 11) in vec4 a_tex7;
#endif

uniform mat4 u_wvp;
uniform mat4 u_wv;
uniform mat3 u_normal;
uniform mat4 u_texMatrix[8];
uniform vec4 u_pixelShift;
uniform vec4 u_viewport;
uniform vec4 u_lightPos[8];
uniform vec4 u_lightDir[8];
uniform vec4 u_lightDiffuse[8];
uniform vec4 u_lightSpecular[8];
uniform vec4 u_lightAmbient[8];
uniform vec4 u_lightAtten[8];
uniform vec4 u_lightSpot[8];
uniform vec4 u_matDiffuse;
uniform vec4 u_matAmbient;
uniform vec4 u_matSpecular;
uniform vec4 u_matEmissive;
uniform vec4 u_globalAmbient;
uniform float u_power;
uniform vec4 u_fogParams;

#if FLAT
flat out vec4 v_diffuse;
flat out vec4 v_specular;
#else
out vec4 v_diffuse;
out vec4 v_specular;
#endif
#if STAGE_COUNT > 0
out vec4 v_tc0;
#endif
#if STAGE_COUNT > 1
out vec4 v_tc1;
#endif
#if STAGE_COUNT > 2
out vec4 v_tc2;
#endif
#if STAGE_COUNT > 3
out vec4 v_tc3;
#endif
#if STAGE_COUNT > 4
out vec4 v_tc4;
#endif
#if STAGE_COUNT > 5
out vec4 v_tc5;
#endif
#if STAGE_COUNT > 6
out vec4 v_tc6;
#endif
#if STAGE_COUNT > 7
out vec4 v_tc7;
#endif
#if FOG_MODE != 0
out float v_fog;
#endif

vec4 texSet(int i) {
#if TEXSET_USED_0
    if (i == 0) return a_tex0;
#endif
#if TEXSET_USED_1
    if (i == 1) return a_tex1;
#endif
#if TEXSET_USED_2
    if (i == 2) return a_tex2;
#endif
#if TEXSET_USED_3
    if (i == 3) return a_tex3;
#endif
#if TEXSET_USED_4
    if (i == 4) return a_tex4;
#endif
#if TEXSET_USED_5
    if (i == 5) return a_tex5;
#endif
#if TEXSET_USED_6
    if (i == 6) return a_tex6;
#endif
#if TEXSET_USED_7
    if (i == 7) return a_tex7;
#endif
    return vec4(0.0, 0.0, 0.0, 1.0);
}

// Direct3D pads a coordinate of n components to a homogeneous vector before the texture transform: (u, v)
// becomes (u, v, 1, 0), so the translation of two-component coordinates sits in _31/_32.
vec4 padCoordinate(vec4 t, int dim) {
    if (dim == 1) return vec4(t.x, 1.0, 0.0, 0.0);
    if (dim == 2) return vec4(t.xy, 1.0, 0.0);
    if (dim == 3) return vec4(t.xyz, 1.0);
    return t;
}

vec4 stageCoordinate(int stage, int source, int dim, int gen, int count, int projected, vec3 P, vec3 N) {
    vec4 t;
    if (gen == 1) {
        t = vec4(N, 1.0);
    } else if (gen == 2) {
        t = vec4(P, 1.0);
    } else if (gen == 3) {
        // Camera-space reflection of the direction from the eye (at the origin) to the vertex.
        t = vec4(reflect(normalize(P), N), 1.0);
    } else {
        t = padCoordinate(texSet(source), dim);
    }
    if (count == 0) return vec4(t.xy, 0.0, 1.0);
    vec4 r = u_texMatrix[stage] * t;
    float q = 1.0;
    if (projected != 0) {
        if (count == 2) q = r.y;
        if (count == 3) q = r.z;
        if (count == 4) q = r.w;
    }
    return vec4(r.xy, 0.0, q);
}

vec4 materialSource(int source, vec4 material, vec4 diffuse, vec4 specular) {
    if (source == 1) return diffuse;
    if (source == 2) return specular;
    return material;
}

void addLight(int i, int type, vec3 P, vec3 N, vec3 V, inout vec3 ambient, inout vec3 diffuse,
              inout vec3 specular) {
    vec3 L;
    float atten = 1.0;
    if (type == 3) {
        L = u_lightDir[i].xyz;
    } else {
        vec3 toLight = u_lightPos[i].xyz - P;
        float d = length(toLight);
        if (d > u_lightPos[i].w) return;  // out of range: no effect at all, ambient included
        L = toLight / max(d, 1e-30);
        vec3 a = u_lightAtten[i].xyz;
        atten = 1.0 / max(a.x + a.y * d + a.z * d * d, 1e-30);
        if (type == 2) {
            float rho = dot(u_lightDir[i].xyz, L);
            float inner = u_lightSpot[i].x, outer = u_lightSpot[i].y;
            float spot = rho > inner ? 1.0
                       : rho <= outer ? 0.0
                       : pow(max((rho - outer) / max(inner - outer, 1e-30), 0.0), u_lightAtten[i].w);
            atten *= spot;
        }
    }
    ambient += u_lightAmbient[i].rgb * atten;
    float ndotl = max(dot(N, L), 0.0);
    diffuse += u_lightDiffuse[i].rgb * (ndotl * atten);
#if SPECULAR
    vec3 H = normalize(L + V);
    float ndoth = max(dot(N, H), 0.0);
    specular += u_lightSpecular[i].rgb * (pow(ndoth, u_power) * atten);
#endif
}

void main() {
    vec4 clip;
    vec3 P = vec3(0.0);
    vec3 N = vec3(0.0);
#if POSITION_RHW
    // Pre-transformed: x, y in pixels of the target, z in 0..1, and 1/w.
    float w = 1.0 / a_position.w;
    vec2 ndc = vec2((a_position.x - u_viewport.x) * 2.0 / u_viewport.z - 1.0,
                    1.0 - (a_position.y - u_viewport.y) * 2.0 / u_viewport.w);
    clip = vec4(ndc, a_position.z, 1.0) * w;
#else
    vec4 position = vec4(a_position.xyz, 1.0);
    clip = u_wvp * position;
    P = (u_wv * position).xyz;
#if HAS_NORMAL
    N = u_normal * a_normal;
#if NORMALIZE
    N = N / max(length(N), 1e-30);
#endif
#endif
#endif

#if HAS_DIFFUSE
    vec4 vertexDiffuse = a_diffuse.bgra;  // D3DCOLOR bytes are B, G, R, A
#else
    vec4 vertexDiffuse = vec4(1.0);
#endif
#if HAS_SPECULAR
    vec4 vertexSpecular = a_specular.bgra;
#else
    vec4 vertexSpecular = vec4(0.0);
#endif

#if LIGHTING && !POSITION_RHW
    vec4 Cd = materialSource(SRC_DIFFUSE, u_matDiffuse, vertexDiffuse, vertexSpecular);
    vec4 Ca = materialSource(SRC_AMBIENT, u_matAmbient, vertexDiffuse, vertexSpecular);
    vec4 Cs = materialSource(SRC_SPECULAR, u_matSpecular, vertexDiffuse, vertexSpecular);
    vec4 Ce = materialSource(SRC_EMISSIVE, u_matEmissive, vertexDiffuse, vertexSpecular);
#if LOCALVIEWER
    vec3 V = -P / max(length(P), 1e-30);
#else
    vec3 V = vec3(0.0, 0.0, -1.0);
#endif
    vec3 ambient = vec3(0.0), diffuse = vec3(0.0), specular = vec3(0.0);
#if LIGHT_COUNT > 0
    addLight(0, LIGHT_TYPE_0, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 1
    addLight(1, LIGHT_TYPE_1, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 2
    addLight(2, LIGHT_TYPE_2, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 3
    addLight(3, LIGHT_TYPE_3, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 4
    addLight(4, LIGHT_TYPE_4, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 5
    addLight(5, LIGHT_TYPE_5, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 6
    addLight(6, LIGHT_TYPE_6, P, N, V, ambient, diffuse, specular);
#endif
#if LIGHT_COUNT > 7
    addLight(7, LIGHT_TYPE_7, P, N, V, ambient, diffuse, specular);
#endif
    // Summed without bounds, clamped per vertex after all lights; alpha from the diffuse source.
    vec3 lit = Ce.rgb + Ca.rgb * (u_globalAmbient.rgb + ambient) + Cd.rgb * diffuse;
    v_diffuse = vec4(clamp(lit, 0.0, 1.0), clamp(Cd.a, 0.0, 1.0));
#if SPECULAR
    v_specular = vec4(clamp(Cs.rgb * specular, 0.0, 1.0), 0.0);
#else
    v_specular = vec4(0.0);
#endif
#else
    v_diffuse = vertexDiffuse;
    v_specular = vertexSpecular;
#endif

#if STAGE_COUNT > 0
    v_tc0 = stageCoordinate(0, TC_SOURCE_0, TC_DIM_0, TC_GEN_0, TC_COUNT_0, TC_PROJ_0, P, N);
#endif
#if STAGE_COUNT > 1
    v_tc1 = stageCoordinate(1, TC_SOURCE_1, TC_DIM_1, TC_GEN_1, TC_COUNT_1, TC_PROJ_1, P, N);
#endif
#if STAGE_COUNT > 2
    v_tc2 = stageCoordinate(2, TC_SOURCE_2, TC_DIM_2, TC_GEN_2, TC_COUNT_2, TC_PROJ_2, P, N);
#endif
#if STAGE_COUNT > 3
    v_tc3 = stageCoordinate(3, TC_SOURCE_3, TC_DIM_3, TC_GEN_3, TC_COUNT_3, TC_PROJ_3, P, N);
#endif
#if STAGE_COUNT > 4
    v_tc4 = stageCoordinate(4, TC_SOURCE_4, TC_DIM_4, TC_GEN_4, TC_COUNT_4, TC_PROJ_4, P, N);
#endif
#if STAGE_COUNT > 5
    v_tc5 = stageCoordinate(5, TC_SOURCE_5, TC_DIM_5, TC_GEN_5, TC_COUNT_5, TC_PROJ_5, P, N);
#endif
#if STAGE_COUNT > 6
    v_tc6 = stageCoordinate(6, TC_SOURCE_6, TC_DIM_6, TC_GEN_6, TC_COUNT_6, TC_PROJ_6, P, N);
#endif
#if STAGE_COUNT > 7
    v_tc7 = stageCoordinate(7, TC_SOURCE_7, TC_DIM_7, TC_GEN_7, TC_COUNT_7, TC_PROJ_7, P, N);
#endif

#if FOG_MODE == 1
#if FOG_W
    v_fog = clip.w;  // eye depth: 1/RHW of the transformed vertex
#else
    v_fog = clip.z / clip.w;  // device depth 0..1 for affine projections
#endif
#elif FOG_MODE == 2
    float d = RANGE_FOG != 0 ? length(P) : abs(P.z);
    float f;
    if (FOG_FORMULA == 3) f = (u_fogParams.x - d) * u_fogParams.y;
    else if (FOG_FORMULA == 1) f = exp(-d * u_fogParams.z);
    else f = exp(-(d * u_fogParams.z) * (d * u_fogParams.z));
    v_fog = clamp(f, 0.0, 1.0);
#endif

    // Direct3D to GL: targets are stored top row first (y flipped), pixel centres sit at integer coordinates
    // (half a pixel right and down), and depth runs 0..1 (GL clips -w..w).
    gl_Position = vec4(clip.x + u_pixelShift.x * clip.w, -clip.y + u_pixelShift.y * clip.w,
                       2.0 * clip.z - clip.w, clip.w);
}
