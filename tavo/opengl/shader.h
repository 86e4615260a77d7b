// GLSL program families: variants, permutation tables and lazily compiled programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "tavo/common/export.h"

namespace tavo::opengl {

struct ShaderPermutation {
    std::string text;              // the concatenated define lines of this combination
    std::vector<uint32_t> values;  // each switch's value, parsed back from `text`
};

struct ShaderVariant {
    int32_t index = 0;
    bool singleTextureSlot = false;  // views bound through "viewTexture" instead of an array
    std::vector<uint32_t> programs;  // one GL program per permutation, 0 = not compiled yet
    std::string defines;
};

// One program family. Every member must run on the thread whose OpenGL context is current and
// whose OVR::GLEContext has been initialised; the object holds no lock.
class TAVO_API Shader {
  public:
    struct PermutationDefinition {
        int32_t valueCount;  // the switch takes the values 0 ... valueCount-1
        std::string format;  // printf format with one %d, e.g. "#define USE_HLSL %d\n"
    };

    void CacheShaderText(const std::string& vertex, const std::string& fragment);
    void CreateVariant(int index, const char* defines, bool singleTextureSlot);
    void SetPermutationTableForVariants(const PermutationDefinition* table, int count);
    void CompileFromText(const char* vertex, const char* fragment, const char* geometry,
                         int variant, const std::vector<unsigned>& permutation);
    void CompileFromFile(const char* vertexPath, const char* fragmentPath,
                         const char* geometryPath);
    int GetOffsetForVariantPermutation(const std::vector<unsigned>& permutation) const;
    void InitTextureSlotsForVariant(int variant, int slotCount, const char* nameFormat);
    // Throws tavo::Exception when the variant or the permutation is outside the installed ones.
    void UseVariantWithPermutations(int variant, const std::vector<unsigned>& permutation);
    unsigned Use();

    void SetFloat(const char* name, float value, bool useProgram);
    void SetFloatArray(const char* name, float* values, int count, bool useProgram);
    void SetInteger(const char* name, int value, bool useProgram);
    void SetVector2f(const char* name, const glm::vec2& value, bool useProgram);
    void SetVector2f(const char* name, float x, float y, bool useProgram);
    void SetVector3f(const char* name, const glm::vec3& value, bool useProgram);
    void SetVector3f(const char* name, float x, float y, float z, bool useProgram);
    void SetVector4f(const char* name, const glm::vec4& value, bool useProgram);
    void SetVector4f(const char* name, float x, float y, float z, float w, bool useProgram);
    void SetMatrix4(const char* name, const glm::mat4& value, bool useProgram);
    // Always writes the 12 elements name[0] ... name[11]; elements at or past `count` are written
    // as zero so that a shorter array is never read past its end.
    void SetVector4fArray(const char* name, const glm::vec4* values, int count, bool useProgram);

    uint32_t programId = 0;
    std::vector<ShaderPermutation> permutations;
    std::vector<PermutationDefinition> permutationDefinitions;
    std::string vertexText;
    std::string fragmentText;
    std::string geometryText;
    std::string vertexPrefix;
    std::string fragmentPrefix;
    std::vector<ShaderVariant> variants;
    // Where compile and link failures go: `stage` is "VERTEX", "FRAGMENT", "GEOMETRY" or
    // "PROGRAM", `log` the driver's info log. Null logs them at error level with the "[SDK]" tag.
    using ErrorReporter = void (*)(const char* stage, const char* log);
    ErrorReporter errorReporter = nullptr;

  private:
    int Location(const char* name, bool useProgram);
};

}  // namespace tavo::opengl
