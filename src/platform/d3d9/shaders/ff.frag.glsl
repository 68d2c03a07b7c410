// Fixed-function pixel processing of Direct3D 9: the texture-stage cascade, specular add, alpha test and fog.
// The configuration arrives as #defines in front of this text (see fixed_function.cpp), with the Direct3D
// names (D3DTOP_*, D3DTA_*, D3DCMP_*, D3DFOG_*) and the per-stage code (STAGE_VARYINGS, STAGE_CASCADE),
// generated there one line for each stage that runs.

#if FLAT
flat in vec4 v_diffuse;
flat in vec4 v_specular;
#else
in vec4 v_diffuse;
in vec4 v_specular;
#endif
STAGE_VARYINGS(in)
#if FOG_MODE != 0
in float v_fog;
#endif

uniform sampler2D u_tex0;
uniform sampler2D u_tex1;
uniform sampler2D u_tex2;
uniform sampler2D u_tex3;
uniform sampler2D u_tex4;
uniform sampler2D u_tex5;
uniform sampler2D u_tex6;
uniform sampler2D u_tex7;
uniform vec4 u_tfactor;
uniform vec4 u_stageConst[8];
uniform float u_alphaRef;
uniform vec4 u_fogColor;
uniform vec4 u_fogParams;

layout(location = 0) out vec4 o_color;

// A D3DTA_* argument: register select, then alpha replicate and complement.
vec4 arg(int a, vec4 diffuse, vec4 specular, vec4 current, vec4 temp, vec4 tex, vec4 konst) {
    int s = a & D3DTA_SELECTMASK;
    vec4 v;
    if (s == D3DTA_DIFFUSE) v = diffuse;
    else if (s == D3DTA_CURRENT) v = current;
    else if (s == D3DTA_TEXTURE) v = tex;
    else if (s == D3DTA_TFACTOR) v = u_tfactor;
    else if (s == D3DTA_SPECULAR) v = specular;
    else if (s == D3DTA_TEMP) v = temp;
    else v = konst;
    if ((a & D3DTA_ALPHAREPLICATE) != 0) v = v.aaaa;
    if ((a & D3DTA_COMPLEMENT) != 0) v = vec4(1.0) - v;
    return v;
}

// A D3DTOP_* operation on whole vectors; LERP is arg0 * arg1 + (1 - arg0) * arg2.
vec4 textureOp(int op, vec4 a0, vec4 a1, vec4 a2, vec4 diffuse, vec4 current, vec4 tex) {
    if (op == D3DTOP_SELECTARG2) return a2;
    if (op == D3DTOP_MODULATE) return a1 * a2;
    if (op == D3DTOP_MODULATE2X) return 2.0 * a1 * a2;
    if (op == D3DTOP_MODULATE4X) return 4.0 * a1 * a2;
    if (op == D3DTOP_ADD) return a1 + a2;
    if (op == D3DTOP_ADDSIGNED) return a1 + a2 - 0.5;
    if (op == D3DTOP_ADDSIGNED2X) return 2.0 * (a1 + a2 - 0.5);
    if (op == D3DTOP_SUBTRACT) return a1 - a2;
    if (op == D3DTOP_ADDSMOOTH) return a1 + a2 - a1 * a2;
    if (op == D3DTOP_BLENDDIFFUSEALPHA) return mix(a2, a1, diffuse.a);
    if (op == D3DTOP_BLENDTEXTUREALPHA) return mix(a2, a1, tex.a);
    if (op == D3DTOP_BLENDFACTORALPHA) return mix(a2, a1, u_tfactor.a);
    if (op == D3DTOP_BLENDTEXTUREALPHAPM) return a1 + a2 * (1.0 - tex.a);
    if (op == D3DTOP_BLENDCURRENTALPHA) return mix(a2, a1, current.a);
    if (op == D3DTOP_MODULATEALPHA_ADDCOLOR) return vec4(a1.rgb + a1.a * a2.rgb, a1.a);
    if (op == D3DTOP_MODULATECOLOR_ADDALPHA) return vec4(a1.rgb * a2.rgb + a1.a, a1.a);
    if (op == D3DTOP_MODULATEINVALPHA_ADDCOLOR) return vec4((1.0 - a1.a) * a2.rgb + a1.rgb, a1.a);
    if (op == D3DTOP_MODULATEINVCOLOR_ADDALPHA) return vec4((1.0 - a1.rgb) * a2.rgb + a1.a, a1.a);
    if (op == D3DTOP_DOTPRODUCT3) return vec4(4.0 * dot(a1.rgb - 0.5, a2.rgb - 0.5));
    if (op == D3DTOP_MULTIPLYADD) return a0 + a1 * a2;
    if (op == D3DTOP_LERP) return mix(a2, a1, a0);
    return a1;  // D3DTOP_SELECTARG1
}

void runStage(int cop, int ca0, int ca1, int ca2, int aop, int aa0, int aa1, int aa2, int toTemp, vec4 tex,
              vec4 konst, vec4 diffuse, vec4 specular, inout vec4 current, inout vec4 temp) {
    vec4 c = textureOp(cop, arg(ca0, diffuse, specular, current, temp, tex, konst),
                       arg(ca1, diffuse, specular, current, temp, tex, konst),
                       arg(ca2, diffuse, specular, current, temp, tex, konst), diffuse, current, tex);
    float a;
    if (cop == D3DTOP_DOTPRODUCT3) {
        a = c.a;  // DOTPRODUCT3 goes to alpha too
    } else if (aop == D3DTOP_DISABLE) {
        a = current.a;
    } else {
        a = textureOp(aop, arg(aa0, diffuse, specular, current, temp, tex, konst),
                      arg(aa1, diffuse, specular, current, temp, tex, konst),
                      arg(aa2, diffuse, specular, current, temp, tex, konst), diffuse, current, tex).a;
    }
    vec4 r = clamp(vec4(c.rgb, a), 0.0, 1.0);
    if (toTemp != 0) temp = r;
    else current = r;
}

// Projected coordinates carry their divisor in w.
vec2 stageUv(vec4 tc, int projected) { return projected != 0 ? tc.xy / tc.w : tc.xy; }

void main() {
    vec4 diffuse = v_diffuse;
    vec4 specular = v_specular;
    vec4 current = diffuse;
    vec4 temp = vec4(0.0);
    vec4 tex;
    // One line per stage that runs: its texture read (or opaque black without one) and runStage with the
    // stage's operations and arguments.
    STAGE_CASCADE

    vec4 color = current;
#if SPECULAR_ADD
    color.rgb = min(color.rgb + specular.rgb, vec3(1.0));
#endif
#if ALPHA_FUNC != 0
    float a = floor(color.a * 255.0 + 0.5);
    bool pass;
    if (ALPHA_FUNC == D3DCMP_NEVER) pass = false;
    else if (ALPHA_FUNC == D3DCMP_LESS) pass = a < u_alphaRef;
    else if (ALPHA_FUNC == D3DCMP_EQUAL) pass = a == u_alphaRef;
    else if (ALPHA_FUNC == D3DCMP_LESSEQUAL) pass = a <= u_alphaRef;
    else if (ALPHA_FUNC == D3DCMP_GREATER) pass = a > u_alphaRef;
    else if (ALPHA_FUNC == D3DCMP_NOTEQUAL) pass = a != u_alphaRef;
    else if (ALPHA_FUNC == D3DCMP_GREATEREQUAL) pass = a >= u_alphaRef;
    else pass = true;
    if (!pass) discard;
#endif
#if FOG_MODE == 1
    float f;
    if (FOG_FORMULA == D3DFOG_LINEAR) f = (u_fogParams.x - v_fog) * u_fogParams.y;
    else if (FOG_FORMULA == D3DFOG_EXP) f = exp(-v_fog * u_fogParams.z);
    else f = exp(-(v_fog * u_fogParams.z) * (v_fog * u_fogParams.z));
    f = clamp(f, 0.0, 1.0);
    color.rgb = mix(u_fogColor.rgb, color.rgb, f);
#elif FOG_MODE == 2
    color.rgb = mix(u_fogColor.rgb, color.rgb, v_fog);
#endif
    o_color = color;
}
