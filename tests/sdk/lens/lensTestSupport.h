// Shared pieces of the lens tests: the shader assets as the library ships them, and the program
// families set up the way the interlacer sets them up.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tavo/opengl/shader.h"

namespace tavo::test {

// The assets folder copied beside the built library (TAVO_TEST_ASSETS_DIR).
inline std::string ReadAsset(const std::string& name) {
    const char* dir = std::getenv("TAVO_TEST_ASSETS_DIR");
    const std::string path = std::string(dir ? dir : "assets") + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void SetUpInterlaceShader(opengl::Shader& shader, const std::string& vertex,
                                 const std::string& fragment) {
    static const opengl::Shader::PermutationDefinition kTable[] = {
        {3, "#define PIXELCORRECTION %d\n"},  {2, "#define ENABLE_RECONVERGENCE %d\n"},
        {2, "#define UV_TOP_LEFT %d\n"},      {2, "#define HORIZONTAL_SOURCE_VIEWS %d\n"},
        {2, "#define SINGLE_VIEW_MODE %d\n"}, {2, "#define USE_HLSL %d\n"},
        {2, "#define MEDIUM_P %d\n"},
    };
    static const char* const kVariants[] = {
        "#define SHOW_CALIBRATION_IMAGE\n",
        "#define ATLAS_VIEWS\n",
        "#define SHOW_THUMBNAILS\n",
        "#define STEREO_INDIVIDUAL_VIEWS\n",
        "#define ATLAS_VIEWS\n",
        "#define INDIVIDUAL_VIEWS\n",
        "#define ATLAS_VIEWS\n",
        "#define SHOW_ALL_VIEWS\n",
        "#define SHOW_FIRST_VIEW\n",
        "#define SHOW_TEXTURE_COORDINATES\n",
    };
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    for (int i = 0; i < 10; ++i)
        shader.CreateVariant(i, kVariants[i], false);
    shader.SetPermutationTableForVariants(kTable, 7);
    shader.CacheShaderText(vertex, fragment);
}

inline void SetUpSharpenShader(opengl::Shader& shader, const std::string& vertex,
                               const std::string& fragment) {
    static const opengl::Shader::PermutationDefinition kTable[] = {{2, "#define UV_TOP_LEFT %d\n"},
                                                                   {2, "#define USE_HLSL %d\n"}};
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    shader.CreateVariant(0, "#define ACT_OPTIMIZED 0", false);
    shader.CreateVariant(1, "#define ACT_OPTIMIZED 1", false);
    shader.SetPermutationTableForVariants(kTable, 2);
    shader.CacheShaderText(vertex, fragment);
}

}  // namespace tavo::test
