// Fixed-function vertex processing of Direct3D 9: transforms (row vectors), per-vertex lighting, texture
// coordinate generation and transforms, fog distance. The configuration arrives as #defines in front of this
// text (see fixed_function.cpp), with the Direct3D names (D3DLIGHT_*, D3DMCS_*, D3DFOG_*) and the code that
// is repeated per coordinate set, light or stage, generated there one line for each that the configuration
// uses (TEXSET_INPUTS, TEXSET_SELECT, STAGE_VARYINGS, LIGHTS, STAGE_COORDINATES); values come from uniforms.
// Matrices are uploaded in Direct3D's memory order, so M * v here is Direct3D's v * M.

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
TEXSET_INPUTS

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
STAGE_VARYINGS(out)
#if FOG_MODE != 0
out float v_fog;
#endif

vec4 texSet(int i) {
    TEXSET_SELECT
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
    if (gen == TCI_CAMERASPACENORMAL) {
        t = vec4(N, 1.0);
    } else if (gen == TCI_CAMERASPACEPOSITION) {
        t = vec4(P, 1.0);
    } else if (gen == TCI_CAMERASPACEREFLECTIONVECTOR) {
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
    if (source == D3DMCS_COLOR1) return diffuse;
    if (source == D3DMCS_COLOR2) return specular;
    return material;
}

void addLight(int i, int type, vec3 P, vec3 N, vec3 V, inout vec3 ambient, inout vec3 diffuse,
              inout vec3 specular) {
    vec3 L;
    float atten = 1.0;
    if (type == D3DLIGHT_DIRECTIONAL) {
        L = u_lightDir[i].xyz;
    } else {
        vec3 toLight = u_lightPos[i].xyz - P;
        float d = length(toLight);
        if (d > u_lightPos[i].w) return;  // out of range: no effect at all, ambient included
        L = toLight / max(d, 1e-30);
        vec3 a = u_lightAtten[i].xyz;
        atten = 1.0 / max(a.x + a.y * d + a.z * d * d, 1e-30);
        if (type == D3DLIGHT_SPOT) {
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
    LIGHTS
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

    STAGE_COORDINATES

#if FOG_MODE == 1
#if FOG_W
    v_fog = clip.w;  // eye depth: 1/RHW of the transformed vertex
#else
    v_fog = clip.z / clip.w;  // device depth 0..1 for affine projections
#endif
#elif FOG_MODE == 2
    float d = RANGE_FOG != 0 ? length(P) : abs(P.z);
    float f;
    if (FOG_FORMULA == D3DFOG_LINEAR) f = (u_fogParams.x - d) * u_fogParams.y;
    else if (FOG_FORMULA == D3DFOG_EXP) f = exp(-d * u_fogParams.z);
    else f = exp(-(d * u_fogParams.z) * (d * u_fogParams.z));
    v_fog = clamp(f, 0.0, 1.0);
#endif

    // Direct3D to GL: targets are stored top row first (y flipped), pixel centres sit at integer coordinates
    // (half a pixel right and down), and depth runs 0..1 (GL clips -w..w).
    gl_Position = vec4(clip.x + u_pixelShift.x * clip.w, -clip.y + u_pixelShift.y * clip.w,
                       2.0 * clip.z - clip.w, clip.w);
}
