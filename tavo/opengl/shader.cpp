// Compiling, caching and feeding GLSL program families.
#include "tavo/opengl/shader.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <glm/gtc/type_ptr.hpp>

#include "tavo/common/exception.h"
#include "tavo/opengl/gl.h"

namespace tavo::opengl {

namespace {

std::string FormatInt(const std::string& format, int value) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), value);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), value);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string FormatName(const char* format, int index) {
    return FormatInt(format, index);
}

// Compile and link failures are reported here and otherwise ignored, by design.
void CheckCompileErrors(GLuint object, const char* label, Shader::ErrorReporter reporter) {
    GLint success = 0;
    GLchar log[1024] = {};
    if (std::string_view(label) != "PROGRAM") {
        gl::GetShaderiv(object, GL_COMPILE_STATUS, &success);
        if (success == 0) {
            gl::GetShaderInfoLog(object, static_cast<GLsizei>(sizeof(log)), nullptr, log);
        }
    } else {
        gl::GetProgramiv(object, GL_LINK_STATUS, &success);
        if (success == 0) {
            gl::GetProgramInfoLog(object, static_cast<GLsizei>(sizeof(log)), nullptr, log);
        }
    }
    if (success != 0) {
        return;
    }
    if (reporter != nullptr) {
        reporter(label, log);
    } else {
        spdlog::error("[SDK] ERROR::SHADER: Compile-time error: Type: {}\n {}", label, log);
    }
}

GLuint CompileStage(GLenum type, const std::string& source, const char* label,
                    Shader::ErrorReporter reporter) {
    const GLuint shader = gl::CreateShader(type);
    const GLchar* text = source.c_str();
    gl::ShaderSource(shader, 1, &text, nullptr);
    gl::CompileShader(shader);
    CheckCompileErrors(shader, label, reporter);
    return shader;
}

std::string ReadFile(const char* path) {
    std::ifstream file;
    file.exceptions(std::ifstream::failbit | std::ifstream::badbit);
    file.open(path);
    std::stringstream stream;
    stream << file.rdbuf();
    return stream.str();
}

}  // namespace

void Shader::CacheShaderText(const std::string& vertex, const std::string& fragment) {
    vertexText = vertex;
    fragmentText = fragment;
}

void Shader::CreateVariant(int index, const char* defines, bool singleTextureSlot) {
    ShaderVariant variant;
    variant.index = index;
    variant.singleTextureSlot = singleTextureSlot;
    variant.defines = defines != nullptr ? defines : "";
    // A variant made after the table is installed still needs one slot per permutation; without
    // them the first use would index past its list.
    if (!permutations.empty()) {
        variant.programs.assign(permutations.size(), 0);
    }
    variants.push_back(std::move(variant));
}

void Shader::SetPermutationTableForVariants(const PermutationDefinition* table, int count) {
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    permutationDefinitions.assign(table, table + n);
    size_t total = 1;
    for (const PermutationDefinition& definition : permutationDefinitions) {
        total *= definition.valueCount > 0 ? static_cast<size_t>(definition.valueCount) : 0;
    }
    permutations.assign(total, ShaderPermutation{});
    for (ShaderPermutation& permutation : permutations) {
        permutation.values.assign(n, 0);
    }
    if (n > 0) {
        // Counting in mixed radix with the first definition as the most significant digit gives
        // the same order as nested loops with the first definition outermost.
        std::vector<int> digits(n, 0);
        for (size_t counter = 0; counter < total; ++counter) {
            ShaderPermutation& permutation = permutations[counter];
            for (size_t j = 0; j < n; ++j) {
                permutation.text += FormatInt(permutationDefinitions[j].format, digits[j]);
            }
            size_t lineStart = 0;
            for (size_t j = 0; j < n; ++j) {
                size_t lineEnd = permutation.text.find('\n', lineStart);
                if (lineEnd == std::string::npos) {
                    lineEnd = permutation.text.size();
                }
                const std::string line = permutation.text.substr(lineStart, lineEnd - lineStart);
                const size_t blank = line.rfind(' ');
                const std::string number =
                    blank == std::string::npos ? line : line.substr(blank + 1);
                permutation.values[j] = static_cast<uint32_t>(std::stoi(number));
                lineStart = lineEnd + 1;
            }
            for (size_t j = n; j-- > 0;) {
                if (++digits[j] < permutationDefinitions[j].valueCount) {
                    break;
                }
                digits[j] = 0;
            }
        }
    }
    for (ShaderVariant& variant : variants) {
        // Earlier programs are forgotten, not deleted: the host may still hold them.
        variant.programs.assign(total, 0);
    }
}

int Shader::GetOffsetForVariantPermutation(const std::vector<unsigned>& permutation) const {
    if (permutation.empty()) {
        return 0;
    }
    int offset = static_cast<int>(permutation[0]);
    for (size_t i = 1; i < permutation.size(); ++i) {
        const int radix =
            i < permutationDefinitions.size() ? permutationDefinitions[i].valueCount : 1;
        offset = offset * radix + static_cast<int>(permutation[i]);
    }
    return offset;
}

void Shader::CompileFromText(const char* vertex, const char* fragment, const char* geometry,
                             int variant, const std::vector<unsigned>& permutation) {
    if (vertexText.empty() && vertex != nullptr) {
        vertexText = vertex;
    }
    if (fragmentText.empty() && fragment != nullptr) {
        fragmentText = fragment;
    }
    geometryText = geometry != nullptr ? geometry : "";

    bool temporaryVariant = false;
    if (variants.empty()) {
        CreateVariant(0, "", false);
        temporaryVariant = true;
    }
    if (variant < 0 || static_cast<size_t>(variant) >= variants.size()) {
        if (temporaryVariant) {
            variants.clear();
        }
        return;
    }
    ShaderVariant& target = variants[static_cast<size_t>(variant)];

    uint32_t* slot = nullptr;
    const std::string* permutationText = nullptr;
    if (!permutationDefinitions.empty()) {
        const int offset = GetOffsetForVariantPermutation(permutation);
        if (offset < 0 || static_cast<size_t>(offset) >= target.programs.size()) {
            spdlog::error("[SDK] Shader permutation offset {} outside the {} permutations", offset,
                          target.programs.size());
            return;
        }
        slot = &target.programs[static_cast<size_t>(offset)];
        permutationText = &permutations[static_cast<size_t>(offset)].text;
    } else if (temporaryVariant) {
        slot = &programId;
    } else {
        if (target.programs.empty()) {
            target.programs.assign(1, 0);
        }
        slot = &target.programs[0];
    }
    if (*slot != 0) {
        if (temporaryVariant) {
            variants.clear();
        }
        return;
    }

    auto buildSource = [&](const std::string& prefix, const char* body) {
        std::string source;
        if (!prefix.empty()) {
            source += prefix;
            source += "\n\n";
        }
        if (!target.defines.empty()) {
            source += target.defines;
            source += "\n\n";
            if (permutationText != nullptr) {
                source += *permutationText;
            }
        }
        source += body != nullptr ? body : "";
        return source;
    };

    const GLuint vertexShader =
        CompileStage(GL_VERTEX_SHADER, buildSource(vertexPrefix, vertex), "VERTEX", errorReporter);
    const GLuint fragmentShader = CompileStage(
        GL_FRAGMENT_SHADER, buildSource(fragmentPrefix, fragment), "FRAGMENT", errorReporter);
    GLuint geometryShader = 0;
    if (geometry != nullptr) {
        geometryShader = CompileStage(GL_GEOMETRY_SHADER, geometry, "GEOMETRY", errorReporter);
    }
    const GLuint program = gl::CreateProgram();
    gl::AttachShader(program, vertexShader);
    gl::AttachShader(program, fragmentShader);
    if (geometry != nullptr) {
        gl::AttachShader(program, geometryShader);
    }
    gl::LinkProgram(program);
    CheckCompileErrors(program, "PROGRAM", errorReporter);
    gl::DeleteShader(vertexShader);
    gl::DeleteShader(fragmentShader);
    if (geometry != nullptr) {
        gl::DeleteShader(geometryShader);
    }

    *slot = program;
    if (temporaryVariant) {
        variants.clear();
    }
}

void Shader::CompileFromFile(const char* vertexPath, const char* fragmentPath,
                             const char* geometryPath) {
    try {
        std::string vertex = ReadFile(vertexPath);
        std::string fragment = ReadFile(fragmentPath);
        std::string geometry;
        if (geometryPath != nullptr) {
            geometry = ReadFile(geometryPath);
        }
        vertexText = std::move(vertex);
        fragmentText = std::move(fragment);
        geometryText = std::move(geometry);
    } catch (const std::ios_base::failure&) {
        std::cout << "ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ" << std::endl;
    }
    if (vertexText.empty() || fragmentText.empty()) {
        return;
    }
    // Copies: CompileFromText overwrites geometryText while reading its arguments.
    const std::string vertex = vertexText;
    const std::string fragment = fragmentText;
    const std::string geometry = geometryText;
    CompileFromText(vertex.c_str(), fragment.c_str(), geometry.empty() ? nullptr : geometry.c_str(),
                    0, {});
}

void Shader::InitTextureSlotsForVariant(int variant, int slotCount, const char* nameFormat) {
    if (variant < 0 || static_cast<size_t>(variant) >= variants.size()) {
        return;
    }
    const ShaderVariant& target = variants[static_cast<size_t>(variant)];
    for (uint32_t program : target.programs) {
        if (program == 0) {
            continue;
        }
        gl::UseProgram(program);
        if (target.singleTextureSlot || slotCount < 2) {
            gl::Uniform1i(gl::GetUniformLocation(program, nameFormat), 0);
        } else {
            for (int i = 0; i < slotCount; ++i) {
                const std::string name = FormatName(nameFormat, i);
                gl::Uniform1i(gl::GetUniformLocation(program, name.c_str()), i);
            }
        }
    }
}

void Shader::UseVariantWithPermutations(int variant, const std::vector<unsigned>& permutation) {
    if (variant < 0 || static_cast<size_t>(variant) >= variants.size()) {
        throw Exception(
            fmt::format("Shader variant {} does not exist ({} variants)", variant, variants.size()),
            TAVO_LOCATION("tavo::opengl::Shader::UseVariantWithPermutations"));
    }
    ShaderVariant& target = variants[static_cast<size_t>(variant)];
    if (target.programs.empty()) {
        target.programs.assign(1, 0);
    }
    const int offset = GetOffsetForVariantPermutation(permutation);
    if (offset < 0 || static_cast<size_t>(offset) >= target.programs.size()) {
        throw Exception(fmt::format("Shader permutation offset {} outside the {} permutations",
                                    offset, target.programs.size()),
                        TAVO_LOCATION("tavo::opengl::Shader::UseVariantWithPermutations"));
    }
    const size_t index = static_cast<size_t>(offset);
    if (target.programs[index] != 0) {
        programId = target.programs[index];
        gl::UseProgram(programId);
        return;
    }
    const std::string vertex = vertexText;
    const std::string fragment = fragmentText;
    CompileFromText(vertex.c_str(), fragment.c_str(), nullptr, variant, permutation);
    if (!target.singleTextureSlot && !permutation.empty()) {
        InitTextureSlotsForVariant(variant, 12, "viewTexture[%d]");
    } else {
        for (uint32_t program : target.programs) {
            if (program != 0) {
                gl::UseProgram(program);
                gl::Uniform1i(gl::GetUniformLocation(program, "viewTexture"), 0);
            }
        }
    }
    programId = target.programs[index];
    gl::UseProgram(programId);
}

unsigned Shader::Use() {
    gl::UseProgram(programId);
    return programId;
}

int Shader::Location(const char* name, bool useProgram) {
    if (useProgram) {
        gl::UseProgram(programId);
    }
    return gl::GetUniformLocation(programId, name);
}

void Shader::SetFloat(const char* name, float value, bool useProgram) {
    gl::Uniform1f(Location(name, useProgram), value);
}

void Shader::SetFloatArray(const char* name, float* values, int count, bool useProgram) {
    gl::Uniform1fv(Location(name, useProgram), count, values);
}

void Shader::SetInteger(const char* name, int value, bool useProgram) {
    gl::Uniform1i(Location(name, useProgram), value);
}

void Shader::SetVector2f(const char* name, const glm::vec2& value, bool useProgram) {
    gl::Uniform2f(Location(name, useProgram), value.x, value.y);
}

void Shader::SetVector2f(const char* name, float x, float y, bool useProgram) {
    gl::Uniform2f(Location(name, useProgram), x, y);
}

void Shader::SetVector3f(const char* name, const glm::vec3& value, bool useProgram) {
    gl::Uniform3f(Location(name, useProgram), value.x, value.y, value.z);
}

void Shader::SetVector3f(const char* name, float x, float y, float z, bool useProgram) {
    gl::Uniform3f(Location(name, useProgram), x, y, z);
}

void Shader::SetVector4f(const char* name, const glm::vec4& value, bool useProgram) {
    gl::Uniform4f(Location(name, useProgram), value.x, value.y, value.z, value.w);
}

void Shader::SetVector4f(const char* name, float x, float y, float z, float w, bool useProgram) {
    gl::Uniform4f(Location(name, useProgram), x, y, z, w);
}

void Shader::SetMatrix4(const char* name, const glm::mat4& value, bool useProgram) {
    gl::UniformMatrix4fv(Location(name, useProgram), 1, GL_FALSE, glm::value_ptr(value));
}

void Shader::SetVector4fArray(const char* name, const glm::vec4* values, int count,
                              bool /*useProgram*/) {
    for (int i = 0; i < 12; ++i) {
        const glm::vec4 value = (values != nullptr && i < count) ? values[i] : glm::vec4(0.0f);
        const std::string element = fmt::format("{}[{}]", name, i);
        gl::Uniform4f(gl::GetUniformLocation(programId, element.c_str()), value.x, value.y, value.z,
                      value.w);
    }
}

}  // namespace tavo::opengl
