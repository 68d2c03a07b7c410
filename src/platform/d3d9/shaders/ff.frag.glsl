// Fixed-function pixel processing of Direct3D 9: the texture-stage cascade, specular add, alpha test and fog.
// The configuration arrives as #defines in front of this text (see fixed_function.cpp).

#if FLAT
flat in vec4 v_diffuse;
flat in vec4 v_specular;
#else
in vec4 v_diffuse;
in vec4 v_specular;
#endif
#if STAGE_COUNT > 0
in vec4 v_tc0;
#endif
#if STAGE_COUNT > 1
in vec4 v_tc1;
#endif
#if STAGE_COUNT > 2
in vec4 v_tc2;
#endif
#if STAGE_COUNT > 3
in vec4 v_tc3;
#endif
#if STAGE_COUNT > 4
in vec4 v_tc4;
#endif
#if STAGE_COUNT > 5
in vec4 v_tc5;
#endif
#if STAGE_COUNT > 6
in vec4 v_tc6;
#endif
#if STAGE_COUNT > 7
in vec4 v_tc7;
#endif
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
    int s = a & 15;
    vec4 v;
    if (s == 0) v = diffuse;
    else if (s == 1) v = current;
    else if (s == 2) v = tex;
    else if (s == 3) v = u_tfactor;
    else if (s == 4) v = specular;
    else if (s == 5) v = temp;
    else v = konst;
    if ((a & 32) != 0) v = v.aaaa;
    if ((a & 16) != 0) v = vec4(1.0) - v;
    return v;
}

// A D3DTOP_* operation on whole vectors; LERP is arg0 * arg1 + (1 - arg0) * arg2.
vec4 textureOp(int op, vec4 a0, vec4 a1, vec4 a2, vec4 diffuse, vec4 current, vec4 tex) {
    if (op == 3) return a2;
    if (op == 4) return a1 * a2;
    if (op == 5) return 2.0 * a1 * a2;
    if (op == 6) return 4.0 * a1 * a2;
    if (op == 7) return a1 + a2;
    if (op == 8) return a1 + a2 - 0.5;
    if (op == 9) return 2.0 * (a1 + a2 - 0.5);
    if (op == 10) return a1 - a2;
    if (op == 11) return a1 + a2 - a1 * a2;
    if (op == 12) return mix(a2, a1, diffuse.a);
    if (op == 13) return mix(a2, a1, tex.a);
    if (op == 14) return mix(a2, a1, u_tfactor.a);
    if (op == 15) return a1 + a2 * (1.0 - tex.a);
    if (op == 16) return mix(a2, a1, current.a);
    if (op == 18) return vec4(a1.rgb + a1.a * a2.rgb, a1.a);
    if (op == 19) return vec4(a1.rgb * a2.rgb + a1.a, a1.a);
    if (op == 20) return vec4((1.0 - a1.a) * a2.rgb + a1.rgb, a1.a);
    if (op == 21) return vec4((1.0 - a1.rgb) * a2.rgb + a1.a, a1.a);
    if (op == 24) return vec4(4.0 * dot(a1.rgb - 0.5, a2.rgb - 0.5));
    if (op == 25) return a0 + a1 * a2;
    if (op == 26) return mix(a2, a1, a0);
    return a1;  // SELECTARG1
}

void runStage(int cop, int ca0, int ca1, int ca2, int aop, int aa0, int aa1, int aa2, int toTemp, vec4 tex,
              vec4 konst, vec4 diffuse, vec4 specular, inout vec4 current, inout vec4 temp) {
    vec4 c = textureOp(cop, arg(ca0, diffuse, specular, current, temp, tex, konst),
                       arg(ca1, diffuse, specular, current, temp, tex, konst),
                       arg(ca2, diffuse, specular, current, temp, tex, konst), diffuse, current, tex);
    float a;
    if (cop == 24) {
        a = c.a;  // DOTPRODUCT3 goes to alpha too
    } else if (aop == 1) {
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
#if STAGE_COUNT > 0
#if S0_SAMPLE
    tex = texture(u_tex0, stageUv(v_tc0, TC_PROJ_0));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S0_COP, S0_CA0, S0_CA1, S0_CA2, S0_AOP, S0_AA0, S0_AA1, S0_AA2, S0_TEMP, tex, u_stageConst[0], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 1
#if S1_SAMPLE
    tex = texture(u_tex1, stageUv(v_tc1, TC_PROJ_1));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S1_COP, S1_CA0, S1_CA1, S1_CA2, S1_AOP, S1_AA0, S1_AA1, S1_AA2, S1_TEMP, tex, u_stageConst[1], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 2
#if S2_SAMPLE
    tex = texture(u_tex2, stageUv(v_tc2, TC_PROJ_2));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S2_COP, S2_CA0, S2_CA1, S2_CA2, S2_AOP, S2_AA0, S2_AA1, S2_AA2, S2_TEMP, tex, u_stageConst[2], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 3
#if S3_SAMPLE
    tex = texture(u_tex3, stageUv(v_tc3, TC_PROJ_3));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S3_COP, S3_CA0, S3_CA1, S3_CA2, S3_AOP, S3_AA0, S3_AA1, S3_AA2, S3_TEMP, tex, u_stageConst[3], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 4
#if S4_SAMPLE
    tex = texture(u_tex4, stageUv(v_tc4, TC_PROJ_4));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S4_COP, S4_CA0, S4_CA1, S4_CA2, S4_AOP, S4_AA0, S4_AA1, S4_AA2, S4_TEMP, tex, u_stageConst[4], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 5
#if S5_SAMPLE
    tex = texture(u_tex5, stageUv(v_tc5, TC_PROJ_5));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S5_COP, S5_CA0, S5_CA1, S5_CA2, S5_AOP, S5_AA0, S5_AA1, S5_AA2, S5_TEMP, tex, u_stageConst[5], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 6
#if S6_SAMPLE
    tex = texture(u_tex6, stageUv(v_tc6, TC_PROJ_6));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S6_COP, S6_CA0, S6_CA1, S6_CA2, S6_AOP, S6_AA0, S6_AA1, S6_AA2, S6_TEMP, tex, u_stageConst[6], diffuse,
             specular, current, temp);
#endif
#if STAGE_COUNT > 7
#if S7_SAMPLE
    tex = texture(u_tex7, stageUv(v_tc7, TC_PROJ_7));
#else
    tex = vec4(0.0, 0.0, 0.0, 1.0);
#endif
    runStage(S7_COP, S7_CA0, S7_CA1, S7_CA2, S7_AOP, S7_AA0, S7_AA1, S7_AA2, S7_TEMP, tex, u_stageConst[7], diffuse,
             specular, current, temp);
#endif

    vec4 color = current;
#if SPECULAR_ADD
    color.rgb = min(color.rgb + specular.rgb, vec3(1.0));
#endif
#if ALPHA_FUNC != 0
    float a = floor(color.a * 255.0 + 0.5);
    bool pass;
    if (ALPHA_FUNC == 1) pass = false;
    else if (ALPHA_FUNC == 2) pass = a < u_alphaRef;
    else if (ALPHA_FUNC == 3) pass = a == u_alphaRef;
    else if (ALPHA_FUNC == 4) pass = a <= u_alphaRef;
    else if (ALPHA_FUNC == 5) pass = a > u_alphaRef;
    else if (ALPHA_FUNC == 6) pass = a != u_alphaRef;
    else if (ALPHA_FUNC == 7) pass = a >= u_alphaRef;
    else pass = true;
    if (!pass) discard;
#endif
#if FOG_MODE == 1
    float f;
    if (FOG_FORMULA == 3) f = (u_fogParams.x - v_fog) * u_fogParams.y;
    else if (FOG_FORMULA == 1) f = exp(-v_fog * u_fogParams.z);
    else f = exp(-(v_fog * u_fogParams.z) * (v_fog * u_fogParams.z));
    f = clamp(f, 0.0, 1.0);
    color.rgb = mix(u_fogColor.rgb, color.rgb, f);
#elif FOG_MODE == 2
    color.rgb = mix(u_fogColor.rgb, color.rgb, v_fog);
#endif
    o_color = color;
}
