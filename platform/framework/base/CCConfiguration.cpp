#include "base/CCConfiguration.h"

#include "platform/CCGL.h"

namespace cocos2d {

namespace {
Configuration* g_configuration = nullptr;
}

Configuration* Configuration::getInstance()
{
    if (!g_configuration) {
        g_configuration = new Configuration();
    }
    return g_configuration;
}

void Configuration::destroyInstance()
{
    delete g_configuration;
    g_configuration = nullptr;
}

void Configuration::gatherGPUInfo()
{
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    if (size > 0) {
        _maxTextureSize = size;
    }
    _supportsShareableVAO = glewIsSupported("GL_ARB_vertex_array_object") == GL_TRUE;
}

} // namespace cocos2d
